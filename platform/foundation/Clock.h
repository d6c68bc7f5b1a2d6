// The one source of "now" for dates and every timer in the process; real by default,
// manual in tests, where advancing it fires what falls due in time order.
#pragma once

#include <cstdint>
#include <functional>

class Clock {
public:
    using TimerId = std::uint64_t;

    // Seconds since 1970.
    static double now();

    // Freezes the clock at `start` (default: the real time now); only advance() moves it.
    static void setManual(double start);
    static void setManual();
    static void setReal();
    static bool isManual();
    // Manual mode: moves time forward, firing due timers one by one in time order, with
    // now() at each timer's own fire time while it fires.
    static void advance(double seconds);

    // Calls `fire` once when now() reaches `fireTime`. In real mode it runs on the clock's
    // own thread, in manual mode inside advance(): it should only hand work on.
    static TimerId schedule(double fireTime, std::function<void()> fire);
    static void cancel(TimerId id);
};
