// Upload scheduling and the upload of batches (the configuration fetch: APMUploaderConfigFetch.cpp).
#include "analytics/measurement/APMUploader.h"

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

using Bundle = std::shared_ptr<APMPBMeasurementBundle>;

std::string stringField(const Bundle& bundle, std::int32_t field) {
    return APMPBMessageGetString(bundle, field).value_or("");
}

// The end time a queued bundle was stored with, as the queue keeps it (seconds).
double storedEndTimestamp(const Bundle& bundle) {
    return static_cast<double>(APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis)) / 1000.0;
}

// Consent signals, the tracking status and the device ids consent and tracking allow.
void stampIdentity(const Bundle& bundle, const std::optional<std::string>& consentSignals, bool gateIDFA,
                   APMIdentity& identity) {
    bool adStorageDenied = false;
    bool analyticsStorageDenied = false;
    if (consentSignals && consentSignals->size() >= 4) {
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kConsentSignals, *consentSignals);
        adStorageDenied = (*consentSignals)[2] == '0';
        analyticsStorageDenied = (*consentSignals)[3] == '0';
    } else if (!consentSignals || consentSignals->empty()) {
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kConsentSignals);
    }
    const APMIdentity::DeviceValues device = identity.deviceValues();
    bool idfaAllowed = true;
    if (APMIdentity::iOS14OrAbove()) {
        const std::uint64_t status = device.appleConsentStatus;
        if (status != kAPMTrackingStatusUnavailable) {
            APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kTrackingAuthorizationStatus,
                                 static_cast<std::int32_t>(status));
        }
        idfaAllowed = status == kAPMTrackingStatusAuthorized || !gateIDFA;
    }
    const bool hasLimitedAdTracking = device.hasLimitedAdTracking;
    const std::string resettableDeviceID = device.resettableDeviceID.value_or("");
    if (hasLimitedAdTracking && idfaAllowed && !adStorageDenied && !resettableDeviceID.empty()) {
        if (!APMPBMessageHasField(bundle, APMPBMeasurementBundle::kResettableDeviceId)) {
            APMPBMessageSetString(bundle, APMPBMeasurementBundle::kResettableDeviceId, resettableDeviceID);
        }
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kVendorDeviceId);
    } else if (const auto vendorID = identity.identifierForVendor(); vendorID && !analyticsStorageDenied) {
        if (!APMPBMessageHasField(bundle, APMPBMeasurementBundle::kVendorDeviceId)) {
            APMPBMessageSetString(bundle, APMPBMeasurementBundle::kVendorDeviceId, *vendorID);
        }
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kResettableDeviceId);
    } else {
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kResettableDeviceId);
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kVendorDeviceId);
    }
    const std::string appInstanceID = device.appInstanceID.value_or("");
    if (!analyticsStorageDenied && !appInstanceID.empty() &&
        !APMPBMessageHasField(bundle, APMPBMeasurementBundle::kAppInstanceId)) {
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppInstanceId, appInstanceID);
    }
    if (adStorageDenied) APMPBMessageClearField(bundle, APMPBMeasurementBundle::kResettableDeviceId);
    if (analyticsStorageDenied) {
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kVendorDeviceId);
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kAppInstanceId);
    }
    if (hasLimitedAdTracking) {
        APMPBMessageSetBool(bundle, APMPBMeasurementBundle::kLimitedAdTracking, device.limitedAdTracking);
    }
}

// Removes what the configuration's data controls withhold, and lists them.
void applyDataControls(const Bundle& bundle, const std::vector<std::string>& controls, APMIdentity& identity) {
    const auto listed = [&](const char* name) { return std::find(controls.begin(), controls.end(), name) != controls.end(); };
    if (listed("app_instance_id")) {
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kAppInstanceId);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kEphemeralAppInstanceId,
                              identity.ephemeralAppInstanceID());
    }
    if (listed("user_id")) {
        Value::Array attributes = APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes)
                                      .value_or(Value::Array{});
        std::erase_if(attributes, [](const Value& item) {
            return APMPBMessageGetString(item.objectAs<APMPBUserAttribute>(), APMPBUserAttribute::kName) == "_id";
        });
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kUserAttributes, attributes);
    }
    if (listed("os_version") || listed("device_info")) APMPBMessageClearField(bundle, APMPBMeasurementBundle::kOsVersion);
    if (listed("device_model") || listed("device_info")) {
        APMPBMessageClearField(bundle, APMPBMeasurementBundle::kDeviceModel);
    }
    if (!controls.empty()) {
        Value::Array names;
        for (const auto& control : controls) names.push_back(Value(control));
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kRedactedFields, names);
    }
}

