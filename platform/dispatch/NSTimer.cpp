// Timers: the clock fires them, their run loop runs their handler.
#include "platform/dispatch/NSTimer.h"

#include "platform/dispatch/DispatchGuard.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cmath>

namespace {
// As the platform: a non-positive interval means a tenth of a millisecond.
double sanitizedInterval(double interval) { return interval > 0 ? interval : 0.0001; }
}  // namespace

NSTimer::NSTimer(double interval, bool repeats, Handler block, Value userInfo)
    : interval_(sanitizedInterval(interval)),
      repeats_(repeats),
      handler_(std::move(block)),
      userInfo_(std::move(userInfo)),
      fireDate_(Clock::now() + interval_) {}

NSTimer::~NSTimer() = default;

std::shared_ptr<NSTimer> NSTimer::timerWithTimeInterval(double interval, bool repeats, Handler block, Value userInfo) {
    return std::shared_ptr<NSTimer>(new NSTimer(interval, repeats, std::move(block), std::move(userInfo)));
}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, bool repeats, Handler block) {
    return scheduledTimerWithTimeInterval(interval, Value(), repeats, std::move(block));
}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double interval, Value userInfo, bool repeats,
                                                                 Handler block) {
    auto timer = timerWithTimeInterval(interval, repeats, std::move(block), std::move(userInfo));
    NSRunLoop::currentRunLoop()->addTimer(timer);
    return timer;
}

void NSTimer::scheduleOn(const std::shared_ptr<NSRunLoop>& loop) {
    MutexLock lock(mutex_);
    if (!valid_ || !loop_.expired()) return;
    loop_ = loop;
    armLocked();
}

void NSTimer::armLocked() {
    std::weak_ptr<NSTimer> weak = self<NSTimer>();
    const auto loop = loop_.lock();
    clockId_ = Clock::schedule(
        fireDate_,
        [weak] {
            if (auto timer = weak.lock()) timer->clockFired();
        },
        std::string(repeats_ ? "a repeating timer on " : "a timer on ") +
            (loop ? loop->where_ : std::string("a run loop")));
}

void NSTimer::clockFired() {
    std::shared_ptr<NSRunLoop> loop;
    bool post = false;
    {
        MutexLock lock(mutex_);
        if (!valid_) return;
        loop = loop_.lock();
        if (!loop) return;
        // Firings the run loop has not got round to yet merge into one.
        post = !firePending_;
        firePending_ = true;
        if (repeats_) {
            const double now = Clock::now();
            double next = fireDate_ + interval_;
            if (next <= now) next += std::floor((now - next) / interval_ + 1) * interval_;
            fireDate_ = next;
            armLocked();
        }
    }
    if (post) {
        auto self = this->self<NSTimer>();
        loop->post([self] { self->fireOnLoop(); });
    }
}

void NSTimer::fireOnLoop() {
    Handler handler;
    {
        MutexLock lock(mutex_);
        firePending_ = false;
        if (!valid_) return;
        handler = handler_;
    }
    auto self = this->self<NSTimer>();
    if (handler) invokeGuarded("a timer", [&] { handler(self); });
    if (!repeats_) invalidate();
}

void NSTimer::fire() {
    Handler handler;
    {
        MutexLock lock(mutex_);
        if (!valid_) return;
        handler = handler_;
    }
    if (handler) handler(self<NSTimer>());
    if (!repeats_) invalidate();
}

void NSTimer::invalidate() {
    Handler released;
    std::shared_ptr<NSRunLoop> loop;
    std::uint64_t clockId;
    {
        MutexLock lock(mutex_);
        if (!valid_) return;
        valid_ = false;
        clockId = clockId_;
        clockId_ = 0;
        released = std::move(handler_);
        handler_ = nullptr;
        loop = loop_.lock();
    }
    if (clockId) Clock::cancel(clockId);
    if (loop) loop->removeTimer(self<NSTimer>());
}

bool NSTimer::isValid() const {
    MutexLock lock(mutex_);
    return valid_;
}

NSDate NSTimer::fireDate() const {
    MutexLock lock(mutex_);
    return NSDate{fireDate_};
}

double NSTimer::timeInterval() const { return repeats_ ? interval_ : 0; }

Value NSTimer::userInfo() const {
    MutexLock lock(mutex_);
    return userInfo_;
}
