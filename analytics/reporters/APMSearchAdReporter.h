// Search-ads attribution: asks the advertising framework's attribution client (found by name,
// "ADClient") once a day, at most ten times per installation, whether a search ad led to the
// install, and reports a positive answer as the campaign event "_cmp" (source "Apple", medium
// "search"). Any recorded answer settles it for good. Everything but the client's answer runs
// on the engine's worker queue, where the alarm lives; the answer is carried there first.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class ADClient;
class APMAlarm;
class APMEventSink;
class APMPersistedConfig;
class APMReporterContext;
class DispatchQueue;

class APMSearchAdReporter : public NSObject {
public:
    static constexpr const char* kAlarmName = "Search Ad campaign report alarm";
    static constexpr const char* kClientClassName = "ADClient";
    static constexpr double kRetryInterval = 86400;
    static constexpr std::int64_t kMaxRequests = 10;

    // The engine's worker queue, settings and event road. None without a queue (32000) or
    // settings (32001), after ten requests, or once an answer was recorded (32002).
    [[nodiscard]] static std::shared_ptr<APMSearchAdReporter> initWithContext(
        const std::shared_ptr<APMReporterContext>& context);
    // Drops a pending request.
    ~APMSearchAdReporter() override;

    // The rest on the worker queue only.

    // Idle without a client (32003); otherwise the first request is scheduled.
    void start();
    // The next request, a day after the last one (at once when none was made yet).
    void scheduleSearchAdReport();
    // No request is made by this reporter any more.
    void cancelScheduling();
    // A request now, and the next one scheduled.
    void maybeLogIAdCampaignEvent();
    void fetchAttributionDetails();
    // Records the answer once (under the lock, from any thread); "_cmp" only for a first
    // answer that says attributed.
    void logCampaignEventWithSearchAdCampaign(bool isSearchAdCampaign, const std::string& campaign,
                                              const std::string& term);
    // The client registered under kClientClassName, looked up once per process by whichever
    // reporter or thread asks first; none when absent.
    static std::shared_ptr<NSObject> adClientInstance();
    // Forgets the process's look-up, as a new process would start (tests).
    static void resetAdClientInstance();
    // Whether the process has looked the client up since it started or last forgot it.
    static bool hasLookedUpAdClient();

    bool isSearchAdReporterEnabled() const { return enabled_.load(); }
    // Off by default. Switching off drops the pending request; switching on again schedules
    // nothing by itself.
    void setSearchAdReporterEnabled(bool enabled);

    APMSearchAdReporter(std::shared_ptr<DispatchQueue> queue, std::shared_ptr<APMPersistedConfig> persistedConfig,
                        std::shared_ptr<APMEventSink> sink);

private:
    // The client's answer, on the worker queue.
    void handleAttributionDetails(const std::optional<Value::Dictionary>& details, const NSErrorPtr& error);

    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<APMAlarm> alarm_;
    std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::shared_ptr<APMEventSink> sink_;
    std::atomic<bool> enabled_{false};
    Mutex campaignMutex_;  // keeps the stored campaign's check and its write together
};
