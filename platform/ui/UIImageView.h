// Image views: an image (and a highlighted one) shown by the content mode; sized by the image.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <vector>

class UIImage;

class UIImageView : public UIView {
public:
    static std::shared_ptr<UIImageView> make() { return std::make_shared<UIImageView>(); }
    static std::shared_ptr<UIImageView> initWithFrame(const CGRect& frame) { return std::make_shared<UIImageView>(frame); }
    // Framed at the origin with the image's size.
    static std::shared_ptr<UIImageView> initWithImage(const std::shared_ptr<UIImage>& image);

    UIImageView();
    explicit UIImageView(const CGRect& frame);

    std::shared_ptr<UIImage> image() const { return image_; }
    void setImage(std::shared_ptr<UIImage> image);
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    // The image shown now.
    std::shared_ptr<UIImage> currentImage() const;

    void startAnimating() { animating_ = !animationImages_.empty(); }
    void stopAnimating() { animating_ = false; }
    bool isAnimating() const { return animating_; }

    CGSize sizeThatFits(const CGSize& size) const override;
    CGSize intrinsicContentSize() const override;

private:
    std::shared_ptr<UIImage> image_;
    std::shared_ptr<UIImage> highlightedImage_;
    bool highlighted_ = false;
    std::vector<std::shared_ptr<UIImage>> animationImages_;
    bool animating_ = false;
};
