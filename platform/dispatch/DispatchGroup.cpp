// Groups: a count of unfinished work and the notifications waiting for it to reach zero.
#include "platform/dispatch/DispatchGroup.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"

#include <cstdio>
#include <cstdlib>

std::shared_ptr<DispatchGroup> DispatchGroup::create() { return std::shared_ptr<DispatchGroup>(new DispatchGroup); }

void DispatchGroup::enter() {
    MutexLock lock(mutex_);
    ++count_;
}

void DispatchGroup::leave() {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> ready;
    {
        MutexLock lock(mutex_);
        if (count_ == 0) {
            std::fprintf(stderr, "dispatch: group left more often than entered; aborting.\n");
            std::fflush(stderr);
            std::abort();
        }
        if (--count_ > 0) return;
        ready.swap(notifications_);
    }
    cv_.notify_all();
    for (auto& [queue, block] : ready) queue->async(std::move(block));
    DispatchQuiescence::changed();
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
    enter();
    auto self = this->self<DispatchGroup>();
    queue->async([self, block = std::move(block)] {
        struct Leave {
            DispatchGroup* group;
            ~Leave() { group->leave(); }
        } leave{self.get()};
        block();
    });
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
    {
        MutexLock lock(mutex_);
        if (count_ > 0) {
            notifications_.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool DispatchGroup::wait(double deadline) {
    {
        MutexLock lock(mutex_);
        if (count_ == 0) return true;
    }
    if (deadline <= Clock::now()) return false;
    // See DispatchSemaphore::wait; the group may be entered again before this thread goes on.
    bool armed = false;
    bool ended = false;
    DispatchQuiescence::BlockedScope blocked([this, deadline, &armed, &ended] {
        MutexLock lock(mutex_);
        return !armed || ended || count_ == 0 || Clock::now() >= deadline;
    });
    MutexLock lock(mutex_);
    const bool emptied = Clock::waitUntil(lock, cv_, deadline, [this]() REQUIRES(mutex_) { return count_ == 0; },
                                          [&armed] { armed = true; });
    ended = true;
    return emptied;
}
