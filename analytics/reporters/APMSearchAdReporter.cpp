// Search-ads attribution: the daily request, its answer and the campaign event.
#include "analytics/reporters/APMSearchAdReporter.h"

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMValue.h"
#include "analytics/reporters/APMReporterContext.h"
#include "platform/adsupport/ADClient.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"

#include <cmath>

namespace {

// What the framework answers where it cannot know: not an answer, asked again the next day.
constexpr const char* kPlaceholderCampaignID = "1234567890";
constexpr const char* kPlaceholderCampaignName = "CampaignName";

// The process's one look-up of the client: reporters come and go with engines, the framework
// answers the same client for the life of the process.
Mutex gAdClientMutex;
bool gAdClientLookedUp GUARDED_BY(gAdClientMutex) = false;
std::shared_ptr<NSObject>* gAdClient GUARDED_BY(gAdClientMutex) = nullptr;  // asked by queued work at exit too

std::string stringOf(const Value::Dictionary& details, const char* key) {
    const Value* value = details.find(key);
    return value && value->isString() ? value->string() : std::string();
}

}  // namespace

std::shared_ptr<APMSearchAdReporter> APMSearchAdReporter::initWithContext(
    const std::shared_ptr<APMReporterContext>& context) {
    auto log = APMMeasurementMonitor();
    auto scheduler = context ? context->scheduler() : nullptr;
    auto queue = scheduler ? scheduler->workerQueue() : nullptr;
    if (!queue) {
        log->logWithLevel(2, 32000, "Cannot init Search Ad reporter. Queue must be provided");
        return nullptr;
    }
    auto persisted = context->persistedConfig();
    if (!persisted) {
        log->logWithLevel(2, 32001, "Cannot init Search Ad reporter. Persisted config must be provided");
        return nullptr;
    }
    if (persisted->searchAdRetryCount() >= kMaxRequests) return nullptr;
    if (!persisted->searchAdCampaignValue().isNull()) {
        log->logWithLevel(7, 32002,
                          "Search Ad campaign attribution was already reported. Do not start Search Ad Reporter.");
        return nullptr;
    }
    return std::make_shared<APMSearchAdReporter>(std::move(queue), std::move(persisted), context->eventSink());
}

APMSearchAdReporter::APMSearchAdReporter(std::shared_ptr<DispatchQueue> queue,
                                         std::shared_ptr<APMPersistedConfig> persistedConfig,
                                         std::shared_ptr<APMEventSink> sink)
    : queue_(std::move(queue)),
      alarm_(APMAlarm::initWithDispatchQueue(queue_, kAlarmName)),
      persistedConfig_(std::move(persistedConfig)),
      sink_(std::move(sink)) {}

// The alarm drops its pending run as it goes.
APMSearchAdReporter::~APMSearchAdReporter() = default;

std::shared_ptr<NSObject> APMSearchAdReporter::adClientInstance() {
    MutexLock lock(gAdClientMutex);
    if (!gAdClient) gAdClient = new std::shared_ptr<NSObject>();
    if (!gAdClientLookedUp) {
        gAdClientLookedUp = true;
        *gAdClient = ClassRegistry::create(kClientClassName);
    }
    return *gAdClient;
}

void APMSearchAdReporter::resetAdClientInstance() {
    std::shared_ptr<NSObject> old;
    {
        MutexLock lock(gAdClientMutex);
        gAdClientLookedUp = false;
        if (gAdClient) old = std::move(*gAdClient);
    }
}

bool APMSearchAdReporter::hasLookedUpAdClient() {
    MutexLock lock(gAdClientMutex);
    return gAdClientLookedUp;
}

void APMSearchAdReporter::setSearchAdReporterEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled && alarm_) alarm_->cancel();
}

void APMSearchAdReporter::start() {
    if (!adClientInstance()) {
        APMMeasurementMonitor()->logWithLevel(7, 32003,
                                              "iAd framework is not linked. Search Ad Attribution Reporter is disabled.");
        return;
    }
    scheduleSearchAdReport();
}

void APMSearchAdReporter::scheduleSearchAdReport() {
    auto log = APMMeasurementMonitor();
    if (!alarm_) {
        log->logWithLevel(5, 32013, "Search Ad Campaign attribution alarm is already canceled");
        return;
    }
    if (!enabled_) {
        alarm_->cancel();
        return;
    }
    if (!persistedConfig_->searchAdCampaignValue().isNull()) {
        log->logWithLevel(7, 32004,
                          "Search Ad report not scheduled. Search Ad campaign attribution was already reported.");
        cancelScheduling();
        return;
    }
    if (alarm_->scheduledTimestamp()) {
        log->logWithLevel(5, 32005, "Search Ad Campaign attribution alarm is already scheduled");
        return;
    }
    if (persistedConfig_->searchAdRetryCount() >= kMaxRequests) {
        log->logWithLevel(5, 32007,
                          "Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again.");
        cancelScheduling();
        return;
    }
    log->logWithLevel(7, 32006, "Scheduling Search Ad Report timer");
    // A clock set back counts as much as one moved forward.
    const double delay = kRetryInterval - std::fabs(Clock::now() - persistedConfig_->lastSearchAdLookUpTimestamp());
    std::weak_ptr<APMSearchAdReporter> weak = weakSelf<APMSearchAdReporter>();
    alarm_->runAfterDelay(delay, [weak] {
        if (auto reporter = weak.lock()) reporter->maybeLogIAdCampaignEvent();
    });
}

