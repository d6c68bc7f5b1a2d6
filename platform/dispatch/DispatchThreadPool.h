// The one pool of threads behind every global queue (and so behind every queue that is not the main one).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class DispatchThreadPool {
public:
    // Priorities, highest first; a worker always takes the highest waiting unit.
    static constexpr int priorityCount = 4;

    static DispatchThreadPool& shared();

    void submit(int priority, std::function<void()> unit);

    // A worker that blocks (semaphore, group, sync) does not count against the bound, so
    // blocked workers cannot starve the work that would release them.
    void workerBlocked(bool blocked);

    // For settling the manual clock: units waiting for a thread, and units running.
    void snapshot(std::size_t& waiting, std::size_t& running);

    // True on a pool thread while it runs a unit.
    static bool isRunningUnit();

    std::size_t maxActive() const { return maxActive_; }

private:
    DispatchThreadPool();
    void workerLoop();
    void spawnLocked();
    bool hasWorkLocked() const;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> waiting_[priorityCount];
    std::atomic<std::size_t> waitingCount_{0};  // written under mutex_; spinning workers read it without
    std::size_t spinning_ = 0;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    std::size_t blocked_ = 0;
    std::size_t running_ = 0;
    std::size_t maxActive_;
    static constexpr std::size_t hardCap_ = 256;
};
