// Image views and where the content mode puts the image.
#include "platform/ui/UIImageView.h"

#include "platform/ui/UIImage.h"

#include <algorithm>

UIImageView::UIImageView() : UIImageView(CGRectZero) {}

UIImageView::UIImageView(const CGRect& frame) : UIView(frame) { UIView::setUserInteractionEnabled(false); }

std::shared_ptr<UIImageView> UIImageView::initWithImage(const std::shared_ptr<UIImage>& image) {
    const CGSize size = image ? image->size() : CGSizeZero;
    auto view = std::make_shared<UIImageView>(CGRect{{0, 0}, size});
    view->image_ = image;
    return view;
}

void UIImageView::setImage(std::shared_ptr<UIImage> image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

void UIImageView::setHighlightedImage(std::shared_ptr<UIImage> image) {
    highlightedImage_ = std::move(image);
    setNeedsDisplay();
}

void UIImageView::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setNeedsDisplay();
}

std::shared_ptr<UIImage> UIImageView::currentImage() const {
    if (highlighted_ && highlightedImage_) return highlightedImage_;
    return image_;
}

CGSize UIImageView::sizeThatFits(const CGSize& size) const {
    (void)size;
    auto image = currentImage();
    return image ? image->size() : CGSizeZero;
}

CGSize UIImageView::intrinsicContentSize() const {
    auto image = currentImage();
    return image ? image->size() : CGSize{UIViewNoIntrinsicMetric, UIViewNoIntrinsicMetric};
}

CGRect UIImageView::imageRect() const {
    auto image = currentImage();
    const CGRect b = bounds();
    if (!image) return b;
    const CGSize s = image->size();
    switch (contentMode()) {
    case UIViewContentModeScaleToFill:
    case UIViewContentModeRedraw:
        return b;
    case UIViewContentModeScaleAspectFit:
    case UIViewContentModeScaleAspectFill: {
        if (s.width <= 0 || s.height <= 0) return b;
        const CGFloat sx = b.size.width / s.width, sy = b.size.height / s.height;
        const CGFloat scale = contentMode() == UIViewContentModeScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
        const CGSize fitted{s.width * scale, s.height * scale};
        return {{b.origin.x + (b.size.width - fitted.width) / 2, b.origin.y + (b.size.height - fitted.height) / 2},
                fitted};
    }
    default:
        break;
    }
    CGFloat x = b.origin.x + (b.size.width - s.width) / 2;
    CGFloat y = b.origin.y + (b.size.height - s.height) / 2;
    switch (contentMode()) {
    case UIViewContentModeTop: y = b.origin.y; break;
    case UIViewContentModeBottom: y = CGRectGetMaxY(b) - s.height; break;
    case UIViewContentModeLeft: x = b.origin.x; break;
    case UIViewContentModeRight: x = CGRectGetMaxX(b) - s.width; break;
    case UIViewContentModeTopLeft: x = b.origin.x; y = b.origin.y; break;
    case UIViewContentModeTopRight: x = CGRectGetMaxX(b) - s.width; y = b.origin.y; break;
    case UIViewContentModeBottomLeft: x = b.origin.x; y = CGRectGetMaxY(b) - s.height; break;
    case UIViewContentModeBottomRight: x = CGRectGetMaxX(b) - s.width; y = CGRectGetMaxY(b) - s.height; break;
    default: break;
    }
    return {{x, y}, s};
}
