// The measurement engine's persisted settings under "/vizudi/measurement/..." in the suite
// "com.vizudi.vuv.measurement": every access serialized on "APMPersistedConfig", the disk
// synchronize coalesced to one second after the last write of a burst.
#pragma once

#include "analytics/core/APMConfigStore.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

class DispatchBlock;
class DispatchQueue;

class APMPersistedConfig : public NSObject {
public:
    // Created once; nothing (and 27001 on every call) when it could not be.
    static std::shared_ptr<APMPersistedConfig> sharedInstance();
    // Writes the shared settings out; the next sharedInstance makes new ones, as a new process
    // would (tests).
    static void resetSharedInstance();
    // Moves the suite's file to where the engine's switch says it lives and opens that store:
    // a plist file in Application Support, or the suite's user defaults. Empty for an empty name.
    [[nodiscard]] static std::shared_ptr<APMPersistedConfig> initWithSuiteName(const std::string& suiteName);
    // Over a given backing store, without moving any file.
    [[nodiscard]] static std::shared_ptr<APMPersistedConfig> initWithSuiteName(const std::string& suiteName,
                                                                               std::shared_ptr<APMConfigStore> store);
    ~APMPersistedConfig() override;

    // The engine's switch for the next launch, in the suite "APMAnalyticsSuiteName".
    static bool persistentConfigInApplicationSupportEnabled();
    static void setPersistentConfigInApplicationSupportEnabled(bool enabled);
    // How the engine's current remote configuration answers the store choice: nothing while
    // only the built-in default configuration is known.
    using StoreChoiceProvider = std::function<std::optional<bool>()>;
    static void setStoreChoiceProvider(StoreChoiceProvider provider);

    const std::string& name() const { return name_; }
    // The backing store (a plist-file store or user defaults).
    std::shared_ptr<APMConfigStore> userDefaults() const { return userDefaults_; }
    bool usesApplicationSupportStore() const { return usesApplicationSupport_; }
    bool shouldCheckConfigStoreMigrationFlag() const;

