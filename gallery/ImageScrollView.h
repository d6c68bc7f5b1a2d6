// The zooming view of a picture page: it fits the picture to its bounds, zooms on a double tap
// to ("zoom" setting + 1) device pixels per picture pixel, keeps the picture centred, and keeps
// the visible centre and the scale across changes of its size.
#pragma once

#include "platform/ui/UIScrollView.h"

#include <memory>

class UIImage;
class UIImageView;

class ImageScrollView : public UIScrollView, public UIScrollViewDelegate {
public:
    // No indicators, bouncing zoom, fast deceleration, one point of negative inset left and
    // right, and itself as its delegate.
    static std::shared_ptr<ImageScrollView> initWithFrame(const CGRect& frame);
    explicit ImageScrollView(const CGRect& frame);

    // The rectangle of the picture (in its own coordinates) that fills the bounds at `scale`,
    // centred on `center` given in the superview's coordinates.
    CGRect zoomRectForScale(float scale, CGPoint center) const;
    // Zooms in to the double-tap scale around `point` (superview coordinates), or back to the
    // fit scale when already there, in one 0.3-second animation.
    void doubleClick(CGPoint point);
    // Back to the fit scale, animated.
    void zoomToStart();

    // A new picture starts at the fit scale; none removes the picture.
    void setImage(const std::shared_ptr<UIImage>& image);
    std::shared_ptr<UIImage> image() const;
    // Shows `copy`, the picture's own at fewer pixels, where the picture is, at its scale and
    // offset.
    void showCopyInPlace(const std::shared_ptr<UIImage>& copy);
    const std::shared_ptr<UIImageView>& zoomView() const { return zoomView_; }
    // min(bounds / picture size) per axis.
    float startScale() const { return startScale_; }
    float doubleClickScale() const { return doubleClickScale_; }

    void layoutSubviews() override;
    void setFrame(const CGRect& frame) override;

    std::shared_ptr<UIView> viewForZoomingInScrollView(const std::shared_ptr<UIScrollView>&) override;
    void scrollViewDidScroll(const std::shared_ptr<UIScrollView>&) override;
    void scrollViewDidZoom(const std::shared_ptr<UIScrollView>&) override;

private:
    void displayImage(const std::shared_ptr<UIImage>& image);
    void configureForImageSize(CGSize size);
    void setMaxMinZoomScalesForCurrentBounds();
    void prepareToResize();
    void recoverFromResizing();
    CGPoint maximumOffsetForResize() const;

    std::shared_ptr<UIImageView> zoomView_;
    CGSize imageSize_;
    float startScale_ = 1;
    float doubleClickScale_ = 1;
    CGPoint pointToCenterAfterResize_;
    double scaleToRestoreAfterResize_ = 0;
};
