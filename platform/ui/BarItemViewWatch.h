// Keeps a bar's layout in step with its item views: a bar sizes and places its items only when
// it lays them out, so a view that changes size by itself (a button sized to fit a new title)
// asks its bar for another layout pass.
#pragma once

#include "platform/ui/UIView.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ui_detail {

class BarItemViewWatch {
public:
    BarItemViewWatch() = default;
    ~BarItemViewWatch();
    BarItemViewWatch(const BarItemViewWatch&) = delete;
    BarItemViewWatch& operator=(const BarItemViewWatch&) = delete;

    // From now on watches exactly `views` (empty entries skipped) as items of `bar`.
    void watch(UIView& bar, const std::vector<std::shared_ptr<UIView>>& views);

    // While one lives the bar places its views itself: their size changes ask for nothing.
    class Placing {
    public:
        explicit Placing(BarItemViewWatch& watch) : count_(watch.placing_) { ++*count_; }
        ~Placing() { --*count_; }
        Placing(const Placing&) = delete;
        Placing& operator=(const Placing&) = delete;

    private:
        std::shared_ptr<int> count_;
    };

private:
    struct Watched {
        std::weak_ptr<UIView> view;
        std::uint64_t token;
    };

    std::vector<Watched> watched_;
    std::shared_ptr<int> placing_ = std::make_shared<int>(0);
};

}  // namespace ui_detail
