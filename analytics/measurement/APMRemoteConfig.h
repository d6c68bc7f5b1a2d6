// The engine's view of the measurement configuration the measurement service sends: typed,
// range-checked settings, per-event configuration, data controls and the service's URLs, and
// the experiments client of the measurement library, whose flags come before four switches.
// Getters may be called from any queue; updating and reading the database belong on the
// engine's worker queue.
#pragma once

#include "analytics/core/APMDatabase.h"
#include "analytics/experiments/APMEClient.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class APMEManager;
class APMPBEventConfig;
class APMPBMeasurementConfig;
class APMPBProgram;
class APMPEventEditing;
class MemoryRelief;
class APMScriptContext;
class NSURL;

class APMRemoteConfig : public NSObject, public APMEExperimentObserverDelegate {
    friend class APMRemoteConfigProgramContext;

public:
    // Where the measurement service lives when the standard user defaults name no other host: a
    // reserved name that never resolves, so that nothing leaves the machine until a deployment
    // configures its service.
    static constexpr const char* kDefaultMeasurementHost = "app-measurement.invalid";
    // The standard user defaults key that points the engine at another host ("host" or "host:port").
    static constexpr const char* kMeasurementHostDefaultsKey = "APMMeasurementEndpointHost";
    // Larger configuration bodies are refused before decoding.
    static constexpr std::size_t kMaxConfigurationSize = 1024 * 1024;
    // The measurement library's name among the experiments' clients, and its flags.
    static constexpr const char* kExperimentSDKName = "zev_uzeviroreda";
    static constexpr const char* kEfficientEngagementReportingFlag = "efficient_engagement_reporting_enabled";
    static constexpr const char* kRedundantEngagementRemovalFlag = "redundant_engagement_removal_enabled";
    static constexpr const char* kNetworkBackgroundSessionFlag = "network_background_session_enabled";
    static constexpr const char* kPersistentConfigInApplicationSupportFlag =
        "persistent_config_in_application_support_enabled";

    // The built-in configuration used before any has been fetched: no app id, no database, every
    // getter at its default. Compared by identity.
    static std::shared_ptr<APMRemoteConfig> defaultInstance();
    // Nil with 29000 for an empty app id and 29001 without a database. The stored configuration,
    // when there is one, becomes the configuration in force. Registered with the experiments
    // manager, when given, as the client kExperimentSDKName (all four flags 0 by default), whose
    // latest snapshot is activated at once.
    [[nodiscard]] static std::shared_ptr<APMRemoteConfig> initWithAppID(
        const std::string& appID, const std::shared_ptr<APMDatabase>& database,
        const std::shared_ptr<APMEManager>& experimentManager);
    // As above, with the process's experiments manager (none before the engine has made it).
    [[nodiscard]] static std::shared_ptr<APMRemoteConfig> initWithAppID(const std::string& appID,
                                                                        const std::shared_ptr<APMDatabase>& database);
    // As above, but a given configuration is stored and put in force instead of the stored one.
    [[nodiscard]] static std::shared_ptr<APMRemoteConfig> initWithAppID(
        const std::string& appID, const std::shared_ptr<APMDatabase>& database,
        const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig);
    [[nodiscard]] static std::shared_ptr<APMRemoteConfig> initWithAppID(
        const std::string& appID, const std::shared_ptr<APMDatabase>& database,
        const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig,
        const std::shared_ptr<APMEManager>& experimentManager);

    // The host (and port) of the measurement service: the standard user defaults' value under
    // kMeasurementHostDefaultsKey, else kDefaultMeasurementHost.
    static std::string measurementHost();

    // A configuration body as the service sent it: nil (and 29011 or 23135) when it is too large,
    // does not decode, or cannot be encoded again.
    [[nodiscard]] static std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromData(const NSData& data);

    // Hands the database its storage limits and the persisted settings their store choice from
    // whatever configuration `current` names at each use (the default instance when it names
    // none); an empty function disconnects both.
    static void connectStorageHooks(std::function<std::shared_ptr<APMRemoteConfig>()> current);

