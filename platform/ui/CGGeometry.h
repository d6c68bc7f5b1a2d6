// Geometry values of the interface layer: points, sizes, rectangles, edge insets and transforms.
#pragma once

#include <cmath>
#include <string>

using CGFloat = double;

struct CGPoint {
    CGFloat x = 0;
    CGFloat y = 0;
    bool operator==(const CGPoint&) const = default;
};

struct CGSize {
    CGFloat width = 0;
    CGFloat height = 0;
    bool operator==(const CGSize&) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    bool operator==(const CGRect&) const = default;
};

struct CGVector {
    CGFloat dx = 0;
    CGFloat dy = 0;
    bool operator==(const CGVector&) const = default;
};

struct UIEdgeInsets {
    CGFloat top = 0;
    CGFloat left = 0;
    CGFloat bottom = 0;
    CGFloat right = 0;
    bool operator==(const UIEdgeInsets&) const = default;
};

// x' = a x + c y + tx, y' = b x + d y + ty.
struct CGAffineTransform {
    CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const CGAffineTransform&) const = default;
};

// Row-vector convention, as the platform: the point is multiplied on the left.
struct CATransform3D {
    CGFloat m11 = 1, m12 = 0, m13 = 0, m14 = 0;
    CGFloat m21 = 0, m22 = 1, m23 = 0, m24 = 0;
    CGFloat m31 = 0, m32 = 0, m33 = 1, m34 = 0;
    CGFloat m41 = 0, m42 = 0, m43 = 0, m44 = 1;
    bool operator==(const CATransform3D&) const = default;
};

inline constexpr CGPoint CGPointZero{};
inline constexpr CGSize CGSizeZero{};
inline constexpr CGRect CGRectZero{};
inline constexpr UIEdgeInsets UIEdgeInsetsZero{};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
inline constexpr CATransform3D CATransform3DIdentity{};
// The null rectangle: what an empty intersection gives.
inline const CGRect CGRectNull{{INFINITY, INFINITY}, {0, 0}};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline CGSize CGSizeMake(CGFloat w, CGFloat h) { return {w, h}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline UIEdgeInsets UIEdgeInsetsMake(CGFloat top, CGFloat left, CGFloat bottom, CGFloat right) {
    return {top, left, bottom, right};
}

bool CGRectIsNull(const CGRect& r);
bool CGRectIsEmpty(const CGRect& r);
// A rectangle with non-negative width and height covering the same area.
CGRect CGRectStandardize(const CGRect& r);

CGFloat CGRectGetMinX(const CGRect& r);
CGFloat CGRectGetMidX(const CGRect& r);
CGFloat CGRectGetMaxX(const CGRect& r);
CGFloat CGRectGetMinY(const CGRect& r);
CGFloat CGRectGetMidY(const CGRect& r);
CGFloat CGRectGetMaxY(const CGRect& r);

CGRect CGRectInset(const CGRect& r, CGFloat dx, CGFloat dy);
CGRect CGRectOffset(const CGRect& r, CGFloat dx, CGFloat dy);
// The smallest rectangle with whole-number edges that contains `r`.
CGRect CGRectIntegral(const CGRect& r);
CGRect CGRectIntersection(const CGRect& a, const CGRect& b);
bool CGRectContainsPoint(const CGRect& r, const CGPoint& p);
bool CGRectContainsRect(const CGRect& outer, const CGRect& inner);
bool CGRectIntersectsRect(const CGRect& a, const CGRect& b);
bool CGRectEqualToRect(const CGRect& a, const CGRect& b);

CGRect UIEdgeInsetsInsetRect(const CGRect& r, const UIEdgeInsets& insets);

CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
// `first` applied, then `second`.
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& first, const CGAffineTransform& second);
CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t);
bool CGAffineTransformIsIdentity(const CGAffineTransform& t);
CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t);
// The bounding box of the transformed corners.
CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t);

CATransform3D CATransform3DMakeScale(CGFloat sx, CGFloat sy, CGFloat sz);
// Rotation by `angle` radians about the axis (x, y, z); the identity for a zero axis.
CATransform3D CATransform3DMakeRotation(CGFloat angle, CGFloat x, CGFloat y, CGFloat z);
// `a` applied, then `b`.
CATransform3D CATransform3DConcat(const CATransform3D& a, const CATransform3D& b);
CATransform3D CATransform3DMakeAffineTransform(const CGAffineTransform& t);

