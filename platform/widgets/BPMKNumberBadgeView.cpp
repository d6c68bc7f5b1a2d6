// The badge: a rounded pill sized to its number, drawn into the view's recording context.
#include "platform/widgets/BPMKNumberBadgeView.h"

#include "platform/ui/CGContext.h"
#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>

std::shared_ptr<BPMKNumberBadgeView> BPMKNumberBadgeView::initWithFrame(const CGRect& frame) {
    return std::make_shared<BPMKNumberBadgeView>(frame);
}

BPMKNumberBadgeView::BPMKNumberBadgeView(const CGRect& frame)
    : UIView(frame),
      font_(UIFont::boldSystemFontOfSize(16)),
      fillColor_(UIColor::redColor()),
      strokeColor_(UIColor::whiteColor()),
      textColor_(UIColor::whiteColor()) {
    setOpaque(false);
    setBackgroundColor(UIColor::clearColor());
}

void BPMKNumberBadgeView::updateVisibility() { UIView::setHidden(hideWhenZero_ && value_ == 0); }

void BPMKNumberBadgeView::setValue(long value) {
    value_ = value;
    updateVisibility();
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setHideWhenZero(bool hide) {
    hideWhenZero_ = hide;
    updateVisibility();
}

void BPMKNumberBadgeView::setFont(std::shared_ptr<UIFont> font) {
    if (font) font_ = std::move(font);
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setFillColor(std::shared_ptr<UIColor> color) {
    fillColor_ = std::move(color);
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setStrokeColor(std::shared_ptr<UIColor> color) {
    strokeColor_ = std::move(color);
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setTextColor(std::shared_ptr<UIColor> color) {
    textColor_ = std::move(color);
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setStrokeWidth(CGFloat width) {
    strokeWidth_ = width;
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setShadow(bool shadow) {
    shadow_ = shadow;
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setShadowOffset(CGSize offset) {
    shadowOffset_ = offset;
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setShine(bool shine) {
    shine_ = shine;
    setNeedsDisplay();
}

void BPMKNumberBadgeView::setPad(CGFloat pad) {
    pad_ = pad;
    setNeedsDisplay();
}

CGSize BPMKNumberBadgeView::badgeSize() const {
    // The pill hugs the digits (as tall as the font's capitals, not its line), so a badge at a
    // small button's corner stays off the button's glyph; one digit makes a circle.
    const CGSize textSize = NSStringSizeWithFont(text(), font_);
    const CGFloat height = std::ceil(font_->capHeight() + 2 * (pad_ + strokeWidth_));
    const CGFloat width = std::max(height, std::ceil(textSize.width + 2 * (pad_ + strokeWidth_)));
    return {width, height};
}

CGRect BPMKNumberBadgeView::badgeRect() const {
    const CGSize size = badgeSize();
    const CGRect b = bounds();
    return CGRectMake(CGRectGetMaxX(b) - size.width, b.origin.y, size.width, size.height);
}

void BPMKNumberBadgeView::drawRect(const CGRect&) {
    auto c = UIGraphicsGetCurrentContext();
    if (!c) return;
    const CGRect r = CGRectInset(badgeRect(), strokeWidth_ / 2, strokeWidth_ / 2);
    const CGFloat radius = r.size.height / 2;
    auto pill = [&] {
        CGContextBeginPath(c);
        CGContextAddArc(c, r.origin.x + radius, r.origin.y + radius, radius, M_PI / 2, 3 * M_PI / 2, false);
        CGContextAddArc(c, CGRectGetMaxX(r) - radius, r.origin.y + radius, radius, 3 * M_PI / 2, M_PI / 2, false);
        CGContextClosePath(c);
    };
    if (shadow_) {
        CGContextSaveGState(c);
        CGContextTranslateCTM(c, shadowOffset_.width, shadowOffset_.height);
        CGContextSetFillColorWithColor(c, UIColor::colorWithWhite(0, 0.5));
        pill();
        CGContextFillPath(c);
        CGContextRestoreGState(c);
    }
    CGContextSetFillColorWithColor(c, fillColor_);
    CGContextSetStrokeColorWithColor(c, strokeColor_);
    CGContextSetLineWidth(c, strokeWidth_);
    pill();
    CGContextDrawPath(c, strokeWidth_ > 0 ? kCGPathFillStroke : kCGPathFill);
    if (shine_) {
        // A lighter upper half, as a gloss.
        CGContextSetFillColorWithColor(c, UIColor::colorWithWhite(1, 0.25));
        CGContextFillRect(c, CGRectMake(r.origin.x + radius / 2, r.origin.y + 1, r.size.width - radius, r.size.height / 2 - 1));
    }
    const CGSize textSize = NSStringSizeWithFont(text(), font_);
    CGContext::Operation op(CGContext::Operation::Kind::DrawText);
    op.text = text();
    op.font = font_;
    op.color = textColor_;
    op.rect = CGRectMake(CGRectGetMidX(r) - textSize.width / 2, CGRectGetMidY(r) - textSize.height / 2, textSize.width,
                         textSize.height);
    c->record(op);
}
