// The analytics door's public logging and properties: events checked on the caller's thread and
// queued in stamp order, user properties and user data, the app instance, and the log-event
// interceptor and listeners.
#include "analytics/measurement/APMAnalyticsProcess.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMErrorEvent.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"

#include <cstdlib>

namespace {

constexpr std::int64_t kErrorInvalidEventName = 2;
constexpr std::int64_t kErrorInvalidUserPropertyName = 6;
constexpr std::int64_t kErrorUserPropertyValueTooLong = 7;
constexpr std::int64_t kErrorEventNameIsReserved = 13;
constexpr std::int64_t kErrorUserPropertyNameIsReserved = 15;
constexpr std::int64_t kMaxUserPropertyLength = 24;

}  // namespace

// MARK: Events

void APMAnalytics::logEventWithName(const std::string& name, const Value::Dictionary& parameters) {
    logEventWithOrigin(Process::kAppOrigin, name, parameters);
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const Value::Dictionary& parameters) {
    std::int64_t failureCode = 0;
    if (APMDataTypeValidator::isValidPublicEventName(Value(name), &failureCode)) {
        logEventWithOrigin(origin, true, name, parameters);
        return;
    }
    const std::int64_t code =
        failureCode == APMDataTypeValidator::kReserved ? kErrorEventNameIsReserved : kErrorInvalidEventName;
    APMLogErrorEventWithValue(*eventSink(), code, Value(name), kAPMMaxEventNameLength, Value(name));
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const Value::Dictionary& parameters) {
    logEventWithOrigin(origin, false, name, parameters);
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const Value::Dictionary& parameters) {
    if (name == "screen_view") {
        APMScreenViewReporter::sharedInstance()->trackScreenWithParameters(parameters, Clock::now());
        return;
    }
    const Value::Dictionary screen = currentScreenParameters(parameters);
    // Stamping and queueing under one queue makes the queue's order the order of the stamps.
    process()->timestampQueue->sync([&] {
        const double timestamp = Clock::now();
        queueOperationWithBlock([origin, isPublicEvent, name, parameters, timestamp, screen] {
            logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, false, false, screen);
        });
    });
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                              const Value::Dictionary& parameters) {
    const Value::Dictionary screen = currentScreenParameters(parameters);
    queueOperationWithBlock([origin, name, parameters, timestamp, screen] {
        logEventOnSerialQueueWithOrigin(origin, false, name, parameters, timestamp, false, false, screen);
    });
}

void APMAnalytics::logInternalEventWithOriginNameParameters(const std::string& origin, const std::string& name,
                                                            const Value::Dictionary& parameters) {
    if (origin != Process::kAdsOrigin) {
        logInternalEventWithOrigin(origin, name, parameters);
        return;
    }
    Value::Dictionary prepared = parameters;
    const Value& adEventID = parameters.get("_aeid");
    if (adEventID.isString()) {
        if (APMIsDecimalNumberString(adEventID.string())) {
            prepared.set("_aeid", Value(static_cast<long long>(std::strtoll(adEventID.string().c_str(), nullptr, 10))));
        } else {
            APMMeasurementMonitor()->logWithLevel(2, 25024, "AdEvent ID string is not a number");
        }
    }
    logInternalEventWithOrigin(origin, name, prepared);
}

Value::Dictionary APMAnalytics::currentScreenParameters(const Value::Dictionary& parameters) {
    // An event that names its screen keeps it; the others are taken where the caller stands.
    if (APMHasScreenParameters(parameters)) return {};
    return APMScreenViewReporter::sharedInstance()->screenParameters();
}

void APMAnalytics::setScreenName(const std::optional<std::string>& name, const std::optional<std::string>& className) {
    if (!NSThread::isMainThread()) {
        APMMeasurementMonitor()->logWithLevel(3, 25025,
                                              "setScreenName:screenClass: must be called from the main thread to "
                                              "ensure that events are associated with the intended screen.");
        return;
    }
    APMScreenViewReporter::sharedInstance()->setScreenName(name, className);
}

void APMAnalytics::setSessionTimeoutInterval(double interval) {
    // Held with the other early calls: the serial queue has no engine before the start.
    queueOperationWithBlock([interval] {
        if (auto measurement = Process::engine()) measurement->setSessionTimeoutInterval(interval);
    });
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const Value::Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                      bool ignoreInterceptor) {
    queueOperationWithBlock([=] {
        logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, ignoreEnabled,
                                        ignoreInterceptor, {});
    });
}

