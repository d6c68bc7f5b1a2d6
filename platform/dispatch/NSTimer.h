// Run-loop timers: one-shot or repeating, firing on the thread of the run loop they are scheduled on.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class NSRunLoop;

class NSTimer : public NSObject {
public:
    using Handler = std::function<void(const std::shared_ptr<NSTimer>&)>;

    // Made and scheduled on the current thread's run loop; first fires `interval` seconds
    // of clock time from now. A repeating timer keeps its period from its first fire date.
    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval, bool repeats, Handler block);
    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval, Value userInfo, bool repeats,
                                                                   Handler block);
    // Target and callback: the timer holds its target until it is invalidated (a one-shot
    // timer invalidates itself after firing), as the platform does.
    template <class T>
    static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double interval, std::shared_ptr<T> target,
                                                                   void (T::*callback)(const std::shared_ptr<NSTimer>&),
                                                                   Value userInfo, bool repeats) {
        return scheduledTimerWithTimeInterval(
            interval, std::move(userInfo), repeats,
            [target = std::move(target), callback](const std::shared_ptr<NSTimer>& timer) { ((*target).*callback)(timer); });
    }
    // Made but not scheduled: NSRunLoop::addTimer does that.
    static std::shared_ptr<NSTimer> timerWithTimeInterval(double interval, bool repeats, Handler block,
                                                          Value userInfo = Value());

    // Fires now, inside this call, without changing the schedule of a repeating timer.
    void fire();
    // Stops the timer for good and releases its handler (and so its target).
    void invalidate();
    bool isValid() const;
    // When it fires next (for an invalidated one-shot, when it was due).
    NSDate fireDate() const;
    // The period of a repeating timer; 0 for a one-shot.
    double timeInterval() const;
    Value userInfo() const;

    ~NSTimer() override;

private:
    friend class NSRunLoop;

    NSTimer(double interval, bool repeats, Handler block, Value userInfo);
    void scheduleOn(const std::shared_ptr<NSRunLoop>& loop);
    void armLocked() REQUIRES(mutex_);
    void clockFired();
    void fireOnLoop();

    mutable Mutex mutex_;
    const double interval_;
    const bool repeats_;
    Handler handler_ GUARDED_BY(mutex_);
    Value userInfo_ GUARDED_BY(mutex_);
    bool valid_ GUARDED_BY(mutex_) = true;
    bool firePending_ GUARDED_BY(mutex_) = false;
    double fireDate_ GUARDED_BY(mutex_);
    std::uint64_t clockId_ GUARDED_BY(mutex_) = 0;
    std::weak_ptr<NSRunLoop> loop_ GUARDED_BY(mutex_);
};
