// The persisted measurement settings.
#include "analytics/core/APMPersistedConfig.h"

#include "analytics/core/APMCaughtException.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistentDictionary.h"
#include "analytics/core/APMUserDefaults.h"
#include "platform/dispatch/DispatchBlock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/SecureRandom.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr const char* kSuiteName = "com.vizudi.vuv.measurement";
constexpr const char* kAnalyticsSuite = "APMAnalyticsSuiteName";
constexpr const char* kAppSupportSwitchKey = "persistent_config_in_application_support_enabled";

// A setting's full key, made once per setting: settings are read on every event.
template <std::size_t N>
struct SettingName {
    char text[N];
    constexpr SettingName(const char (&name)[N]) { std::copy_n(name, N, text); }
};

template <SettingName name>
const std::string& key() {
    static const std::string full = std::string("/vizudi/measurement/") + name.text;
    return full;
}

Mutex gProviderMutex;
APMPersistedConfig::StoreChoiceProvider gStoreChoiceProvider GUARDED_BY(gProviderMutex);

// What a property list can hold, all the way down.
bool isPropertyListValue(const Value& value) {
    switch (value.type()) {
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Unsigned:
        case Value::Type::Double:
        case Value::Type::String:
        case Value::Type::Data:
        case Value::Type::Date:
            return true;
        case Value::Type::Array:
            for (const Value& item : value.array()) {
                if (!isPropertyListValue(item)) return false;
            }
            return true;
        case Value::Type::Dictionary:
            for (const auto& [k, item] : value.dictionary()) {
                if (!isPropertyListValue(item)) return false;
            }
            return true;
        default:
            return false;
    }
}

Value optionalString(const std::optional<std::string>& value) { return value ? Value(*value) : Value(); }

}  // namespace

namespace {

Mutex gSharedMutex;
// Never destroyed: work still queued at exit may use it.
std::shared_ptr<APMPersistedConfig>* gShared GUARDED_BY(gSharedMutex) = nullptr;

}  // namespace

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::sharedInstance() {
    std::shared_ptr<APMPersistedConfig> shared;
    {
        MutexLock lock(gSharedMutex);
        if (!gShared) gShared = new std::shared_ptr<APMPersistedConfig>(initWithSuiteName(kSuiteName));
        shared = *gShared;
    }
    if (!shared) APMMeasurementMonitor()->logWithLevel(1, 27001, "PersistedConfig's shared instance is nil");
    return shared;
}

void APMPersistedConfig::resetSharedInstance() {
    std::shared_ptr<APMPersistedConfig> old;
    {
        MutexLock lock(gSharedMutex);
        if (!gShared) return;
        old = std::move(*gShared);
        delete gShared;
        gShared = nullptr;
    }
    // Pending writes reach the file of the home it was made in.
    if (old) old->synchronizeToDisk();
}

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(const std::string& suiteName) {
    if (suiteName.empty()) return nullptr;
    auto config = std::make_shared<APMPersistedConfig>();
    config->name_ = suiteName;
    if (persistentConfigInApplicationSupportEnabled()) {
        // Not fatal: the settings then start afresh in Application Support and the old file stays put.
        if (!APMMoveSuitePlistToApplicationSupport(suiteName)) {
            APMMeasurementMonitor()->logWithLevel(2, 27003, "Failed to move the settings file to Application Support",
                                                  Value(suiteName));
        }
        config->userDefaults_ = APMPersistentDictionary::initWithFileName(suiteName);
        config->usesApplicationSupport_ = config->userDefaults_ != nullptr;
    }
    if (!config->userDefaults_) {
        if (!APMMoveSuitePlistToPreferences(suiteName)) {
            APMMeasurementMonitor()->logWithLevel(2, 27004, "Failed to move the settings file to Preferences",
                                                  Value(suiteName));
        }
        config->userDefaults_ = APMUserDefaults::initWithSuiteName(suiteName);
    }
    config->shouldCheckConfigStoreMigrationFlag_ = true;
    config->serialQueue_ = DispatchQueue::create("APMPersistedConfig");
    config->serialQueue_->setSpecific(config.get(), Value(true));
    return config;
}

