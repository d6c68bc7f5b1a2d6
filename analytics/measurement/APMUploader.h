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
#include <string>
#include <vector>

class APMAlarm;
class APMIdentity;
class APMPBMeasurementBatch;
class APMPBMeasurementBundle;
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
    // The application is ending: nothing new is sent, and an upload the end cuts short counts as
    // delivered once its answer's status line said the batch was taken. Any thread.
    virtual bool isTerminating() { return false; }
    // One request of the engine (upload, configuration fetch, or another of the engine's) is in
    // flight: shared by every network user of the engine.
    virtual bool isNetworkRequestPending() = 0;
    virtual void setNetworkRequestPending(bool pending) = 0;
    // A background task is held at this moment (read atomically: the main thread swaps it).
    virtual bool hasBackgroundTask() = 0;
    // Writes the persisted settings out and ends the background task, if one is held.
    virtual void terminateBackgroundTask() = 0;
    // Sends a request that waited for the network to be free; whether there was one.
    virtual bool retrievePostponedPSMRequest() { return false; }
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

    // One batch as it is posted: the encoded message and the queue rows it carries, with the
    // end time each row was stored with (the queue's "bundle_end_timestamp").
    struct Batch {
        std::shared_ptr<APMPBMeasurementBatch> message;
        NSData payload;
        Value::Array bundleIDs;
        std::vector<double> bundleEndTimestamps;
    };
    // The persisted settings key of the queue rows the service accepted but the database kept.
    static constexpr const char* kDeliveredBundlesKey = "/vizudi/measurement/delivered_bundles";

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

    // MARK: Configuration fetch (APMUploaderConfigFetch.cpp)

    // A conditional GET of the configuration (ETag and Last-Modified of the last answer).
    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                   const NSData& data, const NSErrorPtr& error);

    // Whether an event counts against the daily real-time limit: never in debug mode, and
    // never for "_iap", "_f" and "_fx".
    static bool isRealtimeLimitedEvent(const std::string& name, bool debugModeEnabled);
    // Consent signals, the tracking status and the device ids that consent and tracking allow,
    // as every uploaded bundle (and every raw event's metadata) carries them.
    static void stampIdentity(const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                              const std::optional<std::string>& consentSignals, bool gateIDFA, APMIdentity& identity);

    // Reachability changed: schedules updateSchedule on the worker queue. Any thread.
    void reachabilityDidChange() override;

    // Deletes, unsent, the queue rows an earlier upload (of this launch or an earlier one)
    // delivered but could not delete; true when none is left. Run at start and before each batch.
    bool deleteDeliveredBundles();

private:
    // A queue row the service has: its id, the end time it was stored with (so a later row that
    // reuses the id is never taken for it) and when it was uploaded.
    struct DeliveredBundle {
        std::int64_t rowID = 0;
        double endTimestamp = 0;
        double uploadTimestamp = 0;
    };

    void setUploadInProgressWithBundleIDs(const Value::Array& bundleIDs, const std::vector<double>& endTimestamps);
    // The delivered rows, read from the persisted settings at first use.
    std::vector<DeliveredBundle>& deliveredBundles(APMUploaderContext& context);
    // Writes the delivered rows to disk at once: a launch that ends before the settings' usual
    // write must still know them.
    void storeDeliveredBundles(APMUploaderContext& context);
    void incrementRetryCounter(APMUploaderContext& context);
    bool removeBundlesFromDatabaseWithIDs(APMUploaderContext& context, const Value::Array& bundleIDs);
    // Inside the fetch's transaction; on refusal `why` says which field or which limit.
    bool applyConfiguration(APMUploaderContext& context, const NSData& body, NSErrorPtr* why);
    // The answer's status; a request that failed on the way (even after its status line) has none.
    static long statusOf(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error);
    // 200 and 204: the service took the batch.
    static bool isSuccessStatus(long status);
    // What an answer does to the batch in flight: deleted and the next step taken, or kept for a
    // retry.
    void uploadSucceeded(APMUploaderContext& context, long status, std::int64_t contentLength);
    // The batch in flight, which the service took: its rows deleted or, when the delete fails,
    // recorded as delivered (on disk at once) with uploads suspended. Nothing without a batch.
    void removeDeliveredBatch(APMUploaderContext& context, double now);
    void uploadFailed(APMUploaderContext& context, long status, const NSErrorPtr& error);
    // The upload in flight failed as the application ends (the end cancels it): delivered when its
    // answer's status line, already read, said the batch was taken; else kept for the next launch.
    void uploadCutAsTheApplicationEnds(long statusLineStatus, const NSErrorPtr& error);
    // 429 and 503 ask the engine to back off.
    static bool isBackoffStatus(long status);
    // Cancels the timer and ends the background task; the reachability delegate is set when
    // waiting for the network, cleared otherwise.
    void stopScheduling(APMUploaderContext& context, bool waitForReachability);
    void runUploadOnWorkerQueue();

    std::weak_ptr<APMUploaderContext> context_;
    std::shared_ptr<APMBundler> bundler_;
    // Queue rows of the batch in flight, and the end time each was stored with.
    Value::Array uploadingBundleIDs_;
    std::vector<double> uploadingEndTimestamps_;
    // Queue rows the service accepted but the database failed to delete: never sent again,
    // deleted before the next batch and at the next launch's start.
    std::optional<std::vector<DeliveredBundle>> deliveredBundles_;
    // Uptime at which uploads were suspended.
    std::optional<double> suspendedUploadTimestamp_;
};