// The longest leading run of bundles of app `appID` whose device id agrees with the one in use.
std::vector<APMDatabase::QueuedBundle> filteredBundlesWithCompatibleAppID(
    APMMonitor& monitor, const std::string& appID, const std::string& resettableDeviceID,
    const std::string& vendorDeviceID, const std::vector<APMDatabase::QueuedBundle>& bundles) {
    if (!resettableDeviceID.empty() && !vendorDeviceID.empty()) {
        monitor.logWithLevel(2, 23042, "Bundle filter must not specify both resettableDeviceID and vendorDeviceID");
        return {};
    }
    const bool resettable = !resettableDeviceID.empty();
    const std::string& deviceID = resettable ? resettableDeviceID : vendorDeviceID;
    const std::int32_t deviceField =
        resettable ? APMPBMeasurementBundle::kResettableDeviceId : APMPBMeasurementBundle::kVendorDeviceId;
    std::vector<APMDatabase::QueuedBundle> fitting;
    for (const auto& queued : bundles) {
        if (stringField(queued.first, APMPBMeasurementBundle::kVuvAppId) != appID) break;
        const std::string own = stringField(queued.first, deviceField);
        if (!own.empty() && !deviceID.empty() && own != deviceID) break;
        fitting.push_back(queued);
    }
    return fitting;
}

}  // namespace

long APMUploader::statusOf(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
    return response && !error ? response->statusCode() : 0;
}

bool APMUploader::isSuccessStatus(long status) {
    return status == kDIDEderaziHTTPStatusOK || status == kDIDEderaziHTTPStatusNoContent;
}

bool APMUploader::isBackoffStatus(long status) {
    return status == kDIDEderaziHTTPStatusCodeCannotAcceptTraffic || status == kDIDEderaziHTTPStatusCodeUnavailable;
}

std::shared_ptr<APMUploader> APMUploader::initWithContext(std::weak_ptr<APMUploaderContext> context) {
    auto uploader = std::make_shared<APMUploader>();
    uploader->bundler_ = APMBundler::initWithContext(context);
    uploader->context_ = std::move(context);
    return uploader;
}

bool APMUploader::isRealtimeLimitedEvent(const std::string& name, bool debugModeEnabled) {
    return !debugModeEnabled && name != "_iap" && name != "_f" && name != "_fx";
}

// MARK: Scheduling

bool APMUploader::hasDataToUpload() {
    auto context = context_.lock();
    if (!context) return false;
    auto database = context->database();
    if (!database) return false;
    NSErrorPtr error;
    const std::optional<bool> queueEmpty = database->isQueuedBundleTableEmpty(&error);
    if (!queueEmpty) {
        context->monitor()->logWithLevel(1, 23117, "Failed to check if queue table is empty. Error", Value(error));
        return false;
    }
    if (!*queueEmpty) return true;
    const std::optional<bool> rawEventsEmpty = database->isRawEventsTableEmpty(&error);
    if (!rawEventsEmpty) {
        context->monitor()->logWithLevel(1, 23118, "Failed to check if raw events table is empty. Error", Value(error));
        return false;
    }
    return !*rawEventsEmpty;
}