std::shared_ptr<APMPersistedConfig> APMPersistedConfig::initWithSuiteName(const std::string& suiteName,
                                                                          std::shared_ptr<APMConfigStore> store) {
    if (suiteName.empty() || !store) return nullptr;
    auto config = std::make_shared<APMPersistedConfig>();
    config->name_ = suiteName;
    config->userDefaults_ = std::move(store);
    config->serialQueue_ = DispatchQueue::create("APMPersistedConfig");
    config->serialQueue_->setSpecific(config.get(), Value(true));
    return config;
}

APMPersistedConfig::~APMPersistedConfig() {
    if (synchronizeBlock_) synchronizeBlock_->cancel();
}

bool APMPersistedConfig::persistentConfigInApplicationSupportEnabled() {
    return APMUserDefaults::initWithSuiteName(kAnalyticsSuite)->boolForKey(kAppSupportSwitchKey);
}

void APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(bool enabled) {
    auto suite = APMUserDefaults::initWithSuiteName(kAnalyticsSuite);
    suite->setBool(enabled, kAppSupportSwitchKey);
    suite->synchronize();
}

void APMPersistedConfig::setStoreChoiceProvider(StoreChoiceProvider provider) {
    MutexLock lock(gProviderMutex);
    gStoreChoiceProvider = std::move(provider);
}

void APMPersistedConfig::runOnQueue(const std::function<void()>& block) {
    // Work already on the settings queue runs at once instead of waiting on itself.
    if (DispatchQueue::getSpecific(this).boolValue()) {
        block();
        return;
    }
    serialQueue_->sync(block);
}

Value APMPersistedConfig::storedObject(const std::string& key) {
    // Read before the value: a change racing the read leaves the value under an older stamp,
    // which the next reader sees moved.
    const std::optional<std::uint64_t> stamp = userDefaults_->changeStamp();
    if (stamp) {
        MutexLock lock(keptMutex_);
        if (keptStamp_ == stamp) {
            if (auto found = kept_.find(key); found != kept_.end()) return found->second;
        }
    }
    Value value;
    runOnQueue([&] { value = userDefaults_->objectForKey(key); });
    if (stamp) {
        MutexLock lock(keptMutex_);
        if (keptStamp_ != stamp) {
            kept_.clear();
            keptStamp_ = stamp;
        }
        kept_[key] = value;
    }
    return value;
}

bool APMPersistedConfig::shouldCheckConfigStoreMigrationFlag() const {
    bool flag = false;
    const_cast<APMPersistedConfig*>(this)->runOnQueue([&] { flag = shouldCheckConfigStoreMigrationFlag_; });
    return flag;
}

bool APMPersistedConfig::boolForKey(const std::string& key) { return int64ForKey(key) != 0; }

std::int64_t APMPersistedConfig::int64ForKey(const std::string& key) {
    const Value value = storedObject(key);
    return value.isNumber() ? static_cast<std::int64_t>(value.longLongValue()) : 0;
}

std::int64_t APMPersistedConfig::int64ForKey(const std::string& key, APMConfigStore& store) {
    const Value value = store.objectForKey(key);
    return value.isNumber() ? static_cast<std::int64_t>(value.longLongValue()) : 0;
}

double APMPersistedConfig::doubleForKey(const std::string& key) {
    const Value stored = storedObject(key);
    return stored.isNumber() ? stored.doubleValue() : 0;
}

std::optional<std::string> APMPersistedConfig::stringForKey(const std::string& key) {
    const Value stored = storedObject(key);
    if (!stored.isString()) return std::nullopt;
    return stored.string();
}

std::optional<Value::Dictionary> APMPersistedConfig::dictionaryForKey(const std::string& key) {
    const Value stored = storedObject(key);
    if (!stored.isDictionary()) return std::nullopt;
    return stored.dictionary();
}

void APMPersistedConfig::typedWrite(const std::string& key, const Value& value) {
    runOnQueue([&] { userDefaults_->setObject(value, key); });
    scheduleSynchronizeToDisk();
}

void APMPersistedConfig::setBool(bool value, const std::string& key) {
    typedWrite(key, Value(static_cast<long long>(value ? 1 : 0)));
}

