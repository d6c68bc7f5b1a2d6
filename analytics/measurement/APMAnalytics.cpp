// The analytics door: start, queues, public checks and consent; the suite's keys forward to the store.
#include "analytics/measurement/APMAnalytics.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMAppDelegateInterceptor.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMErrorEvent.h"
#include "analytics/measurement/APMIdentifiers.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMInfoPlistFileUtil.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/services/VULAppDelegateSwizzler.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace {

constexpr const char* kQueueLabel = "APMAnalyticsQueue";
constexpr const char* kAppOrigin = "app";
constexpr const char* kCoreOrigin = "fa";
constexpr const char* kAdsOrigin = "am";

constexpr std::int64_t kErrorInvalidEventName = 2;
constexpr std::int64_t kErrorInvalidUserPropertyName = 6;
constexpr std::int64_t kErrorUserPropertyValueTooLong = 7;
constexpr std::int64_t kErrorEventNameIsReserved = 13;
constexpr std::int64_t kErrorUserPropertyNameIsReserved = 15;
constexpr std::int64_t kMaxUserPropertyLength = 24;

std::shared_ptr<APMAnalyticsStore> analyticsStore() { return APMAnalyticsStore::sharedInstance(); }

// The engine when one was created; never the warning of sharedInstance.
std::shared_ptr<APMMeasurement> engine() {
    return APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
}

bool isConsentValue(const Value& value) {
    return value.isString() && (value.string() == "granted" || value.string() == "denied");
}

}  // namespace

struct APMAnalytics::Process {
    // The class lock: the count of calls held before the start.
    Mutex mutex;
    bool released GUARDED_BY(mutex) = false;
    std::size_t held GUARDED_BY(mutex) = 0;
    std::size_t refused GUARDED_BY(mutex) = 0;

