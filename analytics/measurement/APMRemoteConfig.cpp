// The measurement configuration in force and its typed, range-checked settings.
#include "analytics/measurement/APMRemoteConfig.h"

#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/proto/APMPBDataControl.h"
#include "analytics/proto/APMPBEventConfig.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBSetting.h"
#include "analytics/script/APMPEventEditing.h"
#include "analytics/script/APMScriptContext.h"
#include "analytics/script/APMScriptModules.h"
#include "platform/dispatch/MemoryRelief.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/net/NSURL.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>

namespace {

// Moved by every parse and reset of any configuration's settings.
std::atomic<std::uint64_t> gSettingsChanges{0};

// The whole text as a plain decimal number ("60000", "-300", "+1.5"); nothing otherwise, so
// exponents, hexadecimal, blanks, infinities and NaN all fall back to the default.
std::optional<double> decimalNumber(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The time reader's conversion: whole milliseconds to seconds.
std::optional<double> millisecondsToSeconds(double milliseconds) {
    // Beyond int64 the milliseconds are no number at all.
    if (!(std::fabs(milliseconds) < 9.2e18)) return std::nullopt;
    return static_cast<double>(static_cast<std::int64_t>(milliseconds)) / 1000.0;
}

// One label of a host name: letters, digits and hyphens, 1 to 63 of them, no hyphen at either
// end. Anything else in front of the host could move the upload to another service.
bool isHostLabel(const std::string& label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    return std::all_of(label.begin(), label.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    });
}

}  // namespace

// What a configuration's programs read: its own settings, and the engine's answers for the rest.
class APMRemoteConfigProgramContext final : public APMScriptContext {
public:
    explicit APMRemoteConfigProgramContext(std::weak_ptr<APMRemoteConfig> config) : config_(std::move(config)) {}

    std::optional<std::string> remoteConfigValueForKey(const std::string& key) override {
        auto config = config_.lock();
        return config ? config->cachedStringValueForKey(key) : std::nullopt;
    }
    std::optional<std::string> appVersion() override {
        auto config = config_.lock();
        if (!config) return std::nullopt;
        std::weak_ptr<APMScriptContext> engine;
        {
            MutexLock lock(config->mutex_);
            engine = config->scriptContext_;
        }
        auto held = engine.lock();
        return held ? held->appVersion() : std::nullopt;
    }

private:
    std::weak_ptr<APMRemoteConfig> config_;
};

std::string APMRemoteConfig::mismatchedAppID(const std::string& field, const std::string& given,
                                             const std::string& expected) {
    return "Its " + field + " is \"" + given + "\", not this app's \"" + expected + "\"";
}

