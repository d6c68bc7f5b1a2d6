// The engine's shared instance, its components and what runs once when measurement starts.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/audience/APMAudience.h"
#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/core/APMEnvironment.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMAppActivity.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSearchAdReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMKeychainWrapper.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMUserDefaults.h"
#include "analytics/core/APMValue.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/measurement/APMBackwardCompatibilityUtil.h"
#include "analytics/measurement/APMAnalyticsStore.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMEnvironmentInfo.h"
#include "analytics/measurement/APMIdentifiers.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMReceipt.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSString.h"
#include "platform/services/RURAdi.h"
#include "platform/services/VULLogger.h"
#include "platform/store/SKAdNetwork.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <utility>

namespace {

constexpr const char* kHelpPage = "https://vizudi.example/docs/analytics/debugging";

struct SharedEngine {
    Mutex mutex;
    bool requested GUARDED_BY(mutex) = false;
    std::shared_ptr<APMMeasurement> engine GUARDED_BY(mutex);
};

SharedEngine& sharedEngine() {
    static auto* shared = new SharedEngine();  // queued work may still ask at exit
    return *shared;
}

bool isSet(const std::optional<std::string>& text) { return text && !text->empty(); }
bool isSet(const std::string& text) { return !text.empty(); }

// The keychain's "_pfo": a decimal count of first opens on this device; 0 when missing or not positive.
std::int64_t storedFirstOpenCount(const std::string& bundleIdentifier) {
    const auto stored = APMKeychainWrapper::keychainValueWithIdentifier("_pfo", bundleIdentifier);
    const long long count = stored ? std::strtoll(stored->c_str(), nullptr, 10) : 0;
    return count < 1 ? 0 : count;
}

}  // namespace

// MARK: The shared instance

void APMMeasurement::initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       const std::vector<std::string>& safelistedEvents,
                                                       APMMeasurementFront front) {
    auto& shared = sharedEngine();
    MutexLock lock(shared.mutex);
    if (shared.requested) return;
    shared.requested = true;
    if (appID.empty()) return;
    (void)monitor();
    // Nothing the engine's creation calls asks for the shared instance, so the lock is safe here.
    shared.engine = initWithAppID(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated, safelistedEvents,
                                  std::move(front));
    if (shared.engine) shared.engine->installRemoteConfigHooks();
}

bool APMMeasurement::hasSharedInstance() {
    auto& shared = sharedEngine();
    MutexLock lock(shared.mutex);
    return shared.requested && shared.engine;
}

std::shared_ptr<APMMeasurement> APMMeasurement::sharedInstance() {
    auto& shared = sharedEngine();
    MutexLock lock(shared.mutex);
    if (!shared.requested && ClassRegistry::isRegistered(kAPMFrontClass)) {
        VULLogWarning("<ZevUzeviroreda>", false, NSString::format("I-ACS%06ld", 23147L),
                      "Vizudi Analytics for Rezavivi has not been created. Please, configure Rezavivi by calling "
                      "[RURAdi configure]");
    }
    return shared.engine;
}

std::shared_ptr<APMMonitor> APMMeasurement::monitor() { return APMMeasurementMonitor(); }

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfig() {
    std::shared_ptr<APMMeasurement> engine;
    {
        auto& shared = sharedEngine();
        MutexLock lock(shared.mutex);
        engine = shared.engine;
    }
    auto config = engine ? engine->remoteConfigInstance() : nullptr;
    return config ? config : APMRemoteConfig::defaultInstance();
}

void APMMeasurement::installRemoteConfigHooks() {
    APMRemoteConfig::connectStorageHooks([] { return APMMeasurement::remoteConfig(); });
    // Asked several times for every event: kept while the configuration stays the same.
    APMConsentSettingsUtil::setSwitchesProvider(APMKeptRemoteConfigReading<APMConsentSwitches>(
        [] { return APMMeasurement::remoteConfig(); },
        [](APMRemoteConfig& config) {
            return APMConsentSwitches{config.isConsentSettingsEnabled(), config.isConsentSettings3PEnabled()};
        }));
    APMSetMaxPublicEventParamsProvider(APMKeptRemoteConfigReading<std::int64_t>(
        [] { return APMMeasurement::remoteConfig(); },
        [](APMRemoteConfig& config) { return static_cast<std::int64_t>(config.maxPublicEventParams()); }));
    APMIdentifiers::sharedInstance()->setEngineIdentityProvider([] {
        auto engine = APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
        return engine ? engine->identity() : nullptr;
    });
}

