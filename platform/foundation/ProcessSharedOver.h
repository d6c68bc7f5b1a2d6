// The process's one object of a class that is made over what its owner hands in (a context the
// class's own layer cannot reach): none before that, then made once on first use under a lock,
// as ProcessShared makes its object, and never destroyed. Forgetting it (tests) forgets what was
// handed in too, as a new process would start. The object and what it is made over share one
// lock, so whoever asks sees either the context handed before or the one handed after, never
// none in between.
#pragma once

#include "platform/foundation/ProcessShared.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <utility>

template <typename T, typename Context>
class ProcessSharedOver {
public:
    constexpr ProcessSharedOver() = default;
    ProcessSharedOver(const ProcessSharedOver&) = delete;
    ProcessSharedOver& operator=(const ProcessSharedOver&) = delete;

    // What the object is made over, from now on; one already made stays. The context it
    // replaces is let go outside the lock.
    void hand(Context context) {
        auto handed = std::make_shared<const Context>(std::move(context));
        MutexLock lock(mutex_);
        handed.swap(kept_.value.handed);
    }
    // The one there is, else what `make` returns over what was handed in; none before anything
    // was. A `make` that returns none is asked again next time. `make` runs under the lock and
    // must not come back to this holder.
    template <typename Make>
    std::shared_ptr<T> get(Make&& make) {
        MutexLock lock(mutex_);
        auto& object = kept_.value.object;
        if (!object && kept_.value.handed) object = std::forward<Make>(make)(*kept_.value.handed);
        return object;
    }
    // The one there is, without making it.
    std::shared_ptr<T> current() {
        MutexLock lock(mutex_);
        return kept_.value.object;
    }
    // Forgets it and what was handed in, and hands it back for the caller to let go.
    std::shared_ptr<T> take() {
        std::shared_ptr<const Context> handed;
        MutexLock lock(mutex_);
        handed.swap(kept_.value.handed);
        return std::exchange(kept_.value.object, nullptr);
    }

private:
    struct Held {
        std::shared_ptr<T> object;
        std::shared_ptr<const Context> handed;
    };
    Mutex mutex_;
    // Both left be when the process ends, as ProcessShared leaves its object.
    ProcessKept<Held> kept_ GUARDED_BY(mutex_);
};