    std::shared_ptr<DispatchQueue> queue =
        DispatchQueue::create(kQueueLabel, DispatchQueue::Kind::Serial,
                              DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    std::shared_ptr<NSOperationQueue> operationQueue = [] {
        auto operations = NSOperationQueue::make();
        operations->setName("APMAnalyticsOperationQueue");
        operations->setMaxConcurrentOperationCount(1);
        operations->setSuspended(true);
        return operations;
    }();
    std::shared_ptr<DispatchQueue> timestampQueue = DispatchQueue::create("APMAnalyticsTimestampQueue");
    std::shared_ptr<APMAnalytics> shared = std::make_shared<APMAnalytics>();

    std::once_flag started;
    std::atomic<bool> deactivated{false};
    std::atomic<bool> enabled{false};

    // Touched on the serial queue only.
    Interceptor interceptor;
    std::optional<std::map<ListenerToken, Listener>> listeners;
    std::atomic<ListenerToken> nextToken{1};
    // How many listeners are registered: events are not queued for nobody.
    std::atomic<std::size_t> listenerCount{0};
    OpenURLListener openURLListener;
    std::once_flag proxyCreated;
};

namespace {

Mutex gProcessMutex;
std::shared_ptr<APMAnalytics::Process>* gProcess GUARDED_BY(gProcessMutex) = nullptr;

}  // namespace

std::shared_ptr<APMAnalytics::Process> APMAnalytics::process() {
    MutexLock lock(gProcessMutex);
    if (!gProcess) gProcess = new std::shared_ptr<Process>(std::make_shared<Process>());
    return *gProcess;
}

std::shared_ptr<APMAnalytics> APMAnalytics::sharedInstance() { return process()->shared; }

void APMAnalytics::resetProcessState() {
    auto old = process();
    old->queue->sync([] {});
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(old->shared);
    NSNotificationCenter::defaultCenter()->removeObserver(old->shared);
    {
        MutexLock lock(gProcessMutex);
        *gProcess = std::make_shared<Process>();
    }
    APMAnalyticsStore::resetSharedInstance();
}

// MARK: Start and queues

void APMAnalytics::load() {
    setLoadTimestamp(Clock::now());
    APMMeasurement::subscribeForAppDidFinishLaunchingNotifications();
}

double APMAnalytics::loadTimestamp() { return analyticsStore()->loadTimestamp(); }

void APMAnalytics::setLoadTimestamp(double timestamp) { analyticsStore()->setLoadTimestamp(timestamp); }

std::shared_ptr<DispatchQueue> APMAnalytics::queue() { return process()->queue; }

void APMAnalytics::dispatchAsyncOnSerialQueue(std::function<void()> block) { queue()->async(std::move(block)); }

bool APMAnalytics::isCurrentQueueSerialQueue() { return DispatchQueue::currentQueueLabel() == kQueueLabel; }

void APMAnalytics::queueOperationWithBlock(std::function<void()> block) {
    auto p = process();
    {
        MutexLock lock(p->mutex);
        if (!p->released) {
            if (p->held >= kMaxOperationsBeforeStart) {
                // Once, then at every thousandth refusal: a flood before the start logs little.
                if (p->refused++ % 1000 == 0) {
                    APMMeasurementMonitor()->logWithLevel(3, 25017, "Analytics has not started. Call dropped. Calls held, dropped",
                                            Value(static_cast<long long>(p->held)),
                                            Value(static_cast<long long>(p->refused)));
                }
                return;
            }
            ++p->held;
        }
    }
    auto queue = p->queue;
    p->operationQueue->addOperationWithBlock([queue, block = std::move(block)]() mutable { queue->async(std::move(block)); });
}

void APMAnalytics::unsuspendOperationQueue() {
    auto p = process();
    {
        MutexLock lock(p->mutex);
        p->released = true;
    }
    p->operationQueue->setSuspended(false);
}

void APMAnalytics::startWithAppID(const std::string& appID, const std::string& origin,
                                  const Value::Dictionary& options) {
    auto log = APMMeasurementMonitor();
    if (ClassRegistry::isRegistered("DARODatabase")) {
        log->logWithLevel(1, 25029,
                          "Detected an older version of Vizudi Analytics for Rezavivi framework. Data collection will "
                          "be disabled. Please upgrade to the latest version of Vizudi Analytics for Rezavivi");
        return;
    }
    if (ClassRegistry::isRegistered(kAPMFrontClass)) {
        if (origin != kCoreOrigin) {
            log->logWithLevel(3, 25026, "Deferring to Rezavivi for event data collection");
            return;
        }
    } else if (APMInfoPlistFileUtil::vizudiServiceInfoPlistPath().value_or("") != "") {
        log->logWithLevel(0, 25027,
                          "Deferring to Vizudi Analytics for Rezavivi for event data collection. See "
                          "https://vizudi.example/docs/analytics/start");
        return;
    }
    if (ClassRegistry::isRegistered("DOZUdavuvIzu") && APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist() &&
        APMIdentity::sharedInstance()->appIDFromZeViv().value_or("").empty()) {
        log->logWithLevel(3, 25028,
                          "ZeViv and Rezavivi are in use in this app, but are not linked. For analytics data "
                          "consistency and integrity, it is highly recommended that you link your ZeViv app to the "
                          "corresponding Rezavivi app and re-download the VizudiServices-Info.plist file. See "
                          "https://vizudi.example/docs/analytics/linking for more information.");
    }
    if (!options.empty()) {
        const Value& tag = options.get(kLogTagKey);
        if (tag.isString() && !tag.string().empty()) log->setLogTag(tag.string());
        else log->logWithLevel(2, 25030, "Invalid monitor tag. It must be a non-empty string.");
    }

    auto p = process();
    std::call_once(p->started, [&] {
        if (APMConsentSettingsUtil::consentSource() == APMConsentSettingsUtil::kSourceNone) loadPersistedConsentSettings();
        auto identity = APMIdentity::sharedInstance();
        const std::string heldAppID = identity ? identity->appIDFromVUV().value_or("") : "";
        if (origin == kCoreOrigin && appID != heldAppID) {
            if (identity) identity->setAppIDFromVUV(appID);
            log->logWithLevel(1, 25020,
                              "Analytics requires Vizudi App ID from VizudiService-Info.plist. Your data may be lost. "
                              "Vizudi App ID has been changed. Original, new ID",
                              Value(heldAppID), Value(appID));
        }
        if (origin == kAdsOrigin && identity && appID != identity->appIDFromZeViv().value_or("")) {
            log->logWithLevel(3, 25031, "ZeViv App ID changed. Original, new",
                              Value(identity->appIDFromZeViv().value_or("")), Value(appID));
            identity->setAppIDFromZeViv(appID);
        }
        NSNotificationCenter::defaultCenter()->postNotificationName(kWillStartNotification, nullptr);
        APMIdentifiers::sharedInstance()->setOrigin(origin);

        p->deactivated = false;
        bool enabled = true;
        std::shared_ptr<NSObject> configuration;
        std::vector<std::string> safelistedEvents;
        if (!options.empty()) {
            const Value& enabledOption = options.get(kCollectionEnabledKey);
            if (enabledOption.isNumber()) enabled = enabledOption.boolValue();
            const Value& deactivatedOption = options.get(kCollectionDeactivatedKey);
            if (deactivatedOption.isNumber()) p->deactivated = deactivatedOption.boolValue();
            if (options.get(kConfigurationKey).isObject()) configuration = options.get(kConfigurationKey).object();
            if (const Value* safelist = options.find(kSafelistedEventsKey)) {
                bool valid = safelist->isArray();
                if (!valid) log->logWithLevel(0, 25034, "Invalid safelisted event parameter. Type must be an array");
                for (const Value& name : valid ? safelist->array() : Value::Array{}) {
                    if (!APMDataTypeValidator::isValidInternalEventName(name, nullptr)) {
                        log->logWithLevel(0, 25035, "Invalid event name for safelisting. Name", name);
                        valid = false;
                        break;
                    }
                    safelistedEvents.push_back(name.string());
                }
                if (!valid) safelistedEvents.clear();
            }
            const Value::Dictionary consent = APMConsentSettingsUtil::consentSettingsFromDictionary(options);
            if (!consent.empty()) analyticsStore()->setConsentSettings1PStart(consent);
        }

        const bool deactivated = p->deactivated;
        p->queue->async([p, appID, enabled, deactivated, safelistedEvents] {
            APMMeasurement::initializeSharedInstanceWithAppID(appID, enabled, deactivated, safelistedEvents);
            if (!VULAppDelegateSwizzler::isAppDelegateProxyEnabled()) {
                APMMeasurementMonitor()->logWithLevel(6, 25036, "App Delegate Proxy is disabled");
            } else if (!deactivated) {
                DispatchQueue::mainQueue()->async([] { createAppDelegateProxy(); });
            }
            auto created = engine();
            p->enabled = created && created->wasEnabledDuringInitialization();
            maybeEnableVadErederi();
        });
        if (configuration) observeNotificationsForAnalyticsConfiguration(configuration);
        SKPaymentQueue::defaultQueue()->addTransactionObserver(p->shared);
        unsuspendOperationQueue();
    });
}

// MARK: Events

void APMAnalytics::logEventWithName(const std::string& name, const Value::Dictionary& parameters) {
    logEventWithOrigin(kAppOrigin, name, parameters);
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
    APMLogErrorEventWithValue(code, Value(name), kAPMMaxEventNameLength, Value(name));
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
    if (origin != kAdsOrigin) {
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
        if (auto measurement = engine()) measurement->setSessionTimeoutInterval(interval);
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
    auto measurement = engine();
    if (!measurement) return;
    auto p = process();
    measurement->logEventWithOrigin(origin, isPublicEvent, name, parameters, timestamp, p->enabled.load(),
                                    ignoreEnabled, ignoreInterceptor, p->interceptor, addedScreenParameters);
}

// MARK: User properties

void APMAnalytics::reportInvalidUserPropertyName(std::int64_t failureCode, const std::string& name) {
    const std::int64_t code = failureCode == APMDataTypeValidator::kReserved ? kErrorUserPropertyNameIsReserved
                                                                             : kErrorInvalidUserPropertyName;
    APMLogErrorEventWithValue(code, Value(name), kMaxUserPropertyLength, Value(name));
}

void APMAnalytics::setUserPropertyString(const Value& value, const std::string& name) {
    if (name == "allow_personalized_ads") {
        queueOperationWithBlock([value] {
            const bool enabled = process()->enabled.load();
            if (!enabled) APMMeasurementMonitor()->logWithLevel(7, 25033, "Personalized Ads property changed while Analytics is disabled");
            const Value allow = value.isNull() ? Value() : Value(value.boolValue());
            if (auto persisted = APMPersistedConfig::sharedInstance()) persisted->setAllowPersonalizedAds(allow);
            auto measurement = engine();
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
        sharedInstance()->setInternalUserProperty(value, name, kAppOrigin);
    } else if (failureCode == APMDataTypeValidator::kTooLong) {
        APMLogErrorEventWithValue(kErrorUserPropertyValueTooLong, Value(name), kMaxUserPropertyLength, value);
    }
}

void APMAnalytics::setUserID(const Value& userID) {
    if (userID.isString()) {
        sharedInstance()->setInternalUserProperty(userID, "_id", kAppOrigin);
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
        APMLogErrorEventWithValue(kErrorInvalidUserPropertyName, Value(name), kMaxUserPropertyLength, Value(name));
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
            if (auto measurement = engine()) measurement->setUserAttribute(attribute);
        });
    } else if (failureCode == APMDataTypeValidator::kTooLong) {
        const Value text = value.isString() || value.isNumber() ? Value(value.stringValue()) : Value();
        APMLogErrorEventWithValue(kErrorUserPropertyValueTooLong, Value(name), kMaxUserPropertyLength, text);
    }
}

void APMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
    auto attribute = std::make_shared<APMUserAttribute>("", name, APMValue::initWithDouble(0), Clock::now());
    queueOperationWithBlock([attribute] {
        if (auto measurement = engine()) measurement->removeUserAttribute(attribute);
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
        auto measurement = engine();
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
        if (auto measurement = engine()) {
            measurement->maxUserPropertiesForOrigin(origin, [queue, callback](std::int64_t count) {
                queue->async([callback, count] { callback(count); });
            });
        }
    });
}

void APMAnalytics::setUserData(const Value::Dictionary& userData) {
    queueOperationWithBlock([userData] {
        auto measurement = engine();
        if (!process()->enabled.load()) {
            APMMeasurementMonitor()->logWithLevel(4, 25044, "Analytics is disabled. User data not set.");
            return;
        }
        if (measurement) measurement->setUserData(userData);
    });
}

void APMAnalytics::setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters) {
    queueOperationWithBlock([parameters] {
        auto measurement = engine();
        if (process()->enabled.load() && measurement) measurement->setDefaultEventParameters(parameters);
    });
}