void APMAnalytics::logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                   const std::string& name, Value::Dictionary parameters,
                                                   double timestamp, bool ignoreEnabled, bool ignoreInterceptor,
                                                   Value::Dictionary addedScreenParameters) {
    if (ignoreInterceptor && addedScreenParameters.empty() &&
        APMDataTypeValidator::isValidForwardedEventOrigin(Value(origin), nullptr)) {
        addedScreenParameters = APMScreenParametersFromParameters(parameters);
        for (const auto& [key, value] : addedScreenParameters) parameters.erase(key);
    }
    auto measurement = Process::engine();
    if (!measurement) return;
    auto p = process();
    measurement->logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, p->enabled.load(),
                                    ignoreEnabled, ignoreInterceptor, p->interceptor, addedScreenParameters);
}

// MARK: User properties

void APMAnalytics::reportInvalidUserPropertyName(std::int64_t failureCode, const std::string& name) {
    const std::int64_t code = failureCode == APMDataTypeValidator::kReserved ? kErrorUserPropertyNameIsReserved
                                                                             : kErrorInvalidUserPropertyName;
    APMLogErrorEventWithValue(*eventSink(), code, Value(name), kMaxUserPropertyLength, Value(name));
}

void APMAnalytics::setUserPropertyString(const Value& value, const std::string& name) {
    if (name == "allow_personalized_ads") {
        queueOperationWithBlock([value] {
            const bool enabled = process()->enabled.load();
            if (!enabled) APMMeasurementMonitor()->logWithLevel(7, 25033, "Personalized Ads property changed while Analytics is disabled");
            const Value allow = value.isNull() ? Value() : Value(value.boolValue());
            if (auto persisted = APMPersistedConfig::sharedInstance()) persisted->setAllowPersonalizedAds(allow);
            auto measurement = Process::engine();
            if (!enabled || !measurement) return;
            const Value disable = measurement->shouldDisableAdPersonalization();
            if (!disable.isNull()) {
                measurement->setUserAttribute(APMUserAttribute::initWithOrigin(
                    kAPMAutoOrigin, "_npa", APMValue::valueFromObject(disable), Clock::now()));
            } else {
                measurement->removeUserAttribute(std::make_shared<APMUserAttribute>(
                    kAPMAutoOrigin, "_npa", APMValue::initWithInt64(0), Clock::now()));
            }
        });
        return;
    }
    if (value.isNull()) {
        removeUserAttributeForName(name);
        return;
    }
    std::int64_t failureCode = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(Value(name), &failureCode)) {
        reportInvalidUserPropertyName(failureCode, name);
        return;
    }
    if (!value.isString()) {
        APMMeasurementMonitor()->logWithLevel(0, 25003, "User property must be NSString. Value", value);
        return;
    }
    auto attributeValue = APMValue::initWithString(value);
    if (APMDataTypeValidator::isValidPublicUserAttributeValue(Value(attributeValue), &failureCode)) {
        sharedInstance()->setInternalUserProperty(value, name, Process::kAppOrigin);
    } else if (failureCode == APMDataTypeValidator::kTooLong) {
        APMLogErrorEventWithValue(*eventSink(), kErrorUserPropertyValueTooLong, Value(name), kMaxUserPropertyLength, value);
    }
}

void APMAnalytics::setUserID(const Value& userID) {
    if (userID.isString()) {
        sharedInstance()->setInternalUserProperty(userID, "_id", Process::kAppOrigin);
    } else if (!userID.isNull()) {
        APMMeasurementMonitor()->logWithLevel(0, 25004, "User ID must be NSString. User ID", userID);
    } else {
        removeInternalUserAttributeForName("_id");
        if (APMMeasurement::remoteConfig()->lastAdvertisingIDResetFeatureEnabled()) {
            removeInternalUserAttributeForName("_lair");
        }
    }
}

void APMAnalytics::removeUserAttributeForName(const std::string& name) {
    if (APMDataTypeValidator::isValidPublicUserAttributeName(Value(name), nullptr)) removeInternalUserAttributeForName(name);
}

