// Run loops: a queue of ready blocks per thread; timers and delayed performs become ready
// blocks when the clock fires them.
#include "platform/dispatch/NSRunLoop.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSThread.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {
thread_local std::shared_ptr<NSRunLoop> t_loop;

}  // namespace

// Keeps a run loop marked as running for the duration of a run call.
class NSRunLoop::Running {
public:
    explicit Running(NSRunLoop& loop) : loop_(loop) {
        MutexLock lock(loop_.mutex_);
        ++loop_.depth_;
    }
    ~Running() {
        {
            MutexLock lock(loop_.mutex_);
            --loop_.depth_;
        }
        DispatchQuiescence::changed();
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    NSRunLoop& loop_;
};

NSRunLoop::NSRunLoop(std::thread::id thread)
    : thread_(thread), where_(thread == NSThread::mainThreadId() ? "the main run loop" : "a thread's run loop") {
    DispatchQuiescence::addRunLoop(this);
}

NSRunLoop::~NSRunLoop() {
    DispatchQuiescence::removeRunLoop(this);
    std::set<std::shared_ptr<NSTimer>> timers;
    std::map<std::uint64_t, PerformRequest> performs;
    {
        MutexLock lock(mutex_);
        timers.swap(timers_);
        performs.swap(performs_);
    }
    for (const auto& timer : timers) timer->invalidate();
    for (const auto& [id, request] : performs) Clock::cancel(request.clockId);
}

std::shared_ptr<NSRunLoop> NSRunLoop::mainRunLoop() {
    // Never destroyed: work may still be posted to it while the process exits.
    static auto* loop = new std::shared_ptr<NSRunLoop>(new NSRunLoop(NSThread::mainThreadId()));
    return *loop;
}

std::shared_ptr<NSRunLoop> NSRunLoop::currentRunLoop() {
    if (NSThread::isMainThread()) return mainRunLoop();
    if (!t_loop) t_loop.reset(new NSRunLoop(std::this_thread::get_id()));
    return t_loop;
}

NSRunLoop* NSRunLoop::existingCurrentRunLoop() {
    if (NSThread::isMainThread()) return mainRunLoop().get();
    return t_loop.get();
}

bool NSRunLoop::isMainRunLoop() const { return thread_ == NSThread::mainThreadId(); }

void NSRunLoop::checkThread(const char* what) const {
    if (std::this_thread::get_id() == thread_) return;
    std::fprintf(stderr, "NSRunLoop::%s called off the run loop's own thread; aborting.\n", what);
    std::fflush(stderr);
    std::abort();
}

void NSRunLoop::post(std::function<void()> block) {
    {
        MutexLock lock(mutex_);
        ready_.push_back(std::move(block));
    }
    wake_.notify_all();
    DispatchQuiescence::changed();
}

bool NSRunLoop::hasReadyWork(bool orRunning) {
    MutexLock lock(mutex_);
    return !ready_.empty() || (orRunning && executing_ > 0);
}

bool NSRunLoop::isRunning() {
    MutexLock lock(mutex_);
    return depth_ > 0;
}

std::size_t NSRunLoop::runPass() {
    std::size_t count;
    {
        MutexLock lock(mutex_);
        count = ready_.size();
    }
    std::size_t ran = 0;
    for (; ran < count; ++ran) {
        std::function<void()> block;
        {
            MutexLock lock(mutex_);
            if (ready_.empty() || stopRequested_) break;
            block = std::move(ready_.front());
            ready_.pop_front();
            ++executing_;
        }
        invokeGuarded(where_, block);
        block = nullptr;
        {
            MutexLock lock(mutex_);
            --executing_;
        }
        DispatchQuiescence::changed();
    }
    return ran;
}

void NSRunLoop::run() {
    checkThread("run");
    Running running(*this);
    for (;;) {
        runPass();
        MutexLock lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            return;
        }
        lock.wait(wake_, [this]() REQUIRES(mutex_) { return !ready_.empty() || stopRequested_; });
    }
}

