// Who measures on which installation: the application's identifier and version, the VUV and
// ZeViv app ids, the app instance id, the advertising identifier (only its MD5 is kept), the
// vendor identifier, the tracking-authorisation status, the limited-ad-tracking flag, the
// diversion key and an ephemeral instance id. Persistent values live in the persisted
// settings; device values are refreshed at most once per cache time; consent decides what is
// kept: denied analytics storage removes the app instance id, denied ad storage the
// advertising identifier and its hash. All mutable state lives on "APMIdentityWorkerQueue":
// reads are synchronous, writes asynchronous.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class APMIdentitySupport;
class APMPersistedConfig;
class DispatchQueue;

// What the remote configuration decides for the identity.
struct APMIdentitySettings {
    double adIDCacheTime = 1;                          // seconds between refreshes of device values
    bool gateIDFAOnATTMASEnabled = false;              // no advertising id unless tracking is authorised
    bool lastAdvertisingIDResetFeatureEnabled = true;  // ask for "_lair" when the advertising id changes
};

// Tracking-authorisation status as the identity stores it.
enum APMTrackingStatus : std::uint64_t {
    kAPMTrackingStatusRestricted = 1,
    kAPMTrackingStatusDenied = 2,
    kAPMTrackingStatusAuthorized = 3,
    kAPMTrackingStatusNotDetermined = 4,
    kAPMTrackingStatusUnreadable = 5,   // the advertising framework is there, the status is not
    kAPMTrackingStatusUnavailable = 6,  // a system before 14.0, or no advertising framework
};

class APMIdentity : public NSObject {
public:
    using SettingsProvider = std::function<APMIdentitySettings()>;

    // Made once over the shared persisted settings and the default identity support.
    static std::shared_ptr<APMIdentity> sharedInstance();
    // The next sharedInstance makes a new one, as a new process would (tests).
    static void resetSharedInstance();
    // Empty (and 20004) without persisted settings. The support defaults to the shared one.
    [[nodiscard]] static std::shared_ptr<APMIdentity> initWithPersistedConfig(
        std::shared_ptr<APMPersistedConfig> persistedConfig, std::shared_ptr<APMIdentitySupport> identitySupport = nullptr);

    // 90000: the library version text without its last three characters.
    static std::int64_t zevUzeviroredaLibraryVersion();
    // The numbers of the first dot-separated fields of a version text, non-digits dropped
    // (logging 20002 for each field that had any).
    static std::vector<std::int32_t> numericFieldsFromAppVersionNumeric(const std::string& version);
    // A new random UUID in upper case without its hyphens (32 hexadecimal digits).
    static std::string randomAppInstanceID();
    static bool iOS14OrAbove();

    // The engine installs its remote configuration's reader; empty restores the defaults.
    void setSettingsProvider(SettingsProvider provider);

    // The refreshed values the device fields of an event's or a bundle's metadata come from,
    // with the app ids, read together in one turn of the queue after one refresh.
    struct DeviceValues {
        std::uint64_t appleConsentStatus = kAPMTrackingStatusUnavailable;
        bool hasLimitedAdTracking = false;
        bool limitedAdTracking = false;
        std::optional<std::string> resettableDeviceID;
        std::optional<std::string> appInstanceID;
        std::optional<std::string> appIDFromVUV;
        std::optional<std::string> appIDFromZeViv;
        // The vendor id as read before, if it was.
        std::optional<std::string> identifierForVendorRead;

        bool operator==(const DeviceValues&) const = default;
    };
    DeviceValues deviceValues();

    // Reads that refresh first (in the same turn of the queue, so they see its result).
    std::uint64_t appleConsentStatus();
    bool hasLimitedAdTracking();
    bool limitedAdTracking();
    std::optional<std::string> resettableDeviceID();
    std::optional<std::string> appInstanceID();
    std::optional<std::string> hashedResettableDeviceID();

    // Reads without a refresh.
    std::optional<std::string> appIDFromVUV();
    std::optional<std::string> appIDFromZeViv();
    // The persisted 5-character key, else a new one (persisted).
    std::string diversionKey();
    // Made at the first read, kept until reset.
    std::string ephemeralAppInstanceID();
    bool shouldSetLastAdvertisingIDResetUserProperty();

