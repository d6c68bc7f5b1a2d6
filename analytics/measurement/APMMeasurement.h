// The measurement engine: one shared instance per process that owns the measurement database,
// the persisted settings, the network object, the serial worker queue and the upload timer, and
// runs everything that touches stored data on that queue. This header covers its creation and
// start (APMMeasurement.cpp), the logging interface for events and user properties
// (APMMeasurementLogging.cpp), the write pipeline that stores raw events
// (APMMeasurementWritePipeline.cpp), the background task, wipe and reset
// (APMMeasurementLifecycle.cpp), and what it hands the components and libraries below it
// (APMMeasurementContexts.cpp). Operations named "...OnWorkerQueue" run only on the worker queue.
#pragma once

#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurementFront.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/services/DIDEderazi.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class APMAlarm;
class APMAnalyticsStore;
class APMAudience;
class APMAudienceContext;
class APMConditionalUserPropertyController;
class APMDailyCounts;
class APMDatabase;
class APMEManager;
class APMEvent;
class APMMeasurementDelegate;
class APMEventSink;
class APMExperimentContext;
class APMIdentity;
class APMInAppPurchaseTransactionReporter;
class APMMonitor;
class APMPBMeasurementBundle;
class APMPersistedConfig;
class APMPrivateSetMembershipClient;
class APMRemoteConfig;
class APMReporterContext;
class APMScheduler;
class APMScriptContext;
class APMSearchAdReporter;
class APMPEventEditing;
class APMSessionReporter;
class APMUploader;
class APMUploaderContext;
class APMUserAttribute;
class APMValue;
class DispatchCancellation;
class NSNotification;
class NSUserActivity;
class SKPaymentTransaction;

class APMMeasurement : public NSObject, public DIDEderaziLoggerDelegate {
public:
    static constexpr const char* kDatabaseName = "vizudi-app-measurement.sql";
    static constexpr const char* kWorkerQueueLabel = "com.vizudi.daro.worker";
    static constexpr const char* kUploadTimerName = "Measurement timer";
    static constexpr const char* kBackgroundTaskName = "APMAnalyticsMeasurementBackgroundTask";
    // Real seconds the engine's request in flight may go without moving a byte once the
    // application terminates.
    static constexpr double kTerminationGracePeriod = 1.5;
    // Real seconds the termination waits for the engine at most, whatever its request, the
    // service or any other transfer does: the rest of the process's end has time left within
    // five seconds.
    static constexpr double kTerminationWaitLimit = 3;
    // Stored user properties of one origin whose names begin with "_".
    static constexpr std::int64_t kMaxInternalUserPropertiesPerOrigin = 25;

    using UserAttributeCallback = std::function<void(const std::shared_ptr<APMUserAttribute>& attribute)>;
    using UserPropertiesCallback = std::function<void(const Value::Dictionary& properties)>;
    using Interceptor = std::function<void(const std::string& origin, const std::string& name,
                                           const Value::Dictionary& parameters, double timestamp)>;

    // MARK: The shared instance (APMMeasurement.cpp)