void APMSearchAdReporter::cancelScheduling() {
    if (alarm_) alarm_->cancel();
    alarm_.reset();
}

void APMSearchAdReporter::maybeLogIAdCampaignEvent() {
    if (!adClientInstance()) return;
    persistedConfig_->setLastSearchAdLookUpTimestamp(Clock::now());
    fetchAttributionDetails();
    scheduleSearchAdReport();
}

void APMSearchAdReporter::fetchAttributionDetails() {
    persistedConfig_->setSearchAdRetryCount(persistedConfig_->searchAdRetryCount() + 1);
    auto client = std::dynamic_pointer_cast<ADClient>(adClientInstance());
    if (!client) return;
    // The client answers on a thread of its choosing; the answer is handled on the worker
    // queue, where the alarm it may arm or drop lives.
    std::weak_ptr<APMSearchAdReporter> weak = weakSelf<APMSearchAdReporter>();
    std::weak_ptr<DispatchQueue> queue = queue_;
    client->requestAttributionDetailsWithBlock(
        [weak, queue](const std::optional<Value::Dictionary>& details, const NSErrorPtr& error) {
            auto worker = queue.lock();
            if (!worker || weak.expired()) return;
            worker->async([weak, details, error] {
                if (auto reporter = weak.lock()) reporter->handleAttributionDetails(details, error);
            });
        });
}

void APMSearchAdReporter::handleAttributionDetails(const std::optional<Value::Dictionary>& answer,
                                                   const NSErrorPtr& error) {
    auto log = APMMeasurementMonitor();
    if (error) {
        log->logWithLevel(1, 32010, "Cannot send request for Search Ad campaign attribution. Error", Value(error));
        scheduleSearchAdReport();
        return;
    }
    if (!answer) {
        log->logWithLevel(1, 32011, "Cannot get Search Ad campaign attribution. Search Ad details are empty");
        scheduleSearchAdReport();
        return;
    }
    const Value* first = answer->empty() ? nullptr : &answer->begin()->second;
    if (!first || !first->isDictionary() || first->dictionary().empty()) {
        scheduleSearchAdReport();
        return;
    }
    const Value::Dictionary& details = first->dictionary();
    const std::string campaign = stringOf(details, ADClient::kCampaignNameKey);
    if (stringOf(details, ADClient::kCampaignIDKey) == kPlaceholderCampaignID && campaign == kPlaceholderCampaignName) {
        log->logWithLevel(2, 32012, "Search Ad Reporter returns dummy data. Will retry next time.");
        scheduleSearchAdReport();
        return;
    }
    const Value* attributed = details.find(ADClient::kAttributionKey);
    logCampaignEventWithSearchAdCampaign(attributed && attributed->boolValue(), campaign,
                                         stringOf(details, ADClient::kKeywordKey));
    cancelScheduling();
}

void APMSearchAdReporter::logCampaignEventWithSearchAdCampaign(bool isSearchAdCampaign, const std::string& campaign,
                                                               const std::string& term) {
    auto log = APMMeasurementMonitor();
    {
        MutexLock lock(campaignMutex_);
        if (!persistedConfig_->searchAdCampaignValue().isNull()) {
            log->logWithLevel(5, 32008, "Search Ad Campaign is already tracked");
            return;
        }
        persistedConfig_->setSearchAdCampaignValue(Value(isSearchAdCampaign));
    }
    if (!isSearchAdCampaign) return;
    Value::Dictionary parameters{{"source", Value(APMValue::initWithString(Value("Apple")))},
                                 {"medium", Value(APMValue::initWithString(Value("search")))}};
    if (!campaign.empty()) parameters.set("campaign", Value(APMValue::initWithString(Value(campaign))));
    if (!term.empty()) parameters.set("term", Value(APMValue::initWithString(Value(term))));
    const std::int64_t firstOpen = persistedConfig_->firstOpenTimestampMilliseconds();
    if (firstOpen < 2) {
        log->logWithLevel(5, 32009, "Search Ad Campaign does not have click_timestamp.");
    } else {
        parameters.set("click_timestamp", Value(APMValue::initWithInt64(firstOpen - 1)));
    }
    if (sink_) sink_->logInternalEventWithOrigin("auto", "_cmp", parameters);
}