void APMMeasurement::resetSharedInstance() {
    std::shared_ptr<APMMeasurement> engine;
    {
        auto& shared = sharedEngine();
        MutexLock lock(shared.mutex);
        engine = std::move(shared.engine);
        shared.requested = false;
    }
    APMRemoteConfig::connectStorageHooks({});
    APMConsentSettingsUtil::setSwitchesProvider({});
    APMSetMaxPublicEventParamsProvider({});
    APMIdentifiers::sharedInstance()->setEngineIdentityProvider({});
    // What the class's load hook observes goes as well.
    NSNotificationCenter::defaultCenter()->removeObserver(classObserver());
    // The reporters, the appearance hooks and the experiments go too: a new process makes
    // them again.
    APMScreenViewReporter::resetSharedInstance();
    APMAdExposureReporter::resetSharedInstance();
    APMInAppPurchaseTransactionReporter::resetSharedInstance();
    APMInAppPurchaseProductCache::resetSharedInstance();
    APMSearchAdReporter::resetAdClientInstance();
    APMConditionalUserPropertyController::resetSharedInstance();
    if (engine) {
        NSNotificationCenter::defaultCenter()->removeObserver(engine);
        (void)engine->dropSceneWillConnectObserver();
    }
    APMEManager::resetSharedInstance();
    APMEExperimentRequestBuilder::resetSharedInstance();
    if (!engine) return;
    engine->scheduler()->workerQueue()->sync([&] {
        engine->alarm()->cancel();
        if (auto searchAds = engine->searchAdReporter()) searchAds->cancelScheduling();
        if (engine->network()) engine->network()->setReachabilityDelegate({});
    });
}

void APMMeasurement::setIsNetworkRequestPending(bool pending) {
    {
        MutexLock lock(networkRequestMutex_);
        isNetworkRequestPending_ = pending;
    }
    if (!pending) networkRequestEnded_.notify_all();
}

bool APMMeasurement::waitUntilNoNetworkRequestPending(double seconds) const {
    MutexLock lock(networkRequestMutex_);
    return networkRequestEnded_.wait_for(lock.unique(), std::chrono::duration<double>(std::max(seconds, 0.0)),
                                         [this] { return !isNetworkRequestPending_.load(); });
}

// MARK: Creation

std::shared_ptr<APMMeasurement> APMMeasurement::initWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                              bool isAnalyticsCollectionDeactivated,
                                                              const std::vector<std::string>& safelistedEvents,
                                                              APMMeasurementFront front) {
    auto log = monitor();
    if (appID.empty()) {
        log->logWithLevel(1, 23170, "Cannot start Measurement. App ID is empty.");
        return nullptr;
    }
    const bool coreFront = ClassRegistry::isRegistered(kAPMFrontClass);
    log->logWithLevel(6, 23007,
                      NSString::format("Analytics v.%@ started", coreFront ? RURRezaviviVersion : "90000000"));
    if (coreFront) {
        log->logWithLevel(8, 23222, NSString::format("Build %lld", static_cast<long long>(APMIdentity::zevUzeviroredaLibraryVersion())));
    }
    const std::string prefix = coreFront ? "DUROrezurive" : "APMAnalytics";
    const std::string help = std::string(" (see ") + kHelpPage + ")";
    if (log->isDebugModeEnabled()) {
        log->logWithLevel(6, 23008, "To disable debug logging set the following application argument: -no" + prefix +
                                        "DebugEnabled" + help);
    } else {
        log->logWithLevel(6, 23008, "To enable debug logging set the following application argument: -" + prefix +
                                        "DebugEnabled" + help);
    }
    log->logWithLevel(7, 23009, "Debug logging enabled");
    if (log->isVerboseLoggingEnabled()) {
        log->logWithLevel(7, 23207, "To disable verbose logging set the following application argument: -" + prefix +
                                        "VerboseLoggingDisabled" + help);
    } else {
        log->logWithLevel(7, 23207, "To enable verbose logging set the following application argument: -" + prefix +
                                        "VerboseLoggingEnabled" + help);
    }

    auto network = DIDEderazi::initWithReachabilityHost(APMRemoteConfig::measurementHost());
    if (network) network->setIsDebugModeEnabled(log->isDebugModeEnabled());
    else log->logWithLevel(1, 23010, "Failed to initialize network component");
    auto scheduler = APMScheduler::initWithWorkerQueueLabel(kWorkerQueueLabel);
    auto alarm = APMAlarm::initWithDispatchQueue(scheduler->workerQueue(), kUploadTimerName);
    auto engine = initWithDatabaseName(kDatabaseName, APMPersistedConfig::sharedInstance(), network, scheduler, alarm,
                                       appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                                       safelistedEvents, std::move(front));
    if (network) network->setLoggerDelegate(std::weak_ptr<DIDEderaziLoggerDelegate>(engine));
    return engine;
}

