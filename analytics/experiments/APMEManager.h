// The registry of the SDKs taking part in experiments and the owner of their snapshots in
// memory: pending (fetched), activated (applied) and launched (experiment 0). An SDK registers
// its flags with default values and reads each flag from its activated snapshot, else its
// launched one, else the default. The manager owns the task manager that fetches and stores
// snapshots, and is its delegate. Every read or change of its state runs on its serial queue:
// asynchronously for registration, start, fetch results and reset, synchronously for look-ups,
// activation and reset to defaults (which must therefore never be asked from that queue).
#pragma once

#include "analytics/experiments/APMETaskManager.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMEClient;
class APMEMonitor;
class APMESDKProperty;
class APMExperimentContext;
class APMPBFlag;
class DispatchQueue;
class DispatchSemaphore;

// What activatedSnapshotStatusOfSDKName answers.
enum APMEActivatedSnapshotStatus : int {
    APMEActivatedSnapshotNone = -2,
    APMEActivatedSnapshotInvalidSDK = -1,
    APMEActivatedSnapshotCurrent = 0,
    APMEActivatedSnapshotStale = 1,
};

class APMEManager : public NSObject, public APMETaskManagerDelegate {
public:
    static constexpr const char* kQueueLabel = "APMEExperimentSerialQueue";
    static constexpr const char* kVersionText = "10000000";
    // An activated snapshot older than this is stale.
    static constexpr double kStaleInterval = 259200;

    // The framework's version: its version text without the last three characters (10000).
    static std::int64_t version();
    // The one monitor every line of the framework goes through, over the measurement monitor.
    static const std::shared_ptr<APMEMonitor>& monitor();

    // The process's manager: made once, at the first call after the engine's layer handed in
    // what the experiments need (setSharedContext), with a new task manager over that context;
    // none before.
    static std::shared_ptr<APMEManager> sharedInstance();
    // The context the process's manager is made with; a manager already made keeps its own.
    static void setSharedContext(std::shared_ptr<APMExperimentContext> context);
    // Forgets the process's manager, its armed fetch dropped, and the context, as a new
    // process would start (tests).
    static void resetSharedInstance();
    // Whether the process's manager is made, without making it.
    static bool hasSharedInstance();

    // With a new task manager over the context.
    [[nodiscard]] static std::shared_ptr<APMEManager> initWithContext(std::shared_ptr<APMExperimentContext> context);
    [[nodiscard]] static std::shared_ptr<APMEManager> initWithTaskManager(std::shared_ptr<APMETaskManager> taskManager);

    // Starts the task manager once. Everything asked of the manager afterwards waits until the
    // stored snapshots are loaded, so that the first flags read after a start are the stored ones.
    void startTaskManager();
    const std::shared_ptr<APMETaskManager>& taskManager() const { return taskManager_; }

    // The client of the SDK, returned at once; the registration itself (replacing an earlier
    // one of the same name, 800003) follows on the queue. Nil without a property (800000),
    // without a name (800001), or with a default that is neither text nor number (800002).
    [[nodiscard]] std::shared_ptr<APMEClient> registerSDKProperty(const std::shared_ptr<APMESDKProperty>& property,
                                                                  const Value::Dictionary& defaultFlags);
    std::shared_ptr<APMEClient> clientForSDKName(const std::string& SDKName);
    // The ids of the activated experiments of the registered SDKs without a diversion key of
    // their own, ascending.
    std::vector<std::int32_t> experimentIDs();
    // Null for an unregistered SDK or an undeclared flag; with `orDefault` false, also when
    // no activated or launched snapshot gives the flag a value.
    Value flagValueForFlagName(const std::string& flagName, const std::string& SDKName, bool orDefault = true);
    // The SDK's pending snapshot becomes its activated one (experiments other than 0, when it
    // has any) and its launched one (experiment 0, when it has one); the task manager stores
    // the change. False when there is nothing pending (or, with an error, no usable name).
    [[nodiscard]] bool activateSnapshotOfSDK(const std::string& SDKName, NSErrorPtr* error);
    APMEActivatedSnapshotStatus activatedSnapshotStatusOfSDKName(const std::string& SDKName);
    // Drops the SDK's activated snapshot, in memory and stored.
    void resetToDefaultsOfSDKName(const std::string& SDKName);
    // Empties the stored and fetched snapshots and the schedule; registrations stay.
    void reset();

    // Closures run on the serial queue; an exception is logged (800017) and dropped, or
    // logged (800018) and raised again to the synchronous caller.
    void dispatchAsyncOnSerialQueue(std::function<void()> block);
    void dispatchSyncOnSerialQueue(const std::function<void()>& block);

    // The task manager's delegate.
    bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) override;
    void taskManagerDidStartWithActivatedSnapshots(APMETaskManager& taskManager,
                                                   const std::optional<APMESnapshots>& activated,
                                                   const std::optional<APMESnapshots>& pending,
                                                   const std::optional<APMESnapshots>& launched) override;
    void taskManagerDidEndStartUp(APMETaskManager& taskManager) override;
    void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots,
                                                         const APMEFetchErrors& errors) override;
    void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots) override;

    APMEManager() = default;
    ~APMEManager() override;

private:
    using SnapshotsBySDKName = std::map<std::string, std::shared_ptr<APMESnapshot>>;
    // What the start-up read, kept until the queue takes it.
    struct StartUp {
        Mutex mutex;
        std::optional<APMESnapshots> activated GUARDED_BY(mutex), pending GUARDED_BY(mutex), launched GUARDED_BY(mutex);
        std::shared_ptr<DispatchSemaphore> ended;  // set before the start-up is shared
    };

    void storeStartUpSnapshots(const std::optional<APMESnapshots>& activated, const std::optional<APMESnapshots>& pending,
                               const std::optional<APMESnapshots>& launched);
    bool activateOnQueue(const std::string& SDKName);

    std::shared_ptr<APMETaskManager> taskManager_;
    std::shared_ptr<DispatchQueue> queue_;
    // Set once before the task manager starts.
    std::shared_ptr<StartUp> startUp_;

    // The queue's.
    SnapshotsBySDKName activatedSnapshotsBySDKName_;
    SnapshotsBySDKName pendingSnapshotsBySDKName_;
    SnapshotsBySDKName launchedSnapshotsBySDKName_;
    std::map<std::string, std::shared_ptr<APMEClient>> registeredClientsBySDKName_;
    std::map<std::string, std::map<std::string, std::shared_ptr<APMPBFlag>>> defaultFlagsBySDKName_;
};