double APMUploader::nextUploadingTime() {
    auto context = context_.lock();
    if (!context) return 0;
    auto database = context->database();
    auto config = context->remoteConfig();
    auto persisted = context->persistedConfig();
    auto monitor = context->monitor();
    if (!database || !config || !persisted) return 0;

    const double lastSuccess = persisted->lastSuccessfulUploadTimestamp();
    const double lastFailure = persisted->lastFailedUploadTimestamp();
    NSErrorPtr error;
    const std::optional<double> latestBundle = database->queryLatestBundleTime(&error);
    if (!latestBundle && error) {
        monitor->logWithLevel(5, 23030, "Failed to query latest bundle time. Error", Value(error));
    }
    error.reset();
    const std::optional<double> latestRawEvent = database->queryLatestRawEventTime(&error);
    if (!latestRawEvent && error) {
        monitor->logWithLevel(5, 23029, "Failed to query latest raw event time. Error", Value(error));
    }
    const double latest = std::max(latestBundle.value_or(0), latestRawEvent.value_or(0));
    if (std::fabs(latest) < kEpsilon) return 0;

    const bool debug = monitor->isDebugModeEnabled();
    bool realtime = debug;
    if (!realtime) {
        error.reset();
        const std::optional<bool> realtimeBundles = database->containsRealtimeBundlesWithError(&error);
        if (!realtimeBundles) {
            monitor->logWithLevel(5, 23031, "Failed to query for real-time bundle indicator. Error", Value(error));
        }
        realtime = realtimeBundles.value_or(false);
    }
    if (!realtime) {
        error.reset();
        const std::optional<bool> realtimeRawEvents = database->containsRealtimeRawEventsWithError(&error);
        if (!realtimeRawEvents) {
            monitor->logWithLevel(5, 23032, "Failed to query for real-time raw event indicator. Error", Value(error));
        }
        realtime = realtimeRawEvents.value_or(false);
    }
    const double interval = realtime ? config->uploadingRealTimeInterval() : config->uploadingInterval();
    const double now = Clock::now();
    // The newest data, or as far before now as a clock change put it in the future.
    const double base = now - std::fabs(latest - now);
    double next = std::fabs(now - lastSuccess) < interval ? lastSuccess + interval
                                                          : base + config->uploadingInitialDelayInterval();
    if (lastFailure >= base) {
        const double retryInterval = config->uploadingRetryInterval();
        const std::int32_t retries = config->uploadingRetryCount();
        for (std::int32_t step = 0; step < retries; ++step) {
            next += retryInterval * std::ldexp(1.0, step);
            if (next > lastFailure) return next;
        }
        return 0;
    }
    return debug ? std::min(next, base + config->uploadingDebugModeInterval()) : next;
}

void APMUploader::updateSchedule() {
    auto context = context_.lock();
    if (!context) return;
    auto monitor = context->monitor();
    if (suspendedUploadTimestamp_) {
        const double elapsed = std::fabs(Clock::uptime() - *suspendedUploadTimestamp_);
        if (elapsed < kUploadSuspensionInterval) {
            monitor->logWithLevel(3, 23023, "Upload has been suspended. Will update scheduling later. Seconds",
                                  Value(kUploadSuspensionInterval - elapsed));
            stopScheduling(*context, false);
            return;
        }
        suspendedUploadTimestamp_.reset();
    }
    if (!hasDataToUpload()) {
        // Between uploads the switches may change: no bundle is half made under the old ones.
        if (auto config = context->remoteConfig()) static_cast<void>(config->activateNewSnapshot());
        monitor->logWithLevel(8, 23024, "No data to upload. Upload task will not be scheduled");
        stopScheduling(*context, false);
        return;
    }
    double next = nextUploadingTime();
    if (std::fabs(next) < kEpsilon) {
        monitor->logWithLevel(8, 23025, "No next uploading time. Upload task will not be scheduled");
        stopScheduling(*context, false);
        return;
    }
    auto network = context->network();
    if (!network || !network->isNetworkConnected()) {
        monitor->logWithLevel(8, 23026, "No network. Upload task will not be scheduled");
        stopScheduling(*context, true);
        return;
    }
    network->setReachabilityDelegate({});

    auto persisted = context->persistedConfig();
    auto config = context->remoteConfig();
    const double now = Clock::now();
    const double backoff = persisted ? persisted->lastBackoffTimestamp() : 0;
    const double backoffInterval = config->uploadingBackoffInterval();
    if (backoff != 0 && now - backoff < backoffInterval) next = std::max(next, backoff + backoffInterval);

    auto alarm = context->alarm();
    if (!alarm) return;
    const std::optional<NSDate> scheduled = alarm->scheduledTimestamp();
    if (scheduled && scheduled->timeIntervalSince1970 != 0 && scheduled->timeIntervalSince1970 <= next) {
        monitor->logWithLevel(8, 23027, "Do not schedule an upload task. Task already exists. Will be executed in seconds",
                              Value(scheduled->timeIntervalSince1970 - now));
        return;
    }
    double delay = next - now;
    if (std::fabs(delay) < kEpsilon) delay = 0.001;
    std::weak_ptr<APMUploader> weak = weakSelf<APMUploader>();
    alarm->runAfterDelay(delay, [weak] {
        if (auto uploader = weak.lock()) uploader->runUploadOnWorkerQueue();
    });
    monitor->logWithLevel(8, 23028, "Upload task scheduled to be executed in approx. (s)", Value(delay));
}