void APMAnalytics::setUserAttributeNumber(const Value& value, const std::string& name) {
    std::int64_t failureCode = 0;
    if (!APMDataTypeValidator::isValidPublicUserAttributeName(Value(name), &failureCode)) {
        reportInvalidUserPropertyName(failureCode, name);
        return;
    }
    if (!value.isNumber()) return;
    const Value number = value.isFloatType() ? Value(value.doubleValue()) : Value(value.longLongValue());
    sharedInstance()->setInternalUserProperty(number, name, kAPMAutoOrigin);
}

void APMAnalytics::setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) {
    std::int64_t failureCode = 0;
    if (!APMDataTypeValidator::isValidInternalUserAttributeName(Value(name), &failureCode)) {
        APMLogErrorEventWithValue(*eventSink(), kErrorInvalidUserPropertyName, Value(name), kMaxUserPropertyLength, Value(name));
        return;
    }
    const std::size_t originLength = NSString::utf32Length(origin);
    if (originLength < 1 || originLength > 32) {
        APMMeasurementMonitor()->logWithLevel(2, 25005, "Unable to set user property. Origin is invalid. Origin, name", Value(origin),
                                Value(name));
        return;
    }
    if (value.isNull()) {
        removeInternalUserAttributeForName(name);
        return;
    }
    auto attributeValue = APMValue::valueFromObject(value);
    if (!attributeValue) return;
    if (APMDataTypeValidator::isValidInternalUserAttributeValue(Value(attributeValue), name, &failureCode)) {
        auto attribute = std::make_shared<APMUserAttribute>(origin, name, attributeValue, Clock::now());
        queueOperationWithBlock([attribute] {
            if (auto measurement = Process::engine()) measurement->setUserAttribute(attribute);
        });
    } else if (failureCode == APMDataTypeValidator::kTooLong) {
        const Value text = value.isString() || value.isNumber() ? Value(value.stringValue()) : Value();
        APMLogErrorEventWithValue(*eventSink(), kErrorUserPropertyValueTooLong, Value(name), kMaxUserPropertyLength, text);
    }
}

void APMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    auto attribute = std::make_shared<APMUserAttribute>("", name, APMValue::initWithDouble(0), Clock::now());
    queueOperationWithBlock([attribute] {
        if (auto measurement = Process::engine()) measurement->removeUserAttribute(attribute);
    });
}

void APMAnalytics::userPropertiesIncludingInternal(bool includeInternal, const std::shared_ptr<DispatchQueue>& queue,
                                                   UserPropertiesCallback callback) {
    queueOperationWithBlock([includeInternal, queue, callback] {
        if (!callback) {
            APMMeasurementMonitor()->logWithLevel(2, 25006, "Analytics userProperties callback cannot be nil");
            return;
        }
        if (!queue) {
            APMMeasurementMonitor()->logWithLevel(2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil");
            DispatchQueue::mainQueue()->async([callback] { callback({}); });
            return;
        }
        auto measurement = Process::engine();
        if (!process()->enabled.load() || !measurement) {
            APMMeasurementMonitor()->logWithLevel(5, 25008, "Cannot query for public user properties when Analytics is disabled");
            queue->async([callback] { callback({}); });
            return;
        }
        measurement->userPropertiesIncludingInternal(includeInternal, [queue, callback](const Value::Dictionary& found) {
            queue->async([callback, found] { callback(found); });
        });
    });
}

void APMAnalytics::maxUserPropertiesForOrigin(const std::string& origin, const std::shared_ptr<DispatchQueue>& queue,
                                              MaxUserPropertiesCallback callback) {
    if (origin.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 25009,
                                "Cannot query Analytics for max user properties. Origin must be a non-empty string");
        return;
    }
    if (!queue) {
        APMMeasurementMonitor()->logWithLevel(2, 25010, "Cannot query Analytics for max user properties. Queue cannot be nil. Origin",
                                Value(origin));
        return;
    }
    if (!callback) {
        APMMeasurementMonitor()->logWithLevel(
            2, 25011,
            "Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. Origin",
            Value(origin));
        return;
    }
    queueOperationWithBlock([origin, queue, callback] {
        if (auto measurement = Process::engine()) {
            measurement->maxUserPropertiesForOrigin(origin, [queue, callback](std::int64_t count) {
                queue->async([callback, count] { callback(count); });
            });
        }
    });
}

