// The grid cell's touch handling: a single tap is reported late so that a second tap can take
// it back; a double tap is reported at once.
#include "uikit/OEGridViewCell.h"

#include "platform/dispatch/NSDelayedPerforming.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UILongPressGestureRecognizer.h"
#include "platform/ui/UITouch.h"
#include "uikit/OEGridView.h"

namespace {
int tapCountOf(const UITouchList& touches) { return touches.empty() ? 0 : touches.front()->tapCount(); }
}  // namespace

void OEGridViewCell::setup() {
    // A tile is touched as a button is, though its touches are its own.
    setAccessibilityTraits(*this, UIAccessibilityTraitButton);
    addGestureRecognizer(UILongPressGestureRecognizer::initWithTarget(self<OEGridViewCell>(),
                                                                      &OEGridViewCell::longPressSelector));
}

void OEGridViewCell::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIView::touchesBegan(touches, event);
    if (tapCountOf(touches) == 2) {
        // The second tap takes back the first one's pending report.
        if (auto grid = gridView()) cancelPreviousPerformRequestsWithTarget(grid);
    }
    addSelectedView();
    longpressed_ = false;
}

void OEGridViewCell::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIView::touchesEnded(touches, event);
    if (auto grid = gridView()) {
        const int taps = tapCountOf(touches);
        if (taps < 2) {
            std::weak_ptr<OEGridViewCell> weakCell = self<OEGridViewCell>();
            std::weak_ptr<OEGridView> weakGrid = grid;
            performAfterDelay(
                grid,
                [weakGrid, weakCell] {
                    auto target = weakGrid.lock();
                    auto cell = weakCell.lock();
                    if (target && cell) target->cellWasSelected(cell);
                },
                kSingleTapDelay);
        } else if (taps == 2) {
            grid->cellWasDoubleTapped(self<OEGridViewCell>());
        }
    }
    removeSelectedView();
}

void OEGridViewCell::touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIView::touchesCancelled(touches, event);
    removeSelectedView();
}

void OEGridViewCell::removeSelectedView() {
    auto highlight = viewWithTag(kSelectedViewTag);
    if (!highlight || highlight.get() == this) return;
    UIView::animateWithDuration(
        0.5, [highlight] { highlight->setAlpha(0); }, [highlight](bool) { highlight->removeFromSuperview(); });
}

void OEGridViewCell::longPressSelector(const std::shared_ptr<UIGestureRecognizer>&) {
    if (longpressed_) return;
    longpressed_ = true;
    longPress();
}
