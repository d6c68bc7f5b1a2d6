// The recording context: every call becomes an operation with the state it ran under.
#include "platform/ui/CGContext.h"

#include "platform/ui/UIColor.h"

#include <vector>

CGContext::CGContext(CGRect bounds) : bounds_(bounds) {
    state_.fillColor = UIColor::blackColor();
    state_.strokeColor = UIColor::blackColor();
}

void CGContext::record(Operation op) { operations_.push_back(std::move(op)); }

void CGContext::setFillColor(const std::shared_ptr<UIColor>& color) {
    state_.fillColor = color;
    Operation op{Operation::Kind::SetFillColor};
    op.color = color;
    record(std::move(op));
}

void CGContext::setStrokeColor(const std::shared_ptr<UIColor>& color) {
    state_.strokeColor = color;
    Operation op{Operation::Kind::SetStrokeColor};
    op.color = color;
    record(std::move(op));
}

void CGContext::setLineWidth(CGFloat width) {
    state_.lineWidth = width;
    Operation op{Operation::Kind::SetLineWidth};
    op.value = width;
    record(std::move(op));
}

void CGContext::addElement(const CGPathElement& element, Operation op) {
    path_.elements.push_back(element);
    record(std::move(op));
}

void CGContext::paintPath(Operation::Kind kind, CGPathDrawingMode mode) {
    Operation op{kind};
    op.mode = mode;
    op.path = std::move(path_);
    // The paint carries the colours it used, so a reader need not replay the state.
    op.color = (mode == kCGPathStroke) ? state_.strokeColor : state_.fillColor;
    op.value = state_.lineWidth;
    path_ = CGPath{};
    record(std::move(op));
}

void CGContext::saveState() {
    saved_.push_back(state_);
    record(Operation{Operation::Kind::SaveState});
}

void CGContext::restoreState() {
    if (!saved_.empty()) {
        state_ = saved_.back();
        saved_.pop_back();
    }
    record(Operation{Operation::Kind::RestoreState});
}

void CGContext::concatCTM(const CGAffineTransform& t) { state_.ctm = CGAffineTransformConcat(t, state_.ctm); }

void CGContextSetFillColorWithColor(const CGContextRef& c, const std::shared_ptr<UIColor>& color) {
    if (c) c->setFillColor(color);
}
void CGContextSetStrokeColorWithColor(const CGContextRef& c, const std::shared_ptr<UIColor>& color) {
    if (c) c->setStrokeColor(color);
}
void CGContextSetLineWidth(const CGContextRef& c, CGFloat width) {
    if (c) c->setLineWidth(width);
}
void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap) {
    if (!c) return;
    CGContext::Operation op(CGContext::Operation::Kind::SetLineCap);
    op.value = cap;
    c->record(std::move(op));
}
void CGContextBeginPath(const CGContextRef& c) {
    if (!c) return;
    c->paintPath(CGContext::Operation::Kind::BeginPath, kCGPathFill);
}
void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
    if (!c) return;
    CGPathElement e{CGPathElement::Kind::MoveTo};
    e.point = {x, y};
    CGContext::Operation op{CGContext::Operation::Kind::MoveTo};
    op.point = {x, y};
    c->addElement(e, std::move(op));
}
void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
    if (!c) return;
    CGPathElement e{CGPathElement::Kind::LineTo};
    e.point = {x, y};
    CGContext::Operation op{CGContext::Operation::Kind::AddLineTo};
    op.point = {x, y};
    c->addElement(e, std::move(op));
}
void CGContextAddArc(const CGContextRef& c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise) {
    if (!c) return;
    CGPathElement e{CGPathElement::Kind::Arc};
    e.point = {x, y};
    e.radius = radius;
    e.startAngle = startAngle;
    e.endAngle = endAngle;
    e.clockwise = clockwise != 0;
    CGContext::Operation op{CGContext::Operation::Kind::AddArc};
    op.point = e.point;
    op.radius = radius;
    op.startAngle = startAngle;
    op.endAngle = endAngle;
    op.clockwise = e.clockwise;
    c->addElement(e, std::move(op));
}
void CGContextAddEllipseInRect(const CGContextRef& c, const CGRect& rect) {
    if (!c) return;
    CGPathElement e{CGPathElement::Kind::Ellipse};
    e.rect = rect;
    CGContext::Operation op{CGContext::Operation::Kind::AddEllipse};
    op.rect = rect;
    c->addElement(e, std::move(op));
}
void CGContextClosePath(const CGContextRef& c) {
    if (!c) return;
    c->addElement(CGPathElement{CGPathElement::Kind::Close}, CGContext::Operation{CGContext::Operation::Kind::ClosePath});
}
void CGContextFillPath(const CGContextRef& c) {
    if (c) c->paintPath(CGContext::Operation::Kind::FillPath, kCGPathFill);
}
void CGContextStrokePath(const CGContextRef& c) {
    if (c) c->paintPath(CGContext::Operation::Kind::StrokePath, kCGPathStroke);
}
void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode) {
    if (c) c->paintPath(CGContext::Operation::Kind::DrawPath, mode);
}
namespace {
void rectOp(const CGContextRef& c, CGContext::Operation::Kind kind, const CGRect& rect, bool stroke) {
    if (!c) return;
    CGContext::Operation op{kind};
    op.rect = rect;
    op.color = stroke ? c->state().strokeColor : c->state().fillColor;
    op.value = c->state().lineWidth;
    c->record(std::move(op));
}
}  // namespace
void CGContextFillRect(const CGContextRef& c, const CGRect& rect) {
    rectOp(c, CGContext::Operation::Kind::FillRect, rect, false);
}
void CGContextFillEllipseInRect(const CGContextRef& c, const CGRect& rect) {
    CGContextAddEllipseInRect(c, rect);
    CGContextFillPath(c);
}
void CGContextSaveGState(const CGContextRef& c) {
    if (c) c->saveState();
}
void CGContextRestoreGState(const CGContextRef& c) {
    if (c) c->restoreState();
}
void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty) {
    if (!c) return;
    c->concatCTM(CGAffineTransformMakeTranslation(tx, ty));
    CGContext::Operation op{CGContext::Operation::Kind::TranslateCTM};
    op.point = {tx, ty};
    c->record(std::move(op));
}

namespace {
thread_local std::vector<CGContextRef> contextStack;
}  // namespace

CGContextRef UIGraphicsGetCurrentContext() { return contextStack.empty() ? nullptr : contextStack.back(); }
void UIGraphicsPushContext(const CGContextRef& context) { contextStack.push_back(context); }
void UIGraphicsPopContext() {
    if (!contextStack.empty()) contextStack.pop_back();
}