    bool isDefaultInstance() const { return isDefaultInstance_; }
    const std::string& appID() const { return appID_; }

    // Who started the engine ("fa", or "am" for the ads library, whose configurations must
    // also carry the app id as their ZeViv app id). Asked at every update.
    void setIdentifiersOriginProvider(std::function<std::string()> provider);

    // Stores the configuration in the database and puts it in force. Refused (and logged) for the
    // default instance, a nil configuration, another app id, or a store failure; the
    // configuration in force then stays, and `error` says which field or what failed.
    [[nodiscard]] bool updateMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config,
                                               NSErrorPtr* error = nullptr);
    // Why a configuration is refused for an app id `field` holding `given` instead of `expected`.
    static std::string mismatchedAppID(const std::string& field, const std::string& given, const std::string& expected);
    // Refills the setting and event caches and the data controls from the configuration.
    void parseRemoteConfigFromMeasurementConfig(const std::shared_ptr<APMPBMeasurementConfig>& config);
    [[nodiscard]] std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromDatabase();
    // Empty caches and data controls; a real instance also drops its configuration in force.
    // The experiments lose their snapshots and schedule.
    void reset();

    // Experiments.
    const std::shared_ptr<APMEClient>& experimentClient() const { return experimentClient_; }
    // The activated experiments, ascending; none without experiments.
    std::vector<std::int32_t> experimentIDs();
    // A snapshot arrived since the last activation.
    bool hasNewSnapshot() const;
    // Activates it when one arrived (29024 when that fails); false when there was none.
    bool activateNewSnapshot();
    // The experiments client's delegate: a new snapshot waits for activateNewSnapshot; fetch
    // errors are logged (29025); fetches are made while the shared engine exists and is enabled.
    bool respondsToClientDidReceiveNewSnapshot() const override { return true; }
    void clientDidReceiveNewSnapshot(APMEClient& client) override;
    void clientDidReceiveFetchError(APMEClient& client, const NSErrorPtr& error) override;
    bool shouldFetchExperimentsForClient(APMEClient& client) override;

    // A count that moves whenever the settings of any configuration change (parsed or reset).
    static std::uint64_t settingsChangeCount();

    // Field 0 of the configuration in force, -1 without one.
    std::int64_t version() const;
    // Seconds since 1970 of the last successful fetch; 0 for the default instance or on failure.
    double lastRemoteConfigUpdateTimestamp();
    // At least remoteConfigCacheTimeInterval since the last fetch (NO for the default instance).
    bool isExpired();

    // "https://<host>/a", or "https://<subdomain>.<host>/a" when the configuration names one
    // that is a host label (29030 and the host alone otherwise).
    std::shared_ptr<NSURL> uploadURL() const;
    // "https://<host>/config/app/<app id>?app_instance_id=…&platform=…&vuv_version=…&runtime_version=…".
    // The app instance id goes empty while analytics storage is denied; otherwise an empty app
    // instance id or platform gives nil (29010).
    [[nodiscard]] std::shared_ptr<NSURL> remoteConfigURLWithAppInstanceID(const std::string& appInstanceID,
                                                                          const std::string& platform,
                                                                          std::int64_t SDKVersion,
                                                                          std::int64_t runtimeVersion,
                                                                          bool analyticsStorageDenied) const;

    // Per-event configuration, by internal event name (public names are looked up as their
    // internal ones).
    [[nodiscard]] std::shared_ptr<APMPBEventConfig> eventConfigWithName(const std::string& name) const;
    bool isEventBlocklisted(const std::string& name);
    bool isEventCustomConversion(const std::string& name) const;
    bool eventHasSamplingRate(const std::string& name) const;
    // 2..65535 from the event's configuration, else 1.
    std::int32_t samplingRateForEvent(const std::string& name) const;

    std::vector<std::string> dataControls() const;

    // The editor that runs the first event-editing program of the last configuration that
    // carried programs, when that program loaded; nil otherwise. Used on the worker queue.
    std::shared_ptr<APMPEventEditing> eventEditing() const;
    // What programs' modules ask of the engine besides the settings (the application's
    // version); held weakly and read when a program asks.
    void setScriptContext(std::weak_ptr<APMScriptContext> context);

    // The readers behind the getters: the cached number, else the setting's text read as a
    // decimal number, else the default. A number outside [minValue, maxValue] gives the default.
    std::int32_t intValueFromCacheWithKey(std::string_view key, std::int32_t defaultValue, std::int32_t maxValue,
                                          std::int32_t minValue);
    std::int64_t int64ValueFromCacheWithKey(std::string_view key, std::int64_t defaultValue, std::int64_t maxValue,
                                            std::int64_t minValue);
    // The setting holds milliseconds; bounds, default and result are seconds.
    double timeIntervalInSecondsFromCacheWithKey(std::string_view key, double defaultValue, double maxValue,
                                                 double minValue);
    // The setting's text as the configuration gave it; nothing for a key it does not hold.
    // Event-editing programs read settings this way.
    std::optional<std::string> cachedStringValueForKey(const std::string& key) const;

    // Settings (seconds for intervals).
    double uploadingBackoffInterval();
    std::int32_t maxAudienceCount();
    std::int32_t maxFiltersPerAudience();
    std::int32_t maxFilterResultCount();
    std::int32_t maxParametersPerFilter();
    double databaseDeleteStaleBundlesInterval();
    double maxQueueTime();
    double adIDCacheTime();
    bool gateIDFAOnATTMASEnabled();
    double monitoringSamplePeriod();
    bool isNetworkBackgroundSessionEnabled();
    double networkTimeout();
    double sessionDefaultMinimumInterval();
    double sessionDefaultTimeoutInterval();
    double sessionEventUserEngagementInterval();
    bool efficientEngagementReportingEnabled();
    bool redundantEngagementRemovalEnabled();
    bool configurableLimitsEnabled();
    std::int32_t maxConversionsPerDay();
    std::int32_t maxEventsPerDay();
    std::int32_t maxPublicEventsPerDay();
    std::int32_t maxErrorEventsPerDay();
    std::int32_t maxTrackedCurrencies();
    std::int32_t maxPublicUserProperties();
    std::int32_t maxEventNameCardinality();
    std::int32_t maxPublicEventParams();
    std::int32_t maxEventsStored();
    double uploadingInterval();
    double uploadingInitialDelayInterval();
    std::int64_t uploadMaxBundlesLimit();
    std::int64_t uploadMaxEventsPerBundle();
    std::int64_t uploadMaxSizeLimitBytes();
    std::int32_t uploadingRetryCount();
    double uploadingRetryInterval();
    std::int32_t maxBundlesCreatedPerIteration();
    std::int32_t maxRealtimeEventCountPerDay();
    double uploadingDebugModeInterval();
    double uploadingRealTimeInterval();
    bool blocklistInternal();
    bool blocklistPublic();
    bool isEventSamplingEnabled();
    std::int32_t analyticsAccountTimeZoneOffsetMinutes();
    bool checksumEnabled();
    bool appBackgroundedEventEnabled();
    bool appInBackgroundParameterEnabled();
    bool lastAdvertisingIDResetFeatureEnabled();
    bool eesFeatureEnabled();
    bool PSMFeatureEnabled();
    std::int32_t maxPSMStartCount();
    std::int32_t maxPSMRetryCount();
    double PSMRetryInterval();
    bool isDeferredDeepLinkEnabled();
    std::int32_t maxDeferredDeepLinkRetryCount();
    double attributionCacheTTLInterval();
    double remoteConfigCacheTimeInterval();
    bool isConsentSettingsEnabled();
    bool isConsentSettings3PEnabled();
    bool persistentConfigInApplicationSupportEnabled();

    // The storage limits the database reads on every use.
    APMDatabaseLimits databaseLimits();

    APMRemoteConfig() = default;

