// Process-wide consent on its serial queue.
#include "analytics/measurement/APMConsentSettingsUtil.h"

#include "platform/dispatch/DispatchOnce.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

constexpr const char* kAdStorage = "ad_storage";
constexpr const char* kAnalyticsStorage = "analytics_storage";

std::mutex gSwitchesMutex;
std::function<APMConsentSwitches()> gSwitchesProvider;

// The queue's own state: touched only by blocks running on it.
std::optional<Value::Dictionary> gSettings;
std::int64_t gSource = APMConsentSettingsUtil::kSourceNone;

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool isValue(const Value& value, const char* wanted) { return value.isString() && lowercase(value.string()) == wanted; }

bool isDeniedOnQueue(const char* type) { return gSettings && isValue(gSettings->get(type), "denied"); }

template <class T>
T readOnQueue(const std::function<T()>& read) {
    T result{};
    APMConsentSettingsUtil::serialQueue()->sync([&] { result = read(); });
    return result;
}

}  // namespace

void APMConsentSettingsUtil::setSwitchesProvider(std::function<APMConsentSwitches()> provider) {
    std::lock_guard<std::mutex> lock(gSwitchesMutex);
    gSwitchesProvider = std::move(provider);
}

APMConsentSwitches APMConsentSettingsUtil::switches() {
    std::function<APMConsentSwitches()> provider;
    {
        std::lock_guard<std::mutex> lock(gSwitchesMutex);
        provider = gSwitchesProvider;
    }
    return provider ? provider() : APMConsentSwitches{};
}

std::shared_ptr<DispatchQueue> APMConsentSettingsUtil::serialQueue() {
    static dispatch_once_t once;
    static std::shared_ptr<DispatchQueue>* queue = nullptr;
    dispatch_once(once, [] {
        queue = new std::shared_ptr<DispatchQueue>(DispatchQueue::create(
            "APMConsentSettingsUtilQueue", DispatchQueue::Kind::Serial,
            DispatchQueue::globalQueue(DispatchQueue::Priority::Low)));
    });
    return *queue;
}

std::optional<Value::Dictionary> APMConsentSettingsUtil::consentSettings() {
    return readOnQueue<std::optional<Value::Dictionary>>([] { return gSettings; });
}

void APMConsentSettingsUtil::setConsentSettings(const std::optional<Value::Dictionary>& settings) {
    serialQueue()->async([settings] {
        gSettings = settings;
        if (!settings) gSource = kSourceNone;
    });
}

std::int64_t APMConsentSettingsUtil::consentSource() {
    return readOnQueue<std::int64_t>([] { return gSource; });
}

void APMConsentSettingsUtil::setConsentSource(std::int64_t source) {
    serialQueue()->async([source] { gSource = source; });
}

void APMConsentSettingsUtil::updateSettings(const Value::Dictionary& settings) {
    serialQueue()->async([settings] {
        Value::Dictionary merged = gSettings.value_or(Value::Dictionary{});
        for (const auto& [type, value] : settings) merged.set(type, value);
        gSettings = std::move(merged);
    });
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(std::int64_t source) { return consentSource() >= source; }

bool APMConsentSettingsUtil::isAdStorageDenied() {
    if (!switches().isConsentSettingsEnabled) return false;
    return readOnQueue<bool>([] { return isDeniedOnQueue(kAdStorage); });
}

bool APMConsentSettingsUtil::isAnalyticsStorageDenied() {
    if (!switches().isConsentSettingsEnabled) return false;
    return readOnQueue<bool>([] { return isDeniedOnQueue(kAnalyticsStorage); });
}

Value::Dictionary APMConsentSettingsUtil::consentSettingsFromDictionary(const Value::Dictionary& dictionary) {
    Value::Dictionary settings;
    for (const char* type : {kAdStorage, kAnalyticsStorage}) {
        if (const Value* value = dictionary.find(type)) settings.set(type, *value);
    }
    return settings;
}

Value::Dictionary APMConsentSettingsUtil::consentSettingsFromPlist() {
    Value::Dictionary settings;
    auto bundle = NSBundle::mainBundle();
    if (!bundle) return settings;
    const std::pair<const char*, const char*> keys[] = {
        {"VIZUDI_ANALYTICS_DEFAULT_ALLOW_AD_STORAGE", kAdStorage},
        {"VIZUDI_ANALYTICS_DEFAULT_ALLOW_ANALYTICS_STORAGE", kAnalyticsStorage},
    };
    for (const auto& [key, type] : keys) {
        const Value allowed = bundle->objectForInfoDictionaryKey(key);
        if (allowed.isNumber()) settings.set(type, Value(allowed.boolValue() ? "granted" : "denied"));
    }
    return settings;
}

bool APMConsentSettingsUtil::didWithdrawPreviousConsent(const Value& previous) {
    if (!switches().isConsentSettingsEnabled) return false;
    if (!previous.isNull() && !previous.isDictionary()) return false;
    const std::optional<Value::Dictionary> current = consentSettings();
    if (!current) return false;
    if (previous.isDictionary() && previous.dictionary() == *current) return false;
    for (const char* type : {kAdStorage, kAnalyticsStorage}) {
        const bool wasDenied = previous.isDictionary() && isValue(previous.dictionary().get(type), "denied");
        if (!wasDenied && isValue(current->get(type), "denied")) return true;
    }
    return false;
}

std::optional<std::string> APMConsentSettingsUtil::consentSignals() {
    const APMConsentSwitches on = switches();
    if (!on.isConsentSettings3PEnabled || !on.isConsentSettingsEnabled) return std::nullopt;
    return readOnQueue<std::string>([] {
        // Compared in lower case, as the denial tests do, so the signal never says less than they.
        auto signal = [](const char* type) -> std::string {
            const Value value = gSettings ? gSettings->get(type) : Value();
            if (isValue(value, "granted")) return "1";
            if (isValue(value, "denied")) return "0";
            return "-";
        };
        return "G1" + signal(kAdStorage) + signal(kAnalyticsStorage);
    });
}

std::string APMConsentSettingsUtil::description() {
    const std::optional<Value::Dictionary> settings = consentSettings();
    auto valueOf = [&settings](const char* type) {
        const Value value = settings ? settings->get(type) : Value();
        return value.isNull() ? std::string("granted") : value.stringValue();
    };
    return NSString::format("%s is %s. %s is %s.", kAdStorage, valueOf(kAdStorage).c_str(), kAnalyticsStorage,
                            valueOf(kAnalyticsStorage).c_str());
}