namespace {

std::string configAppID(const std::shared_ptr<APMPBMeasurementConfig>& config) {
    return APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId).value_or("");
}

}  // namespace

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::defaultInstance() {
    // Never destroyed: getters may run from work still queued at exit.
    static const std::shared_ptr<APMRemoteConfig>& instance =
        *new std::shared_ptr<APMRemoteConfig>(make("", nullptr, nullptr, nullptr));
    return instance;
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(const std::string& appID,
                                                                const std::shared_ptr<APMDatabase>& database) {
    return initWithAppID(appID, database, APMEManager::sharedInstance());
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(const std::string& appID,
                                                                const std::shared_ptr<APMDatabase>& database,
                                                                const std::shared_ptr<APMEManager>& experimentManager) {
    return initWithAppID(appID, database, nullptr, experimentManager);
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(
    const std::string& appID, const std::shared_ptr<APMDatabase>& database,
    const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig) {
    return initWithAppID(appID, database, measurementConfig, APMEManager::sharedInstance());
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::initWithAppID(
    const std::string& appID, const std::shared_ptr<APMDatabase>& database,
    const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig,
    const std::shared_ptr<APMEManager>& experimentManager) {
    if (appID.empty()) {
        APMMeasurementMonitor()->logWithLevel(1, 29000, "Cannot init remote configuration without valid Vizudi App ID");
        return nullptr;
    }
    if (!database) {
        APMMeasurementMonitor()->logWithLevel(1, 29001, "Cannot init remote configuration without valid database");
        return nullptr;
    }
    return make(appID, database, measurementConfig, experimentManager);
}

std::shared_ptr<APMRemoteConfig> APMRemoteConfig::make(
    const std::string& appID, const std::shared_ptr<APMDatabase>& database,
    const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig,
    const std::shared_ptr<APMEManager>& experimentManager) {
    auto config = std::make_shared<APMRemoteConfig>();
    config->appID_ = appID;
    config->database_ = database;
    config->memoryRelief_ = MemoryRelief::make();
    if (experimentManager) config->registerExperimentClient(experimentManager);
    config->isDefaultInstance_ = !database && appID.empty();
    if (config->isDefaultInstance_) return config;
    if (measurementConfig) {
        // A refused configuration is logged by the update; the instance then starts without one.
        static_cast<void>(config->updateMeasurementConfig(measurementConfig));
    } else if (auto stored = config->measurementConfigFromDatabase()) {
        {
            MutexLock lock(config->mutex_);
            config->remoteConfigProto_ = stored;
        }
        config->parseRemoteConfigFromMeasurementConfig(stored);
    }
    return config;
}

void APMRemoteConfig::registerExperimentClient(const std::shared_ptr<APMEManager>& experimentManager) {
    auto property = APMESDKProperty::initWithName(kExperimentSDKName);
    property->setVersion(APMIdentity::zevUzeviroredaLibraryVersion());
    auto client = experimentManager->registerSDKProperty(
        property, {{kEfficientEngagementReportingFlag, Value(0)},
                   {kRedundantEngagementRemovalFlag, Value(0)},
                   {kNetworkBackgroundSessionFlag, Value(0)},
                   {kPersistentConfigInApplicationSupportFlag, Value(0)}});
    if (client) client->setDelegate(std::weak_ptr<APMEExperimentObserverDelegate>(self<APMRemoteConfig>()));
    // Started only now, with the client registered and answering: the start-up arms the first
    // fetch and asks the clients then whether it should go out.
    experimentManager->startTaskManager();
    if (!client) return;
    experimentManager_ = experimentManager;
    experimentClient_ = client;
    // A snapshot fetched in an earlier launch and not activated then is activated now.
    NSErrorPtr error;
    if (!client->activateLatestSnapshot(&error) && error) {
        APMMeasurementMonitor()->logWithLevel(2, 29023, "Cannot activate stale snapshot. Error", Value(error));
    }
}

std::vector<std::int32_t> APMRemoteConfig::experimentIDs() {
    return experimentManager_ ? experimentManager_->experimentIDs() : std::vector<std::int32_t>{};
}

bool APMRemoteConfig::hasNewSnapshot() const {
    MutexLock lock(mutex_);
    return hasNewSnapshot_;
}

bool APMRemoteConfig::activateNewSnapshot() {
    if (!experimentClient_ || !hasNewSnapshot()) return false;
    NSErrorPtr error;
    if (!experimentClient_->activateLatestSnapshot(&error)) {
        APMMeasurementMonitor()->logWithLevel(2, 29024, "Cannot activate snapshot. Error", error ? Value(error) : Value());
        return false;
    }
    MutexLock lock(mutex_);
    hasNewSnapshot_ = false;
    return true;
}

void APMRemoteConfig::clientDidReceiveNewSnapshot(APMEClient& client) {
    static_cast<void>(client);
    MutexLock lock(mutex_);
    hasNewSnapshot_ = true;
}

void APMRemoteConfig::clientDidReceiveFetchError(APMEClient& client, const NSErrorPtr& error) {
    static_cast<void>(client);
    if (error) APMMeasurementMonitor()->logWithLevel(2, 29025, "Cannot fetch experiment. Error", Value(error));
}

bool APMRemoteConfig::shouldFetchExperimentsForClient(APMEClient& client) {
    static_cast<void>(client);
    auto engine = APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
    return engine && engine->isEnabled();
}

bool APMRemoteConfig::experimentFlagOrSetting(const char* flag, std::string_view key) {
    if (experimentClient_) {
        const Value value = experimentClient_->experimentValueForFlag(flag);
        if (!value.isNull()) return value.boolValue();
    }
    return flagFromCacheWithKey(key, 0);
}

std::string APMRemoteConfig::measurementHost() {
    const std::string host = NSUserDefaults::standardUserDefaults()->stringForKey(kMeasurementHostDefaultsKey);
    return host.empty() ? kDefaultMeasurementHost : host;
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromData(const NSData& data) {
    if (data.size() > kMaxConfigurationSize) {
        APMMeasurementMonitor()->logWithLevel(4, 29011, "Configuration is too large. Size (bytes)",
                                Value(static_cast<std::int64_t>(data.size())));
        return nullptr;
    }
    auto config = APMPBMeasurementConfig::initWithBuffer(data);
    if (!config || !config->protoBuffer()) {
        APMMeasurementMonitor()->logWithLevel(2, 23135, "Configuration data is invalid.");
        return nullptr;
    }
    return config;
}

void APMRemoteConfig::connectStorageHooks(std::function<std::shared_ptr<APMRemoteConfig>()> current) {
    if (!current) {
        APMDatabase::setLimitsProvider(nullptr);
        APMPersistedConfig::setStoreChoiceProvider(nullptr);
        return;
    }
    APMDatabase::setLimitsProvider(APMKeptRemoteConfigReading<APMDatabaseLimits>(
        current, [](APMRemoteConfig& config) { return config.databaseLimits(); }));
    // Only a configuration of the engine's own decides where the settings live next launch.
    APMPersistedConfig::setStoreChoiceProvider([current]() -> std::optional<bool> {
        auto config = current();
        if (!config || config == defaultInstance()) return std::nullopt;
        return config->persistentConfigInApplicationSupportEnabled();
    });
}

void APMRemoteConfig::setIdentifiersOriginProvider(std::function<std::string()> provider) {
    MutexLock lock(mutex_);
    identifiersOrigin_ = std::move(provider);
}

bool APMRemoteConfig::updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config,
                                              NSErrorPtr* error) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("updateMeasurementConfig");
    if (isDefaultInstance_) {
        APMMeasurementMonitor()->logWithLevel(2, 29002, "Cannot update the default measurement configuration");
        APMSetError(error, APMErrorFailedPrecondition, "The built-in default configuration is never replaced");
        return false;
    }
    if (!config) {
        APMMeasurementMonitor()->logWithLevel(5, 29003, "Cannot set empty measurement config to database");
        APMSetError(error, APMErrorInvalidArgument, "There is no configuration");
        return false;
    }
    std::function<std::string()> origin;
    {
        MutexLock lock(mutex_);
        origin = identifiersOrigin_;
    }
    const std::string zevivAppID = APMPBMessageGetString(config, APMPBMeasurementConfig::kZevivAppId).value_or("");
    if (origin && origin() == "am" && zevivAppID != appID_) {
        APMMeasurementMonitor()->logWithLevel(2, 29022, "Cannot set measurement config when ZeViv App ID does not match");
        APMSetError(error, APMErrorInvalidArgument, mismatchedAppID("ZeViv app id (field 6)", zevivAppID, appID_));
        return false;
    }
    if (configAppID(config) != appID_) {
        APMMeasurementMonitor()->logWithLevel(2, 29004, "Cannot set measurement config when Vizudi App ID does not match");
        APMSetError(error, APMErrorInvalidArgument, mismatchedAppID("app id (field 1)", configAppID(config), appID_));
        return false;
    }
    auto database = database_.lock();
    NSErrorPtr storeError;
    if (!database || !database->updateRemoteConfig(config, &storeError)) {
        APMMeasurementMonitor()->logWithLevel(1, 29005, "Cannot store config into the database", Value(storeError));
        APMSetError(error, APMErrorStorage,
                    "The database could not store it: " +
                        (storeError ? storeError->localizedDescription() : std::string("the database is closed")));
        return false;
    }
    {
        MutexLock lock(mutex_);
        remoteConfigProto_ = config;
    }
    parseRemoteConfigFromMeasurementConfig(config);
    return true;
}

void APMRemoteConfig::parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config) {
    std::string uploadSubdomain;
    if (auto subdomain = config ? APMPBMessageGetString(config, APMPBMeasurementConfig::kUploadSubdomain)
                                : std::nullopt) {
        if (isHostLabel(*subdomain)) {
            uploadSubdomain = *subdomain;
        } else {
            APMMeasurementMonitor()->logWithLevel(
                4, 29030, "Upload sub-domain is not a host label. Uploads go to the measurement host. Sub-domain",
                Value("\"" + *subdomain + "\""));
        }
    }
    {
        MutexLock lock(mutex_);
        cachedUploadSubdomain_ = std::move(uploadSubdomain);
    }
    const auto settings = config ? APMPBMessageGetArray<APMPBSetting>(config, APMPBMeasurementConfig::kSettings)
                                 : std::nullopt;
    if (!settings || settings->empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 29012, "Cannot parse empty measurement config. Using default values");
        return;
    }
    if (configAppID(config) != appID_) return;

    SettingCache values;
    for (const Value& item : *settings) {
        auto setting = item.objectAs<APMPBSetting>();
        const auto name = APMPBMessageGetString(setting, APMPBSetting::kName);
        const auto value = APMPBMessageGetString(setting, APMPBSetting::kValue);
        if (!name || name->empty() || !value) {
            APMMeasurementMonitor()->logWithLevel(5, 29019, "Cannot cache empty configuration value");
            continue;
        }
        values[*name] = CachedSetting{*value, std::nullopt};
    }

    std::map<std::string, std::shared_ptr<APMPBEventConfig>> eventConfigs;
    const auto& internalNames = APMInternalEventNamesByPublicName();
    for (const Value& item :
         APMPBMessageGetArray<APMPBEventConfig>(config, APMPBMeasurementConfig::kEventConfig).value_or(Value::Array{})) {
        auto eventConfig = item.objectAs<APMPBEventConfig>();
        std::string name = APMPBMessageGetString(eventConfig, APMPBEventConfig::kName).value_or("");
        if (name.empty()) {
            APMMeasurementMonitor()->logWithLevel(5, 29013, "Cannot cache event configuration with an empty configuration name");
            continue;
        }
        if (auto internal = internalNames.find(name); internal != internalNames.end()) name = internal->second;
        eventConfigs[name] = eventConfig;
    }
    if (APMPBMessageHasField(config, APMPBMeasurementConfig::kVersion)) {
        APMMeasurementMonitor()->logWithLevel(7, 29014, "Successfully parsed a configuration. Version",
                                Value(APMPBMessageGetInt64(config, APMPBMeasurementConfig::kVersion)));
    }
    {
        // In force before the program loads: its instructions may read them.
        MutexLock lock(mutex_);
        cachedValueByRemoteConfigKeys_ = std::move(values);
        cachedEventConfigByEventName_ = std::move(eventConfigs);
        gSettingsChanges.fetch_add(1, std::memory_order_acq_rel);
    }

    const auto programs = APMPBMessageGetEncodedArray(config, APMPBMeasurementConfig::kDynamicEventEditing);
    if (programs && !programs->empty()) {
        if (!loadEventEditingProgram(programs->front())) return;
        APMMeasurementMonitor()->logWithLevel(7, 29027, "Loading Event Modification and Creation programs",
                                              Value(static_cast<long long>(programs->size())));
    }

    std::vector<std::string> dataControls;
    for (const Value& item :
         APMPBMessageGetArray<APMPBDataControl>(config, APMPBMeasurementConfig::kDataControls).value_or(Value::Array{})) {
        if (auto name = APMPBMessageGetString(item.objectAs<APMPBDataControl>(), APMPBDataControl::kName)) {
            dataControls.push_back(*name);
        }
    }

    MutexLock lock(mutex_);
    cachedDataControls_ = std::move(dataControls);
}

bool APMRemoteConfig::loadEventEditingProgram(const NSData& encodedProgram) {
    // Decoded only now, so a program too deep or damaged is refused alone.
    const std::shared_ptr<APMPBProgram> program = APMPBProgram::initWithBuffer(encodedProgram);
    std::shared_ptr<APMScriptContext> context;
    {
        MutexLock lock(mutex_);
        if (!programContext_) {
            programContext_ = std::make_shared<APMRemoteConfigProgramContext>(
                std::static_pointer_cast<APMRemoteConfig>(shared_from_this()));
        }
        context = programContext_;
    }
    std::shared_ptr<APMPEventEditing> editing = APMPEventEditing::make(memoryRelief_);
    APMRegisterScriptModules(*editing, context);
    NSErrorPtr error;
    if (!program) error = apm_errorWithCode(APMErrorInvalidArgument, "The program does not decode");
    const bool loaded = program && editing->loadProgram(program, &error);
    std::shared_ptr<APMPEventEditing> replaced = loaded ? std::move(editing) : nullptr;
    {
        MutexLock lock(mutex_);
        std::swap(eventEditing_, replaced);
    }
    // The old editor goes here, out of the lock, when this was its last reference: freeing its
    // heap takes time by what it holds, and every reader of the configuration would wait.
    replaced.reset();
    if (!loaded) {
        APMMeasurementMonitor()->logWithLevel(1, 29026, "Failed to initiate event editing instance", Value(error));
    }
    return loaded;
}

std::shared_ptr<APMPEventEditing> APMRemoteConfig::eventEditing() const {
    MutexLock lock(mutex_);
    return eventEditing_;
}

void APMRemoteConfig::setScriptContext(std::weak_ptr<APMScriptContext> context) {
    MutexLock lock(mutex_);
    scriptContext_ = std::move(context);
}

std::shared_ptr<APMPBMeasurementConfig> APMRemoteConfig::measurementConfigFromDatabase() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("measurementConfigFromDatabase");
    if (isDefaultInstance_) {
        APMMeasurementMonitor()->logWithLevel(
            2, 29015, "Cannot retrieve a measurement configuration from the database for the default instance");
        return nullptr;
    }
    auto database = database_.lock();
    NSErrorPtr error;
    auto config = database ? database->queryMeasurementConfigWithError(&error) : nullptr;
    if (error) {
        APMMeasurementMonitor()->logWithLevel(2, 29016, "Cannot retrieve configuration data from database. Error", Value(error));
        return nullptr;
    }
    if (!config) {
        APMMeasurementMonitor()->logWithLevel(7, 29017,
                                "Configuration was not found in database. The configuration will be fetched from the "
                                "network when necessary");
    }
    return config;
}