void APMPersistedConfig::setInt64(std::int64_t value, const std::string& key) {
    typedWrite(key, Value(static_cast<long long>(value)));
}

void APMPersistedConfig::setDouble(double value, const std::string& key) { typedWrite(key, Value(value)); }

void APMPersistedConfig::setString(const std::optional<std::string>& value, const std::string& key) {
    typedWrite(key, optionalString(value));
}

void APMPersistedConfig::setDictionary(const std::optional<Value::Dictionary>& value, const std::string& key) {
    runOnQueue([&] {
        try {
            if (value && !isPropertyListValue(Value(*value))) {
                // Stored as is, it would make every later write of the file fail.
                APMMeasurementMonitor()->logWithLevel(1, 27002, "Unsupported value passed in dictionary");
                return;
            }
            userDefaults_->setObject(value ? Value(*value) : Value(), key);
        } catch (...) {
            APMMeasurementMonitor()->logWithLevel(1, 27002, "Unsupported value passed in dictionary",
                                                  Value(APMCaughtException::fromExceptionPtr(std::current_exception())));
        }
    });
    scheduleSynchronizeToDisk();
}

Value APMPersistedConfig::objectForKey(const std::string& key) { return storedObject(key); }

void APMPersistedConfig::setObject(const Value& value, const std::string& key) {
    runOnQueue([&] { userDefaults_->setObject(value, key); });
}

void APMPersistedConfig::clearValues() {
    runOnQueue([&] { userDefaults_->clearAllData(); });
}

void APMPersistedConfig::scheduleSynchronizeToDisk() {
    runOnQueue([&] {
        if (synchronizeBlock_) synchronizeBlock_->cancel();
        std::weak_ptr<APMPersistedConfig> weak = weakSelf<APMPersistedConfig>();
        synchronizeBlock_ = DispatchBlock::create([weak] {
            if (auto strong = weak.lock()) strong->synchronizeToDisk();
        });
        serialQueue_->after(1.0, synchronizeBlock_);
        updateConfigStoreMigrationFlagIfNeeded();
    });
}

void APMPersistedConfig::cancelScheduledSynchronize() {
    runOnQueue([&] {
        if (synchronizeBlock_) synchronizeBlock_->cancel();
        synchronizeBlock_.reset();
    });
}

void APMPersistedConfig::synchronizeToDisk() {
    runOnQueue([&] { userDefaults_->synchronize(); });
}

void APMPersistedConfig::persistPendingToDisk() {
    runOnQueue([&] {
        if (auto file = std::dynamic_pointer_cast<APMPersistentDictionary>(userDefaults_)) {
            (void)file->persistPendingToDisk();  // a failure has been logged
        } else {
            userDefaults_->synchronize();
        }
    });
}

void APMPersistedConfig::updateConfigStoreMigrationFlagIfNeeded() {
    runOnQueue([&] {
        if (!shouldCheckConfigStoreMigrationFlag_) return;
        StoreChoiceProvider provider;
        {
            MutexLock lock(gProviderMutex);
            provider = gStoreChoiceProvider;
        }
        if (!provider) return;
        auto choice = provider();
        if (!choice) return;
        setPersistentConfigInApplicationSupportEnabled(*choice);
        shouldCheckConfigStoreMigrationFlag_ = false;
    });
}

double APMPersistedConfig::lastDeleteStaleBundlesTimestamp() { return doubleForKey(key<"last_delete_stale">()); }
void APMPersistedConfig::setLastDeleteStaleBundlesTimestamp(double v) { setDouble(v, key<"last_delete_stale">()); }

Value APMPersistedConfig::searchAdCampaignValue() { return userDefaults_->objectForKey(key<"is_search_ad_campaign">()); }
void APMPersistedConfig::setSearchAdCampaignValue(const Value& v) {
    if (v.isNumber()) userDefaults_->setObject(v, key<"is_search_ad_campaign">());
}

double APMPersistedConfig::lastSearchAdLookUpTimestamp() {
    return doubleForKey(key<"search_ad_last_attempt_timestamp">());
}
void APMPersistedConfig::setLastSearchAdLookUpTimestamp(double v) {
    setDouble(v, key<"search_ad_last_attempt_timestamp">());
}

