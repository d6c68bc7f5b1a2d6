// The analytics door's start: its process-wide state and queues, the start that creates the
// engine and releases the calls held before it, the collection settings, consent and the suite's
// keys, which forward to the store.
#include "analytics/measurement/APMAnalyticsProcess.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentifiers.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMInfoPlistFileUtil.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/services/VULAppDelegateSwizzler.h"

namespace {

Mutex gProcessMutex;
std::shared_ptr<APMAnalytics::Process>* gProcess GUARDED_BY(gProcessMutex) = nullptr;

bool isConsentValue(const Value& value) {
    return value.isString() && (value.string() == "granted" || value.string() == "denied");
}

// The door as the measurement side's own components reach it; what reaches the worker queue
// goes to whichever engine is the shared one.
class FrontEventSink final : public APMEventSink {
public:
    bool isEnabled() override {
        auto engine = APMAnalytics::Process::engine();
        return engine && engine->isEnabled();
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                    const Value::Dictionary& parameters) override {
        APMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
    }
    void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                    const Value::Dictionary& parameters) override {
        APMAnalytics::logInternalEventWithOrigin(origin, name, timestamp, parameters);
    }
    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) override {
        APMAnalytics::sharedInstance()->setInternalUserProperty(value, name, origin);
    }
    void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) override {
        if (auto engine = APMAnalytics::Process::engine()) engine->writeEventOnWorkerQueue(event);
    }
};

class FrontListenerHub final : public APMEventListenerHub {
public:
    bool hasLogEventListeners() override { return APMAnalytics::hasLogEventListeners(); }
    void notifyEventListeners(const std::shared_ptr<APMEvent>& event) override {
        APMAnalytics::notifyEventListeners(event);
    }
};

// What the engine is handed when the start creates it.
APMMeasurementFront measurementFront() {
    static const auto listeners = std::make_shared<FrontListenerHub>();
    return APMMeasurementFront{APMAnalytics::eventSink(), listeners, &APMAnalytics::queueOperationWithBlock};
}

}  // namespace

std::shared_ptr<APMMeasurement> APMAnalytics::Process::engine() {
    return APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
}

std::shared_ptr<APMEventSink> APMAnalytics::eventSink() {
    // Stateless: it reaches the door and engine of the moment, so one serves every process state.
    static const auto sink = std::make_shared<FrontEventSink>();
    return sink;
}

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

double APMAnalytics::loadTimestamp() { return Process::store()->loadTimestamp(); }

void APMAnalytics::setLoadTimestamp(double timestamp) { Process::store()->setLoadTimestamp(timestamp); }

bool APMAnalytics::persistentConfigInApplicationSupportEnabled() {
    return APMPersistedConfig::persistentConfigInApplicationSupportEnabled();
}

void APMAnalytics::setPersistentConfigInApplicationSupportEnabled(bool enabled) {
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(enabled);
}

std::shared_ptr<DispatchQueue> APMAnalytics::queue() { return process()->queue; }

void APMAnalytics::dispatchAsyncOnSerialQueue(std::function<void()> block) { queue()->async(std::move(block)); }

bool APMAnalytics::isCurrentQueueSerialQueue() { return DispatchQueue::currentQueueLabel() == Process::kQueueLabel; }

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
        if (origin != Process::kCoreOrigin) {
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
        if (origin == Process::kCoreOrigin && appID != heldAppID) {
            if (identity) identity->setAppIDFromVUV(appID);
            log->logWithLevel(1, 25020,
                              "Analytics requires Vizudi App ID from VizudiService-Info.plist. Your data may be lost. "
                              "Vizudi App ID has been changed. Original, new ID",
                              Value(heldAppID), Value(appID));
        }
        if (origin == Process::kAdsOrigin && identity && appID != identity->appIDFromZeViv().value_or("")) {
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
            if (!consent.empty()) Process::store()->setConsentSettings1PStart(consent);
        }

        const bool deactivated = p->deactivated;
        p->queue->async([p, appID, enabled, deactivated, safelistedEvents] {
            APMMeasurement::initializeSharedInstanceWithAppID(appID, enabled, deactivated, safelistedEvents,
                                                              measurementFront());
            if (!VULAppDelegateSwizzler::isAppDelegateProxyEnabled()) {
                APMMeasurementMonitor()->logWithLevel(6, 25036, "App Delegate Proxy is disabled");
            } else if (!deactivated) {
                DispatchQueue::mainQueue()->async([] { createAppDelegateProxy(); });
            }
            auto created = Process::engine();
            p->enabled = created && created->wasEnabledDuringInitialization();
            maybeEnableVadErederi();
        });
        if (configuration) observeNotificationsForAnalyticsConfiguration(configuration);
        SKPaymentQueue::defaultQueue()->addTransactionObserver(p->shared);
        unsuspendOperationQueue();
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
        if (auto measurement = Process::engine()) measurement->setEnabled(enabled);
    });
}