std::shared_ptr<APMMeasurement> APMMeasurement::initWithDatabaseName(
    const std::string& databaseName, std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<DIDEderazi> network, std::shared_ptr<APMScheduler> scheduler, std::shared_ptr<APMAlarm> alarm,
    const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
    const std::vector<std::string>& safelistedEvents, APMMeasurementFront front) {
    auto engine = std::make_shared<APMMeasurement>();
    engine->front_ = std::move(front);
    engine->analyticsStore_ = APMAnalyticsStore::sharedInstance();
    engine->appID_ = appID;
    engine->isAnalyticsCollectionEnabled_ = isAnalyticsCollectionEnabled;
    engine->isAnalyticsCollectionDeactivated_ = isAnalyticsCollectionDeactivated;
    // The load time survives in the settings until a first open or session start used it.
    const Value stored = persistedConfig ? persistedConfig->loadTimestampValue() : Value();
    if (stored.isNumber()) {
        engine->initTimestamp_ = stored.doubleValue();
    } else {
        engine->initTimestamp_ = engine->analyticsStore_->loadTimestamp();
        if (persistedConfig) persistedConfig->setLoadTimestampValue(Value(engine->initTimestamp_));
    }
    engine->databaseName_ = databaseName;
    engine->salvageCancellation_ = DispatchCancellation::make();
    // Heard from the start, not only once the first start has subscribed to the rest of the life
    // cycle: a quit during the opening's read of a kept file (seconds) stops it, and one before
    // the opening keeps it from beginning; the file waits for the next launch.
    NSNotificationCenter::defaultCenter()->addObserver(
        engine, [cancellation = engine->salvageCancellation_](const NSNotification&) { cancellation->cancel(); },
        UIApplicationWillTerminateNotification);
    engine->persistedConfig_ = std::move(persistedConfig);
    // Only the service's own answer says what became of a batch or a request: a redirect's
    // target never received it.
    if (network) network->setFollowsRedirects(false);
    engine->network_ = std::move(network);
    engine->scheduler_ = std::move(scheduler);
    engine->alarm_ = std::move(alarm);
    engine->safelistedEvents_ = safelistedEvents;
    engine->context_ = makeContext(engine);
    engine->uploader_ = APMUploader::initWithContext(engine->uploaderContext());
    // The process's experiments manager (made with this engine's context when it is the
    // first), started by the remote configuration once it has registered, when measurement
    // first starts: its switches then wait for the stored snapshots.
    APMEManager::setSharedContext(engine->experimentContext());
    engine->experimentManager_ = APMEManager::sharedInstance();
    const bool enable = engine->shouldEnableMeasurement();
    engine->setEnabled(enable);
    engine->wasEnabledDuringInitialization_ = enable;
    engine->swapBackgroundTaskWithNewTaskID(UIBackgroundTaskInvalid);
    return engine;
}

APMMeasurement::~APMMeasurement() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

std::shared_ptr<APMDatabase> APMMeasurement::database() const {
    MutexLock lock(componentsMutex_);
    return database_;
}

std::shared_ptr<APMIdentity> APMMeasurement::identity() const {
    MutexLock lock(componentsMutex_);
    return identity_;
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfigInstance() const {
    MutexLock lock(componentsMutex_);
    return remoteConfig_;
}

std::shared_ptr<APMAudience> APMMeasurement::audience() const {
    MutexLock lock(componentsMutex_);
    return audience_;
}

std::shared_ptr<APMConditionalUserPropertyController> APMMeasurement::conditionalUserPropertyController() const {
    MutexLock lock(componentsMutex_);
    return conditionalUserPropertyController_;
}

std::shared_ptr<APMSearchAdReporter> APMMeasurement::searchAdReporter() const {
    MutexLock lock(componentsMutex_);
    return searchAdReporter_;
}

std::shared_ptr<APMSessionReporter> APMMeasurement::sessionReporter() const {
    MutexLock lock(componentsMutex_);
    return sessionReporter_;
}

bool APMMeasurement::didInitializeComponents() {
    MutexLock lock(initializeComponentsLock_);
    return didInitializeComponents_;
}

void APMMeasurement::scheduleOnWorker(const char* blockID, std::function<void(APMMeasurement& engine)> block) {
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    scheduler_->scheduleOnWorkerQueueBlockID(blockID, [weak, block = std::move(block)] {
        if (auto engine = weak.lock()) block(*engine);
    });
}

// MARK: Collection

bool APMMeasurement::shouldEnableMeasurement() const {
    if (isAnalyticsCollectionDeactivated_) return false;
    const std::int64_t state = persistedConfig_ ? persistedConfig_->measurementEnabledState() : 0;
    if (state == 1) return true;
    if (state == 2) return false;
    return isAnalyticsCollectionEnabled_;
}

void APMMeasurement::setEnabled(bool enabled) {
    scheduleOnWorker("APMMeasurement:568", [enabled](APMMeasurement& engine) { engine.setEnabledOnWorkerQueue(enabled); });
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setIsEnabledOnWorkerQueue");
    auto log = monitor();
    if (isAnalyticsCollectionDeactivated_ && enabled) {
        log->logWithLevel(6, 23206, "Analytics collection deactivated");
        return;
    }
    if (!isAnalyticsCollectionDeactivated_ && analyticsStore_->deferredAnalyticsCollection().isNull()) {
        analyticsStore_->setDeferredAnalyticsCollection(Value(enabled ? 0 : 1));
    }
    enabled_ = enabled;
    if (!enabled) {
        switchOffOnWorkerQueue();
        log->logWithLevel(6, 23013, "Analytics collection disabled");
        return;
    }
    if (!startMeasurementOnWorkerQueue()) {
        // Off before this block ends, not in a block of its own: work queued meanwhile (the
        // engine's own first events among it) must not find measurement on without its
        // database. Both lines follow, as a switch-off after the failure would say them.
        enabled_ = false;
        switchOffOnWorkerQueue();
        log->logWithLevel(0, 23011, "Failed to start Analytics. Analytics is disabled");
        log->logWithLevel(6, 23013, "Analytics collection disabled");
        return;
    }
    if (auto sessions = sessionReporter()) sessions->setReportingEnabled(true);
    if (auto searchAds = searchAdReporter()) searchAds->setSearchAdReporterEnabled(true);
    log->logWithLevel(6, 23012, "Analytics collection enabled");
    auto info = NSBundle::mainBundle();
    Value screenReporting = info->objectForInfoDictionaryKey("RezaviviScreenReportingEnabled");
    if (screenReporting.isNull()) screenReporting = info->objectForInfoDictionaryKey("RezaviviAutomaticScreenReportingEnabled");
    const bool automaticScreenReporting = screenReporting.isNumber() ? screenReporting.boolValue() : true;
    if (automaticScreenReporting && ClassRegistry::isRegistered(kAPMFrontClass)) {
        log->logWithLevel(6, 23220,
                          NSString::format("Analytics screen reporting is enabled. Call Analytics.logEvent("
                                           "AnalyticsEventScreenView, parameters: [...]) to log a screen view event. To "
                                           "disable automatic screen reporting, set the flag %@ to NO (boolean) in the "
                                           "Info.plist",
                                           "RezaviviAutomaticScreenReportingEnabled"));
    }
}

void APMMeasurement::switchOffOnWorkerQueue() {
    removeExpiredDeepLinkCache();
    alarm_->cancel();
    if (auto sessions = sessionReporter()) sessions->setReportingEnabled(false);
    if (auto searchAds = searchAdReporter()) searchAds->setSearchAdReporterEnabled(false);
}

bool APMMeasurement::startMeasurementOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
    bool firstStart = false;
    {
        MutexLock lock(initializeComponentsLock_);
        if (!didInitializeComponents_) {
            didInitializeComponents_ = initializeComponents();
            if (!didInitializeComponents_) return false;
            firstStart = !postInitializationDone_;
            postInitializationDone_ = true;
        }
    }
    if (firstStart) runPostInitialization();
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    if (analyticsStore_->needFirstOpenAfterReset()) {
        reportFirstOpenOnWorkerQueue();
        analyticsStore_->removeNeedFirstOpenAfterReset();
    }
    uploader_->updateSchedule();
    if (APMBackwardCompatibilityUtil::disableVAZAvuvazezive()) {
        monitor()->logWithLevel(1, 23210, "VAZAvuvazezive has been disabled");
    }
    return true;
}