void APMRemoteConfig::reset() {
    {
        MutexLock lock(mutex_);
        cachedValueByRemoteConfigKeys_.clear();
        cachedEventConfigByEventName_.clear();
        cachedDataControls_.clear();
        cachedUploadSubdomain_.clear();
        if (!isDefaultInstance_) remoteConfigProto_.reset();
        hasNewSnapshot_ = false;
        gSettingsChanges.fetch_add(1, std::memory_order_acq_rel);
    }
    if (experimentManager_) experimentManager_->reset();
}

std::uint64_t APMRemoteConfig::settingsChangeCount() { return gSettingsChanges.load(std::memory_order_acquire); }

std::int64_t APMRemoteConfig::version() const {
    MutexLock lock(mutex_);
    if (!remoteConfigProto_ || !APMPBMessageHasField(remoteConfigProto_, APMPBMeasurementConfig::kVersion)) return -1;
    return APMPBMessageGetInt64(remoteConfigProto_, APMPBMeasurementConfig::kVersion);
}

double APMRemoteConfig::lastRemoteConfigUpdateTimestamp() {
    if (isDefaultInstance_) {
        APMMeasurementMonitor()->logWithLevel(2, 29008, "Cannot fetch the last configuration update timestamp from the default instance");
        return 0;
    }
    auto database = database_.lock();
    NSErrorPtr error;
    const auto timestamp = database ? database->lastRemoteConfigUpdateTimestamp(&error) : std::nullopt;
    if (!timestamp) {
        // No time at all is a configuration never fetched, not a failure.
        if (error || !database) {
            APMMeasurementMonitor()->logWithLevel(4, 29009, "Failed to query last configuration update timestamp. Error",
                                    Value(error));
        }
        return 0;
    }
    return *timestamp;
}

