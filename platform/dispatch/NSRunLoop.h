// Run loops: one per thread, the main one serving the main queue; they run posted blocks,
// timers and delayed performs on their own thread.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class NSTimer;

class NSRunLoop : public NSObject, public Executor {
public:
    static std::shared_ptr<NSRunLoop> mainRunLoop();
    // The calling thread's run loop, made on first use.
    static std::shared_ptr<NSRunLoop> currentRunLoop();

    // The run methods must be called on the run loop's own thread.
    // Runs until stop() is called (from a block it runs or from another thread).
    void run();
    // Makes the innermost run() or runUntilDate() return.
    void stop();
    // Runs until `predicate` holds, checked between turns; false when `timeoutSeconds` of
    // real time pass first. The timeout is a safety net: clock-driven work is driven by
    // Clock::advance, not by waiting.
    [[nodiscard]] bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds);
    // Runs what is ready, including what that posts, until nothing is.
    void runUntilIdle();
    // Runs until the clock reaches `limit` (in manual mode: until an advance passes it).
    void runUntilDate(NSDate limit);

    // Schedules `timer` here; it fires on this run loop's thread.
    void addTimer(const std::shared_ptr<NSTimer>& timer);
    // Runs `block` on a later turn of this run loop (never inside this call).
    void performBlock(std::function<void()> block) { post(std::move(block)); }
    void post(std::function<void()> block) override;

    // Runs `block` on this run loop after `delay` seconds of clock time, unless `target` is
    // gone by then or its requests were cancelled.
    void performAfterDelay(const std::shared_ptr<NSObject>& target, std::function<void()> block, double delay);
    // Drops every delayed perform of `target` not yet run on this run loop.
    void cancelPerformRequests(const NSObject* target);

    bool isMainRunLoop() const;
    ~NSRunLoop() override;

private:
    class Running;
    friend class DispatchQuiescence;
    friend class NSTimer;

    struct PerformRequest {
        std::weak_ptr<NSObject> target;
        const NSObject* targetAddress;
        std::function<void()> block;
        std::uint64_t clockId;
    };

    explicit NSRunLoop(std::thread::id thread);
    static NSRunLoop* existingCurrentRunLoop();
    void checkThread(const char* what) const;
    std::size_t runPass();
    void runPerform(std::uint64_t id);
    void removeTimer(const std::shared_ptr<NSTimer>& timer);

    // Blocks waiting; with `orRunning`, also a block running right now.
    bool hasReadyWork(bool orRunning);
    bool isRunning();
    std::thread::id threadId() const { return thread_; }
    void drainReady() { runUntilIdle(); }

    const std::thread::id thread_;
    const std::string where_;
    Mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> ready_ GUARDED_BY(mutex_);
    int depth_ GUARDED_BY(mutex_) = 0;
    int executing_ GUARDED_BY(mutex_) = 0;
    bool stopRequested_ GUARDED_BY(mutex_) = false;
    std::set<std::shared_ptr<NSTimer>> timers_ GUARDED_BY(mutex_);
    std::map<std::uint64_t, PerformRequest> performs_ GUARDED_BY(mutex_);
    std::uint64_t nextPerform_ GUARDED_BY(mutex_) = 1;
};