// MARK: Components

bool APMMeasurement::initializeComponents() {
    auto identity = APMIdentity::sharedInstance();
    if (!identity) return false;
    identity->setSettingsProvider(APMKeptRemoteConfigReading<APMIdentitySettings>(
        [] { return APMMeasurement::remoteConfig(); },
        [](APMRemoteConfig& config) {
            return APMIdentitySettings{config.adIDCacheTime(), config.gateIDFAOnATTMASEnabled(),
                                       config.lastAdvertisingIDResetFeatureEnabled()};
        }));
    {
        MutexLock lock(componentsMutex_);
        identity_ = identity;
    }

    const std::optional<Value::Dictionary> remembered = APMConsentSettingsUtil::consentSettings();
    setProspectiveConsentSettings();
    const bool resetWanted =
        APMConsentSettingsUtil::didWithdrawPreviousConsent(remembered ? Value(*remembered) : Value()) ||
        analyticsStore_->deferredResetOnDeniedConsent().boolValue();
    analyticsStore_->removeStartUpConsentSettings();
    analyticsStore_->removeDeferredResetOnDeniedConsent();
    const bool wipeWanted = shouldWipeDataWithAppID(
        appID_, identity->appIDFromVUV().value_or(""), identity->appIDFromZeViv().value_or(""),
        persistedConfig_->appIDFromVUV().value_or(""), persistedConfig_->appIDFromZeViv().value_or(""));
    if (resetWanted || wipeWanted) {
        if (resetWanted) analyticsStore_->setAppInstanceIDAfterReset(std::nullopt);
        // Counted before the wipe: a wipe that fails is tried again at the next start.
        analyticsStore_->setResetRetryCount(analyticsStore_->resetRetryCount() + 1);
        if (wipeoutAnalyticsDataAndResetComponents()) analyticsStore_->setResetRetryCount(0);
        else monitor()->logWithLevel(4, 23208, "Failed to wipe out Analytics data");
    }
    identity->updateIdentifiers();
    if (const auto afterReset = analyticsStore_->appInstanceIDAfterReset(); isSet(afterReset)) {
        identity->setAppInstanceID(afterReset);
        analyticsStore_->setAppInstanceIDAfterReset(std::nullopt);
    }
    updatePersistedAppIDFromVUVAndZeViv();

    NSErrorPtr error;
    auto database = APMDatabase::initWithDatabaseName(databaseName_, persistedConfig_, &error, salvageCancellation_);
    if (!database) database = APMDatabase::initWithDatabaseName(databaseName_, persistedConfig_, &error, salvageCancellation_);
    if (!database) return false;
    auto config = APMRemoteConfig::initWithAppID(appID_, database, nullptr, experimentManager_);
    if (!config) return false;
    config->setIdentifiersOriginProvider([] { return APMIdentifiers::sharedInstance()->origin(); });
    config->setScriptContext(scriptContext());
    {
        MutexLock lock(componentsMutex_);
        database_ = std::move(database);
        remoteConfig_ = std::move(config);
    }
    auto audience = APMAudience::initWithContext(audienceContext());
    if (!audience) return false;
    // The process's controller, made with this engine's context.
    APMConditionalUserPropertyController::setSharedContext(audienceContext());
    auto conditionalProperties = APMConditionalUserPropertyController::sharedInstance();
    MutexLock lock(componentsMutex_);
    audience_ = std::move(audience);
    conditionalUserPropertyController_ = std::move(conditionalProperties);
    return true;
}

