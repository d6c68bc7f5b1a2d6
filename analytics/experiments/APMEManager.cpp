// The experiments manager: registrations, flags, activation and the task manager's reports.
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/experiments/APMEDispatch.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEFlagConversion.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ProcessSharedOver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

// Made over the context the engine hands in; queued work may still ask at exit.
ProcessSharedOver<APMEManager, std::shared_ptr<APMExperimentContext>> gManager;

void storeByName(std::map<std::string, std::shared_ptr<APMESnapshot>>& target,
                 const std::optional<APMESnapshots>& snapshots) {
    for (const auto& snapshot : snapshots.value_or(APMESnapshots{})) target[snapshot->SDKName()] = snapshot;
}

}  // namespace

std::int64_t APMEManager::version() {
    constexpr std::string_view text = kVersionText;
    if (text.size() < 4) return 0;
    std::int64_t version = 0;
    for (char digit : text.substr(0, text.size() - 3)) version = version * 10 + (digit - '0');
    return version;
}

std::shared_ptr<APMEManager> APMEManager::sharedInstance() {
    return gManager.get([](const std::shared_ptr<APMExperimentContext>& context) {
        return context ? initWithContext(context) : nullptr;
    });
}

void APMEManager::setSharedContext(std::shared_ptr<APMExperimentContext> context) { gManager.hand(std::move(context)); }

void APMEManager::resetSharedInstance() {
    if (const auto manager = gManager.take()) manager->taskManager()->cancelScheduledFetch();
}

bool APMEManager::hasSharedInstance() { return gManager.current() != nullptr; }

std::shared_ptr<APMEManager> APMEManager::initWithContext(std::shared_ptr<APMExperimentContext> context) {
    return initWithTaskManager(APMETaskManager::initWithContext(std::move(context)));
}

std::shared_ptr<APMEManager> APMEManager::initWithTaskManager(std::shared_ptr<APMETaskManager> taskManager) {
    if (!taskManager) return nullptr;
    auto manager = std::make_shared<APMEManager>();
    manager->queue_ = DispatchQueue::create(kQueueLabel, DispatchQueue::Kind::Serial,
                                            DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    manager->taskManager_ = std::move(taskManager);
    manager->taskManager_->setDelegate(std::weak_ptr<APMETaskManagerDelegate>(manager));
    return manager;
}

const std::shared_ptr<APMEMonitor>& APMEManager::monitor() {
    // Never destroyed, as the monitor it passes lines to.
    static const std::shared_ptr<APMEMonitor>& shared =
        *new std::shared_ptr<APMEMonitor>(APMEMonitor::initWithMonitor(APMMeasurementMonitor()));
    return shared;
}

APMEManager::~APMEManager() {
    // The queue's first block may still wait for a start-up that now has no one to report to.
    if (startUp_) startUp_->ended->signal();
}

void APMEManager::startTaskManager() {
    if (startUp_) return;
    startUp_ = std::make_shared<StartUp>();
    startUp_->ended = DispatchSemaphore::create(0);
    // The queue's first block: nothing after it runs before the stored snapshots are in.
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak, startUp = startUp_] {
        (void)startUp->ended->wait();  // without a deadline it returns only once signalled
        auto manager = weak.lock();
        if (!manager) return;
        MutexLock lock(startUp->mutex);
        manager->storeStartUpSnapshots(startUp->activated, startUp->pending, startUp->launched);
    });
    taskManager_->startTaskManager();
}

// MARK: Queue

void APMEManager::dispatchAsyncOnSerialQueue(std::function<void()> block) {
    APMEDispatchAsync(queue_, std::move(block), 800017, "Exception on async Experimentation serial queue");
}

void APMEManager::dispatchSyncOnSerialQueue(const std::function<void()>& block) {
    APMEDispatchSync(queue_, block, 800018, "Exception on sync Experimentation serial queue");
}

// MARK: Registration