void APMUploader::runUploadOnWorkerQueue() {
    auto context = context_.lock();
    auto scheduler = context ? context->scheduler() : nullptr;
    if (!scheduler) return;
    std::weak_ptr<APMUploader> weak = weakSelf<APMUploader>();
    scheduler->scheduleOnWorkerQueueBlockID("APMMeasurement:1656", [weak] {
        if (auto uploader = weak.lock()) uploader->uploadData();
    });
}

void APMUploader::stopScheduling(APMUploaderContext& context, bool waitForReachability) {
    if (auto network = context.network()) {
        if (waitForReachability) {
            network->setReachabilityDelegate(std::weak_ptr<DIDEderaziReachabilityDelegate>(self<APMUploader>()));
        } else {
            network->setReachabilityDelegate({});
        }
    }
    if (auto alarm = context.alarm()) alarm->cancel();
    context.terminateBackgroundTask();
}

void APMUploader::reachabilityDidChange() {
    auto context = context_.lock();
    auto scheduler = context ? context->scheduler() : nullptr;
    if (!scheduler) return;
    std::weak_ptr<APMUploader> weak = weakSelf<APMUploader>();
    scheduler->scheduleOnWorkerQueueBlockID("APMMeasurement:989", [weak] {
        if (auto uploader = weak.lock()) uploader->updateSchedule();
    });
}

void APMUploader::uploadDataOrRegisterAlarm() {
    auto context = context_.lock();
    if (!context) return;
    auto network = context->network();
    if (network && network->isNetworkConnected() && hasDataToUpload()) {
        uploadData();
    } else {
        updateSchedule();
    }
}

bool APMUploader::isNetworkReadyForRequest() {
    auto context = context_.lock();
    if (!context) return false;
    auto network = context->network();
    const bool networkBusy = network && network->hasUploadInProgress();
    if (!context->isNetworkRequestPending()) return !networkBusy;
    if (!networkBusy) {
        context->monitor()->logWithLevel(1, 23041, "Analytics is uploading but network is not uploading");
    }
    return false;
}

bool APMUploader::shouldUseBackgroundSession() {
    auto context = context_.lock();
    if (!context) return false;
    auto config = context->remoteConfig();
    return config && config->isNetworkBackgroundSessionEnabled() && context->hasBackgroundTask();
}

// MARK: Upload

