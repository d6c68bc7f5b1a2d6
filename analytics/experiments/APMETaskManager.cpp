// Experiment fetch scheduling: when, the request and its reply, and the start-up of the
// snapshot database.
#include "analytics/experiments/APMETaskManager.h"

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMConfigStore.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserDefaults.h"
#include "analytics/experiments/APMEDispatch.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBSdkResponse.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/services/DIDEderazi.h"
#include "platform/services/NSDataVULGzip.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

bool isBackoffStatus(long status) {
    return status == kDIDEderaziHTTPStatusCodeCannotAcceptTraffic || status == kDIDEderaziHTTPStatusCodeUnavailable;
}

long errorCodeForStatus(std::int32_t status) {
    switch (status) {
        case 1: return APMEExperimentErrorStatus1;
        case 2: return APMEExperimentErrorStatus2;
        case 3: return APMEExperimentErrorStatus3;
        default: return APMEExperimentErrorOtherStatus;
    }
}

}  // namespace

std::shared_ptr<APMETaskManager> APMETaskManager::initWithContext(std::shared_ptr<APMExperimentContext> context) {
    if (!context) return nullptr;
    auto queue = DispatchQueue::create(kWorkerQueueLabel, DispatchQueue::Kind::Serial,
                                       DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    auto alarm = APMAlarm::initWithDispatchQueue(queue, kAlarmName);
    auto network = DIDEderazi::initWithReachabilityHost(context->measurementHost());
    std::shared_ptr<APMConfigStore> storage = APMUserDefaults::initWithSuiteName(kSuiteName);
    return initWithQueue(std::move(queue), std::move(alarm), std::move(network), std::move(storage),
                         APMApplicationSupportPath(APMEDatabase::kFileName), Clock::now(), std::move(context),
                         APMEExperimentRequestBuilder::sharedInstance());
}

std::shared_ptr<APMETaskManager> APMETaskManager::initWithQueue(
    std::shared_ptr<DispatchQueue> queue, std::shared_ptr<APMAlarm> alarm, std::shared_ptr<DIDEderazi> network,
    std::shared_ptr<APMConfigStore> persistedStorage, const std::string& databasePath, double initTimestamp,
    std::shared_ptr<APMExperimentContext> context, std::shared_ptr<APMEExperimentRequestBuilder> requestBuilder) {
    if (!queue || !alarm || !persistedStorage || !context || !requestBuilder) return nullptr;
    auto manager = std::make_shared<APMETaskManager>();
    manager->workerQueue_ = std::move(queue);
    manager->alarm_ = std::move(alarm);
    manager->network_ = std::move(network);
    manager->persistedStorage_ = std::move(persistedStorage);
    manager->databasePath_ = databasePath;
    manager->initializationTimestamp_ = initTimestamp;
    manager->requestBuilder_ = std::move(requestBuilder);
    manager->context_ = std::move(context);
    return manager;
}

// The alarm's pending run goes with it; a reply still on its way finds nobody.
APMETaskManager::~APMETaskManager() = default;

// MARK: Queues

void APMETaskManager::dispatchAsyncOnWorkerQueue(std::function<void()> block) {
    APMEDispatchAsync(workerQueue_, std::move(block), 820026, "Exception on async worker queue");
}

void APMETaskManager::dispatchSyncOnWorkerQueue(const std::function<void()>& block) {
    APMEDispatchSync(workerQueue_, block, 820027, "Exception on sync worker queue");
}

// MARK: Schedule

double APMETaskManager::timestampForKey(const char* key) { return persistedStorage_->doubleForKey(Value(key)); }

double APMETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure) {
    const double now = Clock::now();
    // A success "in the future" (the clock was set back) counts as that long ago.
    const double success = lastSuccess == 0 ? 0 : now - std::fabs(lastSuccess - now);
    const double regular = success + kRegularInterval;
    if (!hasMadeInitialFetch_) {
        hasMadeInitialFetch_ = true;
        return std::max(now + kInitialDelay, regular);
    }
    if (lastFailure <= 0) return regular;
    double next = success == 0 ? initializationTimestamp_ : regular;
    double step = kFirstRetryInterval;
    for (int k = 0; k < kRetrySteps; ++k, step *= 2) {
        next += step;
        if (next > lastFailure) return next;
    }
    return 0;
}

void APMETaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("scheduleFetchingExperimentsOnWorkerQueue");
    auto monitor = APMEManager::monitor();
    // The reply of the request in flight schedules again.
    if (requestInFlight_) return;
    double next = fetchTimeFromLastSuccessfulTimestamp(timestampForKey(kSuccessTimestampKey),
                                                       timestampForKey(kFailureTimestampKey));
    if (std::fabs(next) < kEpsilon) {
        persistedStorage_->removeObjectForKey(Value(kSuccessTimestampKey));
        monitor->logWithLevel(2, 820024, "Network attempted too many times. Will not schedule new network.");
        return;
    }
    const double now = Clock::now();
    if (const auto armed = alarm_->scheduledTimestamp(); armed && armed->timeIntervalSince1970 <= next) {
        monitor->logWithLevel(8, 820017, "Do not schedule a fetch task. Task already exists. Will be executed in seconds",
                              Value(armed->timeIntervalSince1970 - now));
        return;
    }
    const double backoff = timestampForKey(kBackoffTimestampKey);
    if (std::fabs(backoff) >= kEpsilon && now - backoff < kBackoffInterval) next = std::max(next, backoff + kBackoffInterval);
    double delay = next - now;
    if (delay <= kEpsilon) delay = 0.001;
    // Asked now and kept with the alarm: what the clients say when it fires does not change it.
    auto delegate = this->delegate();
    const bool shouldFetch = !delegate || delegate->taskManagerShouldFetchExperiments(*this);
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    alarm_->runAfterDelay(delay, [weak, shouldFetch] {
        auto manager = weak.lock();
        if (!manager) return;
        if (shouldFetch) manager->fetchExperiments();
        else manager->postponeFetchExperiments();
    });
}

void APMETaskManager::postponeFetchExperiments() {
    persistedStorage_->setDouble(Clock::now(), Value(kSuccessTimestampKey));
    persistedStorage_->removeObjectForKey(Value(kFailureTimestampKey));
    // The service's hold-off stays: a postponement is no answer from it.
    scheduleFetchingExperimentsOnWorkerQueue();
}

// MARK: Fetch

std::shared_ptr<NSURL> APMETaskManager::endpointURL() const {
    return NSURL::URLWithString("https://" + context_->measurementHost() + kEndpointPath);
}

void APMETaskManager::fetchExperiments() {
    auto request = requestBuilder_->request(*context_);
    APMEManager::monitor()->logWithLevel(8, 820001, "Fetching new experiments. Request", Value(request));
    const NSData body = request->protoBuffer().value_or(NSData{});
    requestInFlight_ = true;
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    auto completion = [weak](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data,
                             const NSErrorPtr& error) {
        auto manager = weak.lock();
        if (!manager) return;
        std::optional<NSData> inflated;
        NSErrorPtr failure = error;
        if (!data.empty()) {
            NSErrorPtr inflateError;
            NSData bytes =
                NSDataVULGzip::vul_dataByInflatingGzippedData(data, &inflateError, kMaximumInflatedResponseLength);
            if (inflateError) {
                APMEManager::monitor()->logWithLevel(2, 820023, "Cannot inflate downloaded experiment data. Error",
                                                      Value(inflateError));
                // A reply that cannot be read is no success (it would hold the next fetch off
                // for the regular interval).
                if (!failure) failure = inflateError;
            } else {
                inflated = std::move(bytes);
            }
        }
        // Cleared first: the reply schedules the next fetch.
        manager->requestInFlight_ = false;
        manager->handleFetchingExperimentsResponse(response, inflated, failure);
    };
    if (!network_) {
        completion(nullptr, {}, apm_errorWithCode(APMErrorFailedPrecondition, "No network component"));
        return;
    }
    network_->postURL(endpointURL(), body, kMaximumResponseLength, workerQueue_, false, std::move(completion));
}