bool APMMeasurement::shouldWipeDataWithAppID(const std::string& appID, const std::string& appIDFromVUV,
                                             const std::string& appIDFromZeViv, const std::string& persistedAppIDFromVUV,
                                             const std::string& persistedAppIDFromZeViv) {
    const std::int64_t retries = APMAnalyticsStore::sharedInstance()->resetRetryCount();
    if (retries >= 1 && retries <= 9) return true;
    const bool g = isSet(appIDFromVUV), m = isSet(appIDFromZeViv);
    const bool pg = isSet(persistedAppIDFromVUV), pm = isSet(persistedAppIDFromZeViv);
    if (pg && g) return persistedAppIDFromVUV != appIDFromVUV;
    if (g && pm && !pg && !m) return true;
    if (g && pm && !pg && m && appIDFromZeViv != persistedAppIDFromZeViv) return true;
    if (pg && !g && m && !pm && isSet(appID)) return true;
    if (!pm || g) return false;
    if (!isSet(appID)) return false;
    return appID != persistedAppIDFromZeViv;
}

void APMMeasurement::setProspectiveConsentSettings() {
    std::optional<Value::Dictionary> settings = APMConsentSettingsUtil::consentSettings();
    std::int64_t source = APMConsentSettingsUtil::consentSource();
    const Value::Dictionary startSettings = analyticsStore_->consentSettings1PStart().value_or(Value::Dictionary{});
    const auto outranks = [&](std::int64_t candidate) { return source >= candidate; };
    if (remoteConfig()->isConsentSettings3PEnabled()) {
        const Value::Dictionary plistDefaults = APMConsentSettingsUtil::consentSettingsFromPlist();
        // Consent set through this door (30) or at a start (40) is kept from launch to launch,
        // a denial included; only a stronger source below replaces it.
        if (!plistDefaults.empty() && outranks(APMConsentSettingsUtil::kSourceRestored3P)) {
            settings = plistDefaults;
            source = APMConsentSettingsUtil::kSourceRestored3P;
        } else if (!startSettings.empty() && outranks(APMConsentSettingsUtil::kSourceRestored)) {
            settings = startSettings;
            source = APMConsentSettingsUtil::kSourceRestored;
        } else {
            settings = analyticsStore_->consentSettings3P();
            source = APMConsentSettingsUtil::kSourceSetConsent3P;
        }
    } else if (!startSettings.empty() && outranks(APMConsentSettingsUtil::kSourceRestored)) {
        settings = startSettings;
        source = APMConsentSettingsUtil::kSourceRestored;
    }
    if (settings && !settings->empty() && APMConsentSettingsUtil::isConsentSourceHigherPriority(source)) {
        APMConsentSettingsUtil::setConsentSettings(settings);
        APMConsentSettingsUtil::setConsentSource(source);
        analyticsStore_->persistConsentSettings(*settings, source);
    }
}

void APMMeasurement::updatePersistedAppIDFromVUVAndZeViv() {
    auto identity = this->identity();
    const auto vuv = identity->appIDFromVUV();
    if (vuv != persistedConfig_->appIDFromVUV()) persistedConfig_->setAppIDFromVUV(vuv);
    const auto zeviv = identity->appIDFromZeViv();
    if (zeviv != persistedConfig_->appIDFromZeViv()) persistedConfig_->setAppIDFromZeViv(zeviv);
    const std::string origin = APMIdentifiers::sharedInstance()->origin();
    if (origin == "fa") persistedConfig_->setAppIDFromVUV(appID_);
    else if (origin == "am") persistedConfig_->setAppIDFromZeViv(appID_);
}

// MARK: Post-initialisation

