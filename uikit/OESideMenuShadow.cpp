// The centre screen's drop shadow, kept on its layer.
#include "uikit/OESideMenuShadow.h"

#include "platform/ui/CALayer.h"
#include "platform/ui/CGPath.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"

std::shared_ptr<OESideMenuShadow> OESideMenuShadow::make() {
    auto shadow = std::make_shared<OESideMenuShadow>();
    shadow->color_ = UIColor::blackColor();
    return shadow;
}

std::shared_ptr<OESideMenuShadow> OESideMenuShadow::shadowWithColor(std::shared_ptr<UIColor> color, double radius,
                                                                     double opacity) {
    auto shadow = make();
    shadow->color_ = std::move(color);
    shadow->radius_ = radius;
    shadow->opacity_ = opacity;
    return shadow;
}

std::shared_ptr<OESideMenuShadow> OESideMenuShadow::shadowWithView(const std::shared_ptr<UIView>& view) {
    auto shadow = shadowWithColor(UIColor::blackColor(), 10.0, 0.75);
    shadow->shadowedView_ = view;
    return shadow;
}

void OESideMenuShadow::setEnabled(bool enabled) {
    enabled_ = enabled;
    draw();
}

void OESideMenuShadow::setColor(std::shared_ptr<UIColor> color) {
    color_ = std::move(color);
    draw();
}

void OESideMenuShadow::setOpacity(double opacity) {
    opacity_ = opacity;
    draw();
}

void OESideMenuShadow::setRadius(double radius) {
    radius_ = radius;
    draw();
}

void OESideMenuShadow::draw() {
    if (enabled_) show();
    else hide();
}

void OESideMenuShadow::show() {
    auto view = shadowedView_.lock();
    if (!view) return;
    const auto& layer = view->layer();
    layer->setShadowPath(CGPathCreateWithRect(CGRect{view->bounds().origin, view->frame().size}));
    layer->setShadowOpacity(static_cast<float>(opacity_));
    layer->setShadowRadius(radius_);
    layer->setShadowColor(color_);
    layer->setRasterizationScale(UIScreen::mainScreen()->scale());
}

void OESideMenuShadow::hide() {
    auto view = shadowedView_.lock();
    if (!view) return;
    view->layer()->setShadowOpacity(0);
    view->layer()->setShadowRadius(0);
}

void OESideMenuShadow::shadowedViewWillRotate() {
    auto view = shadowedView_.lock();
    if (!view) return;
    view->layer()->setShadowPath(nullptr);
    view->layer()->setShouldRasterize(true);
}

void OESideMenuShadow::shadowedViewDidRotate() {
    draw();
    if (auto view = shadowedView_.lock()) view->layer()->setShouldRasterize(false);
}
