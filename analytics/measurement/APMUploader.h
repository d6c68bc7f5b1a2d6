// When the engine uploads and what: the schedule of the "Measurement timer" (retries, back-off,
// suspension), batches of queued bundles stamped with identity, consent and data controls,
// posted to the measurement service, and the conditional fetch of the measurement
// configuration that shares the uploads' rhythm. Everything runs on the engine's worker queue.
#pragma once

#include "analytics/measurement/APMBundler.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"
#include "platform/services/DIDEderazi.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

class APMAlarm;
class APMScheduler;
class NSHTTPURLResponse;

// What uploading and the configuration fetch need of the engine, on top of what bundling
// needs. Called on the engine's worker queue unless said otherwise.
class APMUploaderContext : public APMBundlerContext {
public:
    // The owner of the worker queue everything here runs on. Any thread.
    virtual std::shared_ptr<APMScheduler> scheduler() = 0;
    // The engine's network object; empty when it could not be made.
    virtual std::shared_ptr<DIDEderazi> network() = 0;
    // The "Measurement timer" on the worker queue.
    virtual std::shared_ptr<APMAlarm> alarm() = 0;
    // One request of the engine (upload, configuration fetch, or another of the engine's) is in
    // flight: shared by every network user of the engine.
    virtual bool isNetworkRequestPending() = 0;
    virtual void setNetworkRequestPending(bool pending) = 0;
    // A background task is held at this moment (read atomically: the main thread swaps it).
    virtual bool hasBackgroundTask() = 0;
    // Writes the persisted settings out and ends the background task, if one is held.
    virtual void terminateBackgroundTask() = 0;
};

class APMUploader : public NSObject, public DIDEderaziReachabilityDelegate {
public:
    // Seconds of uptime during which nothing is scheduled or uploaded after the database failed
    // to record an upload or a configuration fetch.
    static constexpr double kUploadSuspensionInterval = 3600;

    // Makes its own bundler over the same context. The context is held weakly: once it is
    // gone, nothing here does anything.
    [[nodiscard]] static std::shared_ptr<APMUploader> initWithContext(std::weak_ptr<APMUploaderContext> context);

    const std::shared_ptr<APMBundler>& bundler() const { return bundler_; }

    // MARK: Scheduling

    // Arms the timer for nextUploadingTime (keeping an armed one that fires no later), or
    // cancels it when nothing is due, uploads are suspended or the network is down (then
    // waiting for reachability).
    void updateSchedule();
    // Seconds since 1970 of the next upload; 0 when none is due.
    double nextUploadingTime();
    // uploadData when connected and there is data, else updateSchedule.
    void uploadDataOrRegisterAlarm();
    // Bundles or raw events wait.
    bool hasDataToUpload();
    // No request of the engine is in flight and the network object runs none.
    bool isNetworkReadyForRequest();
    // Background sessions are switched on and a background task is held.
    bool shouldUseBackgroundSession();
    // Uploads are held after a failed delete or fetch-time record (for kUploadSuspensionInterval).
    bool isUploadSuspended() const { return suspendedUploadTimestamp_.has_value(); }

    // MARK: Upload

    // One batch as it is posted: the encoded message and the queue rows it carries.
    struct Batch {
        NSData payload;
        Value::Array bundleIDs;
    };

    // Bundles raw events (while the configuration is fresh), then posts one batch of queued
    // bundles; with nothing queued, fetches the configuration once it has expired.
    void uploadData();
    // The next batch without posting it: the oldest queued bundles (the first always, then
    // within the count and size limits) stamped with identity, consent and data controls, as
    // far as they share one app id and device id. Queued bundles without an app id, which no
    // service would take, are deleted. Nothing (and the error) when the queue cannot be read;
    // nothing without an error when no bundle waits.
    [[nodiscard]] std::optional<Batch> nextBatch(NSErrorPtr* error);
    void networkUploadCompletionHandlerWithResponse(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                    const NSErrorPtr& error);

    // MARK: Configuration fetch

    // A conditional GET of the configuration (ETag and Last-Modified of the last answer).
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                   const NSData& data, const NSErrorPtr& error);

    // Whether an event counts against the daily real-time limit: never in debug mode, and
    // never for "_iap", "_f" and "_fx".
    static bool isRealtimeLimitedEvent(const std::string& name, bool debugModeEnabled);

    // Reachability changed: schedules updateSchedule on the worker queue. Any thread.
    void reachabilityDidChange() override;

private:
    void setUploadInProgressWithBundleIDs(const Value::Array& bundleIDs);
    void incrementRetryCounter(APMUploaderContext& context);
    bool removeBundlesFromDatabaseWithIDs(APMUploaderContext& context, const Value::Array& bundleIDs);
    bool applyConfiguration(APMUploaderContext& context, const NSData& body);
    // Cancels the timer and ends the background task; the reachability delegate is set when
    // waiting for the network, cleared otherwise.
    void stopScheduling(APMUploaderContext& context, bool waitForReachability);
    void runUploadOnWorkerQueue();

    std::weak_ptr<APMUploaderContext> context_;
    std::shared_ptr<APMBundler> bundler_;
    // Queue rows of the batch in flight.
    Value::Array uploadingBundleIDs_;
    // Queue rows the service accepted but the database failed to delete: never sent again,
    // deleted at the next upload.
    std::set<std::int64_t> deliveredBundleIDs_;
    // Uptime at which uploads were suspended.
    std::optional<double> suspendedUploadTimestamp_;
};
