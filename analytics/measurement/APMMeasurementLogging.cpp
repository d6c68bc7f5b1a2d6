// How events, default event parameters and user properties enter the engine: each call hops
// onto the worker queue, where events are built and handed to the write pipeline and user
// properties are stored under their per-origin limits.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMErrorEvent.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"

namespace {

constexpr std::int64_t kErrorUserPropertyLimitReached = 9;
constexpr std::int64_t kErrorTooManyDefaultParameters = 26;
constexpr std::int64_t kErrorArrayDefaultParameter = 27;

std::shared_ptr<DispatchQueue> callbackQueue() { return DispatchQueue::globalQueue(DispatchQueue::Priority::Background); }

Value valueDescription(const std::shared_ptr<APMValue>& value) { return value ? Value(value->description()) : Value(); }

}  // namespace

// MARK: Entry operations

void APMMeasurement::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                        const Value::Dictionary& parameters, double timestamp, bool enabled,
                                        bool ignoreEnabled, bool ignoreInterceptor, Interceptor interceptor,
                                        const Value::Dictionary& addedScreenParameters) {
    auto engine = self<APMMeasurement>();
    scheduler_->scheduleOnWorkerQueueBlockID(
        "APMMeasurement:2212", [engine, origin, isPublicEvent, name, parameters, timestamp, enabled, ignoreEnabled,
                                ignoreInterceptor, interceptor = std::move(interceptor), addedScreenParameters] {
            engine->logEventOnWorkerQueueWithOrigin(origin, isPublicEvent, name, parameters, timestamp, enabled,
                                                    ignoreEnabled, ignoreInterceptor, interceptor, addedScreenParameters);
        });
}

void APMMeasurement::logEvent(const std::shared_ptr<APMEvent>& event) {
    if (!event) {
        monitor()->logWithLevel(4, 23048, "Attempted to log nil event");
        return;
    }
    scheduleOnWorker("APMMeasurement:2318", [event](APMMeasurement& engine) { engine.handleEventOnWorkerQueue(event); });
}

void APMMeasurement::setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters) {
    scheduleOnWorker("APMMeasurement:2327", [parameters](APMMeasurement& engine) {
        engine.handleSetDefaultEventParametersOnWorkerQueue(parameters);
    });
}

void APMMeasurement::removeUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute) {
    if (!userAttribute) {
        monitor()->logWithLevel(3, 23074, "Attempted to remove nil user property");
        return;
    }
    scheduleOnWorker("APMMeasurement:2471", [userAttribute](APMMeasurement& engine) {
        engine.removeUserAttributeOnWorkerQueue(userAttribute);
    });
}

void APMMeasurement::setUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute) {
    if (!userAttribute) {
        monitor()->logWithLevel(3, 23079, "Attempted to set nil user property");
        return;
    }
    scheduleOnWorker("APMMeasurement:2518", [userAttribute](APMMeasurement& engine) {
        engine.setUserAttributeOnWorkerQueue(userAttribute);
    });
}

// MARK: Events on the worker queue

void APMMeasurement::logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                     const std::string& name, const Value::Dictionary& parameters,
                                                     double timestamp, bool enabled, bool ignoreEnabled,
                                                     bool ignoreInterceptor, const Interceptor& interceptor,
                                                     const Value::Dictionary& addedScreenParameters) {
    const Value::Dictionary withDefaults = !ignoreInterceptor && APMIsNotErrorEventName(name)
                                               ? parametersWithAddedDefaultEventParameters(parameters)
                                               : parameters;
    auto event = APMEvent::initWithOrigin(origin, isPublicEvent, name, timestamp, 0, withDefaults);
    if (!event) {
        monitor()->logWithLevel(1, 23219, "Attempted to log nil event. Origin, name, parameters", Value(origin),
                                Value(APMDisplayNameForEvent(Value(name))), Value(withDefaults));
        return;
    }
    if (!addedScreenParameters.empty()) event->addScreenParameters(addedScreenParameters);
    if (!enabled && !ignoreEnabled) {
        logEventOnWorkerQueue(event, false);
        return;
    }
    // Ad exposure is neither shown to the interceptor nor to the listeners.
    if (origin == "am" || name == "_xa" || name == "_xu") {
        logEventOnWorkerQueue(event, false);
        return;
    }
    if (isPublicEvent && interceptor && !ignoreInterceptor) {
        Value::Dictionary handedOver = withDefaults;
        for (const auto& [key, value] : addedScreenParameters) handedOver.set(key, value);
        interceptor(origin, name, handedOver, timestamp);
        return;
    }
    logEventOnWorkerQueue(event, true);
}

void APMMeasurement::logEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event, bool notifyEventListeners) {
    // The listeners see the event as it was logged, not as the pipeline marked it.
    auto shown = notifyEventListeners && front_.listeners->hasLogEventListeners() ? event->copy() : nullptr;
    handleEventOnWorkerQueue(event);
    if (shown) front_.listeners->notifyEventListeners(shown);
}

