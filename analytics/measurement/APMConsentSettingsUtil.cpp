// Process-wide consent on its serial queue.
#include "analytics/measurement/APMConsentSettingsUtil.h"

#include "platform/dispatch/DispatchOnce.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>

namespace {

constexpr const char* kAdStorage = "ad_storage";
constexpr const char* kAnalyticsStorage = "analytics_storage";

Mutex gSwitchesMutex;
// Shared, so a read copies a pointer rather than the function.
std::shared_ptr<const std::function<APMConsentSwitches()>> gSwitchesProvider GUARDED_BY(gSwitchesMutex);

// The queue's own state: touched only by blocks running on it.
std::optional<Value::Dictionary> gSettings;
std::int64_t gSource = APMConsentSettingsUtil::kSourceNone;

// What every event asks, published by the queue after each change: read without waiting on the
// queue while no change is queued (a read after a write on the same thread then waits, as
// before, and sees it).
struct Published {
    APMConsentSettingsUtil::StorageDenials denials;
    std::string signals = "G1--";
};
Mutex gPublishedMutex;
Published gPublished GUARDED_BY(gPublishedMutex);
std::atomic<int> gQueuedChanges{0};

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

// Compared in lower case, as the denial tests do, so the signal never says less than they.
std::string signalsOnQueue() {
    auto signal = [](const char* type) -> std::string {
        const Value value = gSettings ? gSettings->get(type) : Value();
        if (isValue(value, "granted")) return "1";
        if (isValue(value, "denied")) return "0";
        return "-";
    };
    return "G1" + signal(kAdStorage) + signal(kAnalyticsStorage);
}

// Queues a change of the queue's state, published once made.
void change(std::function<void()> apply) {
    gQueuedChanges.fetch_add(1, std::memory_order_acq_rel);
    APMConsentSettingsUtil::serialQueue()->async([apply = std::move(apply)] {
        apply();
        Published now{{isDeniedOnQueue(kAdStorage), isDeniedOnQueue(kAnalyticsStorage)}, signalsOnQueue()};
        {
            MutexLock lock(gPublishedMutex);
            gPublished = std::move(now);
        }
        gQueuedChanges.fetch_sub(1, std::memory_order_acq_rel);
    });
}

template <class T>
T readPublished(T Published::*field) {
    if (gQueuedChanges.load(std::memory_order_acquire) == 0) {
        MutexLock lock(gPublishedMutex);
        return gPublished.*field;
    }
    // A change is on its way: wait for it, as a read on the queue would.
    APMConsentSettingsUtil::serialQueue()->sync([] {});
    MutexLock lock(gPublishedMutex);
    return gPublished.*field;
}

}  // namespace

void APMConsentSettingsUtil::setSwitchesProvider(std::function<APMConsentSwitches()> provider) {
    auto shared = provider ? std::make_shared<const std::function<APMConsentSwitches()>>(std::move(provider)) : nullptr;
    MutexLock lock(gSwitchesMutex);
    gSwitchesProvider = std::move(shared);
}

APMConsentSwitches APMConsentSettingsUtil::switches() {
    std::shared_ptr<const std::function<APMConsentSwitches()>> provider;
    {
        MutexLock lock(gSwitchesMutex);
        provider = gSwitchesProvider;
    }
    return provider ? (*provider)() : APMConsentSwitches{};
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
    change([settings] {
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
    change([settings] {
        Value::Dictionary merged = gSettings.value_or(Value::Dictionary{});
        for (const auto& [type, value] : settings) merged.set(type, value);
        gSettings = std::move(merged);
    });
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(std::int64_t source) { return consentSource() >= source; }

bool APMConsentSettingsUtil::isAdStorageDenied() { return storageDenials().adStorage; }

bool APMConsentSettingsUtil::isAnalyticsStorageDenied() { return storageDenials().analyticsStorage; }

APMConsentSettingsUtil::StorageDenials APMConsentSettingsUtil::storageDenials() {
    if (!switches().isConsentSettingsEnabled) return {};
    return readPublished(&Published::denials);
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
    return readPublished(&Published::signals);
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