    // Typed reads: the default when the key is absent or holds another type.
    bool boolForKey(const std::string& key);
    std::int64_t int64ForKey(const std::string& key);
    static std::int64_t int64ForKey(const std::string& key, APMConfigStore& store);
    double doubleForKey(const std::string& key);
    std::optional<std::string> stringForKey(const std::string& key);
    std::optional<Value::Dictionary> dictionaryForKey(const std::string& key);
    // Typed writes, each followed by a synchronize one second after the last of a burst.
    void setBool(bool value, const std::string& key);
    void setInt64(std::int64_t value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setString(const std::optional<std::string>& value, const std::string& key);
    // A dictionary a property list cannot hold is refused with 27002.
    void setDictionary(const std::optional<Value::Dictionary>& value, const std::string& key);
    // Raw access: the stored object as it is; writes schedule no synchronize.
    Value objectForKey(const std::string& key);
    void setObject(const Value& value, const std::string& key);

    void clearValues();
    void scheduleSynchronizeToDisk();
    void cancelScheduledSynchronize();
    void synchronizeToDisk();
    // For the process's end, where the Application Support file's one-second write would never
    // come: a write it has pending happens now; user defaults synchronize as usual.
    void persistPendingToDisk();
    void updateConfigStoreMigrationFlagIfNeeded();

    // The settings.
    double lastDeleteStaleBundlesTimestamp();
    void setLastDeleteStaleBundlesTimestamp(double value);
    Value searchAdCampaignValue();
    void setSearchAdCampaignValue(const Value& value);
    double lastSearchAdLookUpTimestamp();
    void setLastSearchAdLookUpTimestamp(double value);
    std::int64_t searchAdRetryCount();
    void setSearchAdRetryCount(std::int64_t value);
    std::optional<std::string> appInstanceID();
    void setAppInstanceID(const std::optional<std::string>& value);
    std::optional<std::string> appIDFromVUV();
    void setAppIDFromVUV(const std::optional<std::string>& value);
    std::optional<std::string> appIDFromZeViv();
    void setAppIDFromZeViv(const std::optional<std::string>& value);
    std::optional<std::string> hashedResettableDeviceID();
    void setHashedResettableDeviceID(const std::optional<std::string>& value);
    std::optional<std::string> diversionKey();
    void setDiversionKey(const std::optional<std::string>& value);
    // Kept in the standard store and written to disk at once.
    std::int64_t measurementEnabledState();
    void setMeasurementEnabledState(std::int64_t state);
    double lastBackoffTimestamp();
    void setLastBackoffTimestamp(double value);
    double lastSuccessfulUploadTimestamp();
    void setLastSuccessfulUploadTimestamp(double value);
    double lastFailedUploadTimestamp();
    void setLastFailedUploadTimestamp(double value);
    std::optional<std::string> appVersion();
    void setAppVersion(const std::optional<std::string>& value);
    std::optional<std::string> osVersion();
    void setOSVersion(const std::optional<std::string>& value);
    // Seconds in [0, 86400) with millisecond resolution, drawn once per installation.
    double midnightOffset();
    double lastMonitorDataSampledTimestamp();
    void setLastMonitorDataSampledTimestamp(double value);
    std::int64_t firstOpenTimestampMilliseconds();
    void setFirstOpenTimestampMilliseconds(std::int64_t value);
    Value configServerLastModifiedString();
    void setConfigServerLastModifiedString(const std::optional<std::string>& value);
    std::optional<std::string> configServerETag();
    void setConfigServerETag(const std::optional<std::string>& value);
    Value loadTimestampValue();
    void setLoadTimestampValue(const Value& value);
    Value allowPersonalizedAds();
    void setAllowPersonalizedAds(const Value& value);
    std::optional<std::string> rezaviviFeatureRollouts();
    void setRezaviviFeatureRollouts(const std::optional<std::string>& value);
    Value deferredDeepLinkRetrievalComplete();
    void setDeferredDeepLinkRetrievalComplete(const Value& value);
    std::int64_t deferredDeepLinkRetryCount();
    void setDeferredDeepLinkRetryCount(std::int64_t value);
    bool shouldSetLastAdvertisingIDResetUserProperty();
    void setShouldSetLastAdvertisingIDResetUserProperty(bool value);
    bool unmatchedFirstOpenWithoutIDFA();
    void setUnmatchedFirstOpenWithoutIDFA(bool value);
    double lastSessionActivityClockTime();
    void setLastSessionActivityClockTime(double value);
    std::int64_t sessionNumber();
    void setSessionNumber(std::int64_t value);
    std::optional<Value::Dictionary> defaultEventParameters();
    void setDefaultEventParameters(const std::optional<Value::Dictionary>& value);

    std::shared_ptr<DispatchQueue> serialQueue() const { return serialQueue_; }

private:
    void runOnQueue(const std::function<void()>& block);
    // The stored value of a key, answered from memory while the store's change stamp stays what
    // it was when the value was read: a write, this object's or any other's, moves the stamp.
    Value storedObject(const std::string& key);
    void typedWrite(const std::string& key, const Value& value);

    std::string name_;
    std::shared_ptr<APMConfigStore> userDefaults_;
    bool usesApplicationSupport_ = false;
    bool shouldCheckConfigStoreMigrationFlag_ = true;
    std::shared_ptr<DispatchQueue> serialQueue_;
    std::shared_ptr<DispatchBlock> synchronizeBlock_;

    // Values read on any thread, kept for the stamp they were read under.
    Mutex keptMutex_;
    std::optional<std::uint64_t> keptStamp_ GUARDED_BY(keptMutex_);
    std::unordered_map<std::string, Value> kept_ GUARDED_BY(keptMutex_);
};