// MARK: Settings

void APMAnalytics::setAnalyticsEnabled(bool enabled) { setAnalyticsEnabled(enabled, false); }

void APMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
    // Queued like every other call, so that a choice made before the start reaches the engine.
    queueOperationWithBlock([enabled, persistSetting] {
        if (persistSetting) {
            if (auto persisted = APMPersistedConfig::sharedInstance()) persisted->setMeasurementEnabledState(enabled ? 1 : 2);
        }
        auto p = process();
        if (p->deactivated.load() && enabled) return;
        p->enabled = enabled;
        if (auto measurement = engine()) measurement->setEnabled(enabled);
    });
}

bool APMAnalytics::isEnabled() { return process()->enabled.load(); }

bool APMAnalytics::isDeactivated() { return process()->deactivated.load(); }

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
        auto measurement = engine();
        if (!measurement || !measurement->resetAnalyticsDataWithAppInstanceID(appInstanceID)) {
            APMMeasurementMonitor()->logWithLevel(1, 25037, "Failed to reset Analytics data");
            return;
        }
        setResetRetryCount(0);
        if (appInstanceID && appInstanceIDAfterReset() == appInstanceID) setAppInstanceIDAfterReset(std::nullopt);
    });
}

void APMAnalytics::observeNotificationsForAnalyticsConfiguration(const std::shared_ptr<NSObject>& configuration) {
    auto center = NSNotificationCenter::defaultCenter();
    auto shared = sharedInstance();
    center->removeObserver(shared);
    if (!configuration) return;
    center->addObserver(shared, [](const NSNotification& notification) { handleSetEnabled(notification); },
                        kConfigurationSetEnabledNotification, configuration);
}

