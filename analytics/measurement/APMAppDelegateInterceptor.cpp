// The engine's app-delegate interceptor.
#include "analytics/measurement/APMAppDelegateInterceptor.h"

#include "analytics/measurement/APMAnalytics.h"
#include "analytics/measurement/APMMeasurement.h"

std::shared_ptr<APMAppDelegateInterceptor> APMAppDelegateInterceptor::sharedInstance() {
    static const auto interceptor = std::make_shared<APMAppDelegateInterceptor>();
    return interceptor;
}

bool APMAppDelegateInterceptor::applicationOpenURLOptions(UIApplication&, const std::string& url,
                                                          const Value::Dictionary&) {
    APMAnalytics::handleOpenURL(url);
    return false;
}

bool APMAppDelegateInterceptor::applicationOpenURLSourceApplication(UIApplication&, const std::string& url,
                                                                    const std::string&, const Value&) {
    APMAnalytics::handleOpenURL(url);
    return false;
}

bool APMAppDelegateInterceptor::applicationContinueUserActivity(UIApplication&,
                                                                const std::shared_ptr<NSUserActivity>& activity,
                                                                std::function<void(const Value::Array&)>) {
    const std::optional<std::string> link = APMMeasurement::deepLinkFromUserActivity(activity);
    if (link && !link->empty()) APMAnalytics::handleOpenURL(*link);
    return false;
}

void APMAppDelegateInterceptor::applicationHandleEventsForBackgroundURLSession(UIApplication&,
                                                                               const std::string& identifier,
                                                                               std::function<void()> completionHandler) {
    APMAnalytics::handleEventsForBackgroundURLSession(identifier, std::move(completionHandler));
}
