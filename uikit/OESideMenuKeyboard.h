// Keeps the side menu's centre screen above the on-screen keyboard: follows the keyboard's
// show and hide notifications and shortens the centre screen to end at the keyboard's top edge.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/ui/CGGeometry.h"

#include <memory>

class OESideMenuContainerViewController;

class OESideMenuKeyboard : public NSObject {
public:
    // Observes the keyboard for the container (held weakly) until this object goes.
    static std::shared_ptr<OESideMenuKeyboard> observeFor(const std::shared_ptr<OESideMenuContainerViewController>& container);
    ~OESideMenuKeyboard() override;

    // Over `duration`, the centre view's frame becomes the container's bounds cut at the
    // keyboard's top edge (`keyboardFrame` in window coordinates); nothing while the centre or
    // the container presents a screen. A keyboard below the screen gives the full height back.
    static void fitCentre(OESideMenuContainerViewController& container, const CGRect& keyboardFrame, double duration);

private:
    // Both notifications carry the keyboard's end frame and its animation duration.
    void keyboardWillChange(const NSNotification& notification);

    std::weak_ptr<OESideMenuContainerViewController> container_;
};