void APMUploader::uploadData() {
    auto context = context_.lock();
    if (!context) return;
    auto monitor = context->monitor();
    auto config = context->remoteConfig();
    auto persisted = context->persistedConfig();
    auto network = context->network();
    auto scheduler = context->scheduler();
    if (suspendedUploadTimestamp_) {
        updateSchedule();
        return;
    }
    monitor->logWithLevel(8, 23033, "Starting data upload");
    if (!isNetworkReadyForRequest()) {
        monitor->logWithLevel(8, 23034, "Network operation is pending. Ignoring upload request");
        return;
    }
    if (!network || !network->isNetworkConnected()) {
        monitor->logWithLevel(7, 23035, "Network not connected, ignoring upload request");
        updateSchedule();
        return;
    }
    if (!config || !persisted || !scheduler) return;

    if (!config->isExpired()) {
        const std::int32_t limit = config->maxBundlesCreatedPerIteration();
        for (std::int32_t created = 0; created < limit && bundler_->bundleRawEvents(); ++created) {
        }
    }

    NSErrorPtr error;
    std::optional<Batch> batch = nextBatch(&error);
    if (!batch) {
        if (error) {
            monitor->logWithLevel(1, 23036, "Failed to query bundles. Error", Value(error));
            context->terminateBackgroundTask();
            return;
        }
        static_cast<void>(config->activateNewSnapshot());
        monitor->logWithLevel(8, 23037, "No data to upload");
        if (config->isExpired()) {
            fetchRemoteConfig();
        } else {
            context->terminateBackgroundTask();
        }
        return;
    }

    const double now = Clock::now();
    const double lastSuccess = persisted->lastSuccessfulUploadTimestamp();
    if (lastSuccess != 0) {
        monitor->logWithLevel(8, 23038, "Uploading events. Elapsed time since last successful upload (s)",
                              Value(std::fabs(now - lastSuccess)));
    }
    if (monitor->isLoggableLevel(7)) {
        monitor->logWithLevel(7, 23039, "Measurement data sent to network. Timestamp (ms), data",
                              Value(static_cast<long long>(now * 1000)), Value(batch->message));
    }
    setUploadInProgressWithBundleIDs(batch->bundleIDs, batch->bundleEndTimestamps);
    // Counted as failed until an answer says otherwise.
    persisted->setLastFailedUploadTimestamp(now);

    context->setNetworkRequestPending(true);
    network->setTimeoutInterval(config->networkTimeout());
    std::weak_ptr<APMUploader> weak = weakSelf<APMUploader>();
    std::weak_ptr<DIDEderazi> sender = network;
    const std::string sessionID = network->postURL(
        config->uploadURL(), batch->payload, scheduler->workerQueue(), shouldUseBackgroundSession(),
        [weak, sender](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData&, const NSErrorPtr& error) {
            auto uploader = weak.lock();
            if (!uploader) return;
            auto context = uploader->context_.lock();
            if (context) context->setNetworkRequestPending(false);
            // The application's end cuts what is still coming; the status line may have come.
            if (error && context && context->isTerminating()) {
                auto network = sender.lock();
                uploader->uploadCutAsTheApplicationEnds(network ? network->receivedStatusCode() : 0, error);
                return;
            }
            uploader->networkUploadCompletionHandlerWithResponse(response, error);
        });
    if (sessionID.empty()) {
        monitor->logWithLevel(2, 23040, "Unable to create network session.");
        uploadingBundleIDs_.clear();
        uploadingEndTimestamps_.clear();
    }
}