void APMAnalytics::setUserData(const Value::Dictionary& userData) {
    queueOperationWithBlock([userData] {
        auto measurement = Process::engine();
        if (!process()->enabled.load()) {
            APMMeasurementMonitor()->logWithLevel(4, 25044, "Analytics is disabled. User data not set.");
            return;
        }
        if (measurement) measurement->setUserData(userData);
    });
}

void APMAnalytics::setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters) {
    queueOperationWithBlock([parameters] {
        auto measurement = Process::engine();
        if (process()->enabled.load() && measurement) measurement->setDefaultEventParameters(parameters);
    });
}

// MARK: The app instance

std::optional<std::string> APMAnalytics::appInstanceID() {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    if (auto afterReset = appInstanceIDAfterReset(); afterReset && !afterReset->empty()) return afterReset;
    auto identity = APMIdentity::sharedInstance();
    return identity ? identity->appInstanceID() : std::nullopt;
}

void APMAnalytics::resetAnalyticsData() {
    setLoadTimestamp(Clock::now());
    setResetRetryCount(resetRetryCount() + 1);
    setNeedFirstOpenAfterReset(true);
    std::optional<std::string> appInstanceID = APMIdentity::randomAppInstanceID();
    if (appInstanceID->empty()) {
        APMMeasurementMonitor()->logWithLevel(1, 25039, "Cannot generate a new app instance ID");
        return;
    }
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) appInstanceID.reset();
    else setAppInstanceIDAfterReset(appInstanceID);
    queueOperationWithBlock([appInstanceID] {
        auto measurement = Process::engine();
        if (!measurement || !measurement->resetAnalyticsDataWithAppInstanceID(appInstanceID)) {
            APMMeasurementMonitor()->logWithLevel(1, 25037, "Failed to reset Analytics data");
            return;
        }
        setResetRetryCount(0);
        if (appInstanceID && appInstanceIDAfterReset() == appInstanceID) setAppInstanceIDAfterReset(std::nullopt);
    });
}

// MARK: Listeners

void APMAnalytics::setLogEventInterceptor(Interceptor interceptor) {
    auto change = [interceptor = std::move(interceptor)] { process()->interceptor = interceptor; };
    if (isCurrentQueueSerialQueue()) change();
    else queueOperationWithBlock(change);
}

APMAnalytics::ListenerToken APMAnalytics::addLogEventListener(Listener listener) {
    if (!listener) {
        APMMeasurementMonitor()->logWithLevel(2, 25012, "Attempted addition of nil log event listener.");
        return 0;
    }
    auto p = process();
    const ListenerToken token = p->nextToken++;
    ++p->listenerCount;
    auto add = [p, token, listener = std::move(listener)] {
        if (!p->listeners) p->listeners.emplace();
        (*p->listeners)[token] = listener;
    };
    if (isCurrentQueueSerialQueue()) add();
    else queueOperationWithBlock(add);
    return token;
}

void APMAnalytics::removeLogEventListener(ListenerToken token) {
    if (token == 0) {
        APMMeasurementMonitor()->logWithLevel(2, 25013, "Attempted removal of nil log event.");
        return;
    }
    auto p = process();
    queueOperationWithBlock([p, token] {
        if (!p->listeners) {
            APMMeasurementMonitor()->logWithLevel(2, 25014, "Attempted removal of nil log event listener.");
        } else if (p->listeners->erase(token) == 0) {
            APMMeasurementMonitor()->logWithLevel(2, 25015, "Attempted removal of log event listener with invalid token.");
        } else {
            --p->listenerCount;
        }
    });
}

bool APMAnalytics::hasLogEventListeners() { return process()->listenerCount.load() != 0; }

void APMAnalytics::notifyEventListeners(const std::shared_ptr<APMEvent>& event) {
    // Without listeners nothing is queued: an event is shown to the listeners registered when it is logged.
    if (!event || process()->listenerCount.load() == 0) return;
    queueOperationWithBlock([event] { notifyEventListenersOnSerialQueue(event); });
}

void APMAnalytics::notifyEventListenersOnSerialQueue(const std::shared_ptr<APMEvent>& event) {
    auto p = process();
    if (!p->listeners) return;
    // A copy: a listener may add or remove listeners.
    const auto listeners = *p->listeners;
    for (const auto& [token, listener] : listeners) listener(event);
}
