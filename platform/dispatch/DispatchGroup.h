// Groups of work: wait for, or be told of, the moment all of it has finished.
#pragma once

#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class DispatchQueue;

class DispatchGroup : public NSObject {
public:
    static std::shared_ptr<DispatchGroup> create();

    void enter();
    // One leave per enter; a leave without an enter is a programming error and aborts.
    void leave();
    // Runs `block` on `queue` as part of the group.
    void async(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);
    // Submits `block` to `queue` once the group is empty (at once when it already is).
    void notify(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);
    // Waits until the group is empty; false when `deadline` (clock seconds) passed first.
    [[nodiscard]] bool wait(double deadline = DispatchTime::forever);

private:
    DispatchGroup() = default;
    Mutex mutex_;
    std::condition_variable cv_;
    long count_ GUARDED_BY(mutex_) = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications_ GUARDED_BY(mutex_);
};
