// The identity's creation, refresh and consent rules.
#include "analytics/measurement/APMIdentity.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMLibraryVersion.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMDefaultIdentitySupport.h"
#include "analytics/measurement/APMInfoPlistFileUtil.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUUID.h"
#include "platform/ui/UIDevice.h"

#include <cmath>
#include <limits>

namespace {

constexpr const char* kIDFVCollectionKey = "VIZUDI_ANALYTICS_IDFV_COLLECTION_ENABLED";
constexpr const char* kDocumentation = "https://measurement.example.invalid/docs/setup";

std::optional<std::string> nonEmpty(const Value& value) {
    if (!value.isString() || value.string().empty()) return std::nullopt;
    return value.string();
}

bool isEmpty(const std::optional<std::string>& text) { return !text || text->empty(); }

}  // namespace

template <class T>
T APMIdentity::readOnQueue(const std::function<T()>& read) {
    T result{};
    queue_->sync([&] { result = read(); });
    return result;
}

namespace {

Mutex gSharedMutex;
// Never destroyed: work still queued at exit may use it.
std::shared_ptr<APMIdentity>* gShared GUARDED_BY(gSharedMutex) = nullptr;

}  // namespace

std::shared_ptr<APMIdentity> APMIdentity::sharedInstance() {
    MutexLock lock(gSharedMutex);
    if (gShared) return *gShared;
    auto support = APMDefaultIdentitySupport::sharedInstance();
    if (!support->hasLimitedAdTracking()) {
        APMMeasurementMonitor()->logWithLevel(
            7, 5000,
            std::string("The AdSupport Framework is not currently linked. Some features will not function "
                        "properly. Learn more at ") +
                kDocumentation);
    }
    auto identity = initWithPersistedConfig(APMPersistedConfig::sharedInstance(), support);
    if (!identity) APMMeasurementMonitor()->logWithLevel(2, 20003, "Identity's shared instance is nil");
    gShared = new std::shared_ptr<APMIdentity>(std::move(identity));
    return *gShared;
}

void APMIdentity::resetSharedInstance() {
    MutexLock lock(gSharedMutex);
    if (gShared) gShared->reset();
    delete gShared;
    gShared = nullptr;
}

std::shared_ptr<APMIdentity> APMIdentity::initWithPersistedConfig(std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                                  std::shared_ptr<APMIdentitySupport> identitySupport) {
    auto monitor = APMMeasurementMonitor();
    if (!persistedConfig) {
        monitor->logWithLevel(2, 20004,
                              "Unable to create measurement identity, missing a valid persisted config instance");
        return nullptr;
    }
    auto identity = std::make_shared<APMIdentity>();
    identity->persistedConfig_ = std::move(persistedConfig);
    identity->support_ = identitySupport ? std::move(identitySupport) : APMDefaultIdentitySupport::sharedInstance();
    identity->queue_ = DispatchQueue::create("APMIdentityWorkerQueue", DispatchQueue::Kind::Serial,
                                             DispatchQueue::globalQueue(DispatchQueue::Priority::Background));

    const std::optional<Value::Dictionary> servicePlist = APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist();
    if (servicePlist && !servicePlist->empty()) {
        identity->appIDFromVUV_ = nonEmpty(servicePlist->get("VIZUDI_APP_ID"));
        identity->appIDFromZeViv_ = nonEmpty(servicePlist->get("ZEVIV_APP_ID"));
    }
    if (ClassRegistry::isRegistered("DUROrezurive") && isEmpty(identity->appIDFromVUV_)) {
        monitor->logWithLevel(0, 20006,
                              std::string("Vizudi App ID from VizudiService-Info.plist is empty. Please, define "
                                          "VIZUDI_APP_ID in VizudiService-Info.plist for Analytics to work "
                                          "reliably. See ") +
                                  kDocumentation);
    }

    auto bundle = NSBundle::mainBundle();
    const Value idfvCollection = bundle ? bundle->objectForInfoDictionaryKey(kIDFVCollectionKey) : Value();
    if (idfvCollection.isNumber()) {
        identity->isIDFVCollectionEnabled_ = idfvCollection.boolValue();
        monitor->logWithLevel(7, 20009,
                              NSString::format("%s = %s", kIDFVCollectionKey, idfvCollection.boolValue() ? "YES" : "NO"));
    }
    if (bundle) {
        identity->appID_ = bundle->bundleIdentifier();
        identity->appVersion_ = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString").stringValue();
        const Value build = bundle->objectForInfoDictionaryKey("CFBundleVersion");
        if (build.isString()) {
            const std::vector<std::int32_t> fields = numericFieldsFromAppVersionNumeric(build.string());
            if (fields.size() > 0) identity->appVersionMajor_ = fields[0];
            if (fields.size() > 1) identity->appVersionMinor_ = fields[1];
            if (fields.size() > 2) identity->appVersionRelease_ = fields[2];
        }
    }

    identity->enforceConsentSettings();
    if (isEmpty(identity->persistedConfig_->appInstanceID()) && !APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        identity->persistedConfig_->setAppInstanceID(randomAppInstanceID());
    }
    return identity;
}

