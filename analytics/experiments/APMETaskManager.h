// The background half of the experiments: owns the snapshot database, decides when the next
// experiments fetch is due (a regular interval after a success, a ladder of retries after
// failures, a hold-off after the service asks for one), posts the request to "/sdk-exp",
// stores the snapshots of the reply as pending and reports every result to its delegate. Its
// three timestamps live in a settings suite of their own, so the schedule survives restarts.
// Everything runs on its serial worker queue; the public requests may come from any thread.
#pragma once

#include "analytics/experiments/APMEDatabase.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class APMAlarm;
class APMConfigStore;
class APMEExperimentRequestBuilder;
class APMETaskManager;
class APMExperimentContext;
class APMPBExperimentResponse;
class DIDEderazi;
class DispatchQueue;
class NSHTTPURLResponse;
class NSURL;

inline constexpr const char* APMEExperimentErrorDomain = "com.vizudi.vuv.measurement.experiment.ErrorDomain";

// The error a client gets for its SDK's non-zero status in an experiments reply.
enum APMEExperimentErrorCode : long {
    APMEExperimentErrorOtherStatus = -1,
    // Statuses 1 to 3: the complement of the status.
    APMEExperimentErrorStatus1 = -2,
    APMEExperimentErrorStatus2 = -3,
    APMEExperimentErrorStatus3 = -4,
};

// Per-SDK errors of one reply, by SDK name.
using APMEFetchErrors = std::map<std::string, NSErrorPtr>;

class APMETaskManagerDelegate {
public:
    virtual ~APMETaskManagerDelegate() = default;

    // Asked as a fetch is armed; false puts it off, when it falls due, by the regular interval.
    virtual bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) {
        static_cast<void>(taskManager);
        return true;
    }
    // Once, after a committed start-up transaction: what the three tables hold (nothing for a
    // table that could not be read).
    virtual void taskManagerDidStartWithActivatedSnapshots(APMETaskManager& taskManager,
                                                           const std::optional<APMESnapshots>& activated,
                                                           const std::optional<APMESnapshots>& pending,
                                                           const std::optional<APMESnapshots>& launched) = 0;
    // Once, when the start-up is over whatever came of it, before the first fetch is scheduled.
    virtual void taskManagerDidEndStartUp(APMETaskManager& taskManager) { static_cast<void>(taskManager); }
    // After every successful exchange with the service.
    virtual void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager,
                                                                 const APMESnapshots& snapshots,
                                                                 const APMEFetchErrors& errors) = 0;
    // After upsertPendingSnapshots stored them.
    virtual void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots) = 0;
};

class APMETaskManager : public NSObject {
public:
    static constexpr const char* kWorkerQueueLabel = "APMExperimentWorkerQueue";
    static constexpr const char* kAlarmName = "APMExperimentAlarm";
    static constexpr const char* kSuiteName = "APMExperimentSuiteName";
    static constexpr const char* kSuccessTimestampKey = "APMExperimentFetchSuccessTimestamp";
    static constexpr const char* kFailureTimestampKey = "APMExperimentFetchFailureTimestamp";
    static constexpr const char* kBackoffTimestampKey = "APMExperimentFetchBackoffTimestamp";
    static constexpr const char* kEndpointPath = "/sdk-exp";
    // After a success (or a postponement), the next fetch.
    static constexpr double kRegularInterval = 14400;
    // The first fetch of a process comes no sooner than this after start.
    static constexpr double kInitialDelay = 10;
    // After failures: retries at +1800, +3600, ... (doubling) past the regular time, six of them.
    static constexpr double kFirstRetryInterval = 1800;
    static constexpr int kRetrySteps = 6;
    // After a 429 or 503, no fetch sooner than this.
    static constexpr double kBackoffInterval = 43200;
    // The reply is taken as it arrives up to this many bytes, and inflated up to the second
    // bound: snapshots are small, a larger reply is a failure rather than a memory spike.
    static constexpr std::uint64_t kMaximumResponseLength = 512 * 1024;
    static constexpr std::size_t kMaximumInflatedResponseLength = 1024 * 1024;

    // The worker queue, its alarm, a network object for the measurement host, the settings
    // suite kSuiteName, the database in Application Support and the process's request builder;
    // now is the start time.
    [[nodiscard]] static std::shared_ptr<APMETaskManager> initWithContext(std::shared_ptr<APMExperimentContext> context);
    [[nodiscard]] static std::shared_ptr<APMETaskManager> initWithQueue(
        std::shared_ptr<DispatchQueue> queue, std::shared_ptr<APMAlarm> alarm, std::shared_ptr<DIDEderazi> network,
        std::shared_ptr<APMConfigStore> persistedStorage, const std::string& databasePath, double initTimestamp,
        std::shared_ptr<APMExperimentContext> context, std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder);
    ~APMETaskManager() override;