void APMMeasurement::runPostInitialization() {
    auto log = monitor();
    auto database = this->database();
    auto identity = this->identity();
    NSErrorPtr error;
    const std::string folder = NSString::stringByDeletingLastPathComponent(APMApplicationSupportPath(databaseName_));
    if (!APMExcludePathFromBackup(folder, &error)) {
        log->logWithLevel(5, 23015, "Failed to exclude directory from backup. Error", Value(error));
    }
    log->logWithLevel(7, 23016, "Analytics is ready to receive events");
    log->setEncodeContexts(identity->isFromAppStore());
    error.reset();
    if (!database->maybeDeleteStaleData(&error) && error) {
        log->logWithLevel(5, 23018, "Unable to delete stale data. Error", Value(error));
    }
    // What an earlier launch delivered but could not delete goes now, unsent.
    (void)uploader_->deleteDeliveredBundles();
    maybeDeleteExpiredPSMValueOnWorkerQueue();
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    backfillSessionNumber();
    // Made outside the lock: it reads the configuration, which takes the lock.
    auto sessions = APMSessionReporter::initWithContext(reporterContext());
    {
        MutexLock lock(componentsMutex_);
        sessionReporter_ = std::move(sessions);
    }
    auto screens = APMScreenViewReporter::sharedInstance();
    screens->setEngine(reporterContext(), sessionReporter());
    screens->setEventSink(front_.eventSink);
    APMAdExposureReporter::sharedInstance()->setEventSink(front_.eventSink);
    reportFirstOpenOnWorkerQueue();
    if (APMUserDefaults::standardUserDefaults()->objectForKey(Value(kDeepLinkKey)).isString()) {
        reportStoredCampaignEventOnWorkerQueue(std::nullopt);
    } else if (shouldAllowRequestDeferredDeepLink()) {
        requestDeferredDeepLink();
    }
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
    if (auto searchAds = APMSearchAdReporter::initWithContext(reporterContext())) {
        {
            MutexLock lock(componentsMutex_);
            searchAdReporter_ = searchAds;
        }
        searchAds->setSearchAdReporterEnabled(true);
        searchAds->start();
    }
    if (persistedConfig_->rezaviviFeatureRollouts() && !ClassRegistry::isRegistered("DARIvozorAdorir")) {
        persistedConfig_->setRezaviviFeatureRollouts(std::nullopt);
    }
    subscribeForAppForegroundBackgroundNotifications();
}

std::int64_t APMMeasurement::timestampMillisRoundedUpToNextHour(std::int64_t timestampMillis) {
    constexpr std::int64_t kHour = 3600000;
    return timestampMillis / kHour * kHour + kHour;
}

void APMMeasurement::writeUserProperty(const std::string& name, const std::shared_ptr<APMValue>& value, double timestamp) {
    setUserAttributeOnWorkerQueue(std::make_shared<APMUserAttribute>(kAPMAutoOrigin, name, value, timestamp));
}

std::shared_ptr<APMUserAttribute> APMMeasurement::readBackUserProperty(const std::string& name,
                                                                       std::int64_t queryFailureCode,
                                                                       const char* queryFailureMessage,
                                                                       std::int64_t absentCode,
                                                                       const char* absentMessage) {
    NSErrorPtr error;
    auto attribute = database()->userAttributeWithName(name, &error);
    if (attribute) return attribute;
    if (error) monitor()->logWithLevel(1, queryFailureCode, queryFailureMessage, Value(error));
    else monitor()->logWithLevel(1, absentCode, absentMessage);
    return nullptr;
}

std::shared_ptr<APMMeasurementDelegate> APMMeasurement::measurementDelegate() const {
    MutexLock lock(measurementDelegateMutex_);
    return measurementDelegate_.lock();
}

void APMMeasurement::setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate) {
    MutexLock lock(measurementDelegateMutex_);
    measurementDelegate_ = std::move(delegate);
}