std::optional<APMUploader::Batch> APMUploader::nextBatch(NSErrorPtr* error) {
    auto context = context_.lock();
    if (!context) return std::nullopt;
    auto database = context->database();
    auto config = context->remoteConfig();
    auto identity = context->identity();
    auto monitor = context->monitor();
    if (!database || !config || !identity) return std::nullopt;

    // Bundles the service has but the database kept: delete them first, and never send them again.
    (void)deleteDeliveredBundles();
    const std::vector<DeliveredBundle>& delivered = deliveredBundles(*context);
    const auto wasDelivered = [&](std::int64_t rowID) {
        return std::any_of(delivered.begin(), delivered.end(), [&](const auto& item) { return item.rowID == rowID; });
    };

    std::vector<APMDatabase::QueuedBundle> bundles;
    for (;;) {
        const std::int64_t countLimit = config->uploadMaxBundlesLimit() + static_cast<std::int64_t>(delivered.size());
        std::vector<std::int64_t> unreadable;
        auto queued =
            database->queryBundlesWithCountLimit(countLimit, config->uploadMaxSizeLimitBytes(), error, &unreadable);
        if (!queued) return std::nullopt;
        // A bundle that cannot be read back can never be sent: left in place it would take a
        // batch's slot for ever, and a queue led by enough of them would send nothing.
        if (!unreadable.empty()) {
            monitor->logWithLevel(4, 23305, "Deleting queued bundles that cannot be read. Count",
                                  Value(static_cast<long long>(unreadable.size())));
            Value::Array rowIDs;
            for (std::int64_t rowID : unreadable) rowIDs.push_back(Value(static_cast<long long>(rowID)));
            if (!database->deleteBundlesWithRowIDs(rowIDs, error)) return std::nullopt;
            if (queued->empty()) continue;
        }
        std::erase_if(*queued, [&](const auto& item) { return wasDelivered(item.second); });
        // A bundle that names no app (bundling sets such events aside; an earlier version may
        // have queued them) can never be taken by the service: it must not hold the queue, nor
        // ride in a batch of bundles that carry only the ads library's app id.
        Value::Array unusable;
        std::erase_if(*queued, [&](const auto& item) {
            if (APMBundler::namesItsApp(item.first)) return false;
            unusable.push_back(Value(static_cast<long long>(item.second)));
            return true;
        });
        if (unusable.empty()) {
            bundles = std::move(*queued);
            break;
        }
        monitor->logWithLevel(4, 23303, "Deleting queued bundles without a Vizudi or ZeViv App ID. Count",
                              Value(static_cast<long long>(unusable.size())));
        if (!database->deleteBundlesWithRowIDs(unusable, error)) return std::nullopt;
        if (!queued->empty()) {
            bundles = std::move(*queued);
            break;
        }
    }
    if (bundles.empty()) return std::nullopt;

    const std::optional<std::string> consentSignals = APMConsentSettingsUtil::consentSignals();
    const bool gateIDFA = config->gateIDFAOnATTMASEnabled();
    for (const auto& queued : bundles) stampIdentity(queued.first, consentSignals, gateIDFA, *identity);

    // An app the ads library alone started has no Vizudi App ID: its bundles, all without one,
    // go together.
    const std::string appID = stringField(bundles.front().first, APMPBMeasurementBundle::kVuvAppId);
    std::string resettableDeviceID;
    std::string vendorDeviceID;
    for (const auto& queued : bundles) {
        resettableDeviceID = stringField(queued.first, APMPBMeasurementBundle::kResettableDeviceId);
        if (!resettableDeviceID.empty()) break;
    }
    if (resettableDeviceID.empty()) {
        for (const auto& queued : bundles) {
            vendorDeviceID = stringField(queued.first, APMPBMeasurementBundle::kVendorDeviceId);
            if (!vendorDeviceID.empty()) break;
        }
    }
    bundles = filteredBundlesWithCompatibleAppID(*monitor, appID, resettableDeviceID, vendorDeviceID, bundles);
    if (bundles.empty()) return std::nullopt;

    const auto nowMillis = static_cast<std::int64_t>(Clock::now() * 1000);
    const std::vector<std::string> dataControls = config->dataControls();
    const bool checksum = config->checksumEnabled();
    Batch batch;
    Value::Array messages;
    messages.reserve(bundles.size());
    for (const auto& [bundle, rowID] : bundles) {
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kUploadLibraryVersion,
                             APMIdentity::zevUzeviroredaLibraryVersion());
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kUploadTimestampMillis, nowMillis);
        applyDataControls(bundle, dataControls, *identity);
        if (checksum) {
            APMPBMessageClearField(bundle, APMPBMeasurementBundle::kChecksum);
            APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kChecksum,
                                 apm_64LSBMD5(bundle->protoBuffer().value_or(NSData{})));
        }
        messages.push_back(Value(bundle));
        batch.bundleIDs.push_back(Value(static_cast<long long>(rowID)));
        batch.bundleEndTimestamps.push_back(storedEndTimestamp(bundle));
    }
    auto message = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(message, APMPBMeasurementBatch::kBundles, messages);
    std::optional<NSData> payload = message->protoBuffer();
    if (!payload) return std::nullopt;
    batch.payload = std::move(*payload);
    batch.message = message;
    return batch;
}

void APMUploader::setUploadInProgressWithBundleIDs(const Value::Array& bundleIDs,
                                                   const std::vector<double>& endTimestamps) {
    auto context = context_.lock();
    if (!context) return;
    if (bundleIDs.empty()) {
        context->monitor()->logWithLevel(2, 23046, "Bundle list is empty. Cancelling upload");
        return;
    }
    if (!uploadingBundleIDs_.empty()) {
        context->monitor()->logWithLevel(2, 23047, "Set uploading progress before finishing the previous upload");
        return;
    }
    uploadingBundleIDs_ = bundleIDs;
    uploadingEndTimestamps_ = endTimestamps;
}

void APMUploader::networkUploadCompletionHandlerWithResponse(const std::shared_ptr<NSHTTPURLResponse>& response,
                                                             const NSErrorPtr& error) {
    auto context = context_.lock();
    if (!context) return;
    const long status = statusOf(response, error);
    if (isSuccessStatus(status)) {
        uploadSucceeded(*context, status, response->expectedContentLength());
    } else {
        uploadFailed(*context, status, error);
    }
}

