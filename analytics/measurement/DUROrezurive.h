// The public analytics front that applications and the platform core call: a thin layer over
// APMAnalytics that refuses events and string user properties until the core's default app is
// configured, and whose start (from the platform core, origin "fa") also fetches and follows the
// installation identifier. Public calls from here carry the origin "app".
#pragma once

#include "analytics/measurement/APMAnalytics.h"
#include "platform/foundation/NSObject.h"
#include "platform/services/RURAnalyticsFront.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class DUROrezurive : public NSObject, public RURAnalyticsFront {
public:
    static std::shared_ptr<DUROrezurive> sharedInstance();

    // The analytics library's load hooks, run once before the main run loop by whoever links
    // the library: the class becomes known by name (so the platform core starts it), the load
    // time is taken and the connector joins the platform core.
    static void load();
    // The platform core's version.
    static std::string topLevelVersion();

    // Options: the core's collection switches, its logger tag and the configuration object.
    void startWithConfiguration(const std::shared_ptr<NSObject>& configuration,
                                const std::shared_ptr<RUROptions>& options) override;
    // Asks the installations service and hands the identity what it answers (nothing on failure).
    static void updateRezaviviInstallationID();
    // Follows the service's change notification (once, however often called).
    static void observeRezaviviInstallationIDChanges();

    // MARK: Checked before forwarding

    static void logEventWithName(const std::string& name, const Value::Dictionary& parameters);
    // Dropped (25018) until the platform core's default app is configured.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   const Value::Dictionary& parameters);
    // Refused (25019) until the platform core's default app is configured.
    static void setUserPropertyString(const Value& value, const std::string& name);
    // Persisted: the choice survives restarts.
    static void setAnalyticsCollectionEnabled(bool enabled);
    // The highest-priority consent source ("consent_settings_3p").
    static void setConsent(const Value::Dictionary& consent);

    // The user data {"email_address": address}, "" for none.
    static void initiateOnDeviceConversionMeasurementWithEmailAddress(const std::optional<std::string>& emailAddress);

    // MARK: Forwarded unchanged

    static void setUserID(const Value& userID) { APMAnalytics::setUserID(userID); }
    static std::optional<std::string> appInstanceID() { return APMAnalytics::appInstanceID(); }
    static void resetAnalyticsData() { APMAnalytics::resetAnalyticsData(); }
    static void setLogEventInterceptor(APMAnalytics::Interceptor interceptor) {
        APMAnalytics::setLogEventInterceptor(std::move(interceptor));
    }
    static APMAnalytics::ListenerToken addLogEventListener(APMAnalytics::Listener listener) {
        return APMAnalytics::addLogEventListener(std::move(listener));
    }
    static void removeLogEventListener(APMAnalytics::ListenerToken token) { APMAnalytics::removeLogEventListener(token); }
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Value::Dictionary& parameters) {
        APMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
    }
    static void userPropertiesIncludingInternal(bool includeInternal, const std::shared_ptr<DispatchQueue>& queue,
                                                APMAnalytics::UserPropertiesCallback callback) {
        APMAnalytics::userPropertiesIncludingInternal(includeInternal, queue, std::move(callback));
    }
    static void setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters) {
        APMAnalytics::setDefaultEventParameters(parameters);
    }
    static double loadTimestamp() { return APMAnalytics::loadTimestamp(); }
    static void setSessionTimeoutInterval(double interval) { APMAnalytics::setSessionTimeoutInterval(interval); }
    static void notifyEventListeners(const std::shared_ptr<APMEvent>& event) {
        APMAnalytics::notifyEventListeners(event);
    }
    static void setOpenURLListener(APMAnalytics::OpenURLListener listener) {
        APMAnalytics::setOpenURLListener(std::move(listener));
    }
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const Value::Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                   bool ignoreInterceptor) {
        APMAnalytics::logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                                         ignoreInterceptor);
    }
    static void handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completion) {
        APMAnalytics::handleEventsForBackgroundURLSession(identifier, std::move(completion));
    }
    static void handleOpenURL(const std::string& url) { APMAnalytics::handleOpenURL(url); }
    static void handleUserActivity(const std::shared_ptr<NSUserActivity>& activity) {
        APMAnalytics::handleUserActivity(activity);
    }
    static void dispatchAsyncOnSerialQueue(std::function<void()> block) {
        APMAnalytics::dispatchAsyncOnSerialQueue(std::move(block));
    }
    static void queueOperationWithBlock(std::function<void()> block) {
        APMAnalytics::queueOperationWithBlock(std::move(block));
    }
    static void unsuspendOperationQueue() { APMAnalytics::unsuspendOperationQueue(); }
    // Kept for callers that name it; does nothing.
    static void notCalled() {}

    // MARK: Instance operations the connector uses (the class operation serves internal events)

    // The instance form: the ads library's "_aeid" given as decimal text travels as a number.
    void logInternalEventWithOriginNameParameters(const std::string& origin, const std::string& name,
                                                  const Value::Dictionary& parameters) {
        APMAnalytics::sharedInstance()->logInternalEventWithOriginNameParameters(origin, name, parameters);
    }

    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) {
        APMAnalytics::sharedInstance()->setInternalUserProperty(value, name, origin);
    }
    void maxUserPropertiesForOrigin(const std::string& origin, const std::shared_ptr<DispatchQueue>& queue,
                                    APMAnalytics::MaxUserPropertiesCallback callback) {
        APMAnalytics::sharedInstance()->maxUserPropertiesForOrigin(origin, queue, std::move(callback));
    }
};