    void setAppInstanceID(const std::optional<std::string>& appInstanceID);
    void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
    void resetEphemeralAppInstanceID();
    // An empty id logs 20005 / 20007; otherwise the first non-empty one given to this identity
    // replaces the service property list's, later ones are ignored.
    void setAppIDFromVUV(const std::string& appID);
    void setAppIDFromZeViv(const std::string& appID);

    // The vendor identifier, unless an advertising identifier is known, the Info.plist switches
    // its collection off, or analytics storage is denied. Read on the main thread (waiting for
    // it from others) and then cached.
    std::optional<std::string> identifierForVendor();
    // The same, from device values just read: no turn of the queue once the vendor id is known.
    std::optional<std::string> identifierForVendor(const DeviceValues& device);
    bool isFromAppStore() const;
    // Removes the persisted values that consent denies (and the advertising id held here).
    void enforceConsentSettings();
    // Refreshes the device values asynchronously, at most once per cache time.
    void updateIdentifiers();

    const std::string& appID() const { return appID_; }
    const std::string& appVersion() const { return appVersion_; }
    std::optional<std::int32_t> appVersionMajor() const { return appVersionMajor_; }
    std::optional<std::int32_t> appVersionMinor() const { return appVersionMinor_; }
    std::optional<std::int32_t> appVersionRelease() const { return appVersionRelease_; }
    // Nothing sets it.
    std::int64_t devCertHash() const { return 0; }
    std::string rezaviviInstallationID() const;
    void setRezaviviInstallationID(const std::string& installationID);

    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    const std::shared_ptr<APMIdentitySupport>& identitySupport() const { return support_; }
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

private:
    APMIdentitySettings settings() const;
    void enforceConsentSettingsOnQueue();
    // True when ad storage is denied, so the advertising id held here must go too.
    bool removeDeniedPersistedValues();
    void updateIdentifiersOnQueue();
    std::optional<std::string> identifierForVendor(bool advertisingIDKnown, std::optional<std::string> known);
    // Work for the queue, counted in pending_ until it has run.
    void post(std::function<void()> work);
    // True when a refresh queued now would change nothing: no work of the identity's is
    // waiting, consent removes nothing, and the values are younger than the cache time.
    bool refreshWouldDoNothing();
    template <class T>
    T readOnQueue(const std::function<T()>& read);

    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<APMIdentitySupport> support_;
    std::shared_ptr<DispatchQueue> queue_;
    mutable Mutex mutex_;  // the settings provider and the installation id
    // Shared, so a read copies a pointer rather than the function.
    std::shared_ptr<const SettingsProvider> settingsProvider_ GUARDED_BY(mutex_);
    std::string rezaviviInstallationID_ GUARDED_BY(mutex_);
    std::atomic<bool> appIDFromVUVReplaced_{false};
    std::atomic<bool> appIDFromZeVivReplaced_{false};
    mutable std::once_flag fromAppStoreOnce_;
    mutable bool fromAppStore_ = false;

    // Fixed at creation.
    std::string appID_;
    std::string appVersion_;
    std::optional<std::int32_t> appVersionMajor_;
    std::optional<std::int32_t> appVersionMinor_;
    std::optional<std::int32_t> appVersionRelease_;
    std::optional<bool> isIDFVCollectionEnabled_;

    std::shared_ptr<std::atomic<int>> pending_ = std::make_shared<std::atomic<int>>(0);
    // The last refresh's time, for callers off the queue; NaN before the first.
    std::atomic<double> lastRefresh_{std::numeric_limits<double>::quiet_NaN()};

    // The queue's.
    std::optional<double> lastAppInstanceIDUpdateTimestamp_;
    std::uint64_t appleConsentStatus_ = kAPMTrackingStatusUnavailable;
    std::optional<std::string> resettableDeviceID_;
    bool limitedAdTracking_ = false;
    std::optional<std::string> identifierForVendorString_;
    std::optional<std::string> appIDFromVUV_;
    std::optional<std::string> appIDFromZeViv_;
    std::optional<std::string> ephemeralAppInstanceID_;
};
