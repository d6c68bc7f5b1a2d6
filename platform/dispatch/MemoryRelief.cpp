// Memory heavy work freed, handed back to the system behind the work of the queue that asked,
// or on the queue the relief was given.
#include "platform/dispatch/MemoryRelief.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"

#include <malloc.h>

std::shared_ptr<MemoryRelief> MemoryRelief::make(std::shared_ptr<DispatchQueue> elsewhere) {
    return std::shared_ptr<MemoryRelief>(new MemoryRelief(std::move(elsewhere)));
}

bool MemoryRelief::request() {
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::currentQueue();
    if (elsewhere_ && (!queue || NSThread::isMainThread())) queue = elsewhere_;
    if (!queue) {
        relieve();
        return true;
    }
    {
        MutexLock lock(mutex_);
        if (waiting_) return false;
        waiting_ = true;
    }
    queue->async([self = shared_from_this()] {
        {
            MutexLock lock(self->mutex_);
            self->waiting_ = false;
        }
        self->relieve();
    });
    return false;
}

void MemoryRelief::relieve() {
    // Every arena, the free chunks inside each heap as well as its top: a pad of 0 keeps nothing.
    malloc_trim(0);
    MutexLock lock(mutex_);
    ++reliefs_;
}

std::size_t MemoryRelief::reliefCount() const {
    MutexLock lock(mutex_);
    return reliefs_;
}

void MemoryRelief::mapLargeBlocksApart() {
    // A fixed bound also fixes the trim threshold at its default: a heap's free top goes back too.
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kLargeBlockBytes));
}
