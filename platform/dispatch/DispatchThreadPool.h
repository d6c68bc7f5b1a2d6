// The pool of threads behind every global queue (and so behind every queue that is not the main one
// nor apart), and the second one behind the queues apart (DispatchQueue::createApart), which the
// manual clock's settle leaves out.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <typeinfo>
#include <vector>

#include <pthread.h>
#include <sys/types.h>

class DispatchThreadPool {
public:
    // Priorities, highest first; a worker always takes the highest waiting unit.
    static constexpr int priorityCount = 4;

    static DispatchThreadPool& shared();

    // Runs `block` through `run(context, block)` on a pool thread (so the queue that owns the
    // block can wrap it without allocating a second closure).
    using Runner = void (*)(void* context, const std::function<void()>& block);
    void submit(int priority, Runner run, void* context, std::function<void()> block);

    // A worker that blocks (semaphore, group, sync) does not count against the bound, so
    // blocked workers cannot starve the work that would release them.
    void workerBlocked(bool blocked);

    // For settling the manual clock: units waiting for a thread, and units running.
    void snapshot(std::size_t& waiting, std::size_t& running);

    // The pool whose unit the calling thread runs; none off the pools' threads.
    static DispatchThreadPool* current();

    std::size_t maxActive() const { return maxActive_; }

private:
    friend class DispatchQueue;
    friend class DispatchQuiescence;
    // The pool of the queues apart: its threads leave as soon as they find no work.
    static DispatchThreadPool& apart();
    // The types of the blocks of units running now that were submitted with `run` and `context`.
    std::vector<const std::type_info*> runningBlocks(Runner run, const void* context);

    // Its threads are named `threadName`; with `leaveWhenIdle`, each leaves as soon as it finds no
    // work rather than past the bound alone.
    DispatchThreadPool(const char* threadName, bool leaveWhenIdle);
    // A pool made for the process, `atExit` joining its last leaving worker as the process ends.
    static DispatchThreadPool* made(const char* threadName, bool leaveWhenIdle, void (*atExit)());
    static void* workerMain(void* pool);
    void workerLoop();
    // At the process's end: no worker leaves any more, and the last to leave is joined.
    void joinLeavingAtExit();
    void spawnLocked() REQUIRES(mutex_);
    bool hasWorkLocked() const REQUIRES(mutex_);
    // Whether an idle worker leaves (once it has waited a while, or at once for a pool that leaves
    // when idle): never once the process ends.
    bool leavesWhenIdleLocked() const REQUIRES(mutex_);

    Mutex mutex_;
    std::condition_variable wake_;
    struct Unit {
        Runner run;
        void* context;
        std::function<void()> block;
    };
    std::deque<Unit> waiting_[priorityCount] GUARDED_BY(mutex_);
    std::atomic<std::size_t> waitingCount_{0};  // written under mutex_; spinning workers read it without
    std::size_t spinning_ GUARDED_BY(mutex_) = 0;
    std::size_t threads_ GUARDED_BY(mutex_) = 0;
    std::size_t idle_ GUARDED_BY(mutex_) = 0;
    std::size_t blocked_ GUARDED_BY(mutex_) = 0;
    std::size_t running_ GUARDED_BY(mutex_) = 0;
    struct RunningUnit {
        Runner run;
        const void* context;
        const std::type_info* block;
        const void* worker;  // the worker's own unit, told apart from the others'
    };
    std::vector<RunningUnit> runningUnits_ GUARDED_BY(mutex_);
    // A worker that leaves is joined by the next to leave, the last by the process's end: an
    // exit must not race a thread still freeing its thread-local state.
    pthread_t leaving_ GUARDED_BY(mutex_){};
    bool hasLeaving_ GUARDED_BY(mutex_) = false;
    bool ending_ GUARDED_BY(mutex_) = false;
    const pid_t process_;  // a forked child has none of these threads to join
    const char* const threadName_;
    const bool leaveWhenIdle_;
    std::size_t maxActive_;
    static constexpr std::size_t hardCap_ = 256;
};
