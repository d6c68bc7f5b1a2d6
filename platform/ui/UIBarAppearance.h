// Bar appearances (system 13 and later): the background a navigation bar or toolbar shows,
// set as a bar's standard and scroll-edge appearance or through its appearance proxy.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/UIColor.h"

#include <memory>

class UIBarAppearance : public NSObject {
public:
    enum class Background { Default, Opaque, Transparent };

    void configureWithDefaultBackground() { configure(Background::Default, nullptr); }

    Background background() const { return background_; }
    std::shared_ptr<UIColor> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::shared_ptr<UIColor> color) { backgroundColor_ = std::move(color); }

private:
    void configure(Background background, std::shared_ptr<UIColor> color) {
        background_ = background;
        backgroundColor_ = std::move(color);
    }
    Background background_ = Background::Default;
    std::shared_ptr<UIColor> backgroundColor_;
};

class UINavigationBarAppearance : public UIBarAppearance {
public:
    static std::shared_ptr<UINavigationBarAppearance> make() { return std::make_shared<UINavigationBarAppearance>(); }
};

class UIToolbarAppearance : public UIBarAppearance {
public:
    static std::shared_ptr<UIToolbarAppearance> make() { return std::make_shared<UIToolbarAppearance>(); }
};
