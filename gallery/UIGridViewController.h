// The base of the screens that show their items as a paged grid of large cells: feeds the grid
// from overridable methods, keeps the page indicator in step, and opens a tapped item's detail
// as a centred panel that grows out of its cell over a dimmed screen and shrinks back into it.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIViewController.h"
#include "uikit/OEGridView.h"

#include <memory>
#include <string>

class UIButton;
class UIGridViewWithPageControll;

// Posted with the detail controller as object, before the panel grows and before it shrinks.
inline const std::string GridControllerDetailWillShow = "GridControllerDetailWillShow";
inline const std::string GridControllerDetailWillHide = "GridControllerDetailWillHide";

class UIGridViewController : public UIViewController, public OEGridViewDataSource, public OEGridViewDelegate {
public:
    static constexpr float kCellWidth = 140;
    static constexpr float kCellHeight = 180;
    static constexpr unsigned long kCellMargin = 3;
    static constexpr CGFloat kDetailSide = 672;
    static constexpr CGFloat kDetailCornerRadius = 8;
    static constexpr double kDetailAnimationDuration = 0.5;

    const std::shared_ptr<UIGridViewWithPageControll>& gridView() const { return gridView_; }
    const std::shared_ptr<UIViewController>& currentDetailViewController() const { return currentDetailViewController_; }
    void setCurrentDetailViewController(std::shared_ptr<UIViewController> controller) {
        currentDetailViewController_ = std::move(controller);
    }
    const std::shared_ptr<UIView>& selectedCell() const { return selectedCell_; }
    void setSelectedCell(std::shared_ptr<UIView> cell) { selectedCell_ = std::move(cell); }

    // The grid with its page indicator becomes the view; the grid fits as many cells as it can.
    void loadView() override;
    // The indicator's bar shows only for more than one page.
    void setupPageControl();

    // Subclasses give their count and cells.
    long numberOfCellsInGridView(const std::shared_ptr<OEGridView>& gridView) override;
    std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>& gridView,
                                                        unsigned long index) override;
    void gridViewChangedPageToIndex(const std::shared_ptr<OEGridView>& gridView, unsigned long page) override;
    void gridViewDidSelectCellAtIndex(const std::shared_ptr<OEGridView>& gridView,
                                      const std::shared_ptr<OEGridViewCell>& cell, unsigned long index) override;

    // The controller that shows item `index` in detail.
    virtual std::shared_ptr<UIViewController> itemDetailsViewController(unsigned long index) = 0;

    // Opens the item's detail unless one is open or opening.
    void beforeShow(unsigned long index);
    virtual void performShow(unsigned long index);
    virtual void hideDetail();
    // Shrinks the detail back into its cell and removes the dimming view `dimming` with it.
    void hideDetailController(const std::shared_ptr<UIView>& dimming);
    // Called once hiding has finished.
    virtual void detailDidDissappear() {}

    // A rotation by `angle` radians about the y axis, scaled by (scaleX, scaleY, 1).
    static CATransform3D rotateAndScale(float angle, float scaleX, float scaleY);

private:
    std::shared_ptr<UIGridViewWithPageControll> gridView_;
    std::shared_ptr<UIViewController> currentDetailViewController_;
    std::shared_ptr<UIView> selectedCell_;
};