std::int64_t APMPersistedConfig::searchAdRetryCount() { return int64ForKey(key<"search_ad_number_of_retries">()); }
void APMPersistedConfig::setSearchAdRetryCount(std::int64_t v) { setInt64(v, key<"search_ad_number_of_retries">()); }

std::optional<std::string> APMPersistedConfig::appInstanceID() { return stringForKey(key<"app_instance_id">()); }
void APMPersistedConfig::setAppInstanceID(const std::optional<std::string>& v) { setString(v, key<"app_instance_id">()); }

std::optional<std::string> APMPersistedConfig::appIDFromVUV() { return stringForKey(key<"vuv_app_id">()); }
void APMPersistedConfig::setAppIDFromVUV(const std::optional<std::string>& v) { setString(v, key<"vuv_app_id">()); }

std::optional<std::string> APMPersistedConfig::appIDFromZeViv() { return stringForKey(key<"zeviv_app_id">()); }
void APMPersistedConfig::setAppIDFromZeViv(const std::optional<std::string>& v) { setString(v, key<"zeviv_app_id">()); }

std::optional<std::string> APMPersistedConfig::hashedResettableDeviceID() { return stringForKey(key<"hashed_idfa">()); }
void APMPersistedConfig::setHashedResettableDeviceID(const std::optional<std::string>& v) {
    setString(v, key<"hashed_idfa">());
}

std::optional<std::string> APMPersistedConfig::diversionKey() { return stringForKey(key<"diversion_key">()); }
void APMPersistedConfig::setDiversionKey(const std::optional<std::string>& v) { setString(v, key<"diversion_key">()); }

std::int64_t APMPersistedConfig::measurementEnabledState() {
    std::int64_t value = 0;
    runOnQueue([&] { value = int64ForKey(key<"measurement_enabled_state">(), *APMUserDefaults::standardUserDefaults()); });
    return value;
}

void APMPersistedConfig::setMeasurementEnabledState(std::int64_t state) {
    runOnQueue([&] {
        auto standard = APMUserDefaults::standardUserDefaults();
        standard->setInteger(state, key<"measurement_enabled_state">());
        standard->synchronize();
    });
}

double APMPersistedConfig::lastBackoffTimestamp() { return doubleForKey(key<"last_backoff">()); }
void APMPersistedConfig::setLastBackoffTimestamp(double v) { setDouble(v, key<"last_backoff">()); }

double APMPersistedConfig::lastSuccessfulUploadTimestamp() { return doubleForKey(key<"last_successful_upload">()); }
void APMPersistedConfig::setLastSuccessfulUploadTimestamp(double v) { setDouble(v, key<"last_successful_upload">()); }

double APMPersistedConfig::lastFailedUploadTimestamp() { return doubleForKey(key<"last_failed_upload">()); }
void APMPersistedConfig::setLastFailedUploadTimestamp(double v) { setDouble(v, key<"last_failed_upload">()); }

std::optional<std::string> APMPersistedConfig::appVersion() { return stringForKey(key<"app_version">()); }
void APMPersistedConfig::setAppVersion(const std::optional<std::string>& v) { setString(v, key<"app_version">()); }

std::optional<std::string> APMPersistedConfig::osVersion() { return stringForKey(key<"os_version">()); }
void APMPersistedConfig::setOSVersion(const std::optional<std::string>& v) { setString(v, key<"os_version">()); }

double APMPersistedConfig::midnightOffset() {
    if (const Value stored = storedObject(key<"midnight_offset">()); stored.isNumber()) return stored.doubleValue();
    double offset = 0;
    bool drawn = false;
    // Read, draw and store in one block, so two first readers cannot draw different offsets.
    runOnQueue([&] {
        const Value stored = userDefaults_->objectForKey(key<"midnight_offset">());
        if (stored.isNumber()) {
            offset = stored.doubleValue();
            return;
        }
        offset = static_cast<double>(SecureRandom::uniform(86400000u)) / 1000.0;
        userDefaults_->setObject(Value(offset), key<"midnight_offset">());
        drawn = true;
    });
    if (drawn) scheduleSynchronizeToDisk();
    return offset;
}