void APMETaskManager::recordFailure(long status, const NSErrorPtr& error, double now) {
    persistedStorage_->setDouble(now, Value(kFailureTimestampKey));
    if (isBackoffStatus(status)) persistedStorage_->setDouble(now, Value(kBackoffTimestampKey));
    APMEManager::monitor()->logWithLevel(1, 820002, "Network fetch failed. Will retry later. Code, error",
                                          Value(status), error ? Value(error) : Value());
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::handleFetchingExperimentsResponse(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                        const std::optional<NSData>& data, const NSErrorPtr& error) {
    const double now = Clock::now();
    const long status = response ? response->statusCode() : 0;
    if (error || (status != kDIDEderaziHTTPStatusOK && status != kDIDEderaziHTTPStatusNoContent)) {
        recordFailure(status, error, now);
        return;
    }
    // No body is an empty response, not a missing one.
    const std::shared_ptr<APMPBExperimentResponse> decoded =
        APMPBExperimentResponse::initWithBuffer(data ? *data : NSData{});
    if (!decoded) {
        recordFailure(status,
                      apm_errorWithCode(APMErrorInvalidArgument,
                                        "The reply's " + std::to_string(data ? data->size() : 0) +
                                            " bytes do not decode as an experiments response"),
                      now);
        return;
    }
    auto monitor = APMEManager::monitor();
    monitor->logWithLevel(8, 820003, "Successful fetch. Got network response. Code, data", Value(status),
                          Value(decoded));
    persistedStorage_->setDouble(now, Value(kSuccessTimestampKey));
    persistedStorage_->removeObjectForKey(Value(kFailureTimestampKey));
    persistedStorage_->removeObjectForKey(Value(kBackoffTimestampKey));
    const APMESnapshots snapshots = experimentSnapshotsFromExperimentResponse(decoded).value_or(APMESnapshots{});
    const APMEFetchErrors errors = errorsFromExperimentResponse(decoded);
    if (!snapshots.empty()) {
        NSErrorPtr upsertError;
        if (!database_ || !database_->upsertPendingExperimentSnapshots(snapshots, &upsertError)) {
            monitor->logWithLevel(1, 820022, "Cannot upsert pending snapshots. Error, snapshots",
                                  upsertError ? Value(upsertError) : Value(), Value(static_cast<long long>(snapshots.size())));
        }
    }
    if (auto delegate = this->delegate()) delegate->taskManagerDidFinishFetchingExperimentSnapshots(*this, snapshots, errors);
    scheduleFetchingExperimentsOnWorkerQueue();
}

std::optional<APMESnapshots> APMETaskManager::experimentSnapshotsFromData(const NSData& data) {
    if (data.empty()) {
        APMEManager::monitor()->logWithLevel(2, 820025, "Cannot create experiment snapshots from empty data");
        return std::nullopt;
    }
    return experimentSnapshotsFromExperimentResponse(APMPBExperimentResponse::initWithBuffer(data));
}

std::optional<APMESnapshots> APMETaskManager::experimentSnapshotsFromExperimentResponse(
    const std::shared_ptr<APMPBExperimentResponse>& response) {
    auto monitor = APMEManager::monitor();
    if (!response) {
        monitor->logWithLevel(2, 820015, "Cannot create experiment snapshots from nil response");
        return std::nullopt;
    }
    Value::Array protos =
        APMPBMessageGetArray<APMPBSnapshot>(response, APMPBExperimentResponse::kSnapshots).value_or(Value::Array{});
    if (protos.empty()) {
        for (const Value& item : APMPBMessageGetArray<APMPBSdkResponse>(response, APMPBExperimentResponse::kSdkResponses)
                                     .value_or(Value::Array{})) {
            auto answer = item.objectAs<APMPBSdkResponse>();
            auto snapshot = APMPBMessageGetMessage<APMPBSnapshot>(answer, APMPBSdkResponse::kSnapshot);
            if (!snapshot) continue;
            const std::string name = APMPBMessageGetString(answer, APMPBSdkResponse::kSdkName).value_or("");
            if (!name.empty()) APMPBMessageSetString(snapshot, APMPBSnapshot::kSdkName, name);
            protos.push_back(Value(snapshot));
        }
    }
    APMESnapshots snapshots;
    for (const Value& item : protos) {
        if (auto snapshot = APMESnapshot::initWithProtobuf(item.objectAs<APMPBSnapshot>())) {
            snapshots.push_back(std::move(snapshot));
        } else {
            monitor->logWithLevel(2, 820016, "Cannot create a snapshot from the proto");
        }
    }
    return snapshots;
}

APMEFetchErrors APMETaskManager::errorsFromExperimentResponse(const std::shared_ptr<APMPBExperimentResponse>& response) {
    APMEFetchErrors errors;
    if (!response) return errors;
    for (const Value& item : APMPBMessageGetArray<APMPBSdkResponse>(response, APMPBExperimentResponse::kSdkResponses)
                                 .value_or(Value::Array{})) {
        auto answer = item.objectAs<APMPBSdkResponse>();
        const std::string name = APMPBMessageGetString(answer, APMPBSdkResponse::kSdkName).value_or("");
        if (!APMPBMessageHasField(answer, APMPBSdkResponse::kStatus) || name.empty()) continue;
        const std::int32_t status = APMPBMessageGetInt32(answer, APMPBSdkResponse::kStatus);
        if (status == 0) continue;
        errors[name] = NSError::errorWithDomain(APMEExperimentErrorDomain, errorCodeForStatus(status));
    }
    return errors;
}

// MARK: Start-up

void APMETaskManager::startTaskManager() {
    // Held strongly: the delegate waits for the end of the start-up.
    auto manager = self<APMETaskManager>();
    dispatchAsyncOnWorkerQueue([manager] { manager->startTaskManagerOnWorkerQueue(); });
}

void APMETaskManager::startTaskManagerOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("startTaskManagerOnWorkerQueue");
    {
        // The delegate hears of the end however the start-up ends, also by an exception:
        // its flag reads wait for it.
        struct EndOfStartUp {
            APMETaskManager& taskManager;
            ~EndOfStartUp() {
                if (auto delegate = taskManager.delegate()) delegate->taskManagerDidEndStartUp(taskManager);
            }
        } end{*this};
        database_ = APMEDatabase::initWithPath(databasePath_);
        if (database_) fetchAllSnapshotsOnWorkerQueue();
    }
    // Without a database nothing could be kept: no fetch in this process.
    if (database_) scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchAllSnapshotsOnWorkerQueue() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("fetchAllSnapshotsOnWorkerQueue");
    auto monitor = APMEManager::monitor();
    const bool committed = database_->performTransaction([&] {
        NSErrorPtr error;
        if (!database_->deleteStaleActivatedSnapshots(&error)) {
            monitor->logWithLevel(1, 820006, "Cannot delete stale activated snapshots. Error", Value(error));
            return false;
        }
        if (!database_->activatePendingSnapshotsAutomatically(&error)) {
            monitor->logWithLevel(1, 820007, "Cannot activate pending snapshots automatically. Error", Value(error));
            return false;
        }
        return true;
    });
    if (!committed) {
        monitor->logWithLevel(2, 820008, "Failed to start the task manager");
        return;
    }
    monitor->logWithLevel(8, 820009, "Successfully start the task manager");
    auto delegate = this->delegate();
    if (!delegate) return;
    const auto read = [&](std::optional<APMESnapshots> (APMEDatabase::*fetch)(NSErrorPtr*), std::int64_t code,
                          const char* message) {
        NSErrorPtr error;
        auto snapshots = ((*database_).*fetch)(&error);
        if (!snapshots) monitor->logWithLevel(2, code, message, error ? Value(error) : Value());
        return snapshots;
    };
    const auto activated = read(&APMEDatabase::fetchAllActivatedSnapshots, 820010,
                                "Error in fetching all activated snapshots. Error");
    const auto pending =
        read(&APMEDatabase::fetchAllPendingSnapshots, 820011, "Error in fetching all pending snapshots. Error");
    const auto launched =
        read(&APMEDatabase::fetchAllLaunchedSnapshots, 820012, "Error in fetching all launched snapshots. Error");
    delegate->taskManagerDidStartWithActivatedSnapshots(*this, activated, pending, launched);
}

