// Frame observers on a bar's item views, each asking the bar for a layout pass on a new size.
#include "platform/ui/BarItemViewWatch.h"

#include <algorithm>

namespace ui_detail {

BarItemViewWatch::~BarItemViewWatch() {
    for (const auto& watched : watched_)
        if (auto view = watched.view.lock()) view->removeFrameObserver(watched.token);
}

void BarItemViewWatch::watch(UIView& bar, const std::vector<std::shared_ptr<UIView>>& views) {
    std::erase_if(watched_, [&](const Watched& watched) {
        auto view = watched.view.lock();
        if (view && std::find(views.begin(), views.end(), view) != views.end()) return false;
        if (view) view->removeFrameObserver(watched.token);
        return true;
    });
    std::weak_ptr<UIView> weakBar = std::static_pointer_cast<UIView>(bar.weak_from_this().lock());
    for (const auto& view : views) {
        if (!view || std::any_of(watched_.begin(), watched_.end(),
                                 [&](const Watched& watched) { return watched.view.lock() == view; }))
            continue;
        const auto token = view->addFrameObserver(
            [weakBar, placing = placing_](UIView& changed, const CGRect& before, const CGRect& after) {
                if (*placing > 0 || before.size == after.size) return;
                // Only while it is still this bar's: a view moved elsewhere is no item of it.
                auto owner = weakBar.lock();
                if (owner && changed.superview() == owner) owner->setNeedsLayout();
            });
        watched_.push_back({view, token});
    }
}

}  // namespace ui_detail
