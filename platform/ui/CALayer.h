// The layer behind every view: the properties the screens read and write (corners, border,
// shadow, rasterisation, opacity, 3-D transform), kept as values for assertions and rendering.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/CGPath.h"

#include <memory>

class UIColor;
class UIView;

class CALayer : public NSObject {
public:
    static std::shared_ptr<CALayer> make() { return std::make_shared<CALayer>(); }

    CGFloat cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(CGFloat radius) { cornerRadius_ = radius; }
    bool masksToBounds() const;
    CGFloat borderWidth() const { return borderWidth_; }
    // Black by default, as the platform.
    std::shared_ptr<UIColor> borderColor() const;

    // Opaque black by default; the shadow shows only with an opacity above 0.
    void setShadowColor(std::shared_ptr<UIColor> color) { shadowColor_ = std::move(color); }
    // Single precision, as the platform stores it.
    float shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(float opacity) { shadowOpacity_ = opacity; }
    // 3 points by default.
    CGFloat shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(CGFloat radius) { shadowRadius_ = radius; }
    // (0, -3) by default.
    void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }
    void setShadowPath(CGPathRef path) { shadowPath_ = std::move(path); }

    void setShouldRasterize(bool rasterize) { shouldRasterize_ = rasterize; }
    void setRasterizationScale(CGFloat scale) { rasterizationScale_ = scale; }

    // The view's alpha: one value seen from both sides.
    float opacity() const;
    void setOpacity(float opacity);
    CATransform3D transform() const { return transform_; }
    void setTransform(const CATransform3D& transform) { transform_ = transform; }
    bool isHidden() const;
    void setHidden(bool hidden);

    // The view whose layer this is; empty for a free-standing layer.
    std::shared_ptr<UIView> delegate() const;

private:
    friend class UIView;

    UIView* owner_ = nullptr;  // the view that owns this layer, while it lives
    CGFloat cornerRadius_ = 0;
    bool masksToBounds_ = false;
    CGFloat borderWidth_ = 0;
    std::shared_ptr<UIColor> borderColor_;
    std::shared_ptr<UIColor> shadowColor_;
    float shadowOpacity_ = 0;
    CGFloat shadowRadius_ = 3;
    CGSize shadowOffset_{0, -3};
    CGPathRef shadowPath_;
    bool shouldRasterize_ = false;
    CGFloat rasterizationScale_ = 1;
    float opacity_ = 1;
    bool hidden_ = false;
    CATransform3D transform_;
};
