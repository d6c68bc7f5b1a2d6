// Threads: which one is the main thread, starting detached ones, and clock-aware sleeping.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <thread>

class NSThread : public NSObject {
public:
    // The main thread is the one that ran static initialisation (the one that runs main()).
    static bool isMainThread();
    static std::thread::id mainThreadId();

    // Runs `block` on a new detached thread (which gets its own run loop on first use).
    // An exception escaping the block is reported like one escaping a queued block.
    static void detachNewThreadWithBlock(std::function<void()> block);

    // Sleeps for `seconds` of clock time: in manual mode until the clock is advanced past it.
    static void sleepForTimeInterval(double seconds);
};