double APMPersistedConfig::lastMonitorDataSampledTimestamp() {
    return doubleForKey(key<"last_monitor_data_sampled_timestamp">());
}
void APMPersistedConfig::setLastMonitorDataSampledTimestamp(double v) {
    setDouble(v, key<"last_monitor_data_sampled_timestamp">());
}

std::int64_t APMPersistedConfig::firstOpenTimestampMilliseconds() { return int64ForKey(key<"first_open_timestamp_ms">()); }
void APMPersistedConfig::setFirstOpenTimestampMilliseconds(std::int64_t v) {
    setInt64(v, key<"first_open_timestamp_ms">());
}

Value APMPersistedConfig::configServerLastModifiedString() { return objectForKey(key<"last_modified_since_key">()); }
void APMPersistedConfig::setConfigServerLastModifiedString(const std::optional<std::string>& v) {
    setString(v, key<"last_modified_since_key">());
}

std::optional<std::string> APMPersistedConfig::configServerETag() { return stringForKey(key<"config_etag">()); }
void APMPersistedConfig::setConfigServerETag(const std::optional<std::string>& v) { setString(v, key<"config_etag">()); }

Value APMPersistedConfig::loadTimestampValue() { return objectForKey(key<"load_timestamp">()); }
void APMPersistedConfig::setLoadTimestampValue(const Value& v) { setObject(v, key<"load_timestamp">()); }

Value APMPersistedConfig::allowPersonalizedAds() { return objectForKey(key<"allow_personalized_ads">()); }
void APMPersistedConfig::setAllowPersonalizedAds(const Value& v) { setObject(v, key<"allow_personalized_ads">()); }

std::optional<std::string> APMPersistedConfig::rezaviviFeatureRollouts() {
    return stringForKey(key<"rezavivi_feature_rollouts">());
}
void APMPersistedConfig::setRezaviviFeatureRollouts(const std::optional<std::string>& v) {
    setString(v, key<"rezavivi_feature_rollouts">());
}

Value APMPersistedConfig::deferredDeepLinkRetrievalComplete() {
    return objectForKey(key<"deep_link_retrieval_complete">());
}
void APMPersistedConfig::setDeferredDeepLinkRetrievalComplete(const Value& v) {
    setObject(v, key<"deep_link_retrieval_complete">());
}

std::int64_t APMPersistedConfig::deferredDeepLinkRetryCount() { return int64ForKey(key<"deep_link_retry_count">()); }
void APMPersistedConfig::setDeferredDeepLinkRetryCount(std::int64_t v) { setInt64(v, key<"deep_link_retry_count">()); }

bool APMPersistedConfig::shouldSetLastAdvertisingIDResetUserProperty() {
    return boolForKey(key<"set_last_advertising_id_reset">());
}
void APMPersistedConfig::setShouldSetLastAdvertisingIDResetUserProperty(bool v) {
    setBool(v, key<"set_last_advertising_id_reset">());
}

bool APMPersistedConfig::unmatchedFirstOpenWithoutIDFA() { return boolForKey(key<"unmatched_first_open">()); }
void APMPersistedConfig::setUnmatchedFirstOpenWithoutIDFA(bool v) { setBool(v, key<"unmatched_first_open">()); }

double APMPersistedConfig::lastSessionActivityClockTime() { return doubleForKey(key<"last_engagement_end">()); }
void APMPersistedConfig::setLastSessionActivityClockTime(double v) { setDouble(v, key<"last_engagement_end">()); }

std::int64_t APMPersistedConfig::sessionNumber() { return int64ForKey(key<"session_number">()); }
void APMPersistedConfig::setSessionNumber(std::int64_t v) { setInt64(v, key<"session_number">()); }

std::optional<Value::Dictionary> APMPersistedConfig::defaultEventParameters() {
    return dictionaryForKey(key<"default_event_parameters">());
}
void APMPersistedConfig::setDefaultEventParameters(const std::optional<Value::Dictionary>& v) {
    setDictionary(v, key<"default_event_parameters">());
}
