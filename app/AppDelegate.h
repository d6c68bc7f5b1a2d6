// The application delegate: starts the analytics core, builds the product's configuration,
// starts the engine, shows the start screen in a new window and forwards the life cycle.
#pragma once

#include "config/OEConfig.h"
#include "platform/ui/UIApplicationDelegate.h"
#include "platform/ui/UIResponder.h"

#include <memory>
#include <string>

class AppDelegate : public UIResponder, public UIApplicationDelegate {
public:
    // The name the platform creates the delegate by.
    static const std::string& registeredName();  // "AppDelegate"
    // Registers the class under that name (before the application main function runs).
    static void registerClass();
    // The same for a host that runs the whole application: creating the delegate first runs the
    // analytics library's load hooks (once), so the platform core starts the measurement engine
    // at launch. Not at static initialisation: the bundle and home folders are not set yet.
    static void registerClassWithAnalytics();

    // The product's configuration: the factory's parts with two picture groupings,
    // "subCat" ("By Janre") and "subCat2" ("By Name").
    static std::shared_ptr<OEConfig> makeConfig();

    bool applicationDidFinishLaunchingWithOptions(UIApplication& application, const Value::Dictionary& options) override;
    void applicationWillResignActive(UIApplication& application) override;
    void applicationDidEnterBackground(UIApplication& application) override;
    void applicationWillEnterForeground(UIApplication& application) override;
    void applicationDidBecomeActive(UIApplication& application) override;
    void applicationWillTerminate(UIApplication& application) override;
    // A link that opens the running application (a deferred deep link the analytics hand over
    // included) is taken as a link that launches it is: the application stays where it is, and
    // the analytics report the link's campaign.
    bool respondsToApplicationOpenURLOptions() const override { return true; }
    bool applicationOpenURLOptions(UIApplication& application, const std::string& url,
                                   const Value::Dictionary& options) override;
    // The end of the responder chain: remote-control events go to the engine.
    void remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event) override;

    std::shared_ptr<UIWindow> window() const override { return window_; }
    void setWindow(std::shared_ptr<UIWindow> window) { window_ = std::move(window); }

private:
    std::shared_ptr<UIWindow> window_;
};
