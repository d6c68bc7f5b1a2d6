// Where a popover (or an action sheet on a pad) points from: a bar item, or a rectangle of a
// view, and the arrow directions allowed.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <optional>

class UIBarButtonItem;
class UIView;

enum UIPopoverArrowDirection : unsigned {
    UIPopoverArrowDirectionUp = 1 << 0,
    UIPopoverArrowDirectionDown = 1 << 1,
    UIPopoverArrowDirectionLeft = 1 << 2,
    UIPopoverArrowDirectionRight = 1 << 3,
    UIPopoverArrowDirectionAny = 15,
};

class UIPopoverPresentationController : public NSObject {
public:
    std::shared_ptr<UIBarButtonItem> barButtonItem() const { return barButtonItem_.lock(); }
    void setBarButtonItem(const std::shared_ptr<UIBarButtonItem>& item) { barButtonItem_ = item; }
    std::shared_ptr<UIView> sourceView() const { return sourceView_.lock(); }
    unsigned permittedArrowDirections() const { return arrows_; }

    // The popover's width when its content asks for none.
    static constexpr CGFloat kDefaultWidth = 320;
    // Where the popover of a content of `size` stands in `container` (the window): beside its
    // anchor (above an anchor in the lower half, below one in the upper half, centred on it
    // and kept inside the container), or in the middle when the anchor is not on screen.
    CGRect frameInContainer(const std::shared_ptr<UIView>& container, CGSize size) const;
    // The anchor's rectangle in the container's coordinates; empty when it is not on screen
    // (a bar item is found in the toolbars under the container).
    std::optional<CGRect> anchorRectInContainer(const std::shared_ptr<UIView>& container) const;

private:
    std::weak_ptr<UIBarButtonItem> barButtonItem_;
    std::weak_ptr<UIView> sourceView_;
    CGRect sourceRect_;
    unsigned arrows_ = UIPopoverArrowDirectionAny;
};
