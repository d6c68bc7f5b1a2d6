// The grid screen base: the grid's feeding, the page indicator and the detail panel's show
// and hide.
#include "gallery/UIGridViewController.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageControl.h"
#include "platform/ui/UIScreen.h"
#include "uikit/OEGridViewCell.h"
#include "uikit/UIGridViewWithPageControll.h"

#include <cstdint>

void UIGridViewController::loadView() {
    gridView_ = UIGridViewWithPageControll::initWithFrame(UIScreen::mainScreen()->bounds());
    auto grid = gridView_->gridView();
    grid->setDataSource(self<UIGridViewController>());
    grid->setDelegate(self<UIGridViewController>());
    // Rows and columns stay unset: the grid fits as many cells of this size as it can.
    grid->setCellWidth(kCellWidth);
    grid->setCellHeight(kCellHeight);
    grid->setCellMargin(kCellMargin);
    setupPageControl();
    setView(gridView_);
    gridView_->setBackgroundColor(UIColor::clearColor());
}

void UIGridViewController::setupPageControl() {
    if (!gridView_) return;
    auto grid = gridView_->gridView();
    auto pages = gridView_->pageControl();
    if (!grid || !pages) return;
    auto bar = pages->superview();
    const auto count = grid->numberOfPages();
    if (count > 1) {
        if (bar) bar->setHidden(false);
        pages->setNumberOfPages(static_cast<long>(count));
        pages->setCurrentPage(static_cast<long>(grid->currentPageIndex()));
    } else if (bar) {
        bar->setHidden(true);
    }
}

long UIGridViewController::numberOfCellsInGridView(const std::shared_ptr<OEGridView>&) { return 0; }

std::shared_ptr<OEGridViewCell> UIGridViewController::gridViewCellAtIndex(const std::shared_ptr<OEGridView>&,
                                                                          unsigned long) {
    return nullptr;
}

void UIGridViewController::gridViewChangedPageToIndex(const std::shared_ptr<OEGridView>&, unsigned long) {
    setupPageControl();
}

void UIGridViewController::gridViewDidSelectCellAtIndex(const std::shared_ptr<OEGridView>&,
                                                        const std::shared_ptr<OEGridViewCell>&, unsigned long index) {
    beforeShow(index);
}

void UIGridViewController::beforeShow(unsigned long index) {
    if (!selectedCell_) performShow(index);
}

void UIGridViewController::performShow(unsigned long index) {
    const auto i = static_cast<std::uint32_t>(index);
    auto grid = gridView_ ? gridView_->gridView() : nullptr;
    auto cell = grid ? grid->cellAtIndex(i) : nullptr;
    // Only a cell the grid laid out can open; selections report laid-out cells.
    if (!cell) return;
    if (currentDetailViewController_ && currentDetailViewController_->isViewLoaded())
        currentDetailViewController_->view()->removeFromSuperview();
    auto detail = itemDetailsViewController(i);
    if (!detail) return;
    currentDetailViewController_ = detail;
    selectedCell_ = cell;
    const CGRect cellFrame = cell->frame();

    auto panel = detail->view();
    panel->setFrame(cellFrame);
    panel->setAlpha(0);
    panel->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                               UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    const CGSize size = view()->frame().size;

    auto dimming = UIButton::buttonWithType(UIButtonTypeCustom);
    dimming->setFrame(view()->bounds());
    dimming->setBackgroundColor(UIColor::colorWithWhite(0.3, 0));
    dimming->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    // A tap beside the panel closes it.
    setAccessibilityLabel(*dimming, "close");
    std::weak_ptr<UIGridViewController> weakSelf = self<UIGridViewController>();
    dimming->addTarget(
        self<UIGridViewController>(),
        [weakSelf](const std::shared_ptr<NSObject>&) {
            if (auto me = weakSelf.lock()) me->hideDetail();
        },
        UIControlEventTouchUpInside);
    view()->addSubview(dimming);
    dimming->addSubview(panel);
    panel->layer()->setCornerRadius(kDetailCornerRadius);
    panel->setClipsToBounds(true);

    NSNotificationCenter::defaultCenter()->postNotificationName(GridControllerDetailWillShow, detail);
    detail->beginAppearanceTransition(true, true);
    const CGRect target = CGRectIntegral(
        CGRectMake((size.width - kDetailSide) / 2, (size.height - kDetailSide) / 2, kDetailSide, kDetailSide));
    UIView::animateWithDuration(
        kDetailAnimationDuration,
        [panel, cell, dimming, target] {
            panel->setFrame(target);
            cell->setFrame(target);
            panel->setAlpha(1);
            cell->setAlpha(0);
            dimming->setBackgroundColor(UIColor::colorWithWhite(0.3, 0.8));
        },
        [cell, cellFrame, detail](bool finished) {
            if (!finished) return;
            // The cell waits, invisible, in its place for the panel to shrink back into it.
            cell->setFrame(cellFrame);
            detail->endAppearanceTransition();
        });
}

void UIGridViewController::hideDetail() {
    if (!currentDetailViewController_ || !currentDetailViewController_->isViewLoaded()) return;
    hideDetailController(currentDetailViewController_->view()->superview());
}

void UIGridViewController::hideDetailController(const std::shared_ptr<UIView>& dimming) {
    auto detail = currentDetailViewController_;
    auto cell = selectedCell_;
    if (!detail || !cell) return;
    NSNotificationCenter::defaultCenter()->postNotificationName(GridControllerDetailWillHide, detail);
    auto panel = detail->view();
    const CGRect cellFrame = cell->frame();
    cell->setCenter(panel->center());
    detail->beginAppearanceTransition(false, true);
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(detail)) {
        if (auto top = navigation->topViewController()) {
            auto item = top->navigationItem();
            item->setTitle("");
            item->setRightBarButtonItem(nullptr);
            item->setLeftBarButtonItem(nullptr);
        }
        navigation->setToolbarHidden(true, false);
    } else {
        detail->setTitle("");
    }
    const CGRect target = CGRectIntegral(cellFrame);
    std::weak_ptr<UIGridViewController> weakSelf = self<UIGridViewController>();
    UIView::animateWithDuration(
        kDetailAnimationDuration,
        [panel, cell, dimming, target] {
            cell->setFrame(target);
            panel->setFrame(target);
            cell->setAlpha(1);
            panel->setAlpha(0);
            if (dimming) dimming->setBackgroundColor(UIColor::colorWithWhite(0, 0));
        },
        // Also when interrupted: a hide left half-done would keep the dimming view and block
        // every later selection.
        [weakSelf, dimming, detail](bool) {
            if (dimming) dimming->removeFromSuperview();
            detail->endAppearanceTransition();
            auto me = weakSelf.lock();
            if (!me) return;
            me->detailDidDissappear();
            me->selectedCell_.reset();
        });
}

CATransform3D UIGridViewController::rotateAndScale(float angle, float scaleX, float scaleY) {
    // Row vectors: the scale applies first, then the rotation, as scaling a rotation does.
    return CATransform3DConcat(CATransform3DMakeScale(scaleX, scaleY, 1), CATransform3DMakeRotation(angle, 0, 1, 0));
}
