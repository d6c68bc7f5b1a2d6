// The consent in force for the process: whether ad storage and analytics storage are granted
// or denied ("ad_storage" / "analytics_storage" -> "granted" / "denied"), and which source set
// it (a smaller number is stronger). Reads are synchronous and writes asynchronous on one
// serial queue, so a read after a write on the same thread sees it. The remote configuration
// switches it all: while consent settings are off, nothing is denied.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class DispatchQueue;

// The remote configuration's consent switches ("measurement.api.consent_settings" and
// "measurement.api.consent_settings_3p"), both on by default.
struct APMConsentSwitches {
    bool isConsentSettingsEnabled = true;
    bool isConsentSettings3PEnabled = true;
};

class APMConsentSettingsUtil {
public:
    enum Source : std::int64_t {
        kSourceSetConsent3P = 10,       // setConsent of the public front
        kSourceRestored3P = 20,         // restored from "consent_settings_3p"
        kSourceSetConsent = 30,         // setConsent of the start-up front
        kSourceRestored = 40,           // restored from "consent_settings"
        kSourceNone = 100,
    };

    // The engine installs its remote configuration's reader; empty restores the defaults.
    static void setSwitchesProvider(std::function<APMConsentSwitches()> provider);
    static APMConsentSwitches switches();

    // "APMConsentSettingsUtilQueue", made by the first caller.
    static std::shared_ptr<DispatchQueue> serialQueue();

    static std::optional<Value::Dictionary> consentSettings();
    // Nothing also resets the source to 100.
    static void setConsentSettings(const std::optional<Value::Dictionary>& settings);
    static std::int64_t consentSource();
    static void setConsentSource(std::int64_t source);
    // The current settings with `settings` added over them.
    static void updateSettings(const Value::Dictionary& settings);
    // The current source is greater than or equal to `source`: an equal source may overwrite.
    static bool isConsentSourceHigherPriority(std::int64_t source);

    // The value is a string whose lower-case form is "denied" (never while switched off).
    static bool isAdStorageDenied();
    static bool isAnalyticsStorageDenied();
    // Both at once, for callers that ask for both on every event.
    struct StorageDenials {
        bool adStorage = false;
        bool analyticsStorage = false;
    };
    static StorageDenials storageDenials();

    // The "ad_storage" and "analytics_storage" entries that are present, unchanged.
    static Value::Dictionary consentSettingsFromDictionary(const Value::Dictionary& dictionary);
    // The application's defaults: Info.plist numbers "VIZUDI_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE"
    // and "..._ANALYTICS_STORAGE" give "granted" (true) or "denied" (false).
    static Value::Dictionary consentSettingsFromPlist();
    // `previous` (null or a dictionary) granted or left unset a storage the current settings
    // deny.
    static bool didWithdrawPreviousConsent(const Value& previous);
    // "G1" and a character per storage, ad then analytics: "1" granted, "0" denied, "-" other
    // or missing. Nothing unless both switches are on.
    static std::optional<std::string> consentSignals();
    // "ad_storage is <value>. analytics_storage is <value>." (a missing value reads "granted").
    static std::string description();
};
