// The global appearance the engine sets once at start, before any screen exists: bar
// backgrounds from system 15, tint of bars, bar items, image views, search bars and alert
// contents; track and thumb images of sliders.
#include "engine/OECore.h"

#include "platform/foundation/Value.h"
#include "platform/media/MPVolumeView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIToolbar.h"

namespace {

constexpr unsigned kNormal = 0;
constexpr unsigned kHighlighted = 1;
constexpr unsigned kSelected = 4;

// Sliders take these three images from their appearance as they come on screen.
void registerSliderAppliers() {
    using Setter = void (UISlider::*)(std::shared_ptr<UIImage>, unsigned);
    const std::pair<const char*, Setter> properties[] = {{"minimumTrackImage@0", &UISlider::setMinimumTrackImage},
                                                         {"maximumTrackImage@0", &UISlider::setMaximumTrackImage},
                                                         {"thumbImage@0", &UISlider::setThumbImage}};
    for (const auto& entry : properties) {
        const Setter setter = entry.second;  // a structured binding cannot be captured before C++20 in clang 14
        UIAppearance::registerApplier(entry.first, [setter](UIView& view, const Value& value) {
            auto* slider = dynamic_cast<UISlider*>(&view);
            auto image = value.objectAs<UIImage>();
            if (slider && image) (slider->*setter)(image, kNormal);
        });
    }
}

// Volume views likewise take their slider, thumb and route-button images.
void registerVolumeViewAppliers() {
    using Setter = void (MPVolumeView::*)(std::shared_ptr<UIImage>, unsigned);
    const std::pair<const char*, Setter> properties[] = {
        {"minimumVolumeSliderImage", &MPVolumeView::setMinimumVolumeSliderImage},
        {"maximumVolumeSliderImage", &MPVolumeView::setMaximumVolumeSliderImage},
        {"volumeThumbImage", &MPVolumeView::setVolumeThumbImage},
        {"routeButtonImage", &MPVolumeView::setRouteButtonImage}};
    for (const auto& entry : properties) {
        for (unsigned state : {kNormal, kHighlighted, kSelected}) {
            const Setter setter = entry.second;
            UIAppearance::registerApplier(std::string(entry.first) + "@" + std::to_string(state),
                                          [setter, state](UIView& view, const Value& value) {
                                              auto* volume = dynamic_cast<MPVolumeView*>(&view);
                                              auto image = value.objectAs<UIImage>();
                                              if (volume && image) (volume->*setter)(image, state);
                                          });
        }
    }
}

}  // namespace

void OECore::customizeInterface() {
    const int major = Value(UIDevice::currentDevice()->systemVersion()).intValue();
    if (major >= 15) {
        auto navigation = UINavigationBarAppearance::make();
        navigation->configureWithDefaultBackground();
        UIAppearance::appearance<UINavigationBar>()->setValue("standardAppearance", Value(navigation));
        UIAppearance::appearance<UINavigationBar>()->setValue("scrollEdgeAppearance", Value(navigation));
        auto toolbar = UIToolbarAppearance::make();
        toolbar->configureWithDefaultBackground();
        UIAppearance::appearance<UIToolbar>()->setValue("standardAppearance", Value(toolbar));
        UIAppearance::appearance<UIToolbar>()->setValue("scrollEdgeAppearance", Value(toolbar));
    }
    const auto tint = major >= 13 ? UIColor::labelColor() : UIColor::darkGrayColor();
    UIAppearance::appearance<UIBarButtonItem>()->setValue("tintColor", Value(tint));
    UIAppearance::appearance<UINavigationBar>()->setValue("tintColor", Value(tint));
    UIAppearance::appearance<UIToolbar>()->setValue("tintColor", Value(tint));
    UIAppearance::appearance<UIImageView>()->setValue("tintColor", Value(tint));
    UIAppearance::appearance<UISearchBar>()->setValue("tintColor", Value(tint));
    UIAppearance::appearanceWhenContainedIn<UIView, UIAlertController>()->setValue("tintColor", Value(tint));

    const UIEdgeInsets caps{0, 4, 0, 4};
    auto handle = UIImage::imageNamed("handle");
    auto active = UIImage::imageNamed("Active");
    auto inactive = UIImage::imageNamed("Innactive");
    auto volume = UIAppearance::appearance<MPVolumeView>();
    registerVolumeViewAppliers();
    if (active) volume->setValue("minimumVolumeSliderImage", kNormal, Value(active->resizableImageWithCapInsets(caps)));
    if (inactive) volume->setValue("maximumVolumeSliderImage", kNormal, Value(inactive->resizableImageWithCapInsets(caps)));
    if (handle) volume->setValue("volumeThumbImage", kNormal, Value(handle));
    if (auto route = UIImage::imageNamed("airPlayBtn")) volume->setValue("routeButtonImage", kNormal, Value(route));
    if (auto routeUp = UIImage::imageNamed("airPlayBtn_up")) {
        volume->setValue("routeButtonImage", kHighlighted, Value(routeUp));
        volume->setValue("routeButtonImage", kSelected, Value(routeUp));
    }
    auto slider = UIAppearance::appearance<UISlider>();
    registerSliderAppliers();
    if (active) slider->setValue("minimumTrackImage", kNormal, Value(active->resizableImageWithCapInsets(caps)));
    if (inactive) slider->setValue("maximumTrackImage", kNormal, Value(inactive->resizableImageWithCapInsets(caps)));
    if (handle) slider->setValue("thumbImage", kNormal, Value(handle));
}