// MARK: Requests of the manager

void APMETaskManager::activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp) {
    if (!snapshot) {
        APMEManager::monitor()->logWithLevel(0, 820013, "Cannot activate an empty snapshot");
        return;
    }
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    dispatchAsyncOnWorkerQueue([weak, snapshot, timestamp] {
        auto manager = weak.lock();
        if (!manager || !manager->database_) return;
        NSErrorPtr error;
        static_cast<void>(manager->database_->performTransaction(
            [&] { return manager->database_->activateSnapshot(snapshot, timestamp, &error); }));
        if (error) {
            APMEManager::monitor()->logWithLevel(1, 820014, "Cannot activate snapshot for SDK Name. Error",
                                                  Value(snapshot->SDKName()), Value(error));
        }
    });
}

void APMETaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        APMEManager::monitor()->logWithLevel(1, 820018, "Cannot reset to defaults for empty SDK name");
        return;
    }
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    dispatchAsyncOnWorkerQueue([weak, SDKName] {
        auto manager = weak.lock();
        if (!manager || !manager->database_) return;
        NSErrorPtr error;
        if (!manager->database_->deleteActivatedExperimentsOfSDKName(SDKName, &error)) {
            APMEManager::monitor()->logWithLevel(1, 820019, "Cannot reset to defaults in the database. SDK Name, error",
                                                  Value(SDKName), Value(error));
        }
    });
}

