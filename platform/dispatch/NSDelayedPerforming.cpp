// Delayed performs go through the current run loop.
#include "platform/dispatch/NSDelayedPerforming.h"

#include "platform/dispatch/NSRunLoop.h"

void performAfterDelay(const std::shared_ptr<NSObject>& target, std::function<void()> block, double delay) {
    NSRunLoop::currentRunLoop()->performAfterDelay(target, std::move(block), delay);
}

void cancelPreviousPerformRequestsWithTarget(const NSObject* target) {
    NSRunLoop::currentRunLoop()->cancelPerformRequests(target);
}
