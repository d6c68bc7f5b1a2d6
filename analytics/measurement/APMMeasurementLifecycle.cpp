// The engine along the application's life: the background task that lets an upload finish after
// the application leaves the foreground, the weekly configuration refresh, the end of the
// application, the wipe of all analytics data, the reset with a new first open, and the network
// object's messages.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "analytics/core/APMAEU.h"
#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMSqliteStore.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/measurement/APMAnalyticsStore.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kWeek = 604800;

}  // namespace

// MARK: Background task

void APMMeasurement::swapBackgroundTaskWithNewTaskID(std::uint64_t taskID) {
    const std::uint64_t old = backgroundUpdateTask_.exchange(taskID);
    if (old == UIBackgroundTaskInvalid) return;
    monitor()->logWithLevel(7, 23142, "Cancelling background upload task. Task ID ", Value(static_cast<unsigned long long>(old)));
    if (auto application = APMAEU::sharedApplication()) application->endBackgroundTask(old);
}

bool APMMeasurement::hasBackgroundTask() const { return backgroundUpdateTask_.load() != UIBackgroundTaskInvalid; }

void APMMeasurement::terminateBackgroundTask() {
    persistedConfig_->synchronizeToDisk();
    swapBackgroundTaskWithNewTaskID(UIBackgroundTaskInvalid);
}

void APMMeasurement::subscribeForAppForegroundBackgroundNotifications() {
    auto center = NSNotificationCenter::defaultCenter();
    auto engine = self<APMMeasurement>();
    APMMeasurement* target = engine.get();
    center->addObserver(
        engine,
        // Becoming active asks the network for nothing unless the switch asks for the weekly
        // refresh: a failing service would otherwise see one more request at every return.
        [target](const NSNotification&) {
            if (!APMMeasurement::remoteConfig()->blocklistInternal()) return;
            target->scheduleOnWorker("APMMeasurement:3672", [](APMMeasurement& engine) {
                const double age = std::fabs(Clock::now() - APMMeasurement::remoteConfig()->lastRemoteConfigUpdateTimestamp());
                if (age < kWeek) return;
                if (engine.uploader()->isNetworkReadyForRequest()) engine.uploader()->fetchRemoteConfig();
                else monitor()->logWithLevel(8, 23143, "Network operation is pending. Ignoring request to fetch configuration");
            });
        },
        UIApplicationDidBecomeActiveNotification);
    center->addObserver(engine, &APMMeasurement::handleAppWillResignActiveEvent, UIApplicationWillResignActiveNotification);
    center->addObserver(engine, &APMMeasurement::handleAppWillEnterForegroundNotification,
                        UIApplicationWillEnterForegroundNotification);
    center->addObserver(engine, &APMMeasurement::handleAppWillTerminateNotification,
                        UIApplicationWillTerminateNotification);
}

void APMMeasurement::handleAppWillResignActiveEvent(const NSNotification&) {
    persistedConfig_->synchronizeToDisk();
    monitor()->logWithLevel(8, 23144, "App will resign active state. Scheduling data upload");
    // Inside an extension there is no application to keep the process running; the upload is
    // queued all the same.
    auto application = APMAEU::sharedApplication();
    std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
    std::uint64_t task = UIBackgroundTaskInvalid;
    if (application) {
        task = application->beginBackgroundTaskWithName(kBackgroundTaskName, [weak] {
            if (auto engine = weak.lock()) engine->terminateBackgroundTask();
        });
    }
    swapBackgroundTaskWithNewTaskID(task);
    monitor()->logWithLevel(8, 23145, "Background task started. Task ID", Value(static_cast<unsigned long long>(task)));
    // Behind every event already queued at the door.
    front_.queueOperation([weak] {
        if (auto engine = weak.lock()) {
            engine->scheduleOnWorker("APMMeasurement:3714", [](APMMeasurement& e) { e.uploader()->uploadData(); });
        }
    });
}

void APMMeasurement::handleAppWillEnterForegroundNotification(const NSNotification&) { terminateBackgroundTask(); }

void APMMeasurement::handleAppWillTerminateNotification(const NSNotification&) {
    persistedConfig_->synchronizeToDisk();
    isTerminating_ = true;
    // Behind everything queued so far, for kTerminationWaitLimit real seconds at most; the main
    // run loop runs while it is waited for, as work on the worker queue may wait for the main
    // thread.
    auto drained = std::make_shared<std::atomic<bool>>(false);
    scheduler_->scheduleOnWorkerQueueBlockID("APMMeasurement:terminate", [drained] { *drained = true; });
    if (NSThread::isMainThread()) waitForWorkAtTermination(*drained);
    // The settings are written at once: the file store's deferred write would come after the
    // process is gone. Here for what the drained work changed (the session number among them),
    // and again last on the worker for anything queued there since, or left when no wait ran.
    persistedConfig_->persistPendingToDisk();
    // A timer left armed would fire while the process ends.
    scheduleOnWorker("APMMeasurement:terminate", [](APMMeasurement& engine) {
        engine.alarm()->cancel();
        if (engine.network()) engine.network()->setReachabilityDelegate({});
        engine.persistedConfig_->persistPendingToDisk();
    });
}