void APMMeasurement::handleInternalEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) {
    if (APMIsNotErrorEventName(event->name())) {
        if (auto defaults = persistedConfig_->defaultEventParameters()) event->applyParameters(*defaults);
    }
    handleEventOnWorkerQueue(event);
    front_.listeners->notifyEventListeners(event);
}

Value::Dictionary APMMeasurement::parametersWithAddedDefaultEventParameters(const Value::Dictionary& parameters) {
    auto merged = persistedConfig_->defaultEventParameters();
    if (!merged || merged->empty()) return parameters;
    // The event's own parameter wins over a default of the same name.
    for (const auto& [key, value] : parameters) merged->set(key, value);
    return *merged;
}

void APMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(const std::optional<Value::Dictionary>& parameters) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("handleSetDefaultEventParametersOnWorkerQueue");
    auto log = monitor();
    if (!isEnabled()) {
        log->logWithLevel(7, 23211, "Analytics is disabled. Default event parameters not updated");
        return;
    }
    Value::Dictionary working =
        parameters ? persistedConfig_->defaultEventParameters().value_or(Value::Dictionary{}) : Value::Dictionary{};
    for (const auto& [key, value] : parameters.value_or(Value::Dictionary{})) {
        if (!value.isNumber() && !value.isString() && !value.isNull()) {
            log->logWithLevel(4, 23213, "Invalid key in default event parameters. Parameter ignored.");
            if (value.isArray()) APMLogErrorEvent(*front_.eventSink, kErrorArrayDefaultParameter);
            continue;
        }
        if (!APMDataTypeValidator::isValidPublicEventParameterName(Value(key), nullptr)) {
            log->logWithLevel(4, 23214, "Invalid default event parameter name. Name", Value(key));
            continue;
        }
        if (value.isNull()) {
            working.erase(key);
            continue;
        }
        auto converted = APMValue::valueFromObject(value);
        if (converted && APMDataTypeValidator::isValidPublicEventParameterValue(Value(converted), nullptr)) {
            working.set(key, value);
        }
    }
    const std::int64_t limit = remoteConfig()->maxPublicEventParams();
    if (static_cast<std::int64_t>(working.size()) > limit) {
        APMTrimPublicParameters(working, limit, false);
        APMLogErrorEvent(*front_.eventSink, kErrorTooManyDefaultParameters);
        log->logWithLevel(4, 23215, "Too many default event parameters set. Discarding beyond event parameter limit");
    }
    log->logWithLevel(7, 23216, "Updating default event parameters. Parameters", Value(working));
    persistedConfig_->setDefaultEventParameters(working);
}

// MARK: User properties on the worker queue

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setUserPropertyInDatabaseOnWorkerQueue");
    auto log = monitor();
    auto database = this->database();
    if (!database) return false;
    const std::string& name = userAttribute->name();
    const Value displayName(APMDisplayNameForUserProperty(Value(name)));
    NSErrorPtr error;
    const std::optional<bool> exists = database->containsUserAttributeWithName(name, &error);
    if (!exists) {
        log->logWithLevel(1, 23082, "Unable to query existence of user property. Name, error", displayName, Value(error));
        return false;
    }
    auto config = remoteConfig();
    if (*exists && name == "_id" && config->lastAdvertisingIDResetFeatureEnabled()) {
        auto stored = database->userAttributeWithName("_id", nullptr);
        const std::string* before = stored && stored->value() ? stored->value()->stringValue() : nullptr;
        const std::string* after = userAttribute->value() ? userAttribute->value()->stringValue() : nullptr;
        if ((before ? *before : "") != (after ? *after : "")) (void)database->deleteUserAttributeWithName("_lair", nullptr);
    }
    if (!*exists) {
        const bool isPublic = userAttribute->isPublic();
        const std::optional<std::int64_t> count = isPublic ? database->publicUserAttributeCount(&error)
                                                           : database->userAttributeCountForOrigin(userAttribute->origin(), &error);
        if (!count && error) {
            log->logWithLevel(1, 23083, "Unable to query user property count. Origin, error", Value(userAttribute->origin()),
                              Value(error));
            return false;
        }
        const std::int64_t limit = isPublic ? config->maxPublicUserProperties() : kMaxInternalUserPropertiesPerOrigin;
        if (!count || *count >= limit) {
            log->logWithLevel(3, 23084,
                              "Unable to set user property. Reached limit on set user properties for origin. Origin, "
                              "name, value",
                              Value(userAttribute->origin()), displayName, valueDescription(userAttribute->value()));
            APMLogErrorEvent(*front_.eventSink, kErrorUserPropertyLimitReached);
            return false;
        }
    }
    error.reset();
    if (!database->updateUserAttribute(userAttribute, &error)) {
        log->logWithLevel(1, 23085, "Unable to set user property. Name, value, error", displayName,
                          valueDescription(userAttribute->value()), Value(error));
        return false;
    }
    log->logWithLevel(7, 23087, "User property set. Name, value", displayName, valueDescription(userAttribute->value()));
    return true;
}