bool APMRemoteConfig::isExpired() {
    if (isDefaultInstance_) {
        APMMeasurementMonitor()->logWithLevel(2, 29007, "Cannot fetch the last update timestamp from the default configuration");
        return false;
    }
    return std::fabs(Clock::now() - lastRemoteConfigUpdateTimestamp()) >= remoteConfigCacheTimeInterval();
}

std::shared_ptr<NSURL> APMRemoteConfig::uploadURL() const {
    std::string subdomain;
    {
        MutexLock lock(mutex_);
        if (remoteConfigProto_) subdomain = cachedUploadSubdomain_;
    }
    const std::string host = subdomain.empty() ? measurementHost() : subdomain + "." + measurementHost();
    return NSURL::URLWithString("https://" + host + "/a");
}

std::shared_ptr<NSURL> APMRemoteConfig::remoteConfigURLWithAppInstanceID(const std::string& appInstanceID,
                                                                        const std::string& platform,
                                                                        std::int64_t SDKVersion,
                                                                        std::int64_t runtimeVersion,
                                                                        bool analyticsStorageDenied) const {
    const std::string instance = analyticsStorageDenied ? std::string() : appInstanceID;
    if ((!analyticsStorageDenied && appInstanceID.empty()) || platform.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 29010,
                                "Cannot create a URL to fetch a configuration with empty app instance ID or empty "
                                "platform (app instance, platform)",
                                Value(appInstanceID), Value(platform));
        return nullptr;
    }
    const Value::Dictionary query = {{"app_instance_id", Value(instance)},
                                     {"platform", Value(platform)},
                                     {"vuv_version", Value(static_cast<long long>(SDKVersion))},
                                     {"runtime_version", Value(static_cast<long long>(runtimeVersion))}};
    const std::string path =
        stringByAddingPercentEncodingWithAllowedCharacters(appID_, URLAllowedCharacterSet::URLPathAllowed()
                                                                       .removingCharactersInString("/?#"));
    return NSURL::URLWithString("https://" + measurementHost() + "/config/app/" + path + "?" + apm_queryString(query));
}

