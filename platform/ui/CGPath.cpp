// Path values and their bounding boxes.
#include "platform/ui/CGPath.h"

CGRect CGPath::boundingBox() const {
    CGRect box = CGRectNull;
    for (const CGPathElement& e : elements) {
        switch (e.kind) {
        case CGPathElement::Kind::MoveTo:
        case CGPathElement::Kind::LineTo:
            box = CGRectUnion(box, CGRect{e.point, {0, 0}});
            break;
        case CGPathElement::Kind::Arc:
            box = CGRectUnion(box, CGRectMake(e.point.x - e.radius, e.point.y - e.radius, 2 * e.radius, 2 * e.radius));
            break;
        case CGPathElement::Kind::Rect:
        case CGPathElement::Kind::Ellipse:
        case CGPathElement::Kind::RoundedRect:
            box = CGRectUnion(box, e.rect);
            break;
        case CGPathElement::Kind::Close:
            break;
        }
    }
    return CGRectIsNull(box) ? CGRectZero : box;
}

CGPathRef CGPathCreateWithRect(const CGRect& rect) {
    auto path = std::make_shared<CGPath>();
    CGPathElement e;
    e.kind = CGPathElement::Kind::Rect;
    e.rect = rect;
    path->elements.push_back(e);
    return path;
}
