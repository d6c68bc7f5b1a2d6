// The process's one object of a class that is made over what its owner hands in (a context the
// class's own layer cannot reach): none before that, then made once on first use under a lock,
// as ProcessShared makes its object, and never destroyed. Forgetting it (tests) forgets what was
// handed in too, as a new process would start.
#pragma once

#include "platform/foundation/ProcessShared.h"

#include <memory>
#include <utility>

template <typename T, typename Context>
class ProcessSharedOver {
public:
    constexpr ProcessSharedOver() = default;
    ProcessSharedOver(const ProcessSharedOver&) = delete;
    ProcessSharedOver& operator=(const ProcessSharedOver&) = delete;

    // What the object is made over, from now on; one already made stays.
    void hand(Context context) {
        auto handed = std::make_shared<const Context>(std::move(context));
        (void)handed_.take();
        (void)handed_.get([&handed] { return handed; });
    }
    // The one there is, else what `make` returns over what was handed in; none before anything
    // was. A `make` that returns none is asked again next time.
    template <typename Make>
    std::shared_ptr<T> get(Make&& make) {
        return object_.get([this, &make]() -> std::shared_ptr<T> {
            const auto handed = handed_.current();
            return handed ? std::forward<Make>(make)(*handed) : nullptr;
        });
    }
    // The one there is, without making it.
    std::shared_ptr<T> current() { return object_.current(); }
    // Forgets it and what was handed in, and hands it back for the caller to let go.
    std::shared_ptr<T> take() {
        (void)handed_.take();
        return object_.take();
    }

private:
    ProcessShared<T> object_;
    ProcessShared<const Context> handed_;
};
