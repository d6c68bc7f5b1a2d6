// Geometry helpers with the platform's rules for null and negative rectangles.
#include "platform/ui/CGGeometry.h"

#include <algorithm>

bool CGRectIsNull(const CGRect& r) { return std::isinf(r.origin.x) || std::isinf(r.origin.y); }

bool CGRectIsEmpty(const CGRect& r) { return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0; }

CGRect CGRectStandardize(const CGRect& r) {
    if (CGRectIsNull(r)) return r;
    CGRect s = r;
    if (s.size.width < 0) {
        s.origin.x += s.size.width;
        s.size.width = -s.size.width;
    }
    if (s.size.height < 0) {
        s.origin.y += s.size.height;
        s.size.height = -s.size.height;
    }
    return s;
}

CGFloat CGRectGetMinX(const CGRect& r) { return CGRectStandardize(r).origin.x; }
CGFloat CGRectGetMinY(const CGRect& r) { return CGRectStandardize(r).origin.y; }
CGFloat CGRectGetMaxX(const CGRect& r) {
    const CGRect s = CGRectStandardize(r);
    return s.origin.x + s.size.width;
}
CGFloat CGRectGetMaxY(const CGRect& r) {
    const CGRect s = CGRectStandardize(r);
    return s.origin.y + s.size.height;
}
CGFloat CGRectGetMidX(const CGRect& r) {
    const CGRect s = CGRectStandardize(r);
    return s.origin.x + s.size.width / 2;
}
CGFloat CGRectGetMidY(const CGRect& r) {
    const CGRect s = CGRectStandardize(r);
    return s.origin.y + s.size.height / 2;
}

CGRect CGRectInset(const CGRect& r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return r;
    CGRect s = CGRectStandardize(r);
    s.origin.x += dx;
    s.origin.y += dy;
    s.size.width -= 2 * dx;
    s.size.height -= 2 * dy;
    if (s.size.width < 0 || s.size.height < 0) return CGRectNull;
    return s;
}

CGRect CGRectOffset(const CGRect& r, CGFloat dx, CGFloat dy) {
    if (CGRectIsNull(r)) return r;
    CGRect s = CGRectStandardize(r);
    s.origin.x += dx;
    s.origin.y += dy;
    return s;
}

CGRect CGRectIntegral(const CGRect& r) {
    if (CGRectIsNull(r)) return r;
    const CGRect s = CGRectStandardize(r);
    const CGFloat minX = std::floor(s.origin.x);
    const CGFloat minY = std::floor(s.origin.y);
    const CGFloat maxX = std::ceil(s.origin.x + s.size.width);
    const CGFloat maxY = std::ceil(s.origin.y + s.size.height);
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectNull;
    const CGRect s = CGRectStandardize(a);
    const CGRect t = CGRectStandardize(b);
    const CGFloat minX = std::max(s.origin.x, t.origin.x);
    const CGFloat minY = std::max(s.origin.y, t.origin.y);
    const CGFloat maxX = std::min(s.origin.x + s.size.width, t.origin.x + t.size.width);
    const CGFloat maxY = std::min(s.origin.y + s.size.height, t.origin.y + t.size.height);
    if (maxX < minX || maxY < minY) return CGRectNull;
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
    if (CGRectIsNull(r)) return false;
    const CGRect s = CGRectStandardize(r);
    // Half-open, as the platform: the maximum edges are outside.
    return p.x >= s.origin.x && p.x < s.origin.x + s.size.width && p.y >= s.origin.y &&
           p.y < s.origin.y + s.size.height;
}

bool CGRectContainsRect(const CGRect& outer, const CGRect& inner) {
    if (CGRectIsNull(outer) || CGRectIsNull(inner)) return false;
    const CGRect s = CGRectStandardize(outer);
    const CGRect t = CGRectStandardize(inner);
    return t.origin.x >= s.origin.x && t.origin.y >= s.origin.y &&
           t.origin.x + t.size.width <= s.origin.x + s.size.width &&
           t.origin.y + t.size.height <= s.origin.y + s.size.height;
}

bool CGRectIntersectsRect(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return false;
    const CGRect s = CGRectStandardize(a);
    const CGRect t = CGRectStandardize(b);
    return s.origin.x < t.origin.x + t.size.width && t.origin.x < s.origin.x + s.size.width &&
           s.origin.y < t.origin.y + t.size.height && t.origin.y < s.origin.y + s.size.height;
}

bool CGRectEqualToRect(const CGRect& a, const CGRect& b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectIsNull(a) && CGRectIsNull(b);
    return CGRectStandardize(a) == CGRectStandardize(b);
}