void APMMeasurement::setUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setUserAttributeOnWorkerQueue");
    if (!isEnabled()) {
        monitor()->logWithLevel(7, 23081, "Analytics is disabled. User property not set");
        return;
    }
    (void)setUserPropertyInDatabaseOnWorkerQueue(userAttribute);
}

void APMMeasurement::removeUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeUserAttributeOnWorkerQueue");
    auto log = monitor();
    if (!isEnabled()) {
        log->logWithLevel(7, 23076, "Analytics is disabled. User property not removed");
        return;
    }
    auto database = this->database();
    if (!database) return;
    const Value displayName(APMDisplayNameForUserProperty(Value(userAttribute->name())));
    NSErrorPtr error;
    if (!database->deleteUserAttributeWithName(userAttribute->name(), &error) && error) {
        log->logWithLevel(1, 23077, "Unable to remove user property. Name, error", displayName, Value(error));
    } else {
        log->logWithLevel(7, 23078, "User property removed. Name", displayName);
    }
}

void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setLastAdvertisingIDResetUserPropertyOnWorkerQueue");
    auto database = this->database();
    if (!database) return;
    if (database->containsUserAttributeWithName("_id", nullptr) != std::optional<bool>(true)) return;
    if (database->containsUserAttributeWithName("_lair", nullptr) != std::optional<bool>(false)) return;
    setUserAttributeOnWorkerQueue(
        std::make_shared<APMUserAttribute>("auto", "_lair", APMValue::initWithInt64(1), Clock::now()));
    identity()->setShouldSetLastAdvertisingIDResetUserProperty(false);
}

// MARK: Queries

void APMMeasurement::userAttributeWithName(const std::string& name, UserAttributeCallback callback) {
    if (!callback) {
        monitor()->logWithLevel(0, 23088, "userAttributeWithName callback is nil");
        return;
    }
    scheduleOnWorker("APMMeasurement:2658", [name, callback](APMMeasurement& engine) {
        NSErrorPtr error;
        auto database = engine.database();
        auto attribute = database ? database->userAttributeWithName(name, &error) : nullptr;
        if (!attribute && error) {
            monitor()->logWithLevel(1, 23089, "Unable to get user attribute by name. Name",
                                    Value(APMDisplayNameForUserProperty(Value(name))));
        }
        callbackQueue()->async([callback, attribute] { callback(attribute); });
    });
}

void APMMeasurement::userPropertiesIncludingInternal(bool includeInternal, UserPropertiesCallback callback) {
    if (!callback) {
        monitor()->logWithLevel(0, 23090, "Unable to retrieve user properties. Callback is nil");
        return;
    }
    scheduleOnWorker("APMMeasurement:2713", [includeInternal, callback](APMMeasurement& engine) {
        NSErrorPtr error;
        auto database = engine.database();
        auto attributes = database ? database->userAttributesIncludingInternal(includeInternal, &error) : std::nullopt;
        if (!attributes && error) monitor()->logWithLevel(1, 23091, "Unable to retrieve user properties. Error", Value(error));
        Value::Dictionary properties;
        for (const auto& attribute : attributes.value_or(std::vector<std::shared_ptr<APMUserAttribute>>{})) {
            const auto& value = attribute->value();
            if (attribute->name().empty() || !value) {
                monitor()->logWithLevel(3, 23092, "Cannot add invalid public user property name or value.");
                continue;
            }
            if (value->isString()) properties.set(attribute->name(), Value(*value->stringValue()));
            else if (value->isDouble()) properties.set(attribute->name(), Value(value->doubleValue()));
            else if (value->isInt64()) properties.set(attribute->name(), Value(static_cast<long long>(value->int64Value())));
        }
        callbackQueue()->async([callback, properties] { callback(properties); });
    });
}

void APMMeasurement::maxUserPropertiesForOrigin(const std::string& origin, std::function<void(std::int64_t)> callback) {
    if (origin.empty()) {
        monitor()->logWithLevel(0, 23093, "Origin for querying MaxUserProperties cannot be nil");
        return;
    }
    if (!callback) {
        monitor()->logWithLevel(0, 23094, "MaxUserProperties callback cannot be nil. Origin", Value(origin));
        return;
    }
    callbackQueue()->async([callback] { callback(kMaxInternalUserPropertiesPerOrigin); });
}

Value APMMeasurement::shouldDisableAdPersonalization() const {
    const Value allow = persistedConfig_->allowPersonalizedAds();
    if (allow.isNumber()) return Value(allow.boolValue() ? 0LL : 1LL);
    const Value fromInfo =
        NSBundle::mainBundle()->objectForInfoDictionaryKey("VIZUDI_ANALYTICS_DEFAULT_ALLOW_AD_PERSONALIZATION_SIGNALS");
    if (fromInfo.isNull()) return Value();
    if (fromInfo.isNumber()) return Value(fromInfo.boolValue() ? 0LL : 1LL);
    return Value(false);
}

bool APMMeasurement::shouldAllowAdNetworkRegistration() const {
    const Value enabled =
        NSBundle::mainBundle()->objectForInfoDictionaryKey("VIZUDI_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");
    return enabled.isNumber() ? enabled.boolValue() : true;
}
