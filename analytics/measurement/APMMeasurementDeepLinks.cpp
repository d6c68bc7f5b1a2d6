// Links that open the application, as campaigns: the launch link cached at launch, links and
// web-browsing activities handed over later, and the deferred deep link the ad-conversion
// service keeps for a new install.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMUserDefaults.h"
#include "analytics/core/APMValue.h"
#include "analytics/core/APMAEU.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace {

// Query key -> event parameter.
const std::array<std::pair<const char*, const char*>, 17> kCampaignParameters = {{
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"dclid", "dclid"},
    {"gclid", "gclid"},
    {"gbraid", "gbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"srsltid", "srsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
}};
const std::array<const char*, 8> kRequiredKeys = {"utm_campaign", "gclid", "utm_medium", "utm_source",
                                                  "gbraid",       "utm_id", "dclid",     "srsltid"};
const std::array<const char*, 3> kClickIDs = {"gclid", "dclid", "srsltid"};
constexpr const char* kNotSet = "(not set)";
constexpr const char* kDeferredDeepLinkPath = "/adserv/conversion/app/deeplink";
// A deferred deep link's answer is a small JSON object.
constexpr std::uint64_t kMaxDeferredDeepLinkAnswer = 64 * 1024;

std::shared_ptr<APMUserDefaults> standardDefaults() { return APMUserDefaults::standardUserDefaults(); }

bool isCacheExpired(const Value& storedSeconds) {
    if (!storedSeconds.isNumber()) return false;
    const double ttl = APMMeasurement::remoteConfig()->attributionCacheTTLInterval();
    return std::fabs(Clock::now() - storedSeconds.doubleValue()) > ttl;
}

void storeLaunchLink(const std::string& link) {
    auto defaults = standardDefaults();
    defaults->setObject(Value(link), Value(APMMeasurement::kDeepLinkKey));
    defaults->setObject(Value(Clock::now()), Value(APMMeasurement::kDeepLinkTimestampKey));
}

}  // namespace

// MARK: Launch links

const std::shared_ptr<NSObject>& APMMeasurement::classObserver() {
    // Never destroyed: a notification posted while the process ends may still reach it.
    static const auto& observer = *new std::shared_ptr<NSObject>(std::make_shared<NSObject>());
    return observer;
}

void APMMeasurement::load() { subscribeForAppDidFinishLaunchingNotifications(); }

void APMMeasurement::subscribeForAppDidFinishLaunchingNotifications() {
    const auto& observer = classObserver();
    auto center = NSNotificationCenter::defaultCenter();
    center->removeObserver(observer, UIApplicationDidFinishLaunchingNotification, nullptr);
    center->addObserver(observer, &APMMeasurement::handleAppDidFinishLaunching, UIApplicationDidFinishLaunchingNotification);
}

void APMMeasurement::handleAppDidFinishLaunching(const NSNotification& notification) {
    if (notification.userInfo().empty()) return;
    handleStoredURLAfterAppLaunchWithNotification(notification);
    // The notification comes after the application's own start-up, which the engine may have
    // outrun: a start that found no link cached leaves this launch's link to be reported now,
    // not at the next launch. Behind the start on the worker queue, so one of the two reports it.
    auto engine = hasSharedInstance() ? sharedInstance() : nullptr;
    if (!engine) return;
    engine->scheduleOnWorker("APMMeasurement:launch-link", [](APMMeasurement& started) {
        {
            MutexLock lock(started.initializeComponentsLock_);
            if (!started.postInitializationDone_) return;
        }
        if (started.isEnabled() && standardDefaults()->objectForKey(Value(kDeepLinkKey)).isString())
            started.reportStoredCampaignEventOnWorkerQueue(std::nullopt);
    });
}

void APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(const NSNotification& notification) {
    const Value::Dictionary& options = notification.userInfo();
    bool stored = false;
    const Value& activities = options.get(UIApplicationLaunchOptionsUserActivityDictionaryKey);
    if (activities.isDictionary() && !activities.dictionary().empty()) {
        auto activity = activities.dictionary().get(UIApplicationLaunchOptionsUserActivityKey).objectAs<NSUserActivity>();
        if (const auto link = deepLinkFromUserActivity(activity); link && !link->empty()) {
            storeLaunchLink(*link);
            stored = true;
        }
    }
    const Value& url = options.get(UIApplicationLaunchOptionsURLKey);
    if (!stored && url.isString() && !url.string().empty()) storeLaunchLink(url.string());
}