void APMAnalytics::handleSetEnabled(const NSNotification& notification) {
    const Value& entry = notification.userInfo().get(kConfigurationSetEnabledNotification);
    if (entry.isNumber()) setAnalyticsEnabled(entry.boolValue(), false);
    else APMMeasurementMonitor()->logWithLevel(4, 25000, "Received setEnabled notification without NSNumber", entry);
}

// MARK: Consent

void APMAnalytics::setConsent(const Value::Dictionary& consent) { setConsent(consent, kConsentSettings1PKey); }

void APMAnalytics::setConsent(const Value::Dictionary& consent, const std::string& key) {
    const APMConsentSwitches switches = APMConsentSettingsUtil::switches();
    const bool thirdParty = key == kConsentSettings3PKey;
    if ((thirdParty && !switches.isConsentSettings3PEnabled) || !switches.isConsentSettingsEnabled) return;
    if (APMConsentSettingsUtil::consentSource() == APMConsentSettingsUtil::kSourceNone) loadPersistedConsentSettings();
    Value::Dictionary entries = APMConsentSettingsUtil::consentSettingsFromDictionary(consent);
    for (const std::string& name : entries.keys()) {
        if (isConsentValue(entries.get(name))) continue;
        APMMeasurementMonitor()->logWithLevel(3, 25042,
                                "Valid consent values are 'granted' and 'denied'. Ignoring invalid consent setting",
                                entries.get(name));
        entries.erase(name);
    }
    if (entries.empty()) {
        APMMeasurementMonitor()->logWithLevel(3, 25041, "Discarding empty consent settings");
        return;
    }
    const std::int64_t source =
        thirdParty ? APMConsentSettingsUtil::kSourceSetConsent3P : APMConsentSettingsUtil::kSourceSetConsent;
    if (!APMConsentSettingsUtil::isConsentSourceHigherPriority(source)) {
        APMMeasurementMonitor()->logWithLevel(3, 25043, "Ignoring lower priority consent settings");
        return;
    }
    const Value previous = analyticsStore()->consentSettingsValueForKey(key);
    APMConsentSettingsUtil::updateSettings(entries);
    APMConsentSettingsUtil::setConsentSource(source);
    persistConsentSettings(APMConsentSettingsUtil::consentSettings().value_or(Value::Dictionary{}), source);
    if (!APMConsentSettingsUtil::didWithdrawPreviousConsent(previous)) return;
    setAppInstanceIDAfterReset(std::nullopt);
    auto measurement = engine();
    if (measurement && measurement->didInitializeComponents()) resetAnalyticsData();
    else analyticsStore()->setDeferredResetOnDeniedConsent();
}