std::shared_ptr<APMPBEventConfig> APMRemoteConfig::eventConfigWithName(const std::string& name) const {
    if (name.empty()) {
        APMMeasurementMonitor()->logWithLevel(5, 29006, "Cannot find event config with empty event name");
        return nullptr;
    }
    MutexLock lock(mutex_);
    auto found = cachedEventConfigByEventName_.find(name);
    return found == cachedEventConfigByEventName_.end() ? nullptr : found->second;
}

bool APMRemoteConfig::isEventBlocklisted(const std::string& name) {
    auto config = eventConfigWithName(name);
    if (config && APMPBMessageHasField(config, APMPBEventConfig::kBlocklisted) &&
        APMPBMessageGetBool(config, APMPBEventConfig::kBlocklisted)) {
        return true;
    }
    return APMIsPublicName(Value(name)) ? blocklistPublic() : blocklistInternal();
}

bool APMRemoteConfig::isEventCustomConversion(const std::string& name) const {
    auto config = eventConfigWithName(name);
    return config && APMPBMessageGetBool(config, APMPBEventConfig::kCustomConversion);
}

bool APMRemoteConfig::eventHasSamplingRate(const std::string& name) const {
    auto config = eventConfigWithName(name);
    return config && APMPBMessageHasField(config, APMPBEventConfig::kSamplingRate);
}

