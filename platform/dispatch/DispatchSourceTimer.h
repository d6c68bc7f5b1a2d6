// Timer sources: a handler submitted to a queue at a start time and then every interval, on the clock.
#pragma once

#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class DispatchQueue;

class DispatchSourceTimer : public NSObject {
public:
    // Made suspended, as the platform makes sources: resume() starts it.
    static std::shared_ptr<DispatchSourceTimer> create(std::shared_ptr<DispatchQueue> queue);

    // First fire at `start` (clock seconds), then every `interval` seconds; an interval of
    // DispatchTime::forever (or not above zero) fires once. `leeway` is how late a fire may
    // be; fires here are never late by choice, so it is only kept.
    void setTimer(double start, double interval, double leeway = 0);
    void setEventHandler(std::function<void()> handler);
    void setCancelHandler(std::function<void()> handler);

    // Calls nest; fires that fall due while suspended are delivered, merged, on resume.
    void resume();
    void suspend();
    // Stops the timer for good; the cancel handler is submitted to the queue. A resumed,
    // uncancelled source keeps itself alive, as on the platform.
    void cancel();
    bool testCancel() const;

    // Fires merged into the handler call running now (more than 1 when the queue lagged).
    std::uint64_t data() const;
    double leeway() const;

private:
    explicit DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue);
    void armLocked() REQUIRES(mutex_);
    void clockFired(std::uint64_t generation);
    void deliver();
    void postLocked() REQUIRES(mutex_);

    const std::shared_ptr<DispatchQueue> queue_;
    mutable Mutex mutex_;
    std::function<void()> handler_ GUARDED_BY(mutex_);
    std::function<void()> cancelHandler_ GUARDED_BY(mutex_);
    int suspendCount_ GUARDED_BY(mutex_) = 1;
    bool cancelled_ GUARDED_BY(mutex_) = false;
    bool scheduled_ GUARDED_BY(mutex_) = false;  // setTimer was called
    double nextFire_ GUARDED_BY(mutex_) = 0;
    double interval_ GUARDED_BY(mutex_) = 0;  // 0: one-shot
    double leeway_ GUARDED_BY(mutex_) = 0;
    std::uint64_t clockId_ GUARDED_BY(mutex_) = 0;
    std::uint64_t generation_ GUARDED_BY(mutex_) = 0;  // bumped by setTimer so a stale clock fire is ignored
    std::uint64_t pending_ GUARDED_BY(mutex_) = 0;  // fires not yet handed to a handler call
    bool deliveryPosted_ GUARDED_BY(mutex_) = false;
    std::uint64_t data_ GUARDED_BY(mutex_) = 0;
};
