// Paths as values: the elements a path was built from (move, line, arc, rect, close).
#pragma once

#include "platform/ui/CGGeometry.h"

#include <memory>
#include <vector>

struct CGPathElement {
    enum class Kind { MoveTo, LineTo, Arc, Rect, Ellipse, RoundedRect, Close };
    CGPathElement() = default;
    explicit CGPathElement(Kind k) : kind(k) {}
    Kind kind = Kind::MoveTo;
    CGPoint point;      // MoveTo, LineTo; the centre of an Arc
    CGRect rect;        // Rect, Ellipse, RoundedRect
    CGFloat radius = 0; // Arc, RoundedRect corner
    CGFloat startAngle = 0;
    CGFloat endAngle = 0;
    bool clockwise = false;
    bool operator==(const CGPathElement&) const = default;
};

struct CGPath {
    std::vector<CGPathElement> elements;

    bool isEmpty() const { return elements.empty(); }
    bool operator==(const CGPath&) const = default;
};

using CGPathRef = std::shared_ptr<const CGPath>;

CGPathRef CGPathCreateWithRect(const CGRect& rect);