    // The first call of the process creates the engine (none for an empty app id) over what its
    // front hands it; later calls do nothing.
    static void initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                  bool isAnalyticsCollectionDeactivated,
                                                  const std::vector<std::string>& safelistedEvents,
                                                  APMMeasurementFront front);
    static bool hasSharedInstance();
    static std::shared_ptr<APMMeasurement> sharedInstance();
    static std::shared_ptr<APMMonitor> monitor();
    // The engine's remote configuration, else the built-in default one.
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Waits until the worker queue is idle, then forgets the shared engine, the hooks it
    // installed and the load hook's observation, as a new process would start (tests).
    static void resetSharedInstance();

    // Nil (and 23170) for an empty app id.
    [[nodiscard]] static std::shared_ptr<APMMeasurement> initWithAppID(const std::string& appID,
                                                                       bool isAnalyticsCollectionEnabled,
                                                                       bool isAnalyticsCollectionDeactivated,
                                                                       const std::vector<std::string>& safelistedEvents,
                                                                       APMMeasurementFront front);
    [[nodiscard]] static std::shared_ptr<APMMeasurement> initWithDatabaseName(
        const std::string& databaseName, std::shared_ptr<APMPersistedConfig> persistedConfig,
        std::shared_ptr<DIDEderazi> network, std::shared_ptr<APMScheduler> scheduler, std::shared_ptr<APMAlarm> alarm,
        const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
        const std::vector<std::string>& safelistedEvents, APMMeasurementFront front);
    ~APMMeasurement() override;

    const std::shared_ptr<APMAlarm>& alarm() const { return alarm_; }
    const std::shared_ptr<DIDEderazi>& network() const { return network_; }
    const std::shared_ptr<APMPersistedConfig>& persistedConfig() const { return persistedConfig_; }
    const std::shared_ptr<APMScheduler>& scheduler() const { return scheduler_; }
    const std::shared_ptr<APMUploader>& uploader() const { return uploader_; }
    // The experiments of this engine, handed to its remote configuration.
    const std::shared_ptr<APMEManager>& experimentManager() const { return experimentManager_; }
    // Set by component initialisation; empty before.
    std::shared_ptr<APMDatabase> database() const;
    std::shared_ptr<APMIdentity> identity() const;
    std::shared_ptr<APMRemoteConfig> remoteConfigInstance() const;
    std::shared_ptr<APMAudience> audience() const;
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserPropertyController() const;
    // Made by the post-initialisation steps, and anew by a reset.
    std::shared_ptr<APMSessionReporter> sessionReporter() const;
    // Made by the post-initialisation steps; none when the attribution is settled or given up.
    std::shared_ptr<APMSearchAdReporter> searchAdReporter() const;
    const std::string& appID() const { return appID_; }
    const std::vector<std::string>& safelistedEvents() const { return safelistedEvents_; }
    double initTimestamp() const { return initTimestamp_; }
    bool isEnabled() const { return enabled_.load(); }
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    bool didInitializeComponents();
    bool isAnalyticsCollectionEnabled() const { return isAnalyticsCollectionEnabled_.load(); }
    void setIsAnalyticsCollectionEnabled(bool enabled) { isAnalyticsCollectionEnabled_ = enabled; }
    bool isAnalyticsCollectionDeactivated() const { return isAnalyticsCollectionDeactivated_.load(); }
    void setIsAnalyticsCollectionDeactivated(bool deactivated) { isAnalyticsCollectionDeactivated_ = deactivated; }
    bool isNetworkRequestPending() const { return isNetworkRequestPending_.load(); }
    void setIsNetworkRequestPending(bool pending);
    // Held weakly; set and read from any thread.
    std::shared_ptr<APMMeasurementDelegate> measurementDelegate() const;
    void setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate);
    // Waits, at most `seconds` of real time, until no request of the engine is in flight;
    // whether none is.
    [[nodiscard]] bool waitUntilNoNetworkRequestPending(double seconds) const;

    // MARK: Collection and start (APMMeasurement.cpp)

    // Deactivated: never; else the persisted state 1 / 2, else the application's setting.
    bool shouldEnableMeasurement() const;
    // Schedules setEnabledOnWorkerQueue.
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    // Component initialisation once, the post-initialisation steps once, then the start steps of
    // every enable; false when the components could not be made.
    bool startMeasurementOnWorkerQueue();
    // What measurement off stops: the expired deep link, the upload timer, the reporters.
    void switchOffOnWorkerQueue();
    // The eight-row table of when an app id change wipes the stored data.
    static bool shouldWipeDataWithAppID(const std::string& appID, const std::string& appIDFromVUV,
                                        const std::string& appIDFromZeViv, const std::string& persistedAppIDFromVUV,
                                        const std::string& persistedAppIDFromZeViv);
    // The start-up merge of the consent sources.
    void setProspectiveConsentSettings();
    void updatePersistedAppIDFromVUVAndZeViv();
    void reportFirstOpenOnWorkerQueue();
    void reportAppUpdateOnWorkerQueue();
    void reportOSUpdateOnWorkerQueue();
    void setPersonalizedAdsUserPropertyOnWorkerQueue();
    void backfillSessionNumber();
    // Only when the session has expired: a new one, its properties and its "_s" at `timestamp`.
    void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
    // The same at the load time, scheduled on the worker queue.
    void reportSessionStart();
    // A prewarmed launch of a scene-based application starts its session when its scene connects.
    void reportSessionStartWhenSceneWillConnectOnWorkerQueue();
    void setSessionTimeoutInterval(double interval);
    // In the background: "extend_session" starts or extends a session, and an expired one
    // loses its properties.
    void processSessionFromEvent(const std::shared_ptr<APMEvent>& event);
    // The store receipt's original version is this build's (worked out once per engine).
    bool isVersionSameAsOriginalVersion();
    // (t / 1 h, truncated) × 1 h + 1 h, in milliseconds.
    static std::int64_t timestampMillisRoundedUpToNextHour(std::int64_t timestampMillis);

    // MARK: Logging interface (APMMeasurementLogging.cpp)

    void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                            const Value::Dictionary& parameters, double timestamp, bool enabled, bool ignoreEnabled,
                            bool ignoreInterceptor, Interceptor interceptor, const Value::Dictionary& addedScreenParameters);
    void logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                         const Value::Dictionary& parameters, double timestamp, bool enabled,
                                         bool ignoreEnabled, bool ignoreInterceptor, const Interceptor& interceptor,
                                         const Value::Dictionary& addedScreenParameters);
    void logEvent(const std::shared_ptr<APMEvent>& event);
    void logEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event, bool notifyEventListeners);
    // The engine's own events: default parameters (but for "_err"), the pipeline, the listeners.
    void handleInternalEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
    Value::Dictionary parametersWithAddedDefaultEventParameters(const Value::Dictionary& parameters);
    void setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters);
    void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<Value::Dictionary>& parameters);
    void setUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute);
    void removeUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute);
    void setUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute);
    void removeUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute);
    // Stores with the per-origin limits, whether collection is on or not; true when stored.
    bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute);
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    // Callbacks run on the global queue of background priority.
    void userAttributeWithName(const std::string& name, UserAttributeCallback callback);
    void userPropertiesIncludingInternal(bool includeInternal, UserPropertiesCallback callback);
    void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(std::int64_t)> callback);
    // A boolean number 0/1 for "_npa", or null when nothing says.
    Value shouldDisableAdPersonalization() const;
    bool shouldAllowAdNetworkRegistration() const;

    // MARK: Write pipeline (APMMeasurementWritePipeline.cpp)

    void handleEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
    // From the block list on; the engine's own events ("_ssr", "_fx") enter here.
    void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
    void writeSessionStartEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
    void writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
    // The event through the configuration's program (when it has one): the edited event, or the
    // event as it came when the program fails, then the events the program created.
    void editAndWriteEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event,
                                        const std::shared_ptr<APMPEventEditing>& editing);
    std::shared_ptr<APMEvent> eventAfterSafelistingEvent(const std::shared_ptr<APMEvent>& event);
    bool dedupeSubscriptionEvent(const std::shared_ptr<APMEvent>& event);
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const std::shared_ptr<APMEvent>& event);
    std::shared_ptr<APMEvent> appExceptionEventWithRezaviviFeatureRollouts(const std::shared_ptr<APMEvent>& event);
    bool shouldProcessEvent(const std::shared_ptr<APMEvent>& event, APMDailyCounts& dailyCounts, bool isPublicEvent);
    bool isRealtimeEvent(const std::shared_ptr<APMEvent>& event, APMDailyCounts& dailyCounts);
    void maybeAddDebugAndRealtimeParameters(const std::shared_ptr<APMEvent>& event);
    bool writeEvent(const std::shared_ptr<APMEvent>& event, bool isPublicEvent, bool isRealtime);
    std::shared_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes);
    // The metadata an event logged now would be stored with, with the stored user properties;
    // none when they cannot be read.
    std::shared_ptr<APMPBMeasurementBundle> currentRawEventMetadataOnWorkerQueue();
    // An event's metadata as stored: its bytes, their fingerprint, and whether it carries the
    // advertising id. Made again only when something it is made from changed.
    struct RawEventMetadata {
        NSData bytes;
        std::int64_t fingerprint = 0;
        bool hasResettableDeviceID = false;
    };
    std::optional<RawEventMetadata> rawEventMetadataWithUserAttributes(
        const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes);
    // Writes "_fx" (realtime) in a later block of the worker queue.
    void logFirstOpenConsentedEvent(double timestamp);

    // MARK: Background task, wipe and reset (APMMeasurementLifecycle.cpp)

    // Exchanges the held background task; a real old one is ended.
    void swapBackgroundTaskWithNewTaskID(std::uint64_t taskID);
    bool hasBackgroundTask() const;
    // Writes the persisted settings out and ends the held task.
    void terminateBackgroundTask();
    // Main thread: the settings are written, a background task begins and an upload is queued
    // behind every event already queued.
    void handleAppWillResignActiveEvent(const NSNotification& notification);
    void handleAppWillEnterForegroundNotification(const NSNotification& notification);
    // Main thread, as the application terminates: from then on nothing new is sent; the work
    // already queued runs, and the engine's request in flight is read on while its bytes keep
    // coming (the main run loop runs meanwhile), for kTerminationWaitLimit real seconds at most
    // in all. One that has gone kTerminationGracePeriod seconds without a byte, or is still
    // coming at the limit, is ended by the network's shutdown: an upload whose answer's status
    // line said the batch was taken (200 or 204) is delivered and its bundles deleted, whatever
    // of the answer was cut; one without such a status line by then keeps its bundles for the
    // next launch, which sends them again (delivery is at least once).
    void handleAppWillTerminateNotification(const NSNotification& notification);
    bool isTerminating() const { return isTerminating_.load(); }
    void subscribeForAppForegroundBackgroundNotifications();
    // The stored data, the persisted settings and the monitor's samples go; true when done.
    bool wipeoutAnalyticsDataAndResetComponents();
    // Off the main thread and never on the worker queue: the wipe and a new first open, in one
    // block of the worker queue.
    bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID);
    // Worker queue: when the first open was, in seconds, read from the stored user attributes
    // ("_fot" when set, else the earliest attribute); 0 when none can be read.
    double firstOpenTimestamp();

    // MARK: Purchases (APMMeasurementPurchases.cpp)

    using PurchaseTransactions = std::vector<std::shared_ptr<SKPaymentTransaction>>;
    // Any thread: on the worker queue, keeps in order the purchased transactions not reported
    // before (their fingerprints are recorded now), then calls `callback` with them on the
    // global queue. A purchase whose fingerprint cannot be made or stored is kept.
    void filterPurchaseTransactions(const PurchaseTransactions& transactions,
                                    std::function<void(const PurchaseTransactions& kept)> callback);
    // Purchases that could not be reported: their fingerprints go, so that they are reported
    // when the store hands them over again.
    void forgetPurchaseTransactions(const PurchaseTransactions& transactions);
    // The process's reporter, handed this engine's road at the first ask.
    std::shared_ptr<APMInAppPurchaseTransactionReporter> purchaseReporter();
    // For a purchase event, its amount into the lifetime value totals; false when that failed.
    bool updateLifetimeValueWithEvent(const std::shared_ptr<APMEvent>& event);

    // MARK: Deep links and campaigns (APMMeasurementDeepLinks.cpp)

    static constexpr const char* kDeepLinkKey = "/vizudi/measurement/deep_link";
    static constexpr const char* kDeepLinkTimestampKey = "/vizudi/measurement/deep_link_timestamp_seconds";
    // Where the ad-conversion service lives unless the standard user defaults name another host
    // under kAdConversionHostDefaultsKey ("host" or "host:port"): a name that never resolves.
    static constexpr const char* kDefaultAdConversionHost = "ad-conversion.invalid";
    static constexpr const char* kAdConversionHostDefaultsKey = "APMAdConversionEndpointHost";

    // The class's load hook: observes the application's launch.
    static void load();
    // Observes the application's launch (main thread), whose launch link is cached; once, however
    // often it is asked.
    static void subscribeForAppDidFinishLaunchingNotifications();
    static void handleAppDidFinishLaunching(const NSNotification& notification);
    // The launch options' web-browsing activity link, else their URL, with the time now.
    static void handleStoredURLAfterAppLaunchWithNotification(const NSNotification& notification);
    // The web page of a browsing activity; none (with a logged line) for anything else.
    static std::optional<std::string> deepLinkFromUserActivity(const std::shared_ptr<NSUserActivity>& activity);
    // Not on the worker queue (23163).
    void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds);
    void handleOpenURL(const std::string& url, std::optional<std::int64_t> clickTimestampInMs,
                       double eventTimestampInSeconds);
    // "_cmp" (or "_cmpx" for an expired cached link) from the link's campaign keys.
    void handleOpenURLOnWorkerQueue(const std::string& url, std::optional<std::int64_t> clickTimestampInMs,
                                    double eventTimestampInSeconds, const Value::Dictionary& extraParameters);
    static bool isValidCampaignURLParamDictionary(const Value::Dictionary& parameters);
    bool shouldAllowClickID() const;
    // The cached launch link, as a campaign of its stored time; the cache is emptied.
    void reportStoredCampaignEventOnWorkerQueue(std::optional<std::int64_t> clickTimestampInMs);
    // Collection switched off: an expired cached link goes.
    static void removeExpiredDeepLinkCache();
    bool shouldAllowRequestDeferredDeepLink();
    // Sent only while no other request of the engine is in flight; otherwise left to a later
    // launch without counting a try.
    void requestDeferredDeepLink();
    static std::optional<Value::Dictionary> deepLinkInfoFromResponseData(const NSData& data);
    void handleDeferredDeepLinkInfo(const Value::Dictionary& info);
    // The application delegate's application:openURL:options:, when it has one.
    static bool sendDeepLinkURLToAppDelegateOnMainThread(const std::string& url, const Value::Dictionary& extraInfo);
    static std::string adConversionHost();

    // MARK: On-device conversion measurement (APMMeasurementOnDeviceConversion.cpp)

    static constexpr double kPSMValueLifetime = 7776000;  // 90 days
    static constexpr const char* kPSMRetryTimerName = "On-device conversion measurement timer";

    // User data given to the door: an "email_address" starts an attempt (once per run).
    void setUserData(const Value::Dictionary& userData);
    void setUserDataOnWorkerQueue(const Value::Dictionary& userData);
    bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithEmailAddress(const std::string& emailAddress);
    // Sent only while no other request of the engine is in flight; otherwise postponed until
    // the next successful upload.
    void retrievePSMResponse();
    // A postponed request is sent now; whether there was one.
    bool retrievePostponedPSMRequest();
    void maybeSchedulePSMRetry();
    void handlePSMValueOnWorkerQueue(const std::string& value);
    void incrementPSMCountOnWorkerQueue();
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    // The per-run counts; any thread.
    void resetPSMCounts();
    bool isPSMRequestInProgress() const { return isPSMRequestInProgress_.load(); }
    bool isPSMRequestPostponed() const { return isPSMRequestPostponed_.load(); }

    // MARK: What the libraries below the engine are handed (APMMeasurementContexts.cpp)

    // Each holds the engine weakly: once it is gone they answer empty (or the defaults) and drop
    // what they are given.
    std::shared_ptr<APMEventSink> eventSink() const;
    std::shared_ptr<APMAudienceContext> audienceContext() const;
    std::shared_ptr<APMReporterContext> reporterContext() const;
    std::shared_ptr<APMScriptContext> scriptContext() const;
    std::shared_ptr<APMExperimentContext> experimentContext() const;

    // The network object's messages, at the monitor's levels.
    void DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message,
                                 const Value::Array& contexts) override;

    APMMeasurement() = default;

