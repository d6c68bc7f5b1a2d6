// Knows when queued work has settled, so the manual clock can fire its next timer only after
// the work the previous one handed on has run.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class NSRunLoop;

class DispatchQuiescence {
public:
    // Installs the settle step into the clock; called when the first queue or run loop is made.
    static void install();

    // Something that may end a settle wait happened (work finished, a waiter was released).
    static void changed();

    // Marks the calling thread as waiting until `canProceed` holds: a waiting thread does not
    // keep the clock from settling, and a waiting pool worker does not count against the pool.
    // `canProceed` may take the lock of what it waits on, so the scope must be entered and
    // left without holding that lock.
    class BlockedScope {
    public:
        explicit BlockedScope(std::function<bool()> canProceed);
        ~BlockedScope();
        BlockedScope(const BlockedScope&) = delete;
        BlockedScope& operator=(const BlockedScope&) = delete;

    private:
        bool poolWorker_;
        bool registered_;
    };

    // In either clock mode: waits, draining the caller's run loop, until no queued work can make
    // progress, at most `seconds` of real time (the end of a process, which must not return
    // while work still runs). False when work was still running then.
    [[nodiscard]] static bool waitUntilIdle(double seconds);

    // Work handed on and not finished, for a harness that checks what a test left behind: each
    // queue with blocks queued or running (a global queue with those handed to it directly,
    // not those of the queues that target it), and the main run loop when it has blocks ready.
    struct Outstanding {
        std::string where;  // `queue "LABEL"` (queues of one label together) or `the main run loop`
        std::string what;   // "running, 2 blocks waiting", "blocks ready"
        std::vector<std::string> owners;  // who made each block running there, where known
    };
    static std::vector<Outstanding> outstandingWork();

    static void addRunLoop(NSRunLoop* loop);
    static void removeRunLoop(NSRunLoop* loop);

private:
    static void settle();
    static bool waitUntilSettled(std::chrono::steady_clock::duration limit);
    static bool quiescent(NSRunLoop* callerLoop);
};
