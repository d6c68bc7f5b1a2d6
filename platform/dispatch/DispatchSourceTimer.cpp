// Timer sources: the clock counts fires; one delivery at a time is queued to run the handler.
#include "platform/dispatch/DispatchSourceTimer.h"

#include "platform/dispatch/DispatchQueue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

DispatchSourceTimer::DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {}

std::shared_ptr<DispatchSourceTimer> DispatchSourceTimer::create(std::shared_ptr<DispatchQueue> queue) {
    if (!queue) queue = DispatchQueue::globalQueue();
    return std::shared_ptr<DispatchSourceTimer>(new DispatchSourceTimer(std::move(queue)));
}

void DispatchSourceTimer::setTimer(double start, double interval, double leeway) {
    std::uint64_t stale;
    {
        MutexLock lock(mutex_);
        if (cancelled_) return;
        stale = clockId_;
        clockId_ = 0;
        ++generation_;
        scheduled_ = true;
        nextFire_ = start;
        interval_ = (interval > 0 && std::isfinite(interval)) ? interval : 0;
        leeway_ = leeway > 0 ? leeway : 0;
        if (suspendCount_ == 0) armLocked();
    }
    if (stale) Clock::cancel(stale);
}

void DispatchSourceTimer::setEventHandler(std::function<void()> handler) {
    MutexLock lock(mutex_);
    handler_ = std::move(handler);
}

void DispatchSourceTimer::setCancelHandler(std::function<void()> handler) {
    MutexLock lock(mutex_);
    cancelHandler_ = std::move(handler);
}

void DispatchSourceTimer::armLocked() {
    if (!scheduled_ || cancelled_ || clockId_) return;
    auto self = this->self<DispatchSourceTimer>();
    const std::uint64_t generation = generation_;
    clockId_ = Clock::schedule(
        nextFire_, [self, generation] { self->clockFired(generation); },
        "a timer source on queue \"" + queue_->label() + "\"");
}

void DispatchSourceTimer::clockFired(std::uint64_t generation) {
    MutexLock lock(mutex_);
    if (cancelled_ || generation != generation_) return;
    clockId_ = 0;
    ++pending_;
    if (interval_ > 0) {
        const double now = Clock::now();
        double next = nextFire_ + interval_;
        if (next <= now) {
            const double missed = std::floor((now - next) / interval_) + 1;
            pending_ += static_cast<std::uint64_t>(missed);
            next += missed * interval_;
        }
        nextFire_ = next;
    } else {
        scheduled_ = false;
    }
    armLocked();  // a suspended source goes on counting fires
    if (suspendCount_ == 0) postLocked();
}

void DispatchSourceTimer::postLocked() {
    if (deliveryPosted_ || pending_ == 0) return;
    deliveryPosted_ = true;
    auto self = this->self<DispatchSourceTimer>();
    queue_->async([self] { self->deliver(); });
}

void DispatchSourceTimer::deliver() {
    std::function<void()> handler;
    {
        MutexLock lock(mutex_);
        deliveryPosted_ = false;
        if (cancelled_ || suspendCount_ > 0 || pending_ == 0) return;
        data_ = pending_;
        pending_ = 0;
        handler = handler_;
    }
    if (handler) handler();
}

void DispatchSourceTimer::resume() {
    MutexLock lock(mutex_);
    if (suspendCount_ == 0) {
        std::fprintf(stderr, "dispatch: timer source resumed more often than suspended; aborting.\n");
        std::fflush(stderr);
        std::abort();
    }
    if (--suspendCount_ > 0 || cancelled_) return;
    armLocked();
    postLocked();
}

void DispatchSourceTimer::suspend() {
    MutexLock lock(mutex_);
    ++suspendCount_;
}

void DispatchSourceTimer::cancel() {
    std::uint64_t clockId;
    std::function<void()> handler;
    std::function<void()> cancelHandler;
    {
        MutexLock lock(mutex_);
        if (cancelled_) return;
        cancelled_ = true;
        clockId = clockId_;
        clockId_ = 0;
        handler = std::move(handler_);
        handler_ = nullptr;
        cancelHandler = std::move(cancelHandler_);
        cancelHandler_ = nullptr;
    }
    // The clock's callback holds this source; dropping it ends the self-ownership.
    if (clockId) Clock::cancel(clockId);
    if (cancelHandler) queue_->async(std::move(cancelHandler));
}

bool DispatchSourceTimer::testCancel() const {
    MutexLock lock(mutex_);
    return cancelled_;
}

std::uint64_t DispatchSourceTimer::data() const {
    MutexLock lock(mutex_);
    return data_;
}

double DispatchSourceTimer::leeway() const {
    MutexLock lock(mutex_);
    return leeway_;
}
