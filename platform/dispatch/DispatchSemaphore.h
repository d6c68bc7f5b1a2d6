// Counting semaphores whose timed waits run on the clock.
#pragma once

#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class DispatchSemaphore : public NSObject {
public:
    // Empty for a negative value.
    static std::shared_ptr<DispatchSemaphore> create(long value);

    // Takes one unit, waiting until `deadline` (clock seconds; DispatchTime::forever waits
    // for good). False when the deadline passed first: in manual mode, when an advance of
    // the clock passed it.
    [[nodiscard]] bool wait(double deadline = DispatchTime::forever);
    // Gives one unit back; true when a waiter was woken.
    bool signal();

private:
    explicit DispatchSemaphore(long value) : value_(value) {}
    Mutex mutex_;
    std::condition_variable cv_;
    long value_ GUARDED_BY(mutex_);
    long waiters_ GUARDED_BY(mutex_) = 0;
};