void APMUploader::uploadCutAsTheApplicationEnds(long statusLineStatus, const NSErrorPtr& error) {
    auto context = context_.lock();
    if (!context) return;
    auto monitor = context->monitor();
    const Value bundles(static_cast<long long>(uploadingBundleIDs_.size()));
    if (isSuccessStatus(statusLineStatus)) {
        // The service said it took the batch before the rest of its answer was lost: sent
        // again, it would have it twice. Gone before the line says so, as the process may be
        // cut at any moment now.
        removeDeliveredBatch(*context, Clock::now());
        monitor->logWithLevel(6, 23315,
                              "The application ended while the upload's answer came in, after its status said the "
                              "batch was taken. Its bundles are delivered. Status, bundles",
                              Value(statusLineStatus), bundles);
        uploadSucceeded(*context, statusLineStatus, NSURLResponse::NSURLResponseUnknownLength);
    } else {
        monitor->logWithLevel(4, 23316,
                              "The application ended before the upload's answer said the batch was taken. Its "
                              "bundles are sent again at the next launch. Bundles",
                              bundles);
        uploadFailed(*context, 0, error);
    }
    // The process ends next: the settings' deferred write would come after it.
    if (auto persisted = context->persistedConfig()) persisted->persistPendingToDisk();
}

void APMUploader::uploadSucceeded(APMUploaderContext& context, long status, std::int64_t contentLength) {
    auto monitor = context.monitor();
    auto persisted = context.persistedConfig();
    auto config = context.remoteConfig();
    if (!persisted || !config) return;
    const double now = Clock::now();
    // First, before any line says the upload succeeded: a process cut at a later step leaves
    // the batch delivered and unsaid, never said taken and still queued to be sent again.
    removeDeliveredBatch(context, now);
    monitor->logWithLevel(7, 23044, "Successful upload. Got network response. Code, size", Value(status),
                          Value(static_cast<long long>(contentLength)));
    persisted->setLastSuccessfulUploadTimestamp(now);
    persisted->setLastFailedUploadTimestamp(0);
    persisted->setLastBackoffTimestamp(0);
    // With nothing left, the step below decides: stopping the schedule here would end the
    // background task before a configuration fetch or a conversion request that follows.
    if (hasDataToUpload()) updateSchedule();
    auto network = context.network();
    if (network && network->isNetworkConnected() && hasDataToUpload()) {
        uploadData();
    } else if (config->isExpired()) {
        uploadData();
    } else if (!context.retrievePostponedPSMRequest()) {
        updateSchedule();
    }
}

void APMUploader::removeDeliveredBatch(APMUploaderContext& context, double now) {
    if (uploadingBundleIDs_.empty()) return;
    if (removeBundlesFromDatabaseWithIDs(context, uploadingBundleIDs_)) {
        suspendedUploadTimestamp_.reset();
    } else {
        context.monitor()->logWithLevel(1, 23045,
                                        "Unable to delete uploaded bundles. Uploads will be suspended for seconds",
                                        Value(kUploadSuspensionInterval));
        suspendedUploadTimestamp_ = Clock::uptime();
        auto& delivered = deliveredBundles(context);
        for (std::size_t i = 0; i < uploadingBundleIDs_.size(); ++i) {
            const double endTimestamp = i < uploadingEndTimestamps_.size() ? uploadingEndTimestamps_[i] : 0;
            delivered.push_back({uploadingBundleIDs_[i].longLongValue(), endTimestamp, now});
        }
        storeDeliveredBundles(context);
    }
    uploadingBundleIDs_.clear();
    uploadingEndTimestamps_.clear();
}

void APMUploader::uploadFailed(APMUploaderContext& context, long status, const NSErrorPtr& error) {
    auto persisted = context.persistedConfig();
    if (!persisted || !context.remoteConfig()) return;
    const double now = Clock::now();
    persisted->setLastFailedUploadTimestamp(now);
    if (isBackoffStatus(status)) persisted->setLastBackoffTimestamp(now);
    context.monitor()->logWithLevel(7, 23043, "Network upload failed. Will retry later. Code, error", Value(status),
                                    Value(error));
    incrementRetryCounter(context);
    uploadingBundleIDs_.clear();
    uploadingEndTimestamps_.clear();
    updateSchedule();
}

void APMUploader::incrementRetryCounter(APMUploaderContext& context) {
    if (uploadingBundleIDs_.empty()) return;
    NSErrorPtr error;
    if (!context.database()->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error)) {
        context.monitor()->logWithLevel(2, 23166, "Failed to update the bundles' retry counts. Error", Value(error));
    }
}