void APMAnalytics::loadPersistedConsentSettings() {
    const std::int64_t source = persistedConsentSource();
    if (source == APMConsentSettingsUtil::kSourceNone) return;
    if (auto settings = consentSettings3P()) {
        APMConsentSettingsUtil::setConsentSettings(settings);
        APMConsentSettingsUtil::setConsentSource(std::min<std::int64_t>(source, APMConsentSettingsUtil::kSourceRestored3P));
    } else if (auto settings1P = consentSettings1P()) {
        APMConsentSettingsUtil::setConsentSettings(settings1P);
        APMConsentSettingsUtil::setConsentSource(std::min<std::int64_t>(source, APMConsentSettingsUtil::kSourceRestored));
    } else {
        APMConsentSettingsUtil::setConsentSource(source);
    }
}

void APMAnalytics::persistConsentSettings(const Value::Dictionary& settings, std::int64_t source) {
    analyticsStore()->persistConsentSettings(settings, source);
}

std::int64_t APMAnalytics::persistedConsentSource() { return analyticsStore()->persistedConsentSource(); }

void APMAnalytics::clearConsent() {
    analyticsStore()->clearConsentSettings();
    APMConsentSettingsUtil::setConsentSettings(std::nullopt);
}

// MARK: The suite's keys

std::int64_t APMAnalytics::resetRetryCount() { return analyticsStore()->resetRetryCount(); }

void APMAnalytics::setResetRetryCount(std::int64_t count) { analyticsStore()->setResetRetryCount(count); }

bool APMAnalytics::needFirstOpenAfterReset() { return analyticsStore()->needFirstOpenAfterReset(); }

void APMAnalytics::setNeedFirstOpenAfterReset(bool need) { analyticsStore()->setNeedFirstOpenAfterReset(need); }