private:
    // The engine as the components below it see it: uploading and bundling, and the four
    // libraries (APMMeasurementContexts.cpp).
    class Context;

    static std::shared_ptr<Context> makeContext(const std::shared_ptr<APMMeasurement>& engine);
    std::shared_ptr<APMUploaderContext> uploaderContext() const;
    // Stands for the class in the notification centre: the class's own observations are its.
    static const std::shared_ptr<NSObject>& classObserver();
    // Main thread, as the application terminates: runs the main run loop until `drained` is set
    // and no request is pending, until the engine's request in flight has moved no byte for
    // kTerminationGracePeriod, or for kTerminationWaitLimit at most.
    void waitForWorkAtTermination(const std::atomic<bool>& drained);

    // Identity, consent, wipe, identifiers, database and remote configuration.
    bool initializeComponents();
    void runPostInitialization();
    void installRemoteConfigHooks();
    // Stops waiting for a scene to connect; whether the engine was waiting.
    bool dropSceneWillConnectObserver();
    // One block on the worker queue holding the engine weakly.
    void scheduleOnWorker(const char* blockID, std::function<void(APMMeasurement& engine)> block);
    void writeUserProperty(const std::string& name, const std::shared_ptr<APMValue>& value, double timestamp);
    std::shared_ptr<APMUserAttribute> readBackUserProperty(const std::string& name, std::int64_t queryFailureCode,
                                                          const char* queryFailureMessage, std::int64_t absentCode,
                                                          const char* absentMessage);
    void raiseThinnedLimit(std::int64_t overBy, std::int64_t level, std::int64_t code, const std::string& message,
                           const Value& context1, const Value& context2);

    std::string databaseName_ = kDatabaseName;
    // What the front handed it at creation, its only road back to the front; never changed.
    APMMeasurementFront front_;
    // The load time and the suite the front keeps: the start-up consent, the reset bookkeeping.
    std::shared_ptr<APMAnalyticsStore> analyticsStore_;
    Mutex initializeComponentsLock_;
    bool didInitializeComponents_ GUARDED_BY(initializeComponentsLock_) = false;
    bool postInitializationDone_ GUARDED_BY(initializeComponentsLock_) = false;
    std::shared_ptr<APMAlarm> alarm_;
    std::shared_ptr<DIDEderazi> network_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<APMScheduler> scheduler_;
    std::shared_ptr<Context> context_;
    std::shared_ptr<APMUploader> uploader_;
    std::shared_ptr<APMEManager> experimentManager_;
    // Written once on the worker queue, read from any thread.
    mutable Mutex componentsMutex_;
    std::shared_ptr<APMDatabase> database_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMIdentity> identity_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMRemoteConfig> remoteConfig_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMAudience> audience_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserPropertyController_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMSessionReporter> sessionReporter_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMInAppPurchaseTransactionReporter> purchaseReporter_ GUARDED_BY(componentsMutex_);
    std::shared_ptr<APMSearchAdReporter> searchAdReporter_ GUARDED_BY(componentsMutex_);
    // A prewarmed launch waits for its scene to start the session.
    Mutex sceneWillConnectMutex_;
    std::shared_ptr<NSObject> sceneWillConnectObserver_ GUARDED_BY(sceneWillConnectMutex_);

    std::string previousVUVAppID_;
    std::optional<bool> versionSameAsOriginal_;
    std::atomic<std::uint64_t> backgroundUpdateTask_{0};
    double initTimestamp_ = 0;
    std::string appID_;
    std::vector<std::string> safelistedEvents_;
    std::atomic<bool> enabled_{false};
    bool wasEnabledDuringInitialization_ = false;
    std::atomic<bool> isAnalyticsCollectionEnabled_{false};
    std::atomic<bool> isAnalyticsCollectionDeactivated_{false};
    std::atomic<bool> isNetworkRequestPending_{false};
    mutable Mutex measurementDelegateMutex_;
    std::weak_ptr<APMMeasurementDelegate> measurementDelegate_ GUARDED_BY(measurementDelegateMutex_);
    mutable Mutex networkRequestMutex_;
    mutable std::condition_variable networkRequestEnded_;
    std::atomic<bool> isTerminating_{false};
    // The database's openings' salvage: cancelled as the application terminates, by an observer of
    // its own registered when the engine is made (the first start subscribes to the rest of the
    // life cycle only after its opening), ahead of the engine's wait for its queued work.
    std::shared_ptr<DispatchCancellation> salvageCancellation_;
    // On-device conversion measurement (the worker queue's, but for the counts' reset).
    std::shared_ptr<APMPrivateSetMembershipClient> privateSetMembershipClient_;
    std::atomic<bool> isPSMRequestInProgress_{false};
    std::atomic<bool> isPSMRequestPostponed_{false};
    std::atomic<std::int32_t> PSMStartCount_{0};
    std::atomic<std::int32_t> PSMRetryCount_{0};
    std::shared_ptr<APMAlarm> PSMRetryAlarm_;
    // Everything an event's metadata is made from, and the metadata made from it last (the
    // worker queue's).
    struct RawEventMetadataSource {
        std::shared_ptr<APMIdentity> identity;
        std::string installationID;
        std::optional<std::string> consentSignals;
        bool gateIDFA = false;
        APMIdentity::DeviceValues device;
        std::optional<std::string> identifierForVendor;
        std::string deviceModel;
        std::string osVersion;
        std::int32_t timeZoneOffsetMinutes = 0;
        std::optional<std::string> language;
        std::vector<std::shared_ptr<APMUserAttribute>> userAttributes;

        bool operator==(const RawEventMetadataSource&) const = default;
    };
    std::optional<std::pair<RawEventMetadataSource, RawEventMetadata>> lastRawEventMetadata_;
    // Decided inside the storing transaction, acted on once it committed.
    struct AfterCommit {
        std::optional<double> firstOpenConsentedTimestamp;
        bool unmatchedFirstOpen = false;
        bool storedFirstOpen = false;
    } afterCommit_;
    // Worker queue: a transaction that was to store "_f" failed (a full disk, a failing one).
    bool firstOpenWriteFailed_ = false;
};
