// The one source of "now" for dates and every timer in the process; real by default,
// manual in tests, where advancing it fires what falls due in time order.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Clock {
public:
    using TimerId = std::uint64_t;
    // What a timer is to whoever lists the pending ones: work put off until its time, or the
    // deadline of work already under way (a wait, a request), which goes when that work ends.
    enum class TimerKind { Scheduled, Deadline };

    // Seconds since 1970.
    static double now();
    // Seconds since the machine started (CLOCK_BOOTTIME), -1 when the boot time cannot be read;
    // in manual mode it moves with now().
    static double uptime();
    // Seconds on the machine's steady clock, in either mode: for a wait bounded in real time
    // while the clock that now() reads may stand still.
    static double realSeconds();
    // Manual mode: the boot time cannot be read while set, as when the system call fails;
    // setReal() clears it.
    static void setUptimeUnreadable(bool unreadable);

    // Freezes the clock at `start` (default: the real time now); only advance() moves it.
    static void setManual(double start);
    static void setManual();
    static void setReal();
    static bool isManual();
    // Manual mode: moves time forward, firing due timers one by one in time order, with
    // now() at each timer's own fire time while it fires. Before the first timer and after
    // each one the settle hook runs, so work a timer handed on (a block on a queue, a timer
    // on a run loop) has finished, and anything it re-armed inside the span fires too.
    // advance(0) fires what is already due and settles.
    static void advance(double seconds);
    // When the earliest pending timer fires; infinity when none is pending. Lets a caller
    // advance from one timer to the next and do its own work in between.
    static double nextFireTime();

    // Calls `fire` once when now() reaches `fireTime`. In real mode it runs on the clock's
    // own thread, in manual mode inside advance() (or on the clock's thread when it is
    // already due as it is scheduled): it should only hand work on. `label` says what the timer
    // is (a queue's delayed block, a request's timeout), for whoever lists what is pending.
    static TimerId schedule(double fireTime, std::function<void()> fire, std::string label = {},
                            TimerKind kind = TimerKind::Scheduled);
    // Drops a timer. When it is firing on another thread at that moment, waits until it has
    // returned, so after cancel() its callback is not running and never will.
    static void cancel(TimerId id);

    // The timers scheduled and not yet done, in the order they were scheduled: those waiting for
    // their time, and those whose callback runs now. For a harness that checks what a test left.
    struct Pending {
        TimerId id;
        double fireTime;
        std::string label;
        TimerKind kind;
        bool firing;
    };
    static std::vector<Pending> pending();

    // Installed by the layer that runs queued work: waits until that work is idle.
    static void setSettleHook(std::function<void()> hook);

    // Waits on `cv` (with `lock` held) until `done()` holds or the clock reaches `deadline`
    // (seconds since 1970; infinity waits for `done` alone). In manual mode the wait ends
    // when advance() passes the deadline. `waiting`, when given, is called with the lock held
    // once the wake-up at the deadline is in place, just before the first wait. Returns done().
    static bool waitUntil(MutexLock& lock, std::condition_variable& cv, double deadline,
                          const std::function<bool()>& done, const std::function<void()>& waiting = nullptr);
};