std::int32_t APMRemoteConfig::samplingRateForEvent(const std::string& name) const {
    auto config = eventConfigWithName(name);
    if (!config || !APMPBMessageHasField(config, APMPBEventConfig::kSamplingRate)) return 1;
    const std::int32_t rate = APMPBMessageGetInt32(config, APMPBEventConfig::kSamplingRate);
    return rate >= 2 && rate <= 65535 ? rate : 1;
}

std::vector<std::string> APMRemoteConfig::dataControls() const {
    MutexLock lock(mutex_);
    return cachedDataControls_;
}

// MARK: Typed reading

double APMRemoteConfig::numberFromCacheWithKey(std::string_view key, double defaultValue, double maxValue,
                                               double minValue, const Converter& convert) {
    if (key.empty()) {
        APMMeasurementMonitor()->logWithLevel(7, 29020, "Cannot get setting with empty key from cache");
        return defaultValue;
    }
    std::optional<std::string> refused;
    double result = defaultValue;
    {
        MutexLock lock(mutex_);
        auto found = cachedValueByRemoteConfigKeys_.find(key);
        if (found == cachedValueByRemoteConfigKeys_.end()) {
            cachedValueByRemoteConfigKeys_.emplace(std::string(key), CachedSetting{std::nullopt, defaultValue});
            return defaultValue;
        }
        if (found->second.number) return *found->second.number;
        const std::string text = found->second.text.value_or("");
        std::optional<double> number = decimalNumber(text);
        if (number && convert) number = convert(*number);
        if (number && *number >= minValue && *number <= maxValue) {
            result = *number;
        } else {
            refused = text;
        }
        found->second.number = result;
    }
    // Logged once: the default now stands in the cache for the refused text.
    if (refused) {
        APMMeasurementMonitor()->logWithLevel(4, 29021,
                                "Configuration value is not a number within its range. Using the default value. Key, "
                                "value",
                                Value(key), Value(*refused));
    }
    return result;
}

std::int32_t APMRemoteConfig::intValueFromCacheWithKey(std::string_view key, std::int32_t defaultValue,
                                                       std::int32_t maxValue, std::int32_t minValue) {
    return static_cast<std::int32_t>(numberFromCacheWithKey(key, defaultValue, maxValue, minValue, nullptr));
}

std::int64_t APMRemoteConfig::int64ValueFromCacheWithKey(std::string_view key, std::int64_t defaultValue,
                                                         std::int64_t maxValue, std::int64_t minValue) {
    return static_cast<std::int64_t>(numberFromCacheWithKey(key, static_cast<double>(defaultValue),
                                                            static_cast<double>(maxValue),
                                                            static_cast<double>(minValue), nullptr));
}

double APMRemoteConfig::timeIntervalInSecondsFromCacheWithKey(std::string_view key, double defaultValue,
                                                              double maxValue, double minValue) {
    return numberFromCacheWithKey(key, defaultValue, maxValue, minValue, millisecondsToSeconds);
}

std::optional<std::string> APMRemoteConfig::cachedStringValueForKey(const std::string& key) const {
    MutexLock lock(mutex_);
    auto found = cachedValueByRemoteConfigKeys_.find(key);
    if (found == cachedValueByRemoteConfigKeys_.end()) return std::nullopt;
    return found->second.text;
}

bool APMRemoteConfig::flagFromCacheWithKey(std::string_view key, std::int32_t defaultValue) {
    return intValueFromCacheWithKey(key, defaultValue, 1, 0) == 1;
}

// MARK: Settings

