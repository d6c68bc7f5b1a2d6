// Memory heavy runs freed, handed back to the system behind the work of the queue that asked.
#include "analytics/script/APMPMemoryRelief.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/MemoryPressure.h"

std::shared_ptr<APMPMemoryRelief> APMPMemoryRelief::make() {
    return std::shared_ptr<APMPMemoryRelief>(new APMPMemoryRelief());
}

bool APMPMemoryRelief::request() {
    const std::shared_ptr<DispatchQueue> queue = DispatchQueue::currentQueue();
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

void APMPMemoryRelief::relieve() {
    MemoryPressure::relieve();
    MutexLock lock(mutex_);
    ++reliefs_;
}

std::size_t APMPMemoryRelief::reliefCount() const {
    MutexLock lock(mutex_);
    return reliefs_;
}
