// Knows when queued work has settled, so the manual clock can fire its next timer only after
// the work the previous one handed on has run.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class DispatchThreadPool;
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
        DispatchThreadPool* pool_;  // the pool whose worker waits, none for another thread
        bool registered_;
    };

    // In either clock mode: waits, draining the caller's run loop, until no queued work can make
    // progress, work apart included (which a settle of the clock does not wait for), at most
    // `seconds` of real time (the end of a process, which must not return while work still runs;
    // the simulator's idle). False when work was still running then.
    [[nodiscard]] static bool waitUntilIdle(double seconds);

    // Work handed on and not finished, for a harness that checks what a test left behind: each
    // queue with blocks queued or running (a global queue with those handed to it directly,
    // not those of the queues that target it; a queue apart too), and the main run loop when it
    // has blocks ready.
    struct Outstanding {
        std::string where;  // `queue "LABEL"` (queues of one label together) or `the main run loop`
        std::string what;   // "running, 2 blocks waiting", "blocks ready"
        std::vector<std::string> owners;  // who made each block running there, where known
    };
    static std::vector<Outstanding> outstandingWork();

    static void addRunLoop(NSRunLoop* loop);
    static void removeRunLoop(NSRunLoop* loop);

private:
    // The manual clock's settle: waits until no queued work but work apart can make progress. It
    // gives up with a logged warning once the work has used next to no processor for a minute (it
    // waits on something the clock cannot release), or after five minutes in all (it spins).
    static void settle();
    static bool waitUntilSettled(std::chrono::steady_clock::duration limit, bool apartToo);
    static bool quiescent(NSRunLoop* callerLoop, bool apartToo);
};

namespace dispatch_detail {

// While it lives, a settle of the manual clock gives up after `still` of real time in which the
// work it waits for used next to no processor (the processor time allowed shrinks alike), and
// after `total` in all: for tests of the rule, which cannot wait minutes.
class ScopedSettleLimits {
public:
    ScopedSettleLimits(std::chrono::steady_clock::duration still, std::chrono::steady_clock::duration total);
    ~ScopedSettleLimits();
    ScopedSettleLimits(const ScopedSettleLimits&) = delete;
    ScopedSettleLimits& operator=(const ScopedSettleLimits&) = delete;

private:
    std::chrono::steady_clock::duration::rep still_;
    std::chrono::steady_clock::duration::rep total_;
};

}  // namespace dispatch_detail
