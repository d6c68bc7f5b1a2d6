// What the app-delegate proxy forwards to the engine besides the application's own delegate:
// opened URLs and web-browsing activities become campaigns, background session events go to
// the network object. It never claims a call (always NO).
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/UIApplicationDelegate.h"

#include <memory>

class APMAppDelegateInterceptor : public NSObject, public UIApplicationDelegate {
public:
    static std::shared_ptr<APMAppDelegateInterceptor> sharedInstance();

    bool respondsToApplicationOpenURLOptions() const override { return true; }
    bool applicationOpenURLOptions(UIApplication& application, const std::string& url,
                                   const Value::Dictionary& options) override;
    bool respondsToApplicationOpenURLSourceApplication() const override { return true; }
    bool applicationOpenURLSourceApplication(UIApplication& application, const std::string& url,
                                             const std::string& sourceApplication, const Value& annotation) override;
    bool respondsToApplicationContinueUserActivity() const override { return true; }
    // The restoration handler is never called.
    bool applicationContinueUserActivity(UIApplication& application, const std::shared_ptr<NSUserActivity>& activity,
                                         std::function<void(const Value::Array&)> restorationHandler) override;
    bool respondsToApplicationHandleEventsForBackgroundURLSession() const override { return true; }
    void applicationHandleEventsForBackgroundURLSession(UIApplication& application, const std::string& identifier,
                                                        std::function<void()> completionHandler) override;
};