private:
    // A setting as the configuration gave it (text, none for a key it does not hold) and, once a
    // typed reader read it, the number that reader settled on. The text stays as given, so that
    // what a program reads does not depend on which getter ran first.
    struct CachedSetting {
        std::optional<std::string> text;
        std::optional<double> number;
    };
    using Converter = std::function<std::optional<double>(double)>;
    // By key, found from the getters' literals without making a string each time.
    using SettingCache = std::map<std::string, CachedSetting, std::less<>>;

    static std::shared_ptr<APMRemoteConfig> make(const std::string& appID, const std::shared_ptr<APMDatabase>& database,
                                                 const std::shared_ptr<APMPBMeasurementConfig>& measurementConfig,
                                                 const std::shared_ptr<APMEManager>& experimentManager);
    void registerExperimentClient(const std::shared_ptr<APMEManager>& experimentManager);
    // A snapshot's value of the flag when one gives it, else the configuration's setting.
    bool experimentFlagOrSetting(const char* flag, std::string_view key);
    double numberFromCacheWithKey(std::string_view key, double defaultValue, double maxValue, double minValue,
                                  const Converter& convert);
    bool flagFromCacheWithKey(std::string_view key, std::int32_t defaultValue);
    // A new editor over the program in place of the old one; none (and 29026) when it fails.
    bool loadEventEditingProgram(const NSData& encodedProgram);

    bool isDefaultInstance_ = false;
    std::string appID_;
    std::weak_ptr<APMDatabase> database_;
    std::function<std::string()> identifiersOrigin_;
    // Set once at creation.
    std::shared_ptr<APMEManager> experimentManager_;
    std::shared_ptr<APMEClient> experimentClient_;
    // Shared by every editor this configuration loads: the memory one freed and the memory of
    // the one it replaced go back to the system together.
    std::shared_ptr<MemoryRelief> memoryRelief_;

    // Guards everything below.
    mutable Mutex mutex_;
    std::shared_ptr<APMPBMeasurementConfig> remoteConfigProto_ GUARDED_BY(mutex_);
    SettingCache cachedValueByRemoteConfigKeys_ GUARDED_BY(mutex_);
    std::map<std::string, std::shared_ptr<APMPBEventConfig>> cachedEventConfigByEventName_ GUARDED_BY(mutex_);
    std::vector<std::string> cachedDataControls_ GUARDED_BY(mutex_);
    // The configuration's upload sub-domain once it passed as a host label; "" for none.
    std::string cachedUploadSubdomain_ GUARDED_BY(mutex_);
    bool hasNewSnapshot_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<APMPEventEditing> eventEditing_ GUARDED_BY(mutex_);
    std::weak_ptr<APMScriptContext> scriptContext_ GUARDED_BY(mutex_);
    // Answers programs from this configuration's settings (the engine's may still be another
    // while this one parses) and from scriptContext_ for the rest.
    std::shared_ptr<APMScriptContext> programContext_ GUARDED_BY(mutex_);
};

