// The measurement worker queue: a serial queue on which the engine runs its database and
// bookkeeping work; an exception escaping a block is logged, never fatal.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>

class DispatchQueue;

class APMScheduler : public NSObject {
public:
    // A serial queue with the label, targeted at the background global queue.
    [[nodiscard]] static std::shared_ptr<APMScheduler> initWithWorkerQueueLabel(const std::string& label);

    // An empty block logs 30005; an exception from the block logs 30000.
    void scheduleOnWorkerQueueBlockID(const std::string& blockID, std::function<void()> block);
    // Runs the block on the worker queue and waits. Called from the worker queue itself it runs
    // at once instead of deadlocking. An empty block logs 30002; an exception logs 30003, then
    // 30004 on the calling thread.
    void dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const std::function<void()>& block);
    std::shared_ptr<DispatchQueue> workerQueue() const { return workerQueue_; }
    // True when called from a block running on the worker queue.
    bool isOnWorkerQueue() const;

    // False, with line 30001 naming the method, on the main thread; true on any other. Most
    // callers only want the line and go on either way.
    static bool checkOnBackgroundThreadWithMethodName(const std::string& methodName);

private:
    std::shared_ptr<DispatchQueue> workerQueue_;
};