CGRect UIEdgeInsetsInsetRect(const CGRect& r, const UIEdgeInsets& insets) {
    return {{r.origin.x + insets.left, r.origin.y + insets.top},
            {r.size.width - insets.left - insets.right, r.size.height - insets.top - insets.bottom}};
}

CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle) {
    const CGFloat c = std::cos(angle), s = std::sin(angle);
    return {c, s, -s, c, 0, 0};
}
CGAffineTransform CGAffineTransformConcat(const CGAffineTransform& t1, const CGAffineTransform& t2) {
    return {t1.a * t2.a + t1.b * t2.c,   t1.a * t2.b + t1.b * t2.d,
            t1.c * t2.a + t1.d * t2.c,   t1.c * t2.b + t1.d * t2.d,
            t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}
CGAffineTransform CGAffineTransformInvert(const CGAffineTransform& t) {
    const CGFloat det = t.a * t.d - t.b * t.c;
    if (det == 0) return t;  // not invertible: the platform hands it back unchanged
    return {t.d / det, -t.b / det, -t.c / det, t.a / det, (t.c * t.ty - t.d * t.tx) / det,
            (t.b * t.tx - t.a * t.ty) / det};
}
bool CGAffineTransformIsIdentity(const CGAffineTransform& t) { return t == CGAffineTransformIdentity; }
CGPoint CGPointApplyAffineTransform(const CGPoint& p, const CGAffineTransform& t) {
    return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}
CGRect CGRectApplyAffineTransform(const CGRect& r, const CGAffineTransform& t) {
    if (CGRectIsNull(r)) return r;
    const CGRect s = CGRectStandardize(r);
    const CGPoint corners[4] = {
        CGPointApplyAffineTransform(s.origin, t),
        CGPointApplyAffineTransform({s.origin.x + s.size.width, s.origin.y}, t),
        CGPointApplyAffineTransform({s.origin.x, s.origin.y + s.size.height}, t),
        CGPointApplyAffineTransform({s.origin.x + s.size.width, s.origin.y + s.size.height}, t),
    };
    CGFloat minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
    for (const CGPoint& c : corners) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    return {{minX, minY}, {maxX - minX, maxY - minY}};
}

CATransform3D CATransform3DMakeScale(CGFloat sx, CGFloat sy, CGFloat sz) {
    CATransform3D t;
    t.m11 = sx;
    t.m22 = sy;
    t.m33 = sz;
    return t;
}
CATransform3D CATransform3DMakeRotation(CGFloat angle, CGFloat x, CGFloat y, CGFloat z) {
    const CGFloat len = std::sqrt(x * x + y * y + z * z);
    if (len == 0) return CATransform3DIdentity;
    x /= len;
    y /= len;
    z /= len;
    const CGFloat c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    CATransform3D m;
    m.m11 = t * x * x + c;
    m.m12 = t * x * y + z * s;
    m.m13 = t * x * z - y * s;
    m.m21 = t * x * y - z * s;
    m.m22 = t * y * y + c;
    m.m23 = t * y * z + x * s;
    m.m31 = t * x * z + y * s;
    m.m32 = t * y * z - x * s;
    m.m33 = t * z * z + c;
    return m;
}
CATransform3D CATransform3DConcat(const CATransform3D& a, const CATransform3D& b) {
    const CGFloat A[4][4] = {{a.m11, a.m12, a.m13, a.m14}, {a.m21, a.m22, a.m23, a.m24},
                             {a.m31, a.m32, a.m33, a.m34}, {a.m41, a.m42, a.m43, a.m44}};
    const CGFloat B[4][4] = {{b.m11, b.m12, b.m13, b.m14}, {b.m21, b.m22, b.m23, b.m24},
                             {b.m31, b.m32, b.m33, b.m34}, {b.m41, b.m42, b.m43, b.m44}};
    CGFloat R[4][4] = {};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) R[i][j] += A[i][k] * B[k][j];
    return {R[0][0], R[0][1], R[0][2], R[0][3], R[1][0], R[1][1], R[1][2], R[1][3],
            R[2][0], R[2][1], R[2][2], R[2][3], R[3][0], R[3][1], R[3][2], R[3][3]};
}
CATransform3D CATransform3DMakeAffineTransform(const CGAffineTransform& t) {
    CATransform3D m;
    m.m11 = t.a;
    m.m12 = t.b;
    m.m21 = t.c;
    m.m22 = t.d;
    m.m41 = t.tx;
    m.m42 = t.ty;
    return m;
}