// What `read` answers from the configuration `current` names, kept until another configuration
// is named or any configuration's settings change: for the settings every event asks for.
template <class T>
std::function<T()> APMKeptRemoteConfigReading(std::function<std::shared_ptr<APMRemoteConfig>()> current,
                                              std::function<T(APMRemoteConfig&)> read) {
    struct Kept {
        Mutex mutex;
        std::weak_ptr<APMRemoteConfig> config GUARDED_BY(mutex);
        std::uint64_t changeCount GUARDED_BY(mutex) = 0;
        std::optional<T> value GUARDED_BY(mutex);
    };
    auto kept = std::make_shared<Kept>();
    return [kept, current = std::move(current), read = std::move(read)]() -> T {
        auto config = current();
        if (!config) config = APMRemoteConfig::defaultInstance();
        // Counted before reading: a change racing the read leaves an older count kept.
        const std::uint64_t changeCount = APMRemoteConfig::settingsChangeCount();
        {
            MutexLock lock(kept->mutex);
            if (kept->value && kept->changeCount == changeCount && kept->config.lock() == config) return *kept->value;
        }
        T value = read(*config);
        MutexLock lock(kept->mutex);
        kept->config = config;
        kept->changeCount = changeCount;
        kept->value = value;
        return value;
    };
}
