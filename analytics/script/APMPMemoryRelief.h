// Hands back to the system the memory heavy runs freed, where that costs nobody. glibc keeps
// what a thread freed in that thread's arena, and the worker queue's work runs on whichever
// pool thread is free: a heavy run's memory, freed, stays resident once for every thread such
// runs happened to use, until it is handed back. Handing it back walks every arena's free
// lists, which costs by the whole heap while a thread that allocates meanwhile waits; done as
// each heavy run ends it would come between that event and the next. So a run that asks for it
// from a queue has it done behind the work queued there by then, once for all the runs that
// asked meanwhile: when the burst of events is over.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <cstddef>
#include <memory>

class APMPMemoryRelief : public std::enable_shared_from_this<APMPMemoryRelief> {
public:
    static std::shared_ptr<APMPMemoryRelief> make();
    APMPMemoryRelief(const APMPMemoryRelief&) = delete;
    APMPMemoryRelief& operator=(const APMPMemoryRelief&) = delete;

    // Asks for relief. From work of a queue it is done behind the work queued there now, unless
    // a relief waits already; elsewhere at once: true when done at once.
    bool request() EXCLUDES(mutex_);
    // Reliefs carried out so far.
    std::size_t reliefCount() const EXCLUDES(mutex_);

private:
    APMPMemoryRelief() = default;
    void relieve() EXCLUDES(mutex_);

    mutable Mutex mutex_;
    bool waiting_ GUARDED_BY(mutex_) = false;
    std::size_t reliefs_ GUARDED_BY(mutex_) = 0;
};
