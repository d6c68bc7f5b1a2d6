// The process's one object of a class, behind its class operation: made on first use under a
// lock, so that threads asking at once all get the one made, and never destroyed, since work
// still queued at exit may ask for it. Tests forget it between cases, as a new process would
// start; what the class does with the old one happens outside the lock.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <utility>

// A value left be when the process ends: work still queued then may ask for it.
template <typename V>
struct ProcessKept {
    constexpr ProcessKept() : value() {}
    ~ProcessKept() {}
    union {
        V value;
    };
};

template <typename T>
class ProcessShared {
public:
    constexpr ProcessShared() = default;
    ProcessShared(const ProcessShared&) = delete;
    ProcessShared& operator=(const ProcessShared&) = delete;

    // The one there is, else what `make` returns; a `make` that returns none is asked again
    // next time.
    template <typename Make>
    std::shared_ptr<T> get(Make&& make) {
        MutexLock lock(mutex_);
        auto& object = object_.value;
        if (!object) object = std::forward<Make>(make)();
        return object;
    }
    std::shared_ptr<T> get() {
        return get([] { return std::make_shared<T>(); });
    }
    // The one there is, without making it.
    std::shared_ptr<T> current() {
        MutexLock lock(mutex_);
        return object_.value;
    }
    // Forgets it and hands it back, for the caller to stop and let go.
    std::shared_ptr<T> take() {
        MutexLock lock(mutex_);
        return std::exchange(object_.value, nullptr);
    }

private:
    Mutex mutex_;
    ProcessKept<std::shared_ptr<T>> object_ GUARDED_BY(mutex_);
};