std::shared_ptr<APMEClient> APMEManager::registerSDKProperty(const std::shared_ptr<APMESDKProperty>& property,
                                                             const Value::Dictionary& defaultFlags) {
    auto monitor = APMEManager::monitor();
    if (!property) {
        monitor->logWithLevel(0, 800000, "Cannot register client with a nil SDK property");
        return nullptr;
    }
    const std::string name = property->name();
    if (name.empty()) {
        monitor->logWithLevel(0, 800001, "Cannot register experiment client with no SDK name");
        return nullptr;
    }
    std::vector<std::shared_ptr<APMPBFlag>> flags;
    std::map<std::string, std::shared_ptr<APMPBFlag>> flagsByName;
    for (const auto& [flagName, value] : defaultFlags) {
        auto flag = APMEFlagWithNameAndValue(flagName, value);
        if (!flag) {
            monitor->logWithLevel(0, 800002, "Cannot register experiment client invalid flags. Flag name, value",
                                  Value(flagName), value);
            return nullptr;
        }
        flags.push_back(flag);
        flagsByName[flagName] = flag;
    }
    auto client = APMEClient::initWithSDKProperty(property, flags, weakSelf<APMEManager>());
    if (!client) {
        monitor->logWithLevel(1, 800004, "Cannot register client. SDK name", Value(name));
        return nullptr;
    }
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak, client, property, name, flagsByName = std::move(flagsByName)] {
        auto manager = weak.lock();
        if (!manager) return;
        auto monitor = APMEManager::monitor();
        if (manager->registeredClientsBySDKName_.count(name)) {
            monitor->logWithLevel(3, 800003,
                                  "Registered an SDK that has already registered. Default flags will be overwritten. "
                                  "SDK name",
                                  Value(name));
        }
        manager->registeredClientsBySDKName_[name] = client;
        manager->defaultFlagsBySDKName_[name] = flagsByName;
        manager->taskManager_->requestBuilder()->addSDKProperty(property);
        monitor->logWithLevel(8, 800005, "Registered client", Value(name));
    });
    return client;
}

std::shared_ptr<APMEClient> APMEManager::clientForSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        APMEManager::monitor()->logWithLevel(0, 800007, "Cannot find the client for empty SDK Name");
        return nullptr;
    }
    std::shared_ptr<APMEClient> client;
    dispatchSyncOnSerialQueue([&] {
        auto found = registeredClientsBySDKName_.find(SDKName);
        if (found != registeredClientsBySDKName_.end()) client = found->second;
    });
    return client;
}

// MARK: Look-ups

std::vector<std::int32_t> APMEManager::experimentIDs() {
    std::vector<std::int32_t> ids;
    dispatchSyncOnSerialQueue([&] {
        for (const auto& [name, client] : registeredClientsBySDKName_) {
            if (!client->SDKProperty()->diversionKey().empty()) continue;
            auto found = activatedSnapshotsBySDKName_.find(name);
            if (found == activatedSnapshotsBySDKName_.end()) continue;
            for (const auto& experiment : found->second->experiments()) ids.push_back(experiment->experimentID());
        }
    });
    std::sort(ids.begin(), ids.end());
    return ids;
}

Value APMEManager::flagValueForFlagName(const std::string& flagName, const std::string& SDKName, bool orDefault) {
    auto monitor = APMEManager::monitor();
    if (SDKName.empty()) {
        monitor->logWithLevel(0, 800010, "Cannot retrieve flag value for empty SDK name");
        return Value();
    }
    if (flagName.empty()) {
        monitor->logWithLevel(0, 800011, "Cannot retrieve flag value for empty flag name");
        return Value();
    }
    Value result;
    dispatchSyncOnSerialQueue([&] {
        if (!registeredClientsBySDKName_.count(SDKName)) {
            monitor->logWithLevel(3, 800012, "SDK is not registered yet", Value(SDKName));
            return;
        }
        auto defaults = defaultFlagsBySDKName_.find(SDKName);
        if (defaults == defaultFlagsBySDKName_.end()) {
            monitor->logWithLevel(3, 800013, "Cannot get flag for unregistered SDK. SDK name, flag name", Value(SDKName),
                                  Value(flagName));
            return;
        }
        auto declared = defaults->second.find(flagName);
        if (declared == defaults->second.end()) {
            monitor->logWithLevel(3, 800014, "Cannot get flag for unregistered flag. SDK name, flag name",
                                  Value(SDKName), Value(flagName));
            return;
        }
        // Only the cheap checks run when nobody records these lines.
        const bool verbose = monitor->wouldRecord(8);
        auto activated = activatedSnapshotsBySDKName_.find(SDKName);
        if (verbose) {
            monitor->logWithLevel(8, 800015, "Looking for activated flag. SDK name, flag name, activated snapshot",
                                  Value(SDKName), Value(flagName),
                                  activated == activatedSnapshotsBySDKName_.end() ? Value()
                                                                                  : Value(activated->second->proto()));
        }
        if (activated != activatedSnapshotsBySDKName_.end()) {
            if (Value value = APMEFlagValue(activated->second->flagByName(flagName)); !value.isNull()) {
                result = std::move(value);
                return;
            }
        }
        auto launched = launchedSnapshotsBySDKName_.find(SDKName);
        auto launchedFlag = launched == launchedSnapshotsBySDKName_.end() ? nullptr : launched->second->flagByName(flagName);
        if (verbose) {
            monitor->logWithLevel(8, 800016,
                                  "Cannot find activated flag. Looking for launched flag. SDK name, flag name, launched "
                                  "flag",
                                  Value(SDKName), Value(flagName), launchedFlag ? Value(launchedFlag) : Value());
        }
        if (Value value = APMEFlagValue(launchedFlag); !value.isNull()) {
            result = std::move(value);
            return;
        }
        if (!orDefault) return;
        if (verbose) {
            monitor->logWithLevel(8, 800019,
                                  "Cannot find launched flag. Returned the default flag value. SDK name, flag name, "
                                  "default flag",
                                  Value(SDKName), Value(flagName), Value(declared->second));
        }
        result = APMEFlagValue(declared->second);
    });
    return result;
}

