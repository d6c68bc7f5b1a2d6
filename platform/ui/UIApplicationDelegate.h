// What the application tells its delegate: launch and the five life-cycle changes, plus the
// optional calls for URLs and activities the system hands it, whose presence callers can ask
// about.
#pragma once

#include "platform/foundation/Value.h"

#include <functional>
#include <memory>
#include <string>

class NSUserActivity;
class UIApplication;
class UIWindow;

class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;

    virtual bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value::Dictionary&) { return true; }
    virtual void applicationWillResignActive(UIApplication&) {}
    virtual void applicationDidEnterBackground(UIApplication&) {}
    virtual void applicationWillEnterForeground(UIApplication&) {}
    virtual void applicationDidBecomeActive(UIApplication&) {}
    virtual void applicationWillTerminate(UIApplication&) {}

    // application:openURL:options:, optional: a delegate that implements it says so.
    virtual bool respondsToApplicationOpenURLOptions() const { return false; }
    virtual bool applicationOpenURLOptions(UIApplication&, const std::string& /*url*/, const Value::Dictionary&) {
        return false;
    }

    // application:openURL:sourceApplication:annotation:, the older form.
    virtual bool respondsToApplicationOpenURLSourceApplication() const { return false; }
    virtual bool applicationOpenURLSourceApplication(UIApplication&, const std::string& /*url*/,
                                                     const std::string& /*sourceApplication*/,
                                                     const Value& /*annotation*/) {
        return false;
    }
    // application:continueUserActivity:restorationHandler:.
    virtual bool respondsToApplicationContinueUserActivity() const { return false; }
    virtual bool applicationContinueUserActivity(UIApplication&, const std::shared_ptr<NSUserActivity>& /*activity*/,
                                                 std::function<void(const Value::Array&)> /*restorationHandler*/) {
        return false;
    }
    // application:handleEventsForBackgroundURLSession:completionHandler:.
    virtual bool respondsToApplicationHandleEventsForBackgroundURLSession() const { return false; }
    virtual void applicationHandleEventsForBackgroundURLSession(UIApplication&, const std::string& /*identifier*/,
                                                                std::function<void()> /*completionHandler*/) {}

    // The delegate's window property.
    virtual std::shared_ptr<UIWindow> window() const { return nullptr; }
};