std::optional<std::string> APMMeasurement::deepLinkFromUserActivity(const std::shared_ptr<NSUserActivity>& activity) {
    auto log = APMMeasurementMonitor();
    if (!activity) {
        log->logWithLevel(7, 23003, "User Activity is empty. User Activity", Value());
        return std::nullopt;
    }
    if (NSProcessInfo::processInfo()->operatingSystemVersion().majorVersion < 9) {
        log->logWithLevel(3, 23004, "Deep Link is only supported on iOS 9 and above");
        return std::nullopt;
    }
    if (activity->activityType() == NSUserActivityTypeBrowsingWeb && activity->webpageURL() &&
        !activity->webpageURL()->empty()) {
        return activity->webpageURL();
    }
    log->logWithLevel(3, 23006, "User Activity does not have Deep Link. User Activity", Value(activity->description()));
    return std::nullopt;
}

void APMMeasurement::removeExpiredDeepLinkCache() {
    auto defaults = standardDefaults();
    if (!isCacheExpired(defaults->objectForKey(Value(kDeepLinkTimestampKey)))) return;
    defaults->removeObjectForKey(Value(kDeepLinkKey));
    defaults->removeObjectForKey(Value(kDeepLinkTimestampKey));
}

// MARK: Links handed over

void APMMeasurement::handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds) {
    if (DispatchQueue::currentQueueLabel() == kWorkerQueueLabel) {
        monitor()->logWithLevel(2, 23163, "Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
        return;
    }
    handleOpenURL(url, std::nullopt, eventTimestampInSeconds);
}

void APMMeasurement::handleOpenURL(const std::string& url, std::optional<std::int64_t> clickTimestampInMs,
                                   double eventTimestampInSeconds) {
    if (url.empty()) return;
    scheduleOnWorker("APMMeasurement:388", [url, clickTimestampInMs, eventTimestampInSeconds](APMMeasurement& engine) {
        engine.handleOpenURLOnWorkerQueue(url, clickTimestampInMs, eventTimestampInSeconds, {});
    });
}

bool APMMeasurement::isValidCampaignURLParamDictionary(const Value::Dictionary& parameters) {
    return std::any_of(kRequiredKeys.begin(), kRequiredKeys.end(), [&](const char* key) {
        const Value& value = parameters.get(key);
        return value.isString() && !value.string().empty();
    });
}

bool APMMeasurement::shouldAllowClickID() const {
    if (NSProcessInfo::processInfo()->operatingSystemVersion().majorVersion < 14) return true;
    auto identity = this->identity();
    if (!identity) return false;
    const auto resettable = identity->resettableDeviceID();
    if (resettable && !resettable->empty()) return true;
    return identity->appleConsentStatus() == 3;
}

void APMMeasurement::handleOpenURLOnWorkerQueue(const std::string& url, std::optional<std::int64_t> clickTimestampInMs,
                                                double eventTimestampInSeconds,
                                                const Value::Dictionary& extraParameters) {
    Value::Dictionary strings;
    Value::Dictionary numbers;
    for (const auto& [key, value] : extraParameters) {
        if (value.isString()) strings.set(key, value);
        else if (value.isNumber()) numbers.set(key, value);
    }
    Value::Dictionary parameters = strings;
    if (auto parsed = NSURL::URLWithString(url)) {
        for (const auto& [key, value] : apm_dictionaryWithHttpArgumentsString(parsed->query())) parameters.set(key, value);
    }
    if (parameters.empty()) {
        monitor()->logWithLevel(7, 23000, "Deep Link Web URL query is empty");
        return;
    }
    if (!isValidCampaignURLParamDictionary(parameters)) {
        monitor()->logWithLevel(3, 23001, "Deep Link does not contain valid required params. URL params",
                                Value(parameters));
        return;
    }
    Value::Dictionary event;
    for (const auto& [key, name] : kCampaignParameters) {
        const Value& value = parameters.get(key);
        if (!value.stringValue().empty()) event.set(name, value);
    }
    if (!shouldAllowClickID()) {
        for (const char* key : kClickIDs) event.erase(key);
    }
    for (const auto& [key, value] : numbers) event.set(key, value);
    if (clickTimestampInMs) event.set("click_timestamp", Value(static_cast<long long>(*clickTimestampInMs)));

    const double firstOpen = static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000.0;
    const double timestamp = std::max(firstOpen, eventTimestampInSeconds);
    const Value& gbraid = event.get("gbraid");
    if (!gbraid.stringValue().empty()) {
        auto property = std::make_shared<APMUserAttribute>(kAPMAutoOrigin, "_gbraid", APMValue::valueFromObject(gbraid),
                                                           timestamp);
        (void)setUserPropertyInDatabaseOnWorkerQueue(property);
    }
    const Value& cached = event.get("_cc");
    const bool expired = cached.isNumber() && !cached.isFloatType() && cached.longLongValue() == 1;
    Value::Dictionary eventParameters;
    for (const auto& [key, value] : event) eventParameters.set(key, Value(APMValue::valueFromObject(value)));
    auto campaign = APMEvent::initWithOrigin(kAPMAutoOrigin, false, expired ? "_cmpx" : "_cmp", timestamp, 0,
                                             eventParameters);
    if (!campaign) return;
    handleInternalEventOnWorkerQueue(campaign);
    front_.listeners->notifyEventListeners(campaign);
}

void APMMeasurement::reportStoredCampaignEventOnWorkerQueue(std::optional<std::int64_t> clickTimestampInMs) {
    auto defaults = standardDefaults();
    const Value link = defaults->objectForKey(Value(kDeepLinkKey));
    if (!link.isString() || link.string().empty()) return;
    const Value stored = defaults->objectForKey(Value(kDeepLinkTimestampKey));
    const double storedSeconds = stored.isNumber() ? stored.doubleValue() : 0;
    std::string text = link.string();
    Value::Dictionary extra;
    if (isCacheExpired(stored)) {
        text = kNotSet;
        extra = {{"utm_source", Value(kNotSet)}, {"utm_medium", Value(kNotSet)}, {"_cc", Value(1LL)}};
    } else {
        constexpr std::int64_t kHour = 3600000;
        const auto millis = static_cast<std::int64_t>(storedSeconds * 1000);
        extra = {{"_cc", Value(static_cast<long long>(millis / kHour * kHour - kHour))}};
    }
    defaults->removeObjectForKey(Value(kDeepLinkKey));
    defaults->removeObjectForKey(Value(kDeepLinkTimestampKey));
    handleOpenURLOnWorkerQueue(text, clickTimestampInMs, storedSeconds, extra);
}

// MARK: Deferred deep link

std::string APMMeasurement::adConversionHost() {
    const std::string host = NSUserDefaults::standardUserDefaults()->stringForKey(kAdConversionHostDefaultsKey);
    return host.empty() ? kDefaultAdConversionHost : host;
}

bool APMMeasurement::shouldAllowRequestDeferredDeepLink() {
    auto log = monitor();
    auto config = remoteConfig();
    if (!config->isDeferredDeepLinkEnabled()) {
        log->logWithLevel(5, 23193, "Deferred Deep Link feature disabled");
        return false;
    }
    const Value enabled = NSBundle::mainBundle()->objectForInfoDictionaryKey("VIZUDI_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED");
    if (!enabled.isNumber() || !enabled.boolValue()) return false;
    if (!persistedConfig_->deferredDeepLinkRetrievalComplete().isNull()) {
        log->logWithLevel(7, 23194, "Already retrieved Deferred Deep Link. Skipping");
        return false;
    }
    if (persistedConfig_->deferredDeepLinkRetryCount() >= config->maxDeferredDeepLinkRetryCount()) {
        log->logWithLevel(3, 23195, "Failed to retrieve Deferred Deep Link. Reached retry limit");
        persistedConfig_->setDeferredDeepLinkRetrievalComplete(Value(1LL));
        return false;
    }
    auto identity = this->identity();
    if (!identity || !identity->hasLimitedAdTracking() || identity->limitedAdTracking()) {
        log->logWithLevel(3, 23196, "IDFA unavailable to retrieve Deferred Deep Link. Skipping");
        return false;
    }
    log->logWithLevel(7, 23197, "Deferred Deep Link feature enabled");
    return true;
}

void APMMeasurement::requestDeferredDeepLink() {
    auto identity = this->identity();
    const auto arguments = NSProcessInfo::processInfo()->arguments();
    const bool test = std::find(arguments.begin(), arguments.end(), "-DebugDeferredDeepLink") != arguments.end() &&
                      !APMAEU::isFAS();
    const std::string query = "sdk_version=" + std::to_string(APMIdentity::zevUzeviroredaLibraryVersion()) +
                              "&rdid=" + (identity ? identity->resettableDeviceID().value_or("") : std::string()) +
                              "&id_type=idfa&bundleid=" + (identity ? identity->appID() : std::string()) +
                              "&retry=" + std::to_string(persistedConfig_->deferredDeepLinkRetryCount()) +
                              (test ? "&ddl_test=1" : "");
    auto url = NSURL::URLWithString("https://" + adConversionHost() + kDeferredDeepLinkPath + "?" + query);
    if (!url) {
        monitor()->logWithLevel(3, 23198, "URL to retrieve Deferred Deep Link is invalid");
        return;
    }
    // One request of the engine at a time: a busy engine leaves the link to a later launch,
    // and that is no failed try.
    if (!uploader_->isNetworkReadyForRequest()) {
        monitor()->logWithLevel(8, 23312, "Network operation is pending. Deferred Deep Link postponed");
        return;
    }
    setIsNetworkRequestPending(true);
    network_->setTimeoutInterval(remoteConfig()->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    network_->getURL(url, {}, kMaxDeferredDeepLinkAnswer, scheduler_->workerQueue(), uploader_->shouldUseBackgroundSession(),
                     [weak](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data, const NSErrorPtr& error) {
                         auto engine = weak.lock();
                         if (!engine) return;
                         engine->setIsNetworkRequestPending(false);
                         const long status = response ? response->statusCode() : 0;
                         const bool success = !error && (status == 200 || status == 304 || status == 204);
                         auto& persisted = *engine->persistedConfig();
                         if (!success) {
                             monitor()->logWithLevel(1, 23199,
                                                     "Failed to retrieve Deferred Deep Link. Will retry on next launch. "
                                                     "Code, error",
                                                     Value(static_cast<long long>(status)), Value(error));
                             persisted.setDeferredDeepLinkRetryCount(persisted.deferredDeepLinkRetryCount() + 1);
                             engine->uploader()->updateSchedule();
                             return;
                         }
                         persisted.setDeferredDeepLinkRetrievalComplete(Value(0LL));
                         const std::optional<Value::Dictionary> info = deepLinkInfoFromResponseData(data);
                         if (info && !info->empty()) {
                             monitor()->logWithLevel(7, 23200, "Successfully retrieved Deferred Deep Link");
                             engine->handleDeferredDeepLinkInfo(*info);
                         } else {
                             engine->uploader()->updateSchedule();
                         }
                     });
}

std::optional<Value::Dictionary> APMMeasurement::deepLinkInfoFromResponseData(const NSData& data) {
    if (data.empty()) {
        APMMeasurementMonitor()->logWithLevel(8, 23201, "Deferred Deep Link response is empty");
        return std::nullopt;
    }
    NSErrorPtr error;
    const Value object = NSJSONSerialization::JSONObjectWithData(data, &error);
    if (object.isNull()) {
        APMMeasurementMonitor()->logWithLevel(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error",
                                              Value(error));
        return std::nullopt;
    }
    if (!object.isDictionary() || object.dictionary().empty()) return std::nullopt;
    const Value& link = object.dictionary().get("deeplink");
    if (!link.isString() || !NSURL::URLWithString(link.string())) return std::nullopt;
    return object.dictionary();
}

void APMMeasurement::handleDeferredDeepLinkInfo(const Value::Dictionary& info) {
    const std::string link = info.get("deeplink").stringValue();
    if (link.empty() || !NSURL::URLWithString(link)) return;
    Value::Dictionary extra{{"cis", Value("ddp")}};
    for (const char* key : {"gclid", "gbraid"}) {
        if (info.get(key).isString()) extra.set(key, info.get(key));
    }
    Value::Dictionary options;
    if (info.contains("timestamp")) options.set("timestamp", info.get("timestamp"));
    monitor()->logWithLevel(8, 23203, "Sending Deferred Deep Link to app delegate");
    const double now = Clock::now();
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    DispatchQueue::mainQueue()->async([weak, link, extra, options, now] {
        if (!sendDeepLinkURLToAppDelegateOnMainThread(link, options)) {
            monitor()->logWithLevel(3, 23204, "App delegate not configured to handle Deferred Deep Link", Value(link));
            return;
        }
        if (auto engine = weak.lock()) {
            engine->scheduleOnWorker("APMMeasurement:310", [link, extra, now](APMMeasurement& e) {
                e.handleOpenURLOnWorkerQueue(link, std::nullopt, now, extra);
            });
        }
    });
}

bool APMMeasurement::sendDeepLinkURLToAppDelegateOnMainThread(const std::string& url, const Value::Dictionary& extraInfo) {
    auto application = UIApplication::sharedApplication();
    auto delegate = application ? application->delegate() : nullptr;
    if (!delegate || !delegate->respondsToApplicationOpenURLOptions()) return false;
    delegate->applicationOpenURLOptions(*application, url, extraInfo);
    return true;
}
