// The drop shadow the side-menu container casts from its centre screen onto the menus.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class UIColor;
class UIView;

class OESideMenuShadow : public NSObject {
public:
    // Black, radius 10, opacity 0.75, enabled.
    static std::shared_ptr<OESideMenuShadow> make();
    static std::shared_ptr<OESideMenuShadow> shadowWithColor(std::shared_ptr<UIColor> color, double radius,
                                                             double opacity);
    static std::shared_ptr<OESideMenuShadow> shadowWithView(const std::shared_ptr<UIView>& view);

    // Each setter stores the value and draws again.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    std::shared_ptr<UIColor> color() const { return color_; }
    void setColor(std::shared_ptr<UIColor> color);
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);
    double radius() const { return radius_; }
    void setRadius(double radius);
    // Not owned.
    std::shared_ptr<UIView> shadowedView() const { return shadowedView_.lock(); }
    void setShadowedView(const std::shared_ptr<UIView>& view) { shadowedView_ = view; }

    // show when enabled, else hide.
    void draw();
    void show();
    void hide();
    // Around a rotation the shadow path would lag behind the frame: rasterise meanwhile.
    void shadowedViewWillRotate();
    void shadowedViewDidRotate();

private:
    bool enabled_ = true;
    std::shared_ptr<UIColor> color_;
    double opacity_ = 0.75;
    double radius_ = 10.0;
    std::weak_ptr<UIView> shadowedView_;
};
