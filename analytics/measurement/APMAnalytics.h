// The door into the measurement engine for the application, the platform core's start and the
// engine's own reporters: the once-only start, the three queues that order incoming work, the
// validation of public calls on the caller's thread, and consent. The load time and the suite
// "APMAnalyticsSuiteName" live in APMAnalyticsStore, which the engine reads too; the class
// operations over them here forward to it.
//
// Calls made before the start wait, in call order, in a suspended operation queue that the
// start releases last. At most kMaxOperationsBeforeStart of them are kept; later ones are
// refused with a logged line (25017) until the start.
#pragma once

#include "analytics/measurement/APMAnalyticsStore.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"
#include "platform/store/SKPaymentQueue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class APMEvent;
class APMEventSink;
class DispatchQueue;
class NSNotification;
class NSUserActivity;

class APMAnalytics : public NSObject, public SKPaymentTransactionObserver {
public:
    // Keys of the start options.
    static constexpr const char* kCollectionEnabledKey = "REZAVIVI_ANALYTICS_COLLECTION_ENABLED";
    static constexpr const char* kCollectionDeactivatedKey = "REZAVIVI_ANALYTICS_COLLECTION_DEACTIVATED";
    static constexpr const char* kConfigurationKey = "REZAVIVI_ANALYTICS_CONFIGURATION";
    static constexpr const char* kLogTagKey = "zev_uzeviroreda_log_tag";
    static constexpr const char* kSafelistedEventsKey = "safelisted_events";
    // Consent keys of the suite (and of setConsent).
    static constexpr const char* kConsentSettings1PKey = APMAnalyticsStore::kConsentSettings1PKey;
    static constexpr const char* kConsentSettings3PKey = APMAnalyticsStore::kConsentSettings3PKey;
    static constexpr const char* kWillStartNotification = "kDUROrezuriveWillStartNotification";
    static constexpr const char* kConfigurationSetEnabledNotification = "DUROrezuriveConfigurationSetEnabledNotification";
    // Calls held before the start beyond this many are refused.
    static constexpr std::size_t kMaxOperationsBeforeStart = 1000;

    using Interceptor = std::function<void(const std::string& origin, const std::string& name,
                                           const Value::Dictionary& parameters, double timestamp)>;
    using Listener = std::function<void(const std::shared_ptr<APMEvent>& event)>;
    // 0 is no listener.
    using ListenerToken = std::uint64_t;
    using UserPropertiesCallback = std::function<void(const Value::Dictionary& properties)>;
    using MaxUserPropertiesCallback = std::function<void(std::int64_t count)>;

    // The observer of the store's payment queue and the receiver of the instance operations.
    static std::shared_ptr<APMAnalytics> sharedInstance();
    // The door's road for the measurement side's own internal events and user properties: what
    // the engine and the reporters made before it are handed.
    static std::shared_ptr<APMEventSink> eventSink();

    // MARK: Start and queues

    // The load hook: the load timestamp is now.
    static void load();
    static double loadTimestamp();
    static void setLoadTimestamp(double timestamp);
    // Where the engine's settings live from the next launch on (a file in Application Support,
    // else the preferences): the switch the persisted settings read when they are made.
    static bool persistentConfigInApplicationSupportEnabled();
    static void setPersistentConfigInApplicationSupportEnabled(bool enabled);
    // `options` as the platform core's front builds them (keys above, "ad_storage",
    // "analytics_storage"); "REZAVIVI_ANALYTICS_CONFIGURATION" holds an object that posts the
    // set-enabled notification.
    static void startWithAppID(const std::string& appID, const std::string& origin, const Value::Dictionary& options);

    // "APMAnalyticsQueue".
    static std::shared_ptr<DispatchQueue> queue();
    static void dispatchAsyncOnSerialQueue(std::function<void()> block);
    static bool isCurrentQueueSerialQueue();
    // The block reaches the serial queue in call order, not before the start.
    static void queueOperationWithBlock(std::function<void()> block);
    static void unsuspendOperationQueue();

    // MARK: Events