APMEActivatedSnapshotStatus APMEManager::activatedSnapshotStatusOfSDKName(const std::string& SDKName) {
    if (SDKName.empty()) {
        APMEManager::monitor()->logWithLevel(0, 800024, "Cannot check activated snapshot for empty SDK Name");
        return APMEActivatedSnapshotInvalidSDK;
    }
    APMEActivatedSnapshotStatus status = APMEActivatedSnapshotInvalidSDK;
    dispatchSyncOnSerialQueue([&] {
        if (!registeredClientsBySDKName_.count(SDKName)) return;
        auto activated = activatedSnapshotsBySDKName_.find(SDKName);
        const double timestamp = activated == activatedSnapshotsBySDKName_.end() ? 0 : activated->second->timestamp();
        if (timestamp <= std::numeric_limits<double>::epsilon()) {
            status = APMEActivatedSnapshotNone;
        } else {
            status = std::fabs(Clock::now() - timestamp) > kStaleInterval ? APMEActivatedSnapshotStale
                                                                           : APMEActivatedSnapshotCurrent;
        }
    });
    return status;
}

// MARK: Activation and reset

bool APMEManager::activateSnapshotOfSDK(const std::string& SDKName, NSErrorPtr* error) {
    auto monitor = APMEManager::monitor();
    if (SDKName.empty()) {
        monitor->logWithLevel(3, 800022, "Cannot activate a pending snapshot for an empty SDK name");
        APMSetError(error, APMErrorInvalidArgument, "SDK name cannot be empty");
        return false;
    }
    bool activated = false;
    dispatchSyncOnSerialQueue([&] { activated = activateOnQueue(SDKName); });
    if (activated) monitor->logWithLevel(8, 800028, "Successfully activated a snapshot of SDK", Value(SDKName));
    return activated;
}

bool APMEManager::activateOnQueue(const std::string& SDKName) {
    auto pendingEntry = pendingSnapshotsBySDKName_.find(SDKName);
    if (pendingEntry == pendingSnapshotsBySDKName_.end()) {
        APMEManager::monitor()->logWithLevel(3, 800023, "No pending snapshot to activate. SDK name", Value(SDKName));
        return false;
    }
    const std::shared_ptr<APMESnapshot> pending = pendingEntry->second;
    const double now = Clock::now();
    auto activated = APMESnapshot::initWithSDKName(SDKName, {});
    if (!activated) return false;
    activated->setTimestamp(now);
    for (const auto& experiment : pending->experiments()) {
        if (experiment->experimentID() == 0) {
            if (auto launched = APMESnapshot::initWithSDKName(SDKName, {experiment})) {
                launched->setTimestamp(now);
                launchedSnapshotsBySDKName_[SDKName] = launched;
            }
        } else {
            activated->addFlags(experiment->flags(), experiment->experimentID());
        }
    }
    // The database keeps the SDK's earlier activated row when this snapshot has no experiment
    // but 0; memory keeps the same, or the flags would change at the next start.
    if (!activated->experiments().empty()) activatedSnapshotsBySDKName_[SDKName] = activated;
    pendingSnapshotsBySDKName_.erase(pendingEntry);
    taskManager_->activatePendingSnapshot(pending, now);
    return true;
}

void APMEManager::resetToDefaultsOfSDKName(const std::string& SDKName) {
    auto monitor = APMEManager::monitor();
    if (SDKName.empty()) {
        monitor->logWithLevel(0, 800025, "Cannot reset to defaults for empty SDK Name");
        return;
    }
    dispatchSyncOnSerialQueue([&] {
        if (activatedSnapshotsBySDKName_.erase(SDKName) == 0) {
            monitor->logWithLevel(0, 800026, "Cannot reset to defaults for unregistered SDK name", Value(SDKName));
            return;
        }
        taskManager_->resetToDefaultsForSDKName(SDKName);
        monitor->logWithLevel(8, 800027, "Reset all experiments to default. SDK name", Value(SDKName));
    });
}

void APMEManager::reset() {
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak] {
        auto manager = weak.lock();
        if (!manager) return;
        manager->taskManager_->reset();
        manager->activatedSnapshotsBySDKName_.clear();
        manager->pendingSnapshotsBySDKName_.clear();
        manager->launchedSnapshotsBySDKName_.clear();
    });
}

// MARK: The task manager's reports

