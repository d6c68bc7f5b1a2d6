// Bounded worker threads taking units by priority; more are started only while some are blocked.
#include "platform/dispatch/DispatchThreadPool.h"

#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/PlatformThreads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <unistd.h>

namespace {
thread_local DispatchThreadPool* t_pool = nullptr;
constexpr std::size_t maxSpinning = 2;
constexpr int spinRounds = 4000;

// A short pause while spinning, cheaper than giving up the processor.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#else
    std::this_thread::yield();
#endif
}
}  // namespace

DispatchThreadPool& DispatchThreadPool::shared() {
    static DispatchThreadPool* pool = made("dispatch-worker", false, [] { shared().joinLeavingAtExit(); });
    return *pool;
}

DispatchThreadPool& DispatchThreadPool::apart() {
    static DispatchThreadPool* pool = made("dispatch-apart", true, [] { apart().joinLeavingAtExit(); });
    return *pool;
}

DispatchThreadPool* DispatchThreadPool::made(const char* threadName, bool leaveWhenIdle, void (*atExit)()) {
    // Never destroyed: workers outlive static destruction.
    auto* pool = new DispatchThreadPool(threadName, leaveWhenIdle);
    std::atexit(atExit);
    return pool;
}

DispatchThreadPool::DispatchThreadPool(const char* threadName, bool leaveWhenIdle)
    : process_(getpid()),
      threadName_(threadName),
      leaveWhenIdle_(leaveWhenIdle),
      maxActive_(std::max<std::size_t>(4, 2 * std::max(1u, std::thread::hardware_concurrency()))) {}

void DispatchThreadPool::joinLeavingAtExit() {
    // A forked child has none of the threads, and its copy of the lock may be held by one of them.
    if (process_ != getpid()) return;
    pthread_t last{};
    bool hasLast = false;
    {
        MutexLock lock(mutex_);
        ending_ = true;
        hasLast = hasLeaving_;
        last = leaving_;
        hasLeaving_ = false;
    }
    if (hasLast) pthread_join(last, nullptr);
}

DispatchThreadPool* DispatchThreadPool::current() { return t_pool; }

bool DispatchThreadPool::hasWorkLocked() const { return waitingCount_ > 0; }

bool DispatchThreadPool::leavesWhenIdleLocked() const {
    return !ending_ && (leaveWhenIdle_ || threads_ - blocked_ > maxActive_);
}

void DispatchThreadPool::spawnLocked() {
    // Joinable: one that leaves is joined (see leaving_); the others run until the process ends.
    pthread_t thread;
    if (const int error = pthread_create(&thread, nullptr, &DispatchThreadPool::workerMain, this)) {
        std::fprintf(stderr, "dispatch: a pool worker could not be started (%s); aborting.\n", std::strerror(error));
        std::abort();
    }
    ++threads_;
}

void* DispatchThreadPool::workerMain(void* pool) {
    auto* self = static_cast<DispatchThreadPool*>(pool);
    PlatformThreads::Member member(self->threadName_);
    self->workerLoop();
    return nullptr;
}

void DispatchThreadPool::submit(int priority, Runner run, void* context, std::function<void()> block) {
    priority = std::clamp(priority, 0, priorityCount - 1);
    {
        MutexLock lock(mutex_);
        waiting_[priority].push_back(Unit{run, context, std::move(block)});
        ++waitingCount_;
        if (spinning_ > 0) {
            // A worker looking for work takes it without a wake-up.
        } else if (idle_ > 0) {
            wake_.notify_one();
        } else if (threads_ - blocked_ < maxActive_ && threads_ < hardCap_) {
            spawnLocked();
        }
    }
    DispatchQuiescence::changed();
}

void DispatchThreadPool::workerBlocked(bool blocked) {
    MutexLock lock(mutex_);
    if (blocked) {
        ++blocked_;
        if (hasWorkLocked() && idle_ == 0 && threads_ - blocked_ < maxActive_ && threads_ < hardCap_) spawnLocked();
    } else {
        --blocked_;
    }
}

void DispatchThreadPool::snapshot(std::size_t& waiting, std::size_t& running) {
    MutexLock lock(mutex_);
    waiting = waitingCount_;
    running = running_;
}

std::vector<const std::type_info*> DispatchThreadPool::runningBlocks(Runner run, const void* context) {
    std::vector<const std::type_info*> blocks;
    MutexLock lock(mutex_);
    for (const RunningUnit& unit : runningUnits_) {
        if (unit.run == run && unit.context == context) blocks.push_back(unit.block);
    }
    return blocks;
}

void DispatchThreadPool::workerLoop() {
    MutexLock lock(mutex_);
    for (;;) {
        if (!hasWorkLocked() && !leaveWhenIdle_ && spinning_ < maxSpinning) {
            // Work often follows work at once (a serial queue refilled by its producer): look
            // for it a little while before sleeping, which costs a wake-up on both sides.
            ++spinning_;
            lock.unlock();
            for (int i = 0; i < spinRounds && waitingCount_.load(std::memory_order_relaxed) == 0; ++i) {
                relax();
            }
            lock.lock();
            --spinning_;
        }
        while (!hasWorkLocked()) {
            ++idle_;
            // Threads started past the bound (while others were blocked) leave when idle, a while
            // after their last unit; a pool that leaves when idle keeps none waiting.
            const bool surplus = leavesWhenIdleLocked();
            const auto linger = leaveWhenIdle_ ? std::chrono::seconds(0) : std::chrono::seconds(2);
            const bool timedOut = surplus && wake_.wait_for(lock.unique(), linger) == std::cv_status::timeout;
            if (!surplus) wake_.wait(lock.unique());
            --idle_;
            if (timedOut && !hasWorkLocked() && leavesWhenIdleLocked()) {
                --threads_;
                const pthread_t previous = leaving_;
                const bool hadPrevious = hasLeaving_;
                leaving_ = pthread_self();
                hasLeaving_ = true;
                lock.unlock();
                if (hadPrevious) pthread_join(previous, nullptr);
                return;
            }
        }
        Unit unit;
        for (auto& level : waiting_) {
            if (!level.empty()) {
                unit = std::move(level.front());
                level.pop_front();
                break;
            }
        }
        --waitingCount_;
        ++running_;
        runningUnits_.push_back({unit.run, unit.context, &unit.block.target_type(), &unit});
        // A submit that counted on a spinning worker may have counted on this one, which
        // takes only one unit: pass the rest on.
        if (hasWorkLocked() && spinning_ == 0) {
            if (idle_ > 0) wake_.notify_one();
            else if (threads_ - blocked_ < maxActive_ && threads_ < hardCap_) spawnLocked();
        }
        lock.unlock();
        t_pool = this;
        unit.run(unit.context, unit.block);
        unit.block = nullptr;
        t_pool = nullptr;
        lock.lock();
        --running_;
        for (auto it = runningUnits_.begin(); it != runningUnits_.end(); ++it) {
            if (it->worker == &unit) {
                runningUnits_.erase(it);
                break;
            }
        }
        lock.unlock();
        DispatchQuiescence::changed();
        lock.lock();
    }
}
