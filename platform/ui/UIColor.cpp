// Colours as clamped component values.
#include "platform/ui/UIColor.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/CGContext.h"

#include <algorithm>
#include <functional>

namespace {
CGFloat clamp01(CGFloat v) { return std::clamp(v, 0.0, 1.0); }
}  // namespace

UIColor::UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha, bool greyscale)
    : red_(clamp01(red)), green_(clamp01(green)), blue_(clamp01(blue)), alpha_(clamp01(alpha)), greyscale_(greyscale) {}

std::shared_ptr<UIColor> UIColor::colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
    return std::make_shared<UIColor>(red, green, blue, alpha, false);
}
std::shared_ptr<UIColor> UIColor::colorWithWhite(CGFloat white, CGFloat alpha) {
    return std::make_shared<UIColor>(white, white, white, alpha, true);
}
std::shared_ptr<UIColor> UIColor::blackColor() { return colorWithWhite(0, 1); }
std::shared_ptr<UIColor> UIColor::whiteColor() { return colorWithWhite(1, 1); }
std::shared_ptr<UIColor> UIColor::clearColor() { return colorWithWhite(0, 0); }
std::shared_ptr<UIColor> UIColor::redColor() { return colorWithRed(1, 0, 0, 1); }
std::shared_ptr<UIColor> UIColor::blueColor() { return colorWithRed(0, 0, 1, 1); }
std::shared_ptr<UIColor> UIColor::grayColor() { return colorWithWhite(0.5, 1); }
std::shared_ptr<UIColor> UIColor::darkGrayColor() { return colorWithWhite(1.0 / 3.0, 1); }
std::shared_ptr<UIColor> UIColor::lightGrayColor() { return colorWithWhite(2.0 / 3.0, 1); }
std::shared_ptr<UIColor> UIColor::labelColor() { return colorWithRed(0, 0, 0, 1); }
std::shared_ptr<UIColor> UIColor::groupTableViewBackgroundColor() { return systemGroupedBackgroundColor(); }
std::shared_ptr<UIColor> UIColor::systemGroupedBackgroundColor() {
    return colorWithRed(242.0 / 255.0, 242.0 / 255.0, 247.0 / 255.0, 1);
}
std::shared_ptr<UIColor> UIColor::systemBlueColor() { return colorWithRed(0, 122.0 / 255.0, 1, 1); }

bool UIColor::getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const {
    if (red) *red = red_;
    if (green) *green = green_;
    if (blue) *blue = blue_;
    if (alpha) *alpha = alpha_;
    return true;
}

bool UIColor::getWhite(CGFloat* white, CGFloat* alpha) const {
    if (!greyscale_) return false;
    if (white) *white = red_;
    if (alpha) *alpha = alpha_;
    return true;
}

std::shared_ptr<UIColor> UIColor::colorWithAlphaComponent(CGFloat alpha) const {
    auto color = std::make_shared<UIColor>(red_, green_, blue_, alpha, greyscale_);
    return color;
}

void UIColor::set() const {
    setFill();
    setStroke();
}
void UIColor::setFill() const {
    if (auto context = UIGraphicsGetCurrentContext())
        context->setFillColor(std::const_pointer_cast<UIColor>(std::static_pointer_cast<const UIColor>(shared_from_this())));
}
void UIColor::setStroke() const {
    if (auto context = UIGraphicsGetCurrentContext())
        context->setStrokeColor(std::const_pointer_cast<UIColor>(std::static_pointer_cast<const UIColor>(shared_from_this())));
}

bool UIColor::isEqual(const NSObject* other) const {
    const auto* color = dynamic_cast<const UIColor*>(other);
    if (!color) return false;
    return red_ == color->red_ && green_ == color->green_ && blue_ == color->blue_ && alpha_ == color->alpha_;
}

std::size_t UIColor::hash() const {
    std::size_t h = std::hash<double>()(red_);
    h = h * 31 + std::hash<double>()(green_);
    h = h * 31 + std::hash<double>()(blue_);
    return h * 31 + std::hash<double>()(alpha_);
}

std::string UIColor::description() const {
    if (greyscale_) return NSString::format("UIExtendedGrayColorSpace %g %g", red_, alpha_);
    return NSString::format("UIExtendedSRGBColorSpace %g %g %g %g", red_, green_, blue_, alpha_);
}