    // Origin "app".
    static void logEventWithName(const std::string& name, const Value::Dictionary& parameters);
    // A public event: the name is checked here; an invalid one is reported as an error event.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   const Value::Dictionary& parameters);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                           const Value::Dictionary& parameters);
    // The instance form, for the ads library: its "_aeid" given as decimal text travels as a number.
    void logInternalEventWithOriginNameParameters(const std::string& origin, const std::string& name,
                                                  const Value::Dictionary& parameters);
    // Stamped now, in the order of the stamps across threads.
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const Value::Dictionary& parameters);
    static void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                           const Value::Dictionary& parameters);
    static void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                   const Value::Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                   bool ignoreInterceptor);
    static void logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                                Value::Dictionary parameters, double timestamp, bool ignoreEnabled,
                                                bool ignoreInterceptor, Value::Dictionary addedScreenParameters);

    // The current screen's parameters for an event that carries none of its own.
    static Value::Dictionary currentScreenParameters(const Value::Dictionary& parameters);
    // Main thread only.
    static void setScreenName(const std::optional<std::string>& name, const std::optional<std::string>& className);
    // Queued like the other settings, so that one made before the start reaches the engine.
    static void setSessionTimeoutInterval(double interval);

    // MARK: User properties

    // A null value removes the property.
    static void setUserPropertyString(const Value& value, const std::string& name);
    static void setUserID(const Value& userID);
    static void removeUserAttributeForName(const std::string& name);
    static void setUserAttributeNumber(const Value& value, const std::string& name);
    void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin);
    static void removeInternalUserAttributeForName(const std::string& name);
    // The callback runs on `queue`.
    static void userPropertiesIncludingInternal(bool includeInternal, const std::shared_ptr<DispatchQueue>& queue,
                                                UserPropertiesCallback callback);
    void maxUserPropertiesForOrigin(const std::string& origin, const std::shared_ptr<DispatchQueue>& queue,
                                    MaxUserPropertiesCallback callback);
    // "email_address" starts on-device conversion measurement; refused (25044) while collection is off.
    static void setUserData(const Value::Dictionary& userData);
    // Nothing clears all of them.
    static void setDefaultEventParameters(const std::optional<Value::Dictionary>& parameters);

    // MARK: Settings

    static void setAnalyticsEnabled(bool enabled);
    static void setAnalyticsEnabled(bool enabled, bool persistSetting);
    static bool isEnabled();
    static bool isDeactivated();
    // Nothing while analytics storage is denied.
    static std::optional<std::string> appInstanceID();
    static void resetAnalyticsData();
    static void observeNotificationsForAnalyticsConfiguration(const std::shared_ptr<NSObject>& configuration);
    static void handleSetEnabled(const NSNotification& notification);

    // MARK: Consent

    // Key "consent_settings" (source 30).
    static void setConsent(const Value::Dictionary& consent);
    // Key "consent_settings" (30) or "consent_settings_3p" (10).
    static void setConsent(const Value::Dictionary& consent, const std::string& key);
    static void loadPersistedConsentSettings();
    static void persistConsentSettings(const Value::Dictionary& settings, std::int64_t source);
    // 100 when none is stored.
    static std::int64_t persistedConsentSource();
    static void clearConsent();

    // The suite's keys (APMAnalyticsStore).
    static std::int64_t resetRetryCount();
    static void setResetRetryCount(std::int64_t count);
    static bool needFirstOpenAfterReset();
    static void setNeedFirstOpenAfterReset(bool need);
    static void removeNeedFirstOpenAfterReset();
    static std::optional<std::string> appInstanceIDAfterReset();
    static void setAppInstanceIDAfterReset(const std::optional<std::string>& appInstanceID);
    // A number, or null when unset.
    static Value deferredAnalyticsCollection();
    static void setDeferredAnalyticsCollection(const Value& value);
    static std::optional<Value::Dictionary> consentSettings1P();
    static std::optional<Value::Dictionary> consentSettings3P();
    static std::optional<Value::Dictionary> consentSettings1PStart();
    static void removeStartUpConsentSettings();
    static Value deferredResetOnDeniedConsent();
    static void removeDeferredResetOnDeniedConsent();

    // MARK: Listeners

    // Run at once on the serial queue, else queued.
    static void setLogEventInterceptor(Interceptor interceptor);
    // 0 (and 25012) for an empty listener.
    static ListenerToken addLogEventListener(Listener listener);
    static void removeLogEventListener(ListenerToken token);
    static void notifyEventListeners(const std::shared_ptr<APMEvent>& event);
    // A listener is registered (events are not copied for nobody).
    static bool hasLogEventListeners();
    static void notifyEventListenersOnSerialQueue(const std::shared_ptr<APMEvent>& event);

    // MARK: Links and the application delegate's calls

    using OpenURLListener = std::function<void(const std::string& url)>;
    // Replaced on the serial queue; told of every URL handed over, once the engine has it.
    static void setOpenURLListener(OpenURLListener listener);
    // A link that opened the application, stamped now; it reaches the engine in call order, so
    // one handed over before the start is not lost.
    static void handleOpenURL(const std::string& url);
    // Only a web-browsing activity's page counts; the listener is not told.
    static void handleUserActivity(const std::shared_ptr<NSUserActivity>& activity);
    static void handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completion);
    // Once per process: the proxy around the application delegate, with the engine's interceptor.
    static void createAppDelegateProxy();

    // What the optional class "VADErederi" answers when it responds to initializeSharedInstance:
    // the class operation's implementation, empty when the class declares it without one.
    class SharedInstanceInitializing {
    public:
        virtual ~SharedInstanceInitializing() = default;
        virtual std::function<void()> initializeSharedInstanceImplementation() = 0;
    };
    static constexpr const char* kVadErederiClassName = "VADErederi";
    // Starts that library's shared instance when it is linked in; 25016 when it cannot be.
    static void maybeEnableVadErederi();

    // MARK: Purchases

    // The payment queue's observer: purchases reach the engine in call order, which passes
    // those not reported before to its purchase reporter; with collection off they are dropped.
    void paymentQueue(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) override;
    static void paymentQueueUpdatedTransactions(const std::shared_ptr<SKPaymentQueue>& queue,
                                                const SKPaymentTransactions& transactions);

    // Waits for the serial queue, then forgets every process-wide state of this class and the
    // store's, as a new process would start (tests).
    static void resetProcessState();

    APMAnalytics() = default;

    // The process-wide state, made again by resetProcessState.
    struct Process;

private:
    static std::shared_ptr<Process> process();
    static void reportInvalidUserPropertyName(std::int64_t failureCode, const std::string& name);
};