std::vector<APMUploader::DeliveredBundle>& APMUploader::deliveredBundles(APMUploaderContext& context) {
    if (deliveredBundles_) return *deliveredBundles_;
    deliveredBundles_.emplace();
    auto persisted = context.persistedConfig();
    const auto stored = persisted ? persisted->dictionaryForKey(kDeliveredBundlesKey) : std::nullopt;
    const Value& rows = stored ? stored->get("bundles") : Value::null();
    if (!rows.isArray()) return *deliveredBundles_;
    for (const Value& row : rows.array()) {
        if (!row.isDictionary()) continue;
        const Value& rowID = row.dictionary().get("row_id");
        const Value& end = row.dictionary().get("end_timestamp");
        const Value& uploaded = row.dictionary().get("upload_timestamp");
        if (!rowID.isNumber() || !end.isNumber()) continue;
        deliveredBundles_->push_back(
            {rowID.longLongValue(), end.doubleValue(), uploaded.isNumber() ? uploaded.doubleValue() : 0});
    }
    return *deliveredBundles_;
}

void APMUploader::storeDeliveredBundles(APMUploaderContext& context) {
    auto persisted = context.persistedConfig();
    if (!persisted || !deliveredBundles_) return;
    if (deliveredBundles_->empty()) {
        persisted->setDictionary(std::nullopt, kDeliveredBundlesKey);
    } else {
        Value::Array rows;
        for (const auto& item : *deliveredBundles_) {
            rows.push_back(Value(Value::Dictionary{{"row_id", Value(static_cast<long long>(item.rowID))},
                                                   {"end_timestamp", Value(item.endTimestamp)},
                                                   {"upload_timestamp", Value(item.uploadTimestamp)}}));
        }
        persisted->setDictionary(Value::Dictionary{{"bundles", Value(std::move(rows))}}, kDeliveredBundlesKey);
    }
    persisted->synchronizeToDisk();
}

bool APMUploader::deleteDeliveredBundles() {
    auto context = context_.lock();
    auto database = context ? context->database() : nullptr;
    if (!database) return false;
    auto& delivered = deliveredBundles(*context);
    if (delivered.empty()) return true;
    Value::Array rowIDs;
    for (const auto& item : delivered) rowIDs.push_back(Value(static_cast<long long>(item.rowID)));
    NSErrorPtr error;
    const auto queued = database->queryBundlesWithRowIDs(rowIDs, &error);
    if (!queued) {
        context->monitor()->logWithLevel(1, 23036, "Failed to query bundles. Error", Value(error));
        return false;
    }
    // Only rows still holding the bundle that was sent: a row whose id a later bundle took
    // (after the delete went through after all, or a wipe) is that bundle's and is sent.
    std::vector<DeliveredBundle> still;
    for (const auto& item : delivered) {
        const bool same = std::any_of(queued->begin(), queued->end(), [&](const auto& row) {
            return row.second == item.rowID && storedEndTimestamp(row.first) == item.endTimestamp;
        });
        if (same) still.push_back(item);
    }
    if (!still.empty()) {
        Value::Array stillIDs;
        for (const auto& item : still) stillIDs.push_back(Value(static_cast<long long>(item.rowID)));
        if (removeBundlesFromDatabaseWithIDs(*context, stillIDs)) {
            context->monitor()->logWithLevel(7, 23310, "Deleted bundles the service received before. Count",
                                             Value(static_cast<long long>(still.size())));
            still.clear();
        }
    }
    const bool changed = still.size() != delivered.size();
    delivered = std::move(still);
    if (changed) storeDeliveredBundles(*context);
    return delivered.empty();
}

bool APMUploader::removeBundlesFromDatabaseWithIDs(APMUploaderContext& context, const Value::Array& bundleIDs) {
    NSErrorPtr error;
    if (!context.database()->deleteBundlesWithRowIDs(bundleIDs, &error)) {
        context.monitor()->logWithLevel(1, 23122, "Failed to delete bundles from database. Error", Value(error));
        return false;
    }
    return true;
}

void APMUploader::stampIdentity(const std::shared_ptr<APMPBMeasurementBundle>& bundle,
                                const std::optional<std::string>& consentSignals, bool gateIDFA, APMIdentity& identity) {
    ::stampIdentity(bundle, consentSignals, gateIDFA, identity);
}
