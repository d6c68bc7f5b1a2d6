// Delayed performs on the current thread's run loop, cancellable by target.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>

// Runs `block` on the calling thread's run loop after `delay` seconds of clock time (a zero
// delay means the next turn). `target` is held weakly: when it is gone, nothing runs.
void performAfterDelay(const std::shared_ptr<NSObject>& target, std::function<void()> block, double delay);

// Drops the delayed performs of `target` still waiting on the calling thread's run loop.
void cancelPreviousPerformRequestsWithTarget(const NSObject* target);
inline void cancelPreviousPerformRequestsWithTarget(const std::shared_ptr<NSObject>& target) {
    cancelPreviousPerformRequestsWithTarget(target.get());
}
