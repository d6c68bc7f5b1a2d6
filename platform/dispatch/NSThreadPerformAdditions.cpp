// Main-thread hops through the main run loop.
#include "platform/dispatch/NSThreadPerformAdditions.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <memory>

void performOnMainThread(std::function<void()> block, bool waitUntilDone) {
    if (!waitUntilDone) {
        NSRunLoop::mainRunLoop()->post(std::move(block));
        return;
    }
    if (NSThread::isMainThread()) {
        invokeGuarded("the main thread", block);
        return;
    }
    struct Done {
        Mutex mutex;
        std::condition_variable cv;
        bool done GUARDED_BY(mutex) = false;
        bool get() EXCLUDES(mutex) {
            MutexLock lock(mutex);
            return done;
        }
    };
    auto state = std::make_shared<Done>();
    NSRunLoop::mainRunLoop()->post([state, block = std::move(block)] {
        invokeGuarded("the main thread", block);
        {
            MutexLock lock(state->mutex);
            state->done = true;
        }
        state->cv.notify_all();
        DispatchQuiescence::changed();
    });
    DispatchQuiescence::BlockedScope waiting([state] { return state->get(); });
    MutexLock lock(state->mutex);
    lock.wait(state->cv, [&state]() REQUIRES(state->mutex) { return state->done; });
}
