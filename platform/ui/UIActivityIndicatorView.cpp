// Spinners: style sizes and the hide-when-stopped rule.
#include "platform/ui/UIActivityIndicatorView.h"

#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"

#include <algorithm>
#include <cmath>

CGFloat UIActivityIndicatorView::sideForStyle(UIActivityIndicatorViewStyle style) {
    return (style == UIActivityIndicatorViewStyleWhiteLarge || style == UIActivityIndicatorViewStyleLarge) ? 37 : 20;
}

UIActivityIndicatorView::UIActivityIndicatorView() : UIActivityIndicatorView(CGRectZero) {}

UIActivityIndicatorView::UIActivityIndicatorView(const CGRect& frame) : UIView(frame), color_(UIColor::whiteColor()) {
    UIView::setHidden(true);
    UIView::setUserInteractionEnabled(false);
    setContentMode(UIViewContentModeRedraw);
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
    setNeedsDisplay();
}

void UIActivityIndicatorView::setColor(std::shared_ptr<UIColor> color) {
    color_ = std::move(color);
    setNeedsDisplay();
}

void UIActivityIndicatorView::drawRect(const CGRect& rect) {
    (void)rect;
    auto c = UIGraphicsGetCurrentContext();
    const CGRect b = bounds();
    const CGFloat outer = std::min(b.size.width, b.size.height) / 2;
    if (!c || outer < 3) return;
    const auto color = color_ ? color_ : UIColor::grayColor();
    const CGFloat inner = outer * 0.45;
    const CGFloat cx = CGRectGetMidX(b), cy = CGRectGetMidY(b);
    CGContextSetLineCap(c, kCGLineCapRound);
    CGContextSetLineWidth(c, std::max(1.5, outer * 0.2));
    // From the top round the clock, each spoke fainter than the one before.
    for (int i = 0; i < 12; ++i) {
        const CGFloat angle = -M_PI / 2 + i * M_PI / 6;
        CGContextSetStrokeColorWithColor(c, color->colorWithAlphaComponent(color->alpha() * (1.0 - i * 0.07)));
        CGContextMoveToPoint(c, cx + std::cos(angle) * inner, cy + std::sin(angle) * inner);
        CGContextAddLineToPoint(c, cx + std::cos(angle) * (outer - 1), cy + std::sin(angle) * (outer - 1));
        CGContextStrokePath(c);
    }
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
