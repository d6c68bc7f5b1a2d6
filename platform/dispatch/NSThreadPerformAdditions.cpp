// Main-thread hops through the main run loop.
#include "platform/dispatch/NSThreadPerformAdditions.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"

#include <condition_variable>
#include <memory>
#include <mutex>

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
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool get() {
            std::lock_guard lock(mutex);
            return done;
        }
    };
    auto state = std::make_shared<Done>();
    NSRunLoop::mainRunLoop()->post([state, block = std::move(block)] {
        invokeGuarded("the main thread", block);
        {
            std::lock_guard lock(state->mutex);
            state->done = true;
        }
        state->cv.notify_all();
        DispatchQuiescence::changed();
    });
    DispatchQuiescence::BlockedScope waiting([state] { return state->get(); });
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
}
