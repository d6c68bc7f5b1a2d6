// What the application tells its delegate: launch and the five life-cycle changes, plus the
// optional URL-opening call whose presence callers can ask about.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <string>

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

    // The delegate's window property.
    virtual std::shared_ptr<UIWindow> window() const { return nullptr; }
};