    void setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    const std::shared_ptr<APMEExperimentRequestBuilder>& requestBuilder() const { return requestBuilder_; }
    const std::shared_ptr<DispatchQueue>& workerQueue() const { return workerQueue_; }
    const std::shared_ptr<APMAlarm>& alarm() const { return alarm_; }
    double initializationTimestamp() const { return initializationTimestamp_; }
    // Worker queue only.
    bool hasMadeInitialFetch() const { return hasMadeInitialFetch_; }
    const std::shared_ptr<APMEDatabase>& database() const { return database_; }
    // A request is on its way: from its post until its reply has been taken up.
    bool isFetching() const { return requestInFlight_.load(); }

    // Seconds since 1970 of the next fetch after a success at `lastSuccess` and a failure at
    // `lastFailure` (0 for never); 0 when the retries are used up. The first call of a process
    // gives no sooner than kInitialDelay from now, whatever failed before.
    double fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure);
    // Arms the alarm for the next fetch, keeping one armed no later; none while a request is
    // in flight (its reply schedules) or once the retries are used up (820024).
    void scheduleFetchingExperimentsOnWorkerQueue();
    // A success at now without a request: the next fetch comes the regular interval later.
    // The failure mark goes, a hold-off the service asked for stays.
    void postponeFetchExperiments();
    void fetchExperiments();
    // `data` is the inflated reply, nothing when there was no body.
    void handleFetchingExperimentsResponse(const std::shared_ptr<NSHTTPURLResponse>& response,
                                           const std::optional<NSData>& data, const NSErrorPtr& error);

    // Opens the database, clears stale and activates automatic snapshots, tells the delegate,
    // and schedules; on the worker queue.
    void startTaskManager();
    void startTaskManagerOnWorkerQueue();
    void fetchAllSnapshotsOnWorkerQueue();

    // Requests of the experiments manager, run in order on the worker queue.
    void activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp);
    void resetToDefaultsForSDKName(const std::string& SDKName);
    void upsertPendingSnapshots(const APMESnapshots& snapshots);
    // A new empty database and no timestamps, then a new schedule.
    void reset();
    // Drops the armed fetch, waiting on the worker queue (a process that ends).
    void cancelScheduledFetch();

    // The snapshots of a reply: the top-level ones, or else those of the per-SDK answers
    // (named after their answer); nothing for no reply (820015).
    static std::optional<APMESnapshots> experimentSnapshotsFromExperimentResponse(
        const std::shared_ptr<APMPBExperimentResponse>& response);
    // The snapshots of a reply's bytes; nothing for no bytes (820025) or bytes that do not
    // decode (820015).
    static std::optional<APMESnapshots> experimentSnapshotsFromData(const NSData& data);
    // One error per named SDK answer with a non-zero status (a later one replaces an earlier).
    static APMEFetchErrors errorsFromExperimentResponse(const std::shared_ptr<APMPBExperimentResponse>& response);

    // Closures run on the worker queue; an exception is logged (820026) and dropped, or logged
    // (820027) and raised again to the synchronous caller.
    void dispatchAsyncOnWorkerQueue(std::function<void()> block);
    void dispatchSyncOnWorkerQueue(const std::function<void()>& block);

    APMETaskManager() = default;

private:
    std::shared_ptr<APMETaskManagerDelegate> delegate() const { return delegate_.lock(); }
    std::shared_ptr<NSURL> endpointURL() const;
    double timestampForKey(const char* key);
    void recordFailure(long status, const NSErrorPtr& error, double now);

    std::shared_ptr<APMAlarm> alarm_;
    std::shared_ptr<DIDEderazi> network_;
    std::shared_ptr<APMConfigStore> persistedStorage_;
    std::shared_ptr<DispatchQueue> workerQueue_;
    std::shared_ptr<APMExperimentContext> context_;
    std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder_;
    std::string databasePath_;
    double initializationTimestamp_ = 0;
    std::weak_ptr<APMETaskManagerDelegate> delegate_;
    // Worker queue only.
    std::shared_ptr<APMEDatabase> database_;
    bool hasMadeInitialFetch_ = false;
    std::atomic<bool> requestInFlight_{false};
};
