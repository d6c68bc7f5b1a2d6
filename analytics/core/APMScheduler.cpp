// The measurement worker queue.
#include "analytics/core/APMScheduler.h"

#include "analytics/core/APMCaughtException.h"
#include "analytics/core/APMMonitor.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"

std::shared_ptr<APMScheduler> APMScheduler::initWithWorkerQueueLabel(const std::string& label) {
    auto scheduler = std::make_shared<APMScheduler>();
    scheduler->workerQueue_ = DispatchQueue::create(label, DispatchQueue::Kind::Serial,
                                                    DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    scheduler->workerQueue_->setSpecific(scheduler.get(), Value(true));
    return scheduler;
}

bool APMScheduler::isOnWorkerQueue() const { return DispatchQueue::getSpecific(this).boolValue(); }

void APMScheduler::scheduleOnWorkerQueueBlockID(const std::string& blockID, std::function<void()> block) {
    if (!block) {
        APMMeasurementMonitor()->logWithLevel(
            1, 30005, "Nil block dispatched asynchronously on worker queue. Block ID=" + blockID + ".");
        return;
    }
    workerQueue_->async([blockID, block = std::move(block)] {
        try {
            block();
        } catch (...) {
            APMMeasurementMonitor()->logWithLevel(
                1, 30000, "Exception on worker queue. Block ID=" + blockID + ". Exception",
                Value(APMCaughtException::fromExceptionPtr(std::current_exception())));
        }
    });
}

void APMScheduler::dispatchSyncOnWorkerQueueBlockID(const std::string& blockID, const std::function<void()>& block) {
    if (!block) {
        APMMeasurementMonitor()->logWithLevel(
            1, 30002, "Nil block dispatched synchronously on worker queue. Block ID=" + blockID + ".");
        return;
    }
    bool finished = false;
    auto run = [&] {
        try {
            block();
            finished = true;
        } catch (...) {
            APMMeasurementMonitor()->logWithLevel(
                1, 30003, "Exception on worker queue when processing sync block. Block ID=" + blockID + ". Exception",
                Value(APMCaughtException::fromExceptionPtr(std::current_exception())));
        }
    };
    if (isOnWorkerQueue()) run();
    else workerQueue_->sync(run);
    if (!finished) APMMeasurementMonitor()->logWithLevel(4, 30004, "Synchronous task failed. Block ID=" + blockID);
}

bool APMScheduler::checkOnBackgroundThreadWithMethodName(const std::string& methodName) {
    if (!NSThread::isMainThread()) return true;
    const std::string name = methodName.empty() ? "<empty method name>" : methodName;
    APMMeasurementMonitor()->logWithLevel(1, 30001, "Method " + name + " should execute on background thread",
                                          Value());
    return false;
}