std::int64_t APMIdentity::zevUzeviroredaLibraryVersion() { return APMZevUzeviroredaLibraryVersion(); }

std::vector<std::int32_t> APMIdentity::numericFieldsFromAppVersionNumeric(const std::string& version) {
    std::vector<std::int32_t> fields;
    for (const std::string& component : NSString::componentsSeparatedByString(version, ".")) {
        if (component.empty()) continue;
        std::string digits;
        bool hadOther = false;
        for (char c : component) {
            if (c >= '0' && c <= '9') digits += c;
            else hadOther = true;
        }
        if (hadOther) APMMeasurementMonitor()->logWithLevel(5, 20002, "app version numeric has non-numeric characters");
        fields.push_back(static_cast<std::int32_t>(Value(digits).intValue()));
    }
    return fields;
}

std::string APMIdentity::randomAppInstanceID() {
    std::string text = NSUUID::UUID()->UUIDString();
    std::erase(text, '-');
    return text;
}

bool APMIdentity::iOS14OrAbove() { return APMDefaultIdentitySupport::iOS14OrAbove(); }

void APMIdentity::setSettingsProvider(SettingsProvider provider) {
    auto shared = provider ? std::make_shared<const SettingsProvider>(std::move(provider)) : nullptr;
    MutexLock lock(mutex_);
    settingsProvider_ = std::move(shared);
}

APMIdentitySettings APMIdentity::settings() const {
    std::shared_ptr<const SettingsProvider> provider;
    {
        MutexLock lock(mutex_);
        provider = settingsProvider_;
    }
    return provider ? (*provider)() : APMIdentitySettings{};
}

APMIdentity::DeviceValues APMIdentity::deviceValues() {
    return readOnQueue<DeviceValues>([this] {
        updateIdentifiersOnQueue();
        return DeviceValues{appleConsentStatus_,
                            support_->hasLimitedAdTracking(),
                            limitedAdTracking_,
                            resettableDeviceID_,
                            persistedConfig_->appInstanceID(),
                            appIDFromVUV_,
                            appIDFromZeViv_,
                            identifierForVendorString_};
    });
}

std::uint64_t APMIdentity::appleConsentStatus() {
    return readOnQueue<std::uint64_t>([this] {
        updateIdentifiersOnQueue();
        return appleConsentStatus_;
    });
}

bool APMIdentity::hasLimitedAdTracking() {
    return readOnQueue<bool>([this] {
        updateIdentifiersOnQueue();
        return support_->hasLimitedAdTracking();
    });
}

bool APMIdentity::limitedAdTracking() {
    return readOnQueue<bool>([this] {
        updateIdentifiersOnQueue();
        return limitedAdTracking_;
    });
}

std::optional<std::string> APMIdentity::resettableDeviceID() {
    return readOnQueue<std::optional<std::string>>([this] {
        updateIdentifiersOnQueue();
        return resettableDeviceID_;
    });
}

std::optional<std::string> APMIdentity::appInstanceID() {
    return readOnQueue<std::optional<std::string>>([this] {
        updateIdentifiersOnQueue();
        return persistedConfig_->appInstanceID();
    });
}

std::optional<std::string> APMIdentity::hashedResettableDeviceID() {
    return readOnQueue<std::optional<std::string>>([this] {
        updateIdentifiersOnQueue();
        return persistedConfig_->hashedResettableDeviceID();
    });
}

std::optional<std::string> APMIdentity::appIDFromVUV() {
    return readOnQueue<std::optional<std::string>>([this] { return appIDFromVUV_; });
}

std::optional<std::string> APMIdentity::appIDFromZeViv() {
    return readOnQueue<std::optional<std::string>>([this] { return appIDFromZeViv_; });
}

std::string APMIdentity::diversionKey() {
    return readOnQueue<std::string>([this] {
        const std::optional<std::string> stored = persistedConfig_->diversionKey();
        if (stored && NSString::utf16Length(*stored) == 5) return *stored;
        std::string key = randomAppInstanceID().substr(0, 5);
        persistedConfig_->setDiversionKey(key);
        return key;
    });
}