double APMRemoteConfig::uploadingBackoffInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.backoff_period", 43200, 604800, 3600);
}
std::int32_t APMRemoteConfig::maxAudienceCount() {
    return intValueFromCacheWithKey("measurement.audience.max_count", 50, 500, 0);
}
std::int32_t APMRemoteConfig::maxFiltersPerAudience() {
    return intValueFromCacheWithKey("measurement.audience.filter_max_count_per_audience", 10, 100, 0);
}
std::int32_t APMRemoteConfig::maxFilterResultCount() {
    return intValueFromCacheWithKey("measurement.audience.filter_result_max_count", 200, 2000, 0);
}
std::int32_t APMRemoteConfig::maxParametersPerFilter() {
    return intValueFromCacheWithKey("measurement.audience.parameter_max_count_filter", 25, 250, 0);
}
double APMRemoteConfig::databaseDeleteStaleBundlesInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.stale_data_deletion_interval", 86400, 604800,
                                                 3600);
}
double APMRemoteConfig::maxQueueTime() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.max_queue_time", 2419200, 7862400, 604800);
}
double APMRemoteConfig::adIDCacheTime() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.ad_id_cache_time", 1, 86400, 0);
}
bool APMRemoteConfig::gateIDFAOnATTMASEnabled() {
    return intValueFromCacheWithKey("measurement.attmas_gate", 0, 1, 0) != 0;
}
double APMRemoteConfig::monitoringSamplePeriod() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.monitoring.sample_period_millis", 86400, 604800, 0);
}
// The next four switches follow an experiment that sets their flag; without one, the configuration.
bool APMRemoteConfig::isNetworkBackgroundSessionEnabled() {
    return experimentFlagOrSetting(kNetworkBackgroundSessionFlag, "measurement.network.background_session_enabled");
}
bool APMRemoteConfig::efficientEngagementReportingEnabled() {
    return experimentFlagOrSetting(kEfficientEngagementReportingFlag,
                                   "measurement.collection.efficient_engagement_reporting_enabled");
}
bool APMRemoteConfig::redundantEngagementRemovalEnabled() {
    return experimentFlagOrSetting(kRedundantEngagementRemovalFlag,
                                   "measurement.collection.redundant_engagement_removal_enabled");
}
bool APMRemoteConfig::persistentConfigInApplicationSupportEnabled() {
    return experimentFlagOrSetting(kPersistentConfigInApplicationSupportFlag,
                                   "measurement.persistent_config_in_application_support_enabled");
}
double APMRemoteConfig::networkTimeout() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.network.network_timeout", 60, 3600, 30);
}
double APMRemoteConfig::sessionDefaultMinimumInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.default_minimum_interval", 10, 86400, 0);
}
double APMRemoteConfig::sessionDefaultTimeoutInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.default_timeout_interval", 1800, 86400, 0);
}
double APMRemoteConfig::sessionEventUserEngagementInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.event_user_engagement_interval", 3600, 86400, 0);
}
bool APMRemoteConfig::configurableLimitsEnabled() {
    return flagFromCacheWithKey("measurement.upload.configurable_limits_enabled", 1);
}
std::int32_t APMRemoteConfig::maxConversionsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_conversions_per_day", 10000, 1000000, 0);
}
std::int32_t APMRemoteConfig::maxEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_events_per_day", 100000, 1000000, 0);
}
std::int32_t APMRemoteConfig::maxPublicEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_public_events_per_day", 50000, 1000000, 0);
}
std::int32_t APMRemoteConfig::maxErrorEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_error_events_per_day", 1000, 1000000, 0);
}
std::int32_t APMRemoteConfig::maxTrackedCurrencies() {
    return intValueFromCacheWithKey("measurement.lifetimevalue.max_currency_tracked", 4, 100, 1);
}
std::int32_t APMRemoteConfig::maxPublicUserProperties() {
    if (!configurableLimitsEnabled()) return 25;
    return intValueFromCacheWithKey("measurement.upload.max_public_user_properties", 25, 100, 25);
}
std::int32_t APMRemoteConfig::maxEventNameCardinality() {
    if (!configurableLimitsEnabled()) return 500;
    return intValueFromCacheWithKey("measurement.upload.max_event_name_cardinality", 500, 2000, 500);
}
std::int32_t APMRemoteConfig::maxPublicEventParams() {
    if (!configurableLimitsEnabled()) return 25;
    return intValueFromCacheWithKey("measurement.upload.max_public_event_params", 25, 100, 25);
}
std::int32_t APMRemoteConfig::maxEventsStored() {
    return intValueFromCacheWithKey("measurement.store.max_stored_events_per_app", 100000, 1000000, 0);
}
double APMRemoteConfig::uploadingInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.interval", 3600, 86400, 15);
}
double APMRemoteConfig::uploadingInitialDelayInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.initial_upload_delay_time", 15, 86400, 1);
}
std::int64_t APMRemoteConfig::uploadMaxBundlesLimit() {
    return int64ValueFromCacheWithKey("measurement.upload.max_bundles", 100, 10000, 1);
}
std::int64_t APMRemoteConfig::uploadMaxEventsPerBundle() {
    return int64ValueFromCacheWithKey("measurement.upload.max_events_per_bundle", 1000, 1000000, 1);
}
std::int64_t APMRemoteConfig::uploadMaxSizeLimitBytes() {
    return int64ValueFromCacheWithKey("measurement.upload.max_batch_size", 65536, 10485760, 0);
}
std::int32_t APMRemoteConfig::uploadingRetryCount() {
    return intValueFromCacheWithKey("measurement.upload.retry_count", 6, 24, 1);
}
double APMRemoteConfig::uploadingRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.retry_time", 1800, 86400, 60);
}
// A count, read as the number it is (not through the milliseconds reader).
std::int32_t APMRemoteConfig::maxBundlesCreatedPerIteration() {
    return intValueFromCacheWithKey("measurement.upload.max_bundles_created_per_iteration", 100, 10000, 1);
}
std::int32_t APMRemoteConfig::maxRealtimeEventCountPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_realtime_events_per_day", 10, 10, 0);
}
double APMRemoteConfig::uploadingDebugModeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.debug_upload_interval", 1, 15, 1);
}
double APMRemoteConfig::uploadingRealTimeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.realtime_upload_interval", 10, 15, 10);
}
bool APMRemoteConfig::blocklistInternal() { return flagFromCacheWithKey("measurement.upload.blacklist_internal", 0); }
bool APMRemoteConfig::blocklistPublic() { return flagFromCacheWithKey("measurement.upload.blacklist_public", 0); }
bool APMRemoteConfig::isEventSamplingEnabled() { return flagFromCacheWithKey("measurement.event_sampling_enabled", 0); }
std::int32_t APMRemoteConfig::analyticsAccountTimeZoneOffsetMinutes() {
    return intValueFromCacheWithKey("measurement.account.time_zone_offset_minutes", 0, 900, -900);
}
bool APMRemoteConfig::checksumEnabled() { return flagFromCacheWithKey("measurement.quality.checksum", 0); }
bool APMRemoteConfig::appBackgroundedEventEnabled() {
    return flagFromCacheWithKey("measurement.lifecycle.app_backgrounded_tracking", 1);
}
bool APMRemoteConfig::appInBackgroundParameterEnabled() {
    return flagFromCacheWithKey("measurement.lifecycle.app_in_background_parameter", 1);
}
bool APMRemoteConfig::lastAdvertisingIDResetFeatureEnabled() {
    return flagFromCacheWithKey("measurement.last_advertising_id_reset_feature_enabled", 1);
}
bool APMRemoteConfig::eesFeatureEnabled() { return flagFromCacheWithKey("measurement.ees_feature_enabled", 1); }
bool APMRemoteConfig::PSMFeatureEnabled() { return flagFromCacheWithKey("measurement.psm_enabled", 1); }
std::int32_t APMRemoteConfig::maxPSMStartCount() {
    if (APMMeasurementMonitor()->isDebugModeEnabled()) return 10;
    return intValueFromCacheWithKey("measurement.psm_start_count", 3, 10, 0);
}
std::int32_t APMRemoteConfig::maxPSMRetryCount() { return intValueFromCacheWithKey("measurement.psm_retry_count", 5, 10, 0); }
double APMRemoteConfig::PSMRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.psm_retry_interval", 300, 1800, 30);
}
bool APMRemoteConfig::isDeferredDeepLinkEnabled() {
    return intValueFromCacheWithKey("measurement.ddl.enabled", 1, 1, 0) != 0;
}
std::int32_t APMRemoteConfig::maxDeferredDeepLinkRetryCount() {
    return intValueFromCacheWithKey("measurement.ddl.retry_count", 5, 10, 0);
}
double APMRemoteConfig::attributionCacheTTLInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.attribution.cache.ttl", 604800, 2592000, 86400);
}
double APMRemoteConfig::remoteConfigCacheTimeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.config.cache_time", 3600, 86400, 60);
}
bool APMRemoteConfig::isConsentSettingsEnabled() { return flagFromCacheWithKey("measurement.api.consent_settings", 1); }
bool APMRemoteConfig::isConsentSettings3PEnabled() {
    return flagFromCacheWithKey("measurement.api.consent_settings_3p", 1);
}

APMDatabaseLimits APMRemoteConfig::databaseLimits() {
    return {maxEventsStored(), maxQueueTime(), databaseDeleteStaleBundlesInterval(), maxTrackedCurrencies()};
}
