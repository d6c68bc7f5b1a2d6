// The close button's drawing, in single precision as the drawing code always did it.
#include "uikit/UICloseButton.h"

#include "platform/ui/CGContext.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"

#include <algorithm>
#include <numbers>

std::shared_ptr<UICloseButton> UICloseButton::initWithFrame(const CGRect& frame) {
    return std::make_shared<UICloseButton>(frame);
}

UICloseButton::UICloseButton(const CGRect& frame) : UIButton(frame) { setAccessibilityLabel(*this, "close"); }

void UICloseButton::drawRect(const CGRect& rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const float width = static_cast<float>(rect.size.width);
    const float height = static_cast<float>(rect.size.height);
    const float r = std::min(width, height) / 2.0f;
    const float cx = static_cast<float>(rect.origin.x) + width / 2.0f;
    const float cy = static_cast<float>(rect.origin.y) + height / 2.0f;
    const float s = 0.35f * r;
    const auto main = isHighlighted() ? UIColor::lightGrayColor() : UIColor::whiteColor();
    const auto black = UIColor::blackColor();
    const float fullCircle = 2.0f * std::numbers::pi_v<float>;

    CGContextSetFillColorWithColor(context, main);
    CGContextSetStrokeColorWithColor(context, black);
    CGContextSetLineWidth(context, 1.0);
    CGContextAddArc(context, cx, cy, r - 1.0f, 0, fullCircle, 0);
    CGContextDrawPath(context, kCGPathFillStroke);

    CGContextSetFillColorWithColor(context, black);
    CGContextAddArc(context, cx, cy, 0.75f * r, 0, fullCircle, 0);
    CGContextFillPath(context);

    CGContextSetStrokeColorWithColor(context, main);
    CGContextSetLineWidth(context, 0.2f * r);
    CGContextMoveToPoint(context, cx - s, cy - s);
    CGContextAddLineToPoint(context, cx + s, cy + s);
    CGContextMoveToPoint(context, cx + s, cy - s);
    CGContextAddLineToPoint(context, cx - s, cy + s);
    CGContextStrokePath(context);
}

void UICloseButton::setHighlighted(bool highlighted) {
    UIButton::setHighlighted(highlighted);
    setNeedsDisplay();
}