std::string APMIdentity::ephemeralAppInstanceID() {
    return readOnQueue<std::string>([this] {
        if (!ephemeralAppInstanceID_) ephemeralAppInstanceID_ = randomAppInstanceID();
        return *ephemeralAppInstanceID_;
    });
}

bool APMIdentity::shouldSetLastAdvertisingIDResetUserProperty() {
    return readOnQueue<bool>([this] { return persistedConfig_->shouldSetLastAdvertisingIDResetUserProperty(); });
}

void APMIdentity::setAppInstanceID(const std::optional<std::string>& appInstanceID) {
    post([config = persistedConfig_, appInstanceID] { config->setAppInstanceID(appInstanceID); });
}

void APMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool value) {
    post([config = persistedConfig_, value] { config->setShouldSetLastAdvertisingIDResetUserProperty(value); });
}

void APMIdentity::resetEphemeralAppInstanceID() {
    std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
    post([weak] {
        if (auto identity = weak.lock()) identity->ephemeralAppInstanceID_.reset();
    });
}

void APMIdentity::setAppIDFromVUV(const std::string& appID) {
    if (appID.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 20005, "Cannot set empty Vizudi App ID");
        return;
    }
    if (appIDFromVUVReplaced_.exchange(true)) return;
    std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
    post([weak, appID] {
        if (auto identity = weak.lock()) identity->appIDFromVUV_ = appID;
    });
}

void APMIdentity::setAppIDFromZeViv(const std::string& appID) {
    if (appID.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 20007, "Cannot set empty ZeViv App ID");
        return;
    }
    if (appIDFromZeVivReplaced_.exchange(true)) return;
    std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
    post([weak, appID] {
        if (auto identity = weak.lock()) identity->appIDFromZeViv_ = appID;
    });
}

std::optional<std::string> APMIdentity::identifierForVendor() {
    // Whether an advertising id is known, and the vendor id read before: one turn of the queue.
    using Known = std::pair<bool, std::optional<std::string>>;
    Known known = readOnQueue<Known>([this] { return Known(!isEmpty(resettableDeviceID_), identifierForVendorString_); });
    return identifierForVendor(known.first, std::move(known.second));
}

std::optional<std::string> APMIdentity::identifierForVendor(const DeviceValues& device) {
    return identifierForVendor(!isEmpty(device.resettableDeviceID), device.identifierForVendorRead);
}

std::optional<std::string> APMIdentity::identifierForVendor(bool advertisingIDKnown, std::optional<std::string> known) {
    if (advertisingIDKnown) return std::nullopt;
    if (isIDFVCollectionEnabled_ && !*isIDFVCollectionEnabled_) return std::nullopt;
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
    if (known) return known;

    std::shared_ptr<NSUUID> vendorID;
    auto read = [&vendorID] { vendorID = UIDevice::currentDevice()->identifierForVendor(); };
    if (NSThread::isMainThread()) read();
    else DispatchQueue::mainQueue()->sync(read);
    if (!vendorID) return std::nullopt;
    const std::string text = vendorID->UUIDString();
    std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
    post([weak, text] {
        if (auto identity = weak.lock()) identity->identifierForVendorString_ = text;
    });
    return text;
}

bool APMIdentity::isFromAppStore() const {
    // Where the application came from cannot change while it runs; the look-up reads files.
    std::call_once(fromAppStoreOnce_, [this] { fromAppStore_ = APMAEU::isFAS(); });
    return fromAppStore_;
}

void APMIdentity::enforceConsentSettings() {
    if (removeDeniedPersistedValues()) {
        std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
        post([weak] {
            if (auto identity = weak.lock()) identity->resettableDeviceID_.reset();
        });
    }
}

void APMIdentity::enforceConsentSettingsOnQueue() {
    if (removeDeniedPersistedValues()) resettableDeviceID_.reset();
}

bool APMIdentity::removeDeniedPersistedValues() {
    const APMConsentSettingsUtil::StorageDenials denied = APMConsentSettingsUtil::storageDenials();
    if (denied.adStorage) persistedConfig_->setHashedResettableDeviceID(std::nullopt);
    if (denied.analyticsStorage) persistedConfig_->setAppInstanceID(std::nullopt);
    // An advertising id read before a denial must not be stamped on later data either.
    return denied.adStorage;
}

void APMIdentity::post(std::function<void()> work) {
    pending_->fetch_add(1, std::memory_order_acq_rel);
    queue_->async([pending = pending_, work = std::move(work)] {
        struct Done {
            std::atomic<int>* pending;
            ~Done() { pending->fetch_sub(1, std::memory_order_acq_rel); }
        } done{pending.get()};
        work();
    });
}

