// Spinners: style sizes and the hide-when-stopped rule.
#include "platform/ui/UIActivityIndicatorView.h"

#include "platform/ui/UIColor.h"

CGFloat UIActivityIndicatorView::sideForStyle(UIActivityIndicatorViewStyle style) {
    return (style == UIActivityIndicatorViewStyleWhiteLarge || style == UIActivityIndicatorViewStyleLarge) ? 37 : 20;
}

UIActivityIndicatorView::UIActivityIndicatorView() : UIActivityIndicatorView(CGRectZero) {}

UIActivityIndicatorView::UIActivityIndicatorView(const CGRect& frame) : UIView(frame), color_(UIColor::whiteColor()) {
    UIView::setHidden(true);
    UIView::setUserInteractionEnabled(false);
}

std::shared_ptr<UIActivityIndicatorView> UIActivityIndicatorView::initWithActivityIndicatorStyle(
    UIActivityIndicatorViewStyle style) {
    const CGFloat side = sideForStyle(style);
    auto view = std::make_shared<UIActivityIndicatorView>(CGRectMake(0, 0, side, side));
    view->setActivityIndicatorViewStyle(style);
    return view;
}

std::shared_ptr<UIActivityIndicatorView> UIActivityIndicatorView::initWithFrame(const CGRect& frame) {
    return std::make_shared<UIActivityIndicatorView>(frame);
}

void UIActivityIndicatorView::setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style) {
    style_ = style;
    color_ = (style == UIActivityIndicatorViewStyleGray || style == UIActivityIndicatorViewStyleMedium ||
              style == UIActivityIndicatorViewStyleLarge)
                 ? UIColor::grayColor()
                 : UIColor::whiteColor();
    invalidateIntrinsicContentSize();
}

void UIActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setHidden(hides);
}

void UIActivityIndicatorView::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

CGSize UIActivityIndicatorView::sizeThatFits(const CGSize& size) const {
    (void)size;
    const CGFloat side = sideForStyle(style_);
    return {side, side};
}
