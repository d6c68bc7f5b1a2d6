// What the front (APMAnalytics) and the engine (APMMeasurement) both keep of a start: the load
// time, and the user-defaults suite "APMAnalyticsSuiteName" with the reset bookkeeping, the
// deferred collection choice and the persisted consent. The front writes most of it, the engine
// reads it as it starts and resets; neither reaches into the other for it.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class APMUserDefaults;

class APMAnalyticsStore : public NSObject {
public:
    static constexpr const char* kSuiteName = "APMAnalyticsSuiteName";
    // The suite's consent keys: the first-party settings, and the third party's (source < 21).
    static constexpr const char* kConsentSettings1PKey = "consent_settings";
    static constexpr const char* kConsentSettings3PKey = "consent_settings_3p";

    // Made once over the suite; thread-safe.
    static std::shared_ptr<APMAnalyticsStore> sharedInstance();
    // The next sharedInstance makes a new one, as a new process would (tests).
    static void resetSharedInstance();
    [[nodiscard]] static std::shared_ptr<APMAnalyticsStore> initWithSuiteName(const std::string& suiteName);

    // Seconds since 1970 of the load (or of the last reset); 0 before either.
    double loadTimestamp() const;
    void setLoadTimestamp(double timestamp);

    std::int64_t resetRetryCount();
    // Below 1 removes the key.
    void setResetRetryCount(std::int64_t count);
    bool needFirstOpenAfterReset();
    void setNeedFirstOpenAfterReset(bool need);
    void removeNeedFirstOpenAfterReset();
    std::optional<std::string> appInstanceIDAfterReset();
    // Nothing removes the key.
    void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
    // A number, or null when unset; null removes it.
    Value deferredAnalyticsCollection();
    void setDeferredAnalyticsCollection(const Value& value);

    // The stored value under kConsentSettings1PKey or kConsentSettings3PKey, whatever it is.
    Value consentSettingsValueForKey(const std::string& key);
    std::optional<Value::Dictionary> consentSettings1P();
    std::optional<Value::Dictionary> consentSettings3P();
    // The consent the start options gave.
    std::optional<Value::Dictionary> consentSettings1PStart();
    void setConsentSettings1PStart(const Value::Dictionary& settings);
    void removeStartUpConsentSettings();
    // Under the third party's key for a source below 21, else the first party's; with the
    // source; written to disk at once.
    void persistConsentSettings(const Value::Dictionary& settings, std::int64_t source);
    // 100 (no source) when none is stored.
    std::int64_t persistedConsentSource();
    // Every consent key of the suite goes.
    void clearConsentSettings();
    // A withdrawal of consent came before the engine could reset; it resets as it starts.
    Value deferredResetOnDeniedConsent();
    void setDeferredResetOnDeniedConsent();
    void removeDeferredResetOnDeniedConsent();

    APMAnalyticsStore() = default;

private:
    std::shared_ptr<APMUserDefaults> suite_;
    mutable Mutex mutex_;
    double loadTimestamp_ GUARDED_BY(mutex_) = 0;
};
