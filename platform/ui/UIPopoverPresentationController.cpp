// Placing a popover beside the bar item or view it points from.
#include "platform/ui/UIPopoverPresentationController.h"

#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIView.h"

#include <algorithm>

namespace {

// Room kept between the popover and the container's edges, and for the arrow beside the anchor.
constexpr CGFloat kPopoverMargin = 10;
constexpr CGFloat kPopoverArrow = 13;
constexpr CGFloat kPopoverStatusBar = 20;

// The bar item's rectangle in `container`, from the toolbar under `view` that shows it.
std::optional<CGRect> popoverBarItemRect(const std::shared_ptr<UIView>& view, const UIBarButtonItem* item,
                                  const std::shared_ptr<UIView>& container) {
    if (!view || view->isHidden()) return std::nullopt;
    if (auto toolbar = std::dynamic_pointer_cast<UIToolbar>(view)) {
        const auto& items = toolbar->items();
        const auto frames = toolbar->itemFrames();
        for (std::size_t i = 0; i < items.size() && i < frames.size(); ++i)
            if (items[i].get() == item) return toolbar->convertRectToView(frames[i], container);
    }
    // The frontmost toolbar that shows it wins.
    const auto& subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
        if (auto found = popoverBarItemRect(*it, item, container)) return found;
    return std::nullopt;
}

}  // namespace

std::optional<CGRect> UIPopoverPresentationController::anchorRectInContainer(
    const std::shared_ptr<UIView>& container) const {
    if (!container) return std::nullopt;
    if (auto item = barButtonItem()) {
        if (auto custom = item->customView(); custom && custom->window())
            return custom->convertRectToView(custom->bounds(), container);
        if (auto found = popoverBarItemRect(container, item.get(), container)) return found;
    }
    if (auto view = sourceView(); view && view->window()) {
        const CGRect rect = CGRectIsEmpty(sourceRect_) ? view->bounds() : sourceRect_;
        return view->convertRectToView(rect, container);
    }
    return std::nullopt;
}

CGRect UIPopoverPresentationController::frameInContainer(const std::shared_ptr<UIView>& container, CGSize size) const {
    const CGRect bounds = container ? container->bounds() : CGRect{};
    const CGFloat width = std::min(size.width, bounds.size.width - 2 * kPopoverMargin);
    CGFloat height = std::min(size.height, bounds.size.height - kPopoverStatusBar - 2 * kPopoverMargin);
    const auto anchor = anchorRectInContainer(container);
    if (!anchor) {
        return CGRectMake(CGRectGetMidX(bounds) - width / 2, CGRectGetMidY(bounds) - height / 2, width, height);
    }
    const CGFloat left = std::clamp(CGRectGetMidX(*anchor) - width / 2, bounds.origin.x + kPopoverMargin,
                                    CGRectGetMaxX(bounds) - kPopoverMargin - width);
    const bool above = (permittedArrowDirections() & UIPopoverArrowDirectionDown) &&
                       (CGRectGetMidY(*anchor) > CGRectGetMidY(bounds) ||
                        !(permittedArrowDirections() & UIPopoverArrowDirectionUp));
    if (above) {
        const CGFloat bottom = CGRectGetMinY(*anchor) - kPopoverArrow;
        height = std::min(height, bottom - (bounds.origin.y + kPopoverStatusBar + kPopoverMargin));
        return CGRectMake(left, bottom - height, width, height);
    }
    const CGFloat top = CGRectGetMaxY(*anchor) + kPopoverArrow;
    height = std::min(height, CGRectGetMaxY(bounds) - kPopoverMargin - top);
    return CGRectMake(left, top, width, height);
}