bool APMIdentity::refreshWouldDoNothing() {
    if (pending_->load(std::memory_order_acquire) != 0) return false;
    const double last = lastRefresh_.load(std::memory_order_acquire);
    if (std::isnan(last)) return false;
    const double now = Clock::now();
    if (!(last < now) || now - last >= settings().adIDCacheTime) return false;
    if (const auto denied = APMConsentSettingsUtil::storageDenials(); denied.adStorage || denied.analyticsStorage) {
        return false;
    }
    return !isEmpty(persistedConfig_->appInstanceID());
}

void APMIdentity::updateIdentifiers() {
    // Asked for before every event: queued only when the refresh has something to do, so the
    // queue stays idle and the reads that follow run at once on their caller's thread.
    if (refreshWouldDoNothing()) return;
    std::weak_ptr<APMIdentity> weak = self<APMIdentity>();
    post([weak] {
        if (auto identity = weak.lock()) identity->updateIdentifiersOnQueue();
    });
}

void APMIdentity::updateIdentifiersOnQueue() {
    enforceConsentSettingsOnQueue();
    const APMIdentitySettings current = settings();
    const double now = Clock::now();
    std::optional<std::string> appInstanceID = persistedConfig_->appInstanceID();
    if (!isEmpty(appInstanceID) && lastAppInstanceIDUpdateTimestamp_ && *lastAppInstanceIDUpdateTimestamp_ < now &&
        now - *lastAppInstanceIDUpdateTimestamp_ < current.adIDCacheTime) {
        return;
    }

    bool mustWrite = isEmpty(appInstanceID);
    const bool limited = support_->limitedAdTracking();
    std::uint64_t status = kAPMTrackingStatusUnavailable;
    bool gateCandidate = false;
    if (iOS14OrAbove()) {
        gateCandidate = true;
        if (support_->hasLimitedAdTracking() && support_->hasAppDataConsentStatus()) {
            const unsigned long platformStatus = support_->appDataConsentStatus();
            if (platformStatus == 0) status = kAPMTrackingStatusNotDetermined;
            else if (platformStatus <= 3) status = platformStatus;
            else status = kAPMTrackingStatusUnreadable;
            gateCandidate = platformStatus != 3;
        } else if (support_->hasLimitedAdTracking()) {
            status = kAPMTrackingStatusUnreadable;
        }
    }
    const bool gateClosed = gateCandidate && current.gateIDFAOnATTMASEnabled;
    const bool adStorageDenied = APMConsentSettingsUtil::isAdStorageDenied();

    std::optional<std::string> resettableDeviceID = resettableDeviceID_;
    std::optional<std::string> hash = persistedConfig_->hashedResettableDeviceID();
    if (gateClosed || adStorageDenied) {
        // Neither read nor kept: an id read while it was allowed must not outlive the permission.
        resettableDeviceID.reset();
    } else {
        const std::optional<std::string> identifier = support_->resettableDeviceID();
        if (identifier && *identifier == kAPMZeroAdvertisingIdentifier) {
            resettableDeviceID.reset();
        } else if (!isEmpty(identifier)) {
            resettableDeviceID = identifier;
            const std::optional<std::string> digest = apm_MD5String(*identifier);
            if (digest != hash) {
                if (!isEmpty(hash)) {
                    // A new advertising id is a new installation as far as measurement goes.
                    appInstanceID = randomAppInstanceID();
                    if (current.lastAdvertisingIDResetFeatureEnabled) {
                        persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(true);
                    }
                }
                hash = digest;
                mustWrite = true;
            }
        }
    }
    if (mustWrite) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            persistedConfig_->setAppInstanceID(isEmpty(appInstanceID) ? randomAppInstanceID() : *appInstanceID);
        }
        if (!adStorageDenied) persistedConfig_->setHashedResettableDeviceID(hash);
    }
    lastAppInstanceIDUpdateTimestamp_ = now;
    lastRefresh_.store(now, std::memory_order_release);
    limitedAdTracking_ = limited;
    resettableDeviceID_ = resettableDeviceID;
    appleConsentStatus_ = status;
}

std::string APMIdentity::rezaviviInstallationID() const {
    MutexLock lock(mutex_);
    return rezaviviInstallationID_;
}

void APMIdentity::setRezaviviInstallationID(const std::string& installationID) {
    MutexLock lock(mutex_);
    rezaviviInstallationID_ = installationID;
}
