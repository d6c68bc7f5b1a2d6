// Mirrors the pager's picture on an external screen: a window of its own on the second screen
// while one is connected, showing the latest view handed over, cross-faded from the one before.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSObject.h"

#include <memory>

class UIView;
class UIWindow;

class SecondWindowController : public NSObject {
public:
    // Follows screens being connected and disconnected from now on.
    static std::shared_ptr<SecondWindowController> make();
    SecondWindowController() = default;
    ~SecondWindowController() override;

    // The window on the second screen; none while fewer than two screens exist.
    const std::shared_ptr<UIWindow>& secondWindow() const { return secondWindow_; }
    // The view shown (the window's last subview); none without a window or a view.
    std::shared_ptr<UIView> currentView() const;
    // Shows `view` full size, aspect-fit, fading in over 0.3 s while the one shown before fades
    // out and is then removed. Nothing without a window.
    void displayView(const std::shared_ptr<UIView>& view);

    void configureExternalDisplay();

    static constexpr double kFadeDuration = 0.3;

private:
    void handleScreenConnectNotification(const NSNotification& notification);
    void handleScreenDisconnectNotification(const NSNotification& notification);

    std::shared_ptr<UIWindow> secondWindow_;
};
