// Main-thread identity is taken during static initialisation, which runs on the main thread.
#include "platform/dispatch/NSThread.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>

std::thread::id NSThread::mainThreadId() {
    static const std::thread::id id = std::this_thread::get_id();
    return id;
}

namespace {
[[maybe_unused]] const std::thread::id capturedAtStart = NSThread::mainThreadId();
}

bool NSThread::isMainThread() { return std::this_thread::get_id() == mainThreadId(); }

void NSThread::detachNewThreadWithBlock(std::function<void()> block) {
    std::thread([block = std::move(block)] { invokeGuarded("detached thread", block); }).detach();
}

void NSThread::sleepForTimeInterval(double seconds) {
    if (!(seconds > 0)) return;
    const double deadline = Clock::now() + seconds;
    Mutex mutex;
    std::condition_variable cv;
    bool armed = false;  // the manual clock may only count on the wake-up once it is in place
    DispatchQuiescence::BlockedScope sleeping([&] {
        MutexLock lock(mutex);
        return !armed || Clock::now() >= deadline;
    });
    MutexLock lock(mutex);
    Clock::waitUntil(lock, cv, deadline, [] { return false; }, [&armed] { armed = true; });
}