bool APMAnalytics::isEnabled() { return process()->enabled.load(); }

bool APMAnalytics::isDeactivated() { return process()->deactivated.load(); }

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
    const Value previous = Process::store()->consentSettingsValueForKey(key);
    APMConsentSettingsUtil::updateSettings(entries);
    APMConsentSettingsUtil::setConsentSource(source);
    persistConsentSettings(APMConsentSettingsUtil::consentSettings().value_or(Value::Dictionary{}), source);
    if (!APMConsentSettingsUtil::didWithdrawPreviousConsent(previous)) return;
    setAppInstanceIDAfterReset(std::nullopt);
    auto measurement = Process::engine();
    if (measurement && measurement->didInitializeComponents()) resetAnalyticsData();
    else Process::store()->setDeferredResetOnDeniedConsent();
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
    Process::store()->persistConsentSettings(settings, source);
}

std::int64_t APMAnalytics::persistedConsentSource() { return Process::store()->persistedConsentSource(); }

void APMAnalytics::clearConsent() {
    Process::store()->clearConsentSettings();
    APMConsentSettingsUtil::setConsentSettings(std::nullopt);
}

// MARK: The suite's keys

std::int64_t APMAnalytics::resetRetryCount() { return Process::store()->resetRetryCount(); }

void APMAnalytics::setResetRetryCount(std::int64_t count) { Process::store()->setResetRetryCount(count); }

bool APMAnalytics::needFirstOpenAfterReset() { return Process::store()->needFirstOpenAfterReset(); }

void APMAnalytics::setNeedFirstOpenAfterReset(bool need) { Process::store()->setNeedFirstOpenAfterReset(need); }

void APMAnalytics::removeNeedFirstOpenAfterReset() { Process::store()->removeNeedFirstOpenAfterReset(); }

std::optional<std::string> APMAnalytics::appInstanceIDAfterReset() { return Process::store()->appInstanceIDAfterReset(); }

void APMAnalytics::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
    Process::store()->setAppInstanceIDAfterReset(appInstanceID);
}

Value APMAnalytics::deferredAnalyticsCollection() { return Process::store()->deferredAnalyticsCollection(); }

void APMAnalytics::setDeferredAnalyticsCollection(const Value& value) { Process::store()->setDeferredAnalyticsCollection(value); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings1P() { return Process::store()->consentSettings1P(); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings3P() { return Process::store()->consentSettings3P(); }

std::optional<Value::Dictionary> APMAnalytics::consentSettings1PStart() { return Process::store()->consentSettings1PStart(); }

void APMAnalytics::removeStartUpConsentSettings() { Process::store()->removeStartUpConsentSettings(); }

Value APMAnalytics::deferredResetOnDeniedConsent() { return Process::store()->deferredResetOnDeniedConsent(); }

void APMAnalytics::removeDeferredResetOnDeniedConsent() { Process::store()->removeDeferredResetOnDeniedConsent(); }

void APMAnalytics::maybeEnableVadErederi() {
    auto library = std::dynamic_pointer_cast<SharedInstanceInitializing>(ClassRegistry::create(kVadErederiClassName));
    if (!library) return;
    if (auto initializeSharedInstance = library->initializeSharedInstanceImplementation()) {
        initializeSharedInstance();
    } else {
        APMMeasurementMonitor()->logWithLevel(2, 25016, "VADErederi class doesn't define initializeSharedInstance");
    }
}