void APMAnalytics::removeNeedFirstOpenAfterReset() { analyticsStore()->removeNeedFirstOpenAfterReset(); }

std::optional<std::string> APMAnalytics::appInstanceIDAfterReset() { return analyticsStore()->appInstanceIDAfterReset(); }

void APMAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
    analyticsStore()->setAppInstanceIDAfterReset(appInstanceID);
}

Value APMAnalytics::deferredAnalyticsCollection() { return analyticsStore()->deferredAnalyticsCollection(); }

void APMAnalytics::setDeferredAnalyticsCollection(const Value& value) { analyticsStore()->setDeferredAnalyticsCollection(value); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings1P() { return analyticsStore()->consentSettings1P(); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings3P() { return analyticsStore()->consentSettings3P(); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings1PStart() { return analyticsStore()->consentSettings1PStart(); }

void APMAnalytics::removeStartUpConsentSettings() { analyticsStore()->removeStartUpConsentSettings(); }

Value APMAnalytics::deferredResetOnDeniedConsent() { return analyticsStore()->deferredResetOnDeniedConsent(); }

void APMAnalytics::removeDeferredResetOnDeniedConsent() { analyticsStore()->removeDeferredResetOnDeniedConsent(); }

// MARK: Links and the application delegate's calls

void APMAnalytics::setOpenURLListener(OpenURLListener listener) {
    auto p = process();
    dispatchAsyncOnSerialQueue([p, listener = std::move(listener)] { p->openURLListener = listener; });
}

void APMAnalytics::handleOpenURL(const std::string& url) {
    const double timestamp = Clock::now();
    auto p = process();
    queueOperationWithBlock([p, url, timestamp] {
        if (auto measurement = engine()) measurement->handleNonFirstOpenEventURL(url, timestamp);
        if (p->openURLListener) p->openURLListener(url);
    });
}

void APMAnalytics::paymentQueue(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) {
    paymentQueueUpdatedTransactions(queue.self<SKPaymentQueue>(), transactions);
}

void APMAnalytics::paymentQueueUpdatedTransactions(const std::shared_ptr<SKPaymentQueue>& queue,
                                                   const SKPaymentTransactions& transactions) {
    queueOperationWithBlock([queue, transactions] {
        auto measurement = engine();
        if (!process()->enabled.load() || !measurement) return;
        std::weak_ptr<APMMeasurement> weak = measurement;
        measurement->filterPurchaseTransactions(transactions, [weak, queue](const SKPaymentTransactions& kept) {
            auto engine = weak.lock();
            auto reporter = engine ? engine->purchaseReporter() : nullptr;
            if (reporter) reporter->paymentQueue(queue, kept);
        });
    });
}

void APMAnalytics::handleUserActivity(const std::shared_ptr<NSUserActivity>& activity) {
    const double timestamp = Clock::now();
    queueOperationWithBlock([activity, timestamp] {
        const std::optional<std::string> link = APMMeasurement::deepLinkFromUserActivity(activity);
        if (!link || link->empty()) return;
        if (auto measurement = engine()) measurement->handleNonFirstOpenEventURL(*link, timestamp);
    });
}

void APMAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completion) {
    auto measurement = engine();
    if (measurement && measurement->network()) {
        measurement->network()->handleEventsForBackgroundURLSessionID(identifier, std::move(completion));
    } else if (completion) {
        DispatchQueue::mainQueue()->async(std::move(completion));
    }
}

void APMAnalytics::createAppDelegateProxy() {
    std::call_once(process()->proxyCreated, [] {
        VULAppDelegateSwizzler::proxyOriginalDelegate();
        VULAppDelegateSwizzler::registerAppDelegateInterceptor(APMAppDelegateInterceptor::sharedInstance());
    });
}

void APMAnalytics::maybeEnableVadErederi() {
    auto library = std::dynamic_pointer_cast<SharedInstanceInitializing>(ClassRegistry::create(kVadErederiClassName));
    if (!library) return;
    if (auto initializeSharedInstance = library->initializeSharedInstanceImplementation()) {
        initializeSharedInstance();
    } else {
        APMMeasurementMonitor()->logWithLevel(2, 25016, "VADErederi class doesn't define initializeSharedInstance");
    }
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