bool APMEManager::taskManagerShouldFetchExperiments(APMETaskManager& taskManager) {
    static_cast<void>(taskManager);
    std::vector<std::shared_ptr<APMEClient>> clients;
    dispatchSyncOnSerialQueue([&] {
        for (const auto& [name, client] : registeredClientsBySDKName_) clients.push_back(client);
    });
    // Asked off the queue: a delegate may well ask the manager something.
    for (const auto& client : clients) {
        auto delegate = client->delegate();
        if (!delegate || delegate->shouldFetchExperimentsForClient(*client)) return true;
    }
    return false;
}

void APMEManager::storeStartUpSnapshots(const std::optional<APMESnapshots>& activated,
                                        const std::optional<APMESnapshots>& pending,
                                        const std::optional<APMESnapshots>& launched) {
    // The objects just read are this manager's alone: they keep the times of their rows.
    storeByName(activatedSnapshotsBySDKName_, activated);
    storeByName(pendingSnapshotsBySDKName_, pending);
    storeByName(launchedSnapshotsBySDKName_, launched);
}

void APMEManager::taskManagerDidStartWithActivatedSnapshots(APMETaskManager& taskManager,
                                                            const std::optional<APMESnapshots>& activated,
                                                            const std::optional<APMESnapshots>& pending,
                                                            const std::optional<APMESnapshots>& launched) {
    static_cast<void>(taskManager);
    if (startUp_) {
        MutexLock lock(startUp_->mutex);
        startUp_->activated = activated;
        startUp_->pending = pending;
        startUp_->launched = launched;
        return;
    }
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak, activated, pending, launched] {
        if (auto manager = weak.lock()) manager->storeStartUpSnapshots(activated, pending, launched);
    });
}

void APMEManager::taskManagerDidEndStartUp(APMETaskManager& taskManager) {
    static_cast<void>(taskManager);
    if (startUp_) startUp_->ended->signal();
}

void APMEManager::taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager,
                                                                  const APMESnapshots& snapshots,
                                                                  const APMEFetchErrors& errors) {
    static_cast<void>(taskManager);
    if (snapshots.empty() && errors.empty()) {
        APMEManager::monitor()->logWithLevel(3, 800020, "No pending snapshots to notify the clients");
        return;
    }
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak, snapshots, errors] {
        auto manager = weak.lock();
        if (!manager) return;
        APMESnapshots manual;
        for (const auto& snapshot : snapshots) {
            auto copy = snapshot->copy();
            if (!copy) continue;
            manager->pendingSnapshotsBySDKName_[copy->SDKName()] = copy;
            auto client = manager->registeredClientsBySDKName_.find(copy->SDKName());
            auto delegate = client == manager->registeredClientsBySDKName_.end() ? nullptr : client->second->delegate();
            // Such a client activates when it chooses, not at the next start.
            if (delegate && delegate->respondsToClientDidReceiveNewSnapshot()) {
                copy->setManuallyActivated(true);
                manual.push_back(copy);
            }
        }
        for (const auto& [name, error] : errors) {
            auto client = manager->registeredClientsBySDKName_.find(name);
            if (client == manager->registeredClientsBySDKName_.end()) continue;
            if (auto delegate = client->second->delegate()) delegate->clientDidReceiveFetchError(*client->second, error);
        }
        if (!manual.empty()) manager->taskManager_->upsertPendingSnapshots(manual);
    });
}

void APMEManager::taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots) {
    static_cast<void>(taskManager);
    std::weak_ptr<APMEManager> weak = weakSelf<APMEManager>();
    dispatchAsyncOnSerialQueue([weak, snapshots] {
        auto manager = weak.lock();
        if (!manager) return;
        for (const auto& snapshot : snapshots) {
            auto found = manager->registeredClientsBySDKName_.find(snapshot->SDKName());
            std::shared_ptr<APMEClient> client =
                found == manager->registeredClientsBySDKName_.end() ? nullptr : found->second;
            auto delegate = client ? client->delegate() : nullptr;
            if (!delegate || !delegate->respondsToClientDidReceiveNewSnapshot()) {
                APMEManager::monitor()->logWithLevel(
                    0, 800021,
                    "Cannot notify new snapshot for SDK because the delegate does not implement "
                    "-clientDidReceiveNewSnapshot:",
                    Value(snapshot->SDKName()));
                continue;
            }
            auto queue = delegate->queue();
            if (!queue) queue = DispatchQueue::mainQueue();
            std::weak_ptr<APMEClient> weakClient = client;
            std::weak_ptr<APMEExperimentObserverDelegate> weakDelegate = delegate;
            queue->async([weakClient, weakDelegate] {
                auto client = weakClient.lock();
                auto delegate = weakDelegate.lock();
                if (client && delegate) delegate->clientDidReceiveNewSnapshot(*client);
            });
        }
    });
}
