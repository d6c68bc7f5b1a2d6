// Settling for the manual clock: waits until no pool unit and no running run loop has work
// that can make progress; threads waiting on a semaphore, a group or a sync do not count, and
// neither does work apart, which only waiting until idle counts.
#include "platform/dispatch/DispatchQuiescence.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchThreadPool.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Blocked {
    std::function<bool()> canProceed;
    // The pool whose worker waits, none for another thread.
    DispatchThreadPool* pool;
};

struct Registry {
    Mutex mutex;  // taken before any lock of a pool, run loop or waited-on object
    std::map<std::thread::id, Blocked> blocked GUARDED_BY(mutex);
    std::vector<NSRunLoop*> loops GUARDED_BY(mutex);
    Mutex notifyMutex;  // for `notify` alone: a settler's wake-up is not lost between its check and its wait
    std::condition_variable notify;
    std::atomic<int> settlers{0};
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// After this much real time in which the work it waits for used next to no processor, a settle
// gives up with a warning rather than hang a test whose work waits on something the clock
// cannot release (a lock the advancing thread holds). Work that moves on, however slowly a
// loaded machine lets it, is waited for: a settle that gave up would let the clock fire timers
// ahead of work still due before them. But not for ever: work that spins without end (a loop
// that never meets its condition) would hold the test until CI's own limit, so past a few
// minutes in all the settle gives up as well. Tests of the rule lower both (ScopedSettleLimits).
constexpr auto kStillLimit = std::chrono::seconds(60);
constexpr auto kTotalLimit = std::chrono::minutes(5);
std::atomic<std::chrono::steady_clock::rep> gStillLimit{std::chrono::steady_clock::duration(kStillLimit).count()};
std::atomic<std::chrono::steady_clock::rep> gTotalLimit{std::chrono::steady_clock::duration(kTotalLimit).count()};
// Processor time the process's other threads use in a settle's still limit while nothing moves:
// the clock's thread and the network's threads wake now and then. A shorter wait allows less.
constexpr double kIdleProcessorSeconds = 0.05;

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Seconds of processor time the process has used, less those of the calling thread.
double otherThreadsProcessorSeconds() {
    timespec process{};
    timespec thread{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &process);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &thread);
    return static_cast<double>(process.tv_sec - thread.tv_sec) + static_cast<double>(process.tv_nsec - thread.tv_nsec) / 1e9;
}

}  // namespace

void DispatchQuiescence::install() {
    static std::once_flag once;
    std::call_once(once, [] { Clock::setSettleHook(&DispatchQuiescence::settle); });
}

void DispatchQuiescence::changed() {
    Registry& r = registry();
    if (r.settlers.load(std::memory_order_acquire) == 0) return;
    MutexLock lock(r.notifyMutex);
    r.notify.notify_all();
}

DispatchQuiescence::BlockedScope::BlockedScope(std::function<bool()> canProceed)
    : pool_(DispatchThreadPool::current()), registered_(false) {
    Registry& r = registry();
    {
        MutexLock lock(r.mutex);
        registered_ = r.blocked.emplace(std::this_thread::get_id(), Blocked{std::move(canProceed), pool_}).second;
    }
    if (pool_) pool_->workerBlocked(true);
    changed();
}

DispatchQuiescence::BlockedScope::~BlockedScope() {
    Registry& r = registry();
    if (registered_) {
        std::function<bool()> dropped;
        {
            MutexLock lock(r.mutex);
            auto it = r.blocked.find(std::this_thread::get_id());
            dropped = std::move(it->second.canProceed);
            r.blocked.erase(it);
        }
    }
    if (pool_) pool_->workerBlocked(false);
    changed();
}

void DispatchQuiescence::addRunLoop(NSRunLoop* loop) {
    install();
    Registry& r = registry();
    MutexLock lock(r.mutex);
    r.loops.push_back(loop);
}

void DispatchQuiescence::removeRunLoop(NSRunLoop* loop) {
    Registry& r = registry();
    MutexLock lock(r.mutex);
    r.loops.erase(std::remove(r.loops.begin(), r.loops.end(), loop), r.loops.end());
}

