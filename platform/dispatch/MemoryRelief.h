// Hands back to the system the memory heavy work freed, where that costs nobody. glibc keeps
// what a thread freed in that thread's arena, and a queue's work runs on whichever pool thread
// is free: a heavy job's memory, freed, stays resident once for every thread such jobs happened
// to use, until it is handed back. Handing it back walks every arena's free lists, which costs
// by the whole heap while a thread that allocates meanwhile waits: done as each heavy job ends
// it would come between that job and the next, and on the main thread or under a lock it would
// hold up the screen or whoever waits for the lock. So a job on a queue has it done behind the
// work queued there by then, one on the main thread on a queue the relief is given, and once
// for all the jobs that asked meanwhile: when the burst of work is over.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <cstddef>
#include <memory>

class DispatchQueue;

class MemoryRelief : public std::enable_shared_from_this<MemoryRelief> {
public:
    // With `elsewhere`, what the main thread or a thread that runs no queue's work asks for is
    // done there, never in the call; without it, the main queue's work has it done behind that
    // queue's work as any queue's does, and a thread of no queue at once.
    static std::shared_ptr<MemoryRelief> make(std::shared_ptr<DispatchQueue> elsewhere = nullptr);
    MemoryRelief(const MemoryRelief&) = delete;
    MemoryRelief& operator=(const MemoryRelief&) = delete;

    // Asks for relief, unless one waits already, which serves this request too. From work of a
    // queue it is done behind the work queued there now; on the main thread (given `elsewhere`)
    // or off any queue as make() says. True when it was done at once.
    bool request() EXCLUDES(mutex_);
    // Reliefs carried out so far.
    std::size_t reliefCount() const EXCLUDES(mutex_);

    // For the whole process, called once by its main before any thread starts: every block of
    // kLargeBlockBytes or more is mapped apart and goes back to the system when it is freed. By
    // default glibc raises that bound to the size of each large block freed (up to 32 MB), and from
    // then on keeps blocks up to it (a picture file's bytes, a decoder's rows, a copy at a screen's
    // size) in the arena of the thread that asked, trimming a thread's arena only past twice that:
    // after a few large pictures, tens of MB stay resident in the workers' arenas, where a relief
    // cannot reach the top of the heap.
    static constexpr std::size_t kLargeBlockBytes = 1024 * 1024;
    static void mapLargeBlocksApart();

private:
    explicit MemoryRelief(std::shared_ptr<DispatchQueue> elsewhere) : elsewhere_(std::move(elsewhere)) {}
    void relieve() EXCLUDES(mutex_);

    const std::shared_ptr<DispatchQueue> elsewhere_;
    mutable Mutex mutex_;
    bool waiting_ GUARDED_BY(mutex_) = false;
    std::size_t reliefs_ GUARDED_BY(mutex_) = 0;
};
