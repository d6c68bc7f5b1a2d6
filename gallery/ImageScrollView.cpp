// Fit and double-tap scales, centring, and restoring the view across size changes.
#include "gallery/ImageScrollView.h"

#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewAnimation.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {
constexpr double kDoubleTapZoomDuration = 0.3;
// The platform's fast deceleration rate.
constexpr double kDecelerationRateFast = 0.99;
}  // namespace

std::shared_ptr<ImageScrollView> ImageScrollView::initWithFrame(const CGRect& frame) {
    auto view = std::make_shared<ImageScrollView>(frame);
    view->setDelegate(view);
    return view;
}

ImageScrollView::ImageScrollView(const CGRect& frame) : UIScrollView(frame) {
    setShowsVerticalScrollIndicator(false);
    setShowsHorizontalScrollIndicator(false);
    setBouncesZoom(true);
    setDecelerationRate(kDecelerationRateFast);
    // A picture exactly as wide as the page cannot be dragged sideways: the drag turns the page.
    setContentInset({0, -1, 0, -1});
}

std::shared_ptr<UIImage> ImageScrollView::image() const { return zoomView_ ? zoomView_->image() : nullptr; }

void ImageScrollView::setImage(const std::shared_ptr<UIImage>& image) {
    if (zoomView_) {
        zoomView_->removeFromSuperview();
        zoomView_.reset();
    }
    if (image) displayImage(image);
}

void ImageScrollView::showCopyInPlace(const std::shared_ptr<UIImage>& copy) {
    if (zoomView_) zoomView_->setImage(copy);
}

void ImageScrollView::displayImage(const std::shared_ptr<UIImage>& image) {
    setZoomScale(1.0);
    zoomView_ = UIImageView::initWithImage(image);
    zoomView_->setContentMode(UIViewContentModeScaleToFill);
    addSubview(zoomView_);
    configureForImageSize(image->size());
}

void ImageScrollView::configureForImageSize(CGSize size) {
    imageSize_ = size;
    setContentSize(size);
    setMaxMinZoomScalesForCurrentBounds();
    setZoomScale(minimumZoomScale());
}

void ImageScrollView::setMaxMinZoomScalesForCurrentBounds() {
    const CGSize bounds = this->bounds().size;
    if (imageSize_.width <= 0 || imageSize_.height <= 0) return;
    startScale_ = static_cast<float>(std::min(bounds.width / imageSize_.width, bounds.height / imageSize_.height));
    // ("zoom" + 1) device pixels for each pixel of the picture, never less than the fit.
    const long zoom = NSUserDefaults::standardUserDefaults()->integerForKey("zoom");
    doubleClickScale_ = static_cast<float>((zoom + 1) / UIScreen::mainScreen()->scale());
    if (doubleClickScale_ < startScale_) doubleClickScale_ = startScale_;
    setContentSize(imageSize_);
    setMinimumZoomScale(std::min(startScale_, doubleClickScale_));
    setMaximumZoomScale(std::max(startScale_, doubleClickScale_));
    setZoomScale(startScale_);
}

CGRect ImageScrollView::zoomRectForScale(float scale, CGPoint center) const {
    if (!zoomView_ || scale <= 0) return CGRectZero;
    const CGSize shown = zoomView_->frame().size;
    const CGSize size{shown.width / scale, shown.height / scale};
    const CGPoint c = zoomView_->convertPointFromView(center, superview());
    return {{c.x - size.width / 2, c.y - size.height / 2}, size};
}

void ImageScrollView::doubleClick(CGPoint point) {
    if (!zoomView_) return;
    auto weak = std::weak_ptr<ImageScrollView>(std::static_pointer_cast<ImageScrollView>(shared_from_this()));
    UIView::animateWithDuration(
        kDoubleTapZoomDuration, 0, UIViewAnimationOptionBeginFromCurrentState,
        [weak, point] {
            auto self = weak.lock();
            if (!self) return;
            if (self->zoomScale() < self->doubleClickScale_)
                self->zoomToRect(self->zoomRectForScale(self->doubleClickScale_, point), false);
            else
                self->setZoomScale(self->startScale_);
            self->layoutIfNeeded();
        },
        nullptr);
}

void ImageScrollView::zoomToStart() { setZoomScale(startScale_, true); }

void ImageScrollView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    if (!zoomView_) return;
    const CGSize bounds = this->bounds().size;
    CGRect frame = zoomView_->frame();
    frame.origin.x = frame.size.width < bounds.width ? (bounds.width - frame.size.width) / 2 : 0;
    frame.origin.y = frame.size.height < bounds.height ? (bounds.height - frame.size.height) / 2 : 0;
    zoomView_->setCenter({CGRectGetMidX(frame), CGRectGetMidY(frame)});
}

std::shared_ptr<UIView> ImageScrollView::viewForZoomingInScrollView(const std::shared_ptr<UIScrollView>&) {
    return zoomView_;
}

void ImageScrollView::scrollViewDidScroll(const std::shared_ptr<UIScrollView>&) { layoutSubviews(); }

void ImageScrollView::scrollViewDidZoom(const std::shared_ptr<UIScrollView>&) { layoutSubviews(); }

void ImageScrollView::setFrame(const CGRect& frame) {
    if (frame.size == this->frame().size || !zoomView_) {
        UIScrollView::setFrame(frame);
        return;
    }
    prepareToResize();
    UIScrollView::setFrame(frame);
    recoverFromResizing();
}

void ImageScrollView::prepareToResize() {
    const CGRect b = bounds();
    pointToCenterAfterResize_ = zoomView_->convertPointFromView({CGRectGetMidX(b), CGRectGetMidY(b)}, self<UIView>());
    scaleToRestoreAfterResize_ = zoomScale();
    // At the fit scale, the new fit scale follows instead.
    if (scaleToRestoreAfterResize_ <= minimumZoomScale() + FLT_EPSILON) scaleToRestoreAfterResize_ = 0;
}

void ImageScrollView::recoverFromResizing() {
    setMaxMinZoomScalesForCurrentBounds();
    setZoomScale(std::min(maximumZoomScale(), std::max(minimumZoomScale(), scaleToRestoreAfterResize_)));
    const CGPoint centre = zoomView_->convertPointToView(pointToCenterAfterResize_, self<UIView>());
    const CGSize half{bounds().size.width / 2, bounds().size.height / 2};
    const CGPoint max = maximumOffsetForResize();
    // Each axis between (0, 0) and content size - bounds size; a negative room gives 0.
    setContentOffset({std::max(0.0, std::min(max.x, centre.x - half.width)),
                      std::max(0.0, std::min(max.y, centre.y - half.height))});
}

CGPoint ImageScrollView::maximumOffsetForResize() const {
    return {contentSize().width - bounds().size.width, contentSize().height - bounds().size.height};
}