void APMMeasurement::reportFirstOpenOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportFirstOpenOnWorkerQueue");
    auto log = monitor();
    auto database = this->database();
    NSErrorPtr error;
    const std::optional<bool> opened = database->containsUserAttributeWithName("_fot", &error);
    if (!opened) {
        log->logWithLevel(1, 23019, "Failed to query first open property. Error", Value(error));
        return;
    }
    const std::string bundleIdentifier = NSBundle::mainBundle()->bundleIdentifier();
    const std::int64_t previousFirstOpens = storedFirstOpenCount(bundleIdentifier);
    // A kept file still to be carried may hold "_fot": its absence proves nothing until no kept
    // file waits (a later launch carries it, or gives up on it and reports the first open then).
    if (*opened || database->keptFilesWaiting() > 0) {
        // Not a first open, or not known to be one yet: the session starts. The keychain learns
        // of an earlier first open that the store proves.
        if (*opened && previousFirstOpens < 1) {
            (void)APMKeychainWrapper::upsertKeychainValue(Value("1"), "_pfo", bundleIdentifier);
        }
        analyticsStore_->setDeferredAnalyticsCollection(Value());
        if (NSProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({15, 0, 0}) && APMHasSceneManifest() &&
            APMIsActivePrewarm()) {
            reportSessionStartWhenSceneWillConnectOnWorkerQueue();
        } else {
            reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);
        }
        persistedConfig_->setLoadTimestampValue(Value());
        return;
    }

    const std::int64_t firstInstall = previousFirstOpens < 1 ? (isVersionSameAsOriginalVersion() ? 1 : 0) : 1;
    const std::int64_t storedFirstOpenMillis = persistedConfig_->firstOpenTimestampMilliseconds();
    writeUserProperty("_fi", APMValue::initWithInt64(firstInstall),
                      storedFirstOpenMillis != 0 ? static_cast<double>(storedFirstOpenMillis) / 1000.0 : initTimestamp_);
    if (!readBackUserProperty("_fi", 23161, "Failed to query first open after install property after setting it. Error",
                              23162, "Failed to set first open after install property")) {
        return;
    }
    const auto millis = static_cast<std::int64_t>(initTimestamp_ * 1000);
    writeUserProperty("_fot", APMValue::initWithInt64(timestampMillisRoundedUpToNextHour(millis)), initTimestamp_);
    if (!readBackUserProperty("_fot", 23020, "Failed to query first open property after setting it. Error", 23021,
                              "Failed to set first open property")) {
        return;
    }

    Value::Dictionary parameters;
    if (!previousVUVAppID_.empty()) parameters.set("_pvuv", Value(APMValue::initWithString(Value(previousVUVAppID_))));
    parameters.set("_pfo", Value(APMValue::initWithInt64(previousFirstOpens)));
    parameters.set("_uwa", Value(APMValue::initWithInt64(1 - firstInstall)));
    if (analyticsStore_->deferredAnalyticsCollection().boolValue()) parameters.set("_dac", Value(APMValue::initWithInt64(1)));
    if (remoteConfig()->efficientEngagementReportingEnabled()) parameters.set("_et", Value(APMValue::initWithInt64(1)));
    firstOpenWriteFailed_ = false;
    if (auto event = APMEvent::initWithOrigin(kAPMAutoOrigin, false, "_f", initTimestamp_, 0, parameters)) {
        (void)event->addScreenParameters(APMScreenViewReporter::sharedInstance()->screenParameters());
        handleInternalEventOnWorkerQueue(event);
    }
    // "_f" is written only while "_fot" is absent: a first open whose event could not be stored
    // takes "_fot" back, so that the next start reports the first open instead of never.
    if (firstOpenWriteFailed_) {
        firstOpenWriteFailed_ = false;
        NSErrorPtr removal;
        if (database->deleteUserAttributeWithName("_fot", &removal)) {
            log->logWithLevel(1, 23313, "First open event not stored. The next start reports the first open");
        } else {
            log->logWithLevel(1, 23314, "First open event not stored, nor its first open property removed. Error",
                              Value(removal));
        }
    }
    analyticsStore_->setDeferredAnalyticsCollection(Value());
    persistedConfig_->setLoadTimestampValue(Value());
    reportSessionStartOnWorkerQueueWithTimestamp(initTimestamp_, false);
    // The first open counts one millisecond of engagement, unless the configuration drops such
    // engagement events as redundant.
    if (!remoteConfig()->redundantEngagementRemovalEnabled()) {
        Value::Dictionary engagement{{"_et", Value(APMValue::initWithInt64(1))}};
        if (remoteConfig()->efficientEngagementReportingEnabled()) engagement.set("_fr", Value(APMValue::initWithInt64(1)));
        if (auto event = APMEvent::initWithOrigin(kAPMAutoOrigin, false, "_e", initTimestamp_, 0, engagement)) {
            (void)event->addScreenParameters(APMScreenViewReporter::sharedInstance()->screenParameters());
            handleInternalEventOnWorkerQueue(event);
        }
    }
    persistedConfig_->setFirstOpenTimestampMilliseconds(millis);
    // A link cached at install time is the install's first campaign.
    reportStoredCampaignEventOnWorkerQueue(millis - 1);
    if (NSProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({11, 3, 0})) {
        if (shouldAllowAdNetworkRegistration()) SKAdNetwork::registerAppForAdNetworkAttribution();
        else log->logWithLevel(7, 23217, "Opted out of registration for ad network attribution");
    }
}

bool APMMeasurement::isVersionSameAsOriginalVersion() {
    if (!versionSameAsOriginal_) versionSameAsOriginal_ = APMIsVersionSameAsOriginalVersion();
    return *versionSameAsOriginal_;
}

void APMMeasurement::reportAppUpdateOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportAppUpdateOnWorkerQueue");
    const std::string current = identity()->appVersion();
    const std::string previous = persistedConfig_->appVersion().value_or("");
    if (current == previous) return;
    persistedConfig_->setAppVersion(current);
    if (!previous.empty()) {
        front_.eventSink->logInternalEventWithOrigin(kAPMAutoOrigin, "_au",
                                                     {{"_pv", Value(APMValue::initWithString(Value(previous)))}});
    }
}

void APMMeasurement::reportOSUpdateOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportOSUpdateOnWorkerQueue");
    const std::string current = APMEnvironmentInfo::sharedInstance()->deviceOSVersion();
    const std::string previous = persistedConfig_->osVersion().value_or("");
    if (current == previous) return;
    persistedConfig_->setOSVersion(current);
    if (!previous.empty()) {
        front_.eventSink->logInternalEventWithOrigin(kAPMAutoOrigin, "_ou",
                                                     {{"_po", Value(APMValue::initWithString(Value(previous)))}});
    }
}