void NSRunLoop::stop() {
    {
        MutexLock lock(mutex_);
        if (depth_ == 0) return;
        stopRequested_ = true;
    }
    wake_.notify_all();
}

bool NSRunLoop::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    checkThread("runUntil");
    Running running(*this);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                                  std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        if (predicate()) return true;
        if (runPass() > 0) continue;
        MutexLock lock(mutex_);
        if (!ready_.empty()) continue;
        if (std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            return predicate();
        }
        // Work finishing elsewhere may make the predicate true without posting here, so
        // look again now and then.
        wake_.wait_until(lock.unique(), std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5)));
    }
}

void NSRunLoop::runUntilIdle() {
    checkThread("runUntilIdle");
    Running running(*this);
    while (runPass() > 0) {
    }
}

void NSRunLoop::runUntilDate(NSDate limit) {
    checkThread("runUntilDate");
    if (Clock::now() >= limit.timeIntervalSince1970) return;
    Running running(*this);
    std::weak_ptr<NSRunLoop> weak = self<NSRunLoop>();
    const auto wakeId = Clock::schedule(
        limit.timeIntervalSince1970,
        [weak] {
            if (auto loop = weak.lock()) loop->post([] {});
        },
        "the end of a run of " + where_, Clock::TimerKind::Deadline);
    for (;;) {
        runPass();
        MutexLock lock(mutex_);
        if (stopRequested_) {
            stopRequested_ = false;
            break;
        }
        if (Clock::now() >= limit.timeIntervalSince1970) break;
        lock.wait(wake_, [this]() REQUIRES(mutex_) { return !ready_.empty() || stopRequested_; });
    }
    Clock::cancel(wakeId);
}

void NSRunLoop::addTimer(const std::shared_ptr<NSTimer>& timer) {
    if (!timer || !timer->isValid()) return;
    {
        MutexLock lock(mutex_);
        if (!timers_.insert(timer).second) return;
    }
    timer->scheduleOn(self<NSRunLoop>());
}

void NSRunLoop::removeTimer(const std::shared_ptr<NSTimer>& timer) {
    std::shared_ptr<NSTimer> released;
    MutexLock lock(mutex_);
    auto it = timers_.find(timer);
    if (it != timers_.end()) {
        released = *it;
        timers_.erase(it);
    }
}

void NSRunLoop::performAfterDelay(const std::shared_ptr<NSObject>& target, std::function<void()> block, double delay) {
    std::uint64_t id;
    {
        MutexLock lock(mutex_);
        id = nextPerform_++;
        performs_[id] = PerformRequest{target, target.get(), std::move(block), 0};
    }
    std::weak_ptr<NSRunLoop> weak = self<NSRunLoop>();
    const auto clockId = Clock::schedule(
        Clock::now() + (delay > 0 ? delay : 0),
        [weak, id] {
            if (auto loop = weak.lock()) loop->post([weak, id] {
                    if (auto l = weak.lock()) l->runPerform(id);
                });
        },
        // Its owner named, for whoever finds it pending: a test that left it, a hang.
        "a delayed perform " + (target ? "of " + target->className() + " " : std::string()) + "on " + where_);
    MutexLock lock(mutex_);
    auto it = performs_.find(id);
    if (it != performs_.end()) it->second.clockId = clockId;
}

void NSRunLoop::runPerform(std::uint64_t id) {
    PerformRequest request;
    {
        MutexLock lock(mutex_);
        auto it = performs_.find(id);
        if (it == performs_.end()) return;
        request = std::move(it->second);
        performs_.erase(it);
    }
    if (auto target = request.target.lock()) request.block();
}

void NSRunLoop::cancelPerformRequests(const NSObject* target) {
    std::vector<PerformRequest> cancelled;
    {
        MutexLock lock(mutex_);
        for (auto it = performs_.begin(); it != performs_.end();) {
            if (it->second.targetAddress == target) {
                cancelled.push_back(std::move(it->second));
                it = performs_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& request : cancelled) {
        if (request.clockId) Clock::cancel(request.clockId);
    }
}
