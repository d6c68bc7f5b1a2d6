// Path values and their bounding boxes.
#include "platform/ui/CGPath.h"

CGPathRef CGPathCreateWithRect(const CGRect& rect) {
    auto path = std::make_shared<CGPath>();
    CGPathElement e;
    e.kind = CGPathElement::Kind::Rect;
    e.rect = rect;
    path->elements.push_back(e);
    return path;
}
