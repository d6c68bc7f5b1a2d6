// Semaphores: a waiting thread is marked as blocked so the manual clock does not wait for it.
#include "platform/dispatch/DispatchSemaphore.h"

#include "platform/dispatch/DispatchQuiescence.h"

std::shared_ptr<DispatchSemaphore> DispatchSemaphore::create(long value) {
    if (value < 0) return nullptr;
    return std::shared_ptr<DispatchSemaphore>(new DispatchSemaphore(value));
}

bool DispatchSemaphore::wait(double deadline) {
    {
        MutexLock lock(mutex_);
        if (value_ > 0) {
            --value_;
            return true;
        }
    }
    if (deadline <= Clock::now()) return false;
    // Counts as stuck for the manual clock only once the wake-up at the deadline is armed:
    // before that, an advance past the deadline would not know to wake it. Once the wait
    // ended the thread runs again, though the unit it took leaves the value at 0 once more.
    bool armed = false;
    bool ended = false;
    DispatchQuiescence::BlockedScope blocked([this, deadline, &armed, &ended] {
        MutexLock lock(mutex_);
        return !armed || ended || value_ > 0 || Clock::now() >= deadline;
    });
    MutexLock lock(mutex_);
    ++waiters_;
    Clock::waitUntil(lock, cv_, deadline, [this]() REQUIRES(mutex_) { return value_ > 0; },
                     [&armed] { armed = true; });
    ended = true;
    --waiters_;
    if (value_ > 0) {
        --value_;
        return true;
    }
    return false;
}

bool DispatchSemaphore::signal() {
    bool woke;
    {
        MutexLock lock(mutex_);
        ++value_;
        woke = waiters_ > 0;
    }
    if (woke) cv_.notify_one();
    DispatchQuiescence::changed();
    return woke;
}
