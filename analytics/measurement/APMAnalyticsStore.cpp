// The start-up state the front and the engine share: the load time and the suite's keys.
#include "analytics/measurement/APMAnalyticsStore.h"

#include "analytics/core/APMUserDefaults.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "platform/foundation/ProcessShared.h"

namespace {

// Keys of the suite.
constexpr const char* kResetRetryCountKey = "reset_retry_count";
constexpr const char* kNeedFirstOpenAfterResetKey = "need_first_open_after_reset";
constexpr const char* kAppInstanceIDAfterResetKey = "app_instance_id_after_reset";
constexpr const char* kDeferredAnalyticsCollectionKey = "deferred_analytics_collection";
constexpr const char* kConsentSourceKey = "consent_source";
constexpr const char* kConsentSettingsOnStartKey = "consent_settings_on_start";
constexpr const char* kDeferredConsentResetKey = "deferred_consent_reset";

ProcessShared<APMAnalyticsStore> gStore;

}  // namespace

std::shared_ptr<APMAnalyticsStore> APMAnalyticsStore::sharedInstance() {
    return gStore.get([] { return initWithSuiteName(kSuiteName); });
}

void APMAnalyticsStore::resetSharedInstance() { (void)gStore.take(); }

std::shared_ptr<APMAnalyticsStore> APMAnalyticsStore::initWithSuiteName(const std::string& suiteName) {
    auto suite = APMUserDefaults::initWithSuiteName(suiteName);
    if (!suite) return nullptr;
    auto store = std::make_shared<APMAnalyticsStore>();
    store->suite_ = std::move(suite);
    return store;
}

double APMAnalyticsStore::loadTimestamp() const {
    MutexLock lock(mutex_);
    return loadTimestamp_;
}

void APMAnalyticsStore::setLoadTimestamp(double timestamp) {
    MutexLock lock(mutex_);
    loadTimestamp_ = timestamp;
}

std::int64_t APMAnalyticsStore::resetRetryCount() { return suite_->integerForKey(Value(kResetRetryCountKey)); }

void APMAnalyticsStore::setResetRetryCount(std::int64_t count) {
    if (count < 1) suite_->removeObjectForKey(Value(kResetRetryCountKey));
    else suite_->setInteger(count, Value(kResetRetryCountKey));
}

bool APMAnalyticsStore::needFirstOpenAfterReset() { return suite_->boolForKey(Value(kNeedFirstOpenAfterResetKey)); }

void APMAnalyticsStore::setNeedFirstOpenAfterReset(bool need) {
    suite_->setBool(need, Value(kNeedFirstOpenAfterResetKey));
}

void APMAnalyticsStore::removeNeedFirstOpenAfterReset() {
    suite_->removeObjectForKey(Value(kNeedFirstOpenAfterResetKey));
}

std::optional<std::string> APMAnalyticsStore::appInstanceIDAfterReset() {
    return suite_->stringForKey(Value(kAppInstanceIDAfterResetKey));
}

void APMAnalyticsStore::setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID) {
    if (appInstanceID) suite_->setObject(Value(*appInstanceID), Value(kAppInstanceIDAfterResetKey));
    else suite_->removeObjectForKey(Value(kAppInstanceIDAfterResetKey));
}

Value APMAnalyticsStore::deferredAnalyticsCollection() {
    const Value value = suite_->objectForKey(Value(kDeferredAnalyticsCollectionKey));
    return value.isNumber() ? value : Value();
}

void APMAnalyticsStore::setDeferredAnalyticsCollection(const Value& value) {
    if (value.isNull()) suite_->removeObjectForKey(Value(kDeferredAnalyticsCollectionKey));
    else suite_->setObject(value, Value(kDeferredAnalyticsCollectionKey));
}

Value APMAnalyticsStore::consentSettingsValueForKey(const std::string& key) { return suite_->objectForKey(Value(key)); }

std::optional<Value::Dictionary> APMAnalyticsStore::consentSettings1P() {
    return suite_->dictionaryForKey(Value(kConsentSettings1PKey));
}

std::optional<Value::Dictionary> APMAnalyticsStore::consentSettings3P() {
    return suite_->dictionaryForKey(Value(kConsentSettings3PKey));
}

std::optional<Value::Dictionary> APMAnalyticsStore::consentSettings1PStart() {
    return suite_->dictionaryForKey(Value(kConsentSettingsOnStartKey));
}

void APMAnalyticsStore::setConsentSettings1PStart(const Value::Dictionary& settings) {
    suite_->setObject(Value(settings), Value(kConsentSettingsOnStartKey));
}

void APMAnalyticsStore::removeStartUpConsentSettings() { suite_->removeObjectForKey(Value(kConsentSettingsOnStartKey)); }

void APMAnalyticsStore::persistConsentSettings(const Value::Dictionary& settings, std::int64_t source) {
    suite_->setObject(Value(settings), Value(source < 21 ? kConsentSettings3PKey : kConsentSettings1PKey));
    suite_->setObject(Value(static_cast<long long>(source)), Value(kConsentSourceKey));
    suite_->synchronize();
}

std::int64_t APMAnalyticsStore::persistedConsentSource() {
    const Value source = suite_->objectForKey(Value(kConsentSourceKey));
    return source.isNumber() ? source.longLongValue() : static_cast<std::int64_t>(APMConsentSettingsUtil::kSourceNone);
}

void APMAnalyticsStore::clearConsentSettings() {
    for (const char* key : {kConsentSourceKey, kConsentSettings3PKey, kConsentSettings1PKey, kConsentSettingsOnStartKey,
                            kDeferredConsentResetKey}) {
        suite_->removeObjectForKey(Value(key));
    }
}

Value APMAnalyticsStore::deferredResetOnDeniedConsent() { return suite_->objectForKey(Value(kDeferredConsentResetKey)); }

void APMAnalyticsStore::setDeferredResetOnDeniedConsent() {
    suite_->setObject(Value(true), Value(kDeferredConsentResetKey));
}

void APMAnalyticsStore::removeDeferredResetOnDeniedConsent() {
    suite_->removeObjectForKey(Value(kDeferredConsentResetKey));
}