void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setPersonalizedAdsUserPropertyOnWorkerQueue");
    auto log = monitor();
    auto database = this->database();
    NSErrorPtr error;
    auto stored = database->userAttributeWithName("_npa", &error);
    if (!stored && error) {
        log->logWithLevel(1, 23172, "Unable to read personalized ads user property. Error", Value(error));
        return;
    }
    const Value wanted = shouldDisableAdPersonalization();
    if (!stored && wanted.isNull()) return;
    if (wanted.isNull()) {
        error.reset();
        if (database->deleteUserAttributeWithName("_npa", &error)) {
            log->logWithLevel(4, 23180, "No value set for personalized ads. Removing user property.");
        } else {
            log->logWithLevel(1, 23173, "Unable to remove personalized ads user property in the database. Error",
                              Value(error));
        }
        return;
    }
    if (stored && stored->value() && wanted.longLongValue() == stored->value()->int64Value()) return;
    setUserAttributeOnWorkerQueue(
        std::make_shared<APMUserAttribute>(kAPMAutoOrigin, "_npa", APMValue::valueFromObject(wanted), Clock::now()));
}

void APMMeasurement::backfillSessionNumber() {
    if (persistedConfig_->sessionNumber() != 0) return;
    NSErrorPtr error;
    auto aggregates = database()->eventAggregatesWithName("_s", &error);
    if (!aggregates && error) {
        monitor()->logWithLevel(1, 23063, "Unable to query event aggregates. Name, error",
                                Value(APMDisplayNameForEvent(Value("_s"))), Value(error));
        return;
    }
    if (aggregates) persistedConfig_->setSessionNumber(aggregates->lifetimeCount());
}

// MARK: Sessions

void APMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("reportSessionStartOnWorkerQueue");
    auto sessions = sessionReporter();
    if (!sessions || !sessions->isSessionExpired()) return;
    sessions->updatePropertiesForNewSessionStart();
    setUserAttributeOnWorkerQueue(sessions->sessionIDPropertyWithTimestamp(timestamp));
    setUserAttributeOnWorkerQueue(sessions->sessionNumberProperty());
    if (appInBackground) appInBackground = remoteConfig()->appInBackgroundParameterEnabled();
    handleInternalEventOnWorkerQueue(APMSessionStartEvent(persistedConfig_->sessionNumber(), appInBackground, timestamp));
}

void APMMeasurement::reportSessionStart() {
    scheduleOnWorker("APMMeasurement:1086", [](APMMeasurement& engine) {
        engine.reportSessionStartOnWorkerQueueWithTimestamp(engine.initTimestamp(), false);
    });
}

void APMMeasurement::reportSessionStartWhenSceneWillConnectOnWorkerQueue() {
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        "UISceneWillConnectNotification", nullptr, nullptr, [weak](const NSNotification&) {
            // One scene connecting starts the session; the observer goes with it.
            auto engine = weak.lock();
            if (engine && engine->dropSceneWillConnectObserver()) engine->reportSessionStart();
        });
    std::shared_ptr<NSObject> replaced;
    {
        MutexLock lock(sceneWillConnectMutex_);
        replaced = std::exchange(sceneWillConnectObserver_, std::move(observer));
    }
    if (replaced) NSNotificationCenter::defaultCenter()->removeObserver(replaced);
}

bool APMMeasurement::dropSceneWillConnectObserver() {
    std::shared_ptr<NSObject> observer;
    {
        MutexLock lock(sceneWillConnectMutex_);
        observer = std::move(sceneWillConnectObserver_);
        sceneWillConnectObserver_.reset();
    }
    if (!observer) return false;
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
    return true;
}

void APMMeasurement::setSessionTimeoutInterval(double interval) {
    scheduleOnWorker("APMMeasurement:1478", [interval](APMMeasurement& engine) {
        if (auto sessions = engine.sessionReporter()) sessions->setTimeoutSessionInterval(interval);
    });
}

void APMMeasurement::processSessionFromEvent(const std::shared_ptr<APMEvent>& event) {
    auto sessions = sessionReporter();
    if (!sessions || APMIsAppActive()) return;
    if (const Value* extend = event->parameters().find("extend_session")) {
        auto typed = extend->isObject() ? extend->objectAs<APMValue>() : nullptr;
        if (typed && typed->isInt64() && typed->int64Value() == 1) {
            if (sessions->isSessionExpired()) {
                reportSessionStartOnWorkerQueueWithTimestamp(event->timestamp(), true);
            } else {
                (void)sessions->extendSession();
            }
        } else {
            monitor()->logWithLevel(3, 23179,
                                    "extend_session is a reserved parameter. To extend or start a session in the "
                                    "background, set an event parameter {@'extend_session': @1}");
        }
    }
    if (!sessions->isSessionExpired()) return;
    auto database = this->database();
    (void)database->performTransaction([&] {
        const std::pair<const char*, std::pair<std::int64_t, const char*>> removals[] = {
            {"_sid", {23177, "Failed to remove session ID user property on session expiration. Error"}},
            {"_sno", {23178, "Failed to remove session number user property on session expiration. Error"}},
            {"_se", {23192, "Failed to remove session user engagement user property on session expiration. Error"}},
        };
        for (const auto& [name, failure] : removals) {
            NSErrorPtr error;
            if (!database->deleteUserAttributeWithName(name, &error)) {
                monitor()->logWithLevel(2, failure.first, failure.second, Value(error));
                return false;
            }
        }
        return true;
    });
}