void APMMeasurement::waitForWorkAtTermination(const std::atomic<bool>& drained) {
    // Real time: the clock may be one that stands still now. Only the engine's own request
    // counts as progress, byte by byte: the rest of the process's transfers (music, pictures)
    // say nothing of whether its answer is coming.
    std::uint64_t moved = network_ ? network_->countOfBytesTransferred() : 0;
    double progressed = Clock::realSeconds();
    const auto done = [&] {
        if (drained.load() && !isNetworkRequestPending()) return true;
        if (!network_ || !isNetworkRequestPending()) return false;
        const double now = Clock::realSeconds();
        if (const std::uint64_t seen = network_->countOfBytesTransferred(); seen != moved) {
            moved = seen;
            progressed = now;
        }
        // A request that has stopped moving is left to the network's shutdown, which ends it;
        // its completion then decides, by the status line it read or did not, what its batch
        // becomes.
        return now - progressed >= kTerminationGracePeriod;
    };
    (void)NSRunLoop::mainRunLoop()->runUntil(done, kTerminationWaitLimit);
}

// MARK: Wipe and reset

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("wipeoutAnalyticsDataAndResetComponents");
    auto log = monitor();
    log->logWithLevel(6, 23171, "Resetting App Measurement data");
    resetPSMCounts();
    previousVUVAppID_ = persistedConfig_->appIDFromVUV().value_or("");
    persistedConfig_->clearValues();
    log->clearMonitoringData();
    if (auto database = this->database()) {
        NSErrorPtr error;
        if (!database->reset(&error)) {
            log->logWithLevel(1, 23209, "Failed to reset database", Value(error));
            return false;
        }
        if (auto config = remoteConfigInstance()) config->reset();
        // The session numbers start again with the cleared settings.
        if (sessionReporter()) {
            auto sessions = APMSessionReporter::initWithContext(reporterContext());
            sessions->setReportingEnabled(isEnabled());
            {
                MutexLock lock(componentsMutex_);
                sessionReporter_ = sessions;
            }
            APMScreenViewReporter::sharedInstance()->setEngine(reporterContext(), sessions);
        }
    } else {
        // Before the components exist: the file goes, with its log and index (a write-ahead log
        // left behind would be read into the next database of that name) and the damaged copies
        // kept beside it.
        const std::string path = APMApplicationSupportPath(databaseName_);
        APMKeptFiles(path).removeAll();
        auto fileManager = NSFileManager::defaultManager();
        for (const std::string& file : {path, path + "-wal", path + "-shm", path + "-journal"}) {
            if (!fileManager->fileExistsAtPath(file)) continue;
            NSErrorPtr error;
            if (!APMDeleteFileAtPath(file, &error) && error) {
                log->logWithLevel(1, 23014, "Failed to delete old database file. Error", Value(error));
            }
        }
    }
    if (auto identity = this->identity()) {
        identity->updateIdentifiers();
        identity->resetEphemeralAppInstanceID();
    }
    return true;
}

bool APMMeasurement::resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("resetAnalyticsData");
    auto log = monitor();
    const bool empty = !appInstanceID || appInstanceID->empty();
    if (empty) {
        if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
            log->logWithLevel(1, 23167, "Cannot reset with an empty app instance ID");
            return false;
        }
        log->logWithLevel(7, 23218, "Resetting with an empty app instance ID");
    }
    const double loadTimestamp = analyticsStore_->loadTimestamp();
    bool wiped = false;
    // One block: no event is written between the wipe and the new first open.
    scheduler_->dispatchSyncOnWorkerQueueBlockID("APMMeasurement:3129", [&] {
        wiped = wipeoutAnalyticsDataAndResetComponents();
        if (!wiped) return;
        persistedConfig_->setAppInstanceID(appInstanceID);
        if (identity()) updatePersistedAppIDFromVUVAndZeViv();
        log->logWithLevel(6, 23168, "Analytics data has been reset");
        if (!isAnalyticsCollectionDeactivated_ && analyticsStore_->deferredAnalyticsCollection().isNull()) {
            analyticsStore_->setDeferredAnalyticsCollection(Value(isEnabled() ? 0 : 1));
        }
        initTimestamp_ = loadTimestamp;
        persistedConfig_->setLoadTimestampValue(Value(loadTimestamp));
        if (isEnabled() && database()) reportFirstOpenOnWorkerQueue();
    });
    return wiped;
}

double APMMeasurement::firstOpenTimestamp() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("firstOpenTimestamp");
    auto database = this->database();
    if (!database) return 0;
    NSErrorPtr error;
    const auto attributes = database->userAttributesIncludingInternal(true, &error);
    if (!attributes) {
        monitor()->logWithLevel(1, 23123, "Unable to query current user properties. Error", Value(error));
        return 0;
    }
    if (attributes->empty()) {
        monitor()->logWithLevel(2, 23124, "Cannot extract first open timestamp. Empty user properties");
        return 0;
    }
    double earliest = (*attributes)[0]->lastSetTimestamp();
    for (const auto& attribute : *attributes) {
        if (attribute->name() == "_fot") return attribute->lastSetTimestamp();
        earliest = std::min(earliest, attribute->lastSetTimestamp());
    }
    return earliest;
}

// MARK: The network object's messages

void APMMeasurement::DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message,
                                             const Value::Array& contexts) {
    std::int64_t mapped = 3;
    switch (level) {
    case 3: mapped = 1; break;
    case 4: mapped = 4; break;
    case 5: mapped = 3; break;
    case 6: mapped = 6; break;
    case 7: mapped = 7; break;
    default: break;
    }
    monitor()->logWithLevel(mapped, messageCode, message, contexts);
}