void APMETaskManager::upsertPendingSnapshots(const APMESnapshots& snapshots) {
    if (snapshots.empty()) {
        APMEManager::monitor()->logWithLevel(2, 820020, "Cannot upsert empty pending snapshot list");
        return;
    }
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    dispatchAsyncOnWorkerQueue([weak, snapshots] {
        auto manager = weak.lock();
        if (!manager || !manager->database_) return;
        NSErrorPtr error;
        if (!manager->database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            APMEManager::monitor()->logWithLevel(1, 820021, "Cannot upsert pending snapshots into the database. Error",
                                                  Value(error));
            return;
        }
        if (auto delegate = manager->delegate()) delegate->taskManagerDidUpsertPendingSnapshots(*manager, snapshots);
    });
}

void APMETaskManager::reset() {
    std::weak_ptr<APMETaskManager> weak = weakSelf<APMETaskManager>();
    dispatchAsyncOnWorkerQueue([weak] {
        auto manager = weak.lock();
        if (!manager) return;
        if (manager->database_) static_cast<void>(manager->database_->reset());
        for (const char* key : {kBackoffTimestampKey, kFailureTimestampKey, kSuccessTimestampKey}) {
            manager->persistedStorage_->removeObjectForKey(Value(key));
        }
        manager->scheduleFetchingExperimentsOnWorkerQueue();
    });
}

void APMETaskManager::cancelScheduledFetch() {
    dispatchSyncOnWorkerQueue([this] { alarm_->cancel(); });
}