bool DispatchQuiescence::quiescent(NSRunLoop* callerLoop, bool apartToo) {
    Registry& r = registry();
    MutexLock lock(r.mutex);
    auto stuck = [&r](std::thread::id thread) REQUIRES(r.mutex) {
        auto it = r.blocked.find(thread);
        return it != r.blocked.end() && !it->second.canProceed();
    };
    // Units waiting for a worker, or running on one that is not waiting (the caller itself is not).
    auto busy = [&r](DispatchThreadPool& pool) REQUIRES(r.mutex) {
        std::size_t waiting = 0;
        std::size_t running = 0;
        pool.snapshot(waiting, running);
        if (waiting > 0) return true;
        std::size_t stuckWorkers = DispatchThreadPool::current() == &pool ? 1 : 0;
        for (const auto& [thread, entry] : r.blocked) {
            if (entry.pool == &pool && !entry.canProceed()) ++stuckWorkers;
        }
        return running > stuckWorkers;
    };
    if (busy(DispatchThreadPool::shared()) || (apartToo && busy(DispatchThreadPool::apart()))) return false;
    for (NSRunLoop* loop : r.loops) {
        if (loop == callerLoop) {
            if (loop->hasReadyWork(false)) return false;
        } else if (loop->isRunning() && loop->hasReadyWork(true) && !stuck(loop->threadId())) {
            return false;
        }
    }
    return true;
}

std::vector<DispatchQuiescence::Outstanding> DispatchQuiescence::outstandingWork() {
    std::map<std::string, Outstanding> byLabel;
    for (const auto& queue : DispatchQueue::alive()) {
        // The main queue's work is the main run loop's, told below.
        if (queue->root_ == DispatchQueue::Root::Main) continue;
        const std::string what = queue->outstanding();
        if (what.empty()) continue;
        const std::string where = "queue \"" + queue->label() + "\"";
        Outstanding& told = byLabel[where];
        told.where = where;
        told.what += (told.what.empty() ? "" : "; ") + what;
        for (auto& owner : queue->runningOwners()) told.owners.push_back(std::move(owner));
    }
    std::vector<Outstanding> work;
    for (auto& [where, told] : byLabel) work.push_back(std::move(told));
    // Only once made: asking for it would make it.
    Registry& r = registry();
    MutexLock lock(r.mutex);
    for (NSRunLoop* loop : r.loops) {
        if (loop->isMainRunLoop() && loop->hasReadyWork(false)) work.push_back({"the main run loop", "blocks ready", {}});
    }
    return work;
}

void DispatchQuiescence::settle() {
    if (!Clock::isManual()) return;
    using Duration = std::chrono::steady_clock::duration;
    const Duration still(gStillLimit.load(std::memory_order_relaxed));
    const Duration total(gTotalLimit.load(std::memory_order_relaxed));
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const Duration round = std::min(still, total - (std::chrono::steady_clock::now() - start));
        const double used = otherThreadsProcessorSeconds();
        if (round > Duration::zero() && waitUntilSettled(round, false)) return;
        if (std::chrono::steady_clock::now() - start >= total) {
            Diagnostics::notef("Clock::advance: queued work kept moving but did not settle within %g s; firing the "
                               "next timer anyway.",
                               seconds(total));
            return;
        }
        if (otherThreadsProcessorSeconds() - used < kIdleProcessorSeconds * seconds(round) / seconds(kStillLimit)) break;
    }
    Diagnostics::notef("Clock::advance: queued work did not settle, nor move on, within %g s; firing the next "
                       "timer anyway.",
                       seconds(still));
}

bool DispatchQuiescence::waitUntilIdle(double seconds) {
    return waitUntilSettled(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(std::max(0.0, seconds))),
                            true);
}

bool DispatchQuiescence::waitUntilSettled(std::chrono::steady_clock::duration limit, bool apartToo) {
    Registry& r = registry();
    r.settlers.fetch_add(1, std::memory_order_acq_rel);
    NSRunLoop* callerLoop = NSThread::isMainThread() ? NSRunLoop::mainRunLoop().get() : NSRunLoop::existingCurrentRunLoop();
    const auto start = std::chrono::steady_clock::now();
    bool settled = false;
    for (;;) {
        // The caller's own run loop cannot run while the caller is here, so it is drained here.
        if (callerLoop) callerLoop->drainReady();
        if (quiescent(callerLoop, apartToo)) {
            settled = true;
            break;
        }
        if (std::chrono::steady_clock::now() - start > limit) break;
        MutexLock lock(r.notifyMutex);
        r.notify.wait_for(lock.unique(), std::chrono::milliseconds(1));
    }
    r.settlers.fetch_sub(1, std::memory_order_acq_rel);
    return settled;
}

namespace dispatch_detail {

ScopedSettleLimits::ScopedSettleLimits(std::chrono::steady_clock::duration still, std::chrono::steady_clock::duration total)
    : still_(gStillLimit.exchange(still.count())), total_(gTotalLimit.exchange(total.count())) {}

ScopedSettleLimits::~ScopedSettleLimits() {
    gStillLimit.store(still_);
    gTotalLimit.store(total_);
}

}  // namespace dispatch_detail
