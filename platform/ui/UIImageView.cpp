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

