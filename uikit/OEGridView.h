// A paged grid: cells laid out in pages of rows x columns, pages side by side in a horizontally
// paging scroll view; taps, double taps and page changes go to a delegate. Knows nothing of
// what the cells show.
#pragma once

#include "platform/ui/UIScrollView.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <memory>

class OEGridView;
class OEGridViewCell;

class OEGridViewDataSource {
public:
    virtual ~OEGridViewDataSource() = default;
    virtual long numberOfCellsInGridView(const std::shared_ptr<OEGridView>& gridView) = 0;
    virtual std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>& gridView,
                                                                unsigned long index) = 0;
};

// Every report is optional: the defaults ignore it.
class OEGridViewDelegate {
public:
    virtual ~OEGridViewDelegate() = default;
    virtual void gridViewDidSelectCellAtIndex(const std::shared_ptr<OEGridView>&, const std::shared_ptr<OEGridViewCell>&,
                                              unsigned long) {}
    virtual void gridViewDidDoubleTapCellAtIndex(const std::shared_ptr<OEGridView>&,
                                                 const std::shared_ptr<OEGridViewCell>&, unsigned long) {}
    virtual void gridViewChangedPageToIndex(const std::shared_ptr<OEGridView>&, unsigned long) {}
};

class OEGridView : public UIView, public UIScrollViewDelegate {
public:
    static std::shared_ptr<OEGridView> initWithFrame(const CGRect& frame);
    explicit OEGridView(const CGRect& frame) : UIView(frame) {}

    const std::shared_ptr<UIScrollView>& scrollView() const { return scrollView_; }

    // Held weakly: the screen that feeds the grid usually owns it.
    std::shared_ptr<OEGridViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(const std::shared_ptr<OEGridViewDataSource>& dataSource);
    std::shared_ptr<OEGridViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<OEGridViewDelegate>& delegate) { delegate_ = delegate; }

    // Rows and columns per page (swapped in landscape); 0 derives them from the cell size.
    unsigned long numberOfRows() const { return numberOfRows_; }
    void setNumberOfRows(unsigned long rows);
    unsigned long numberOfColumns() const { return numberOfColumns_; }
    void setNumberOfColumns(unsigned long columns);
    unsigned long cellMargin() const { return cellMargin_; }
    void setCellMargin(unsigned long margin);
    float cellWidth() const { return cellWidth_; }
    void setCellWidth(float width) { cellWidth_ = width; }
    float cellHeight() const { return cellHeight_; }
    void setCellHeight(float height) { cellHeight_ = height; }
    unsigned long currentPageIndex() const { return currentPageIndex_; }
    void setCurrentPageIndex(unsigned long index) { currentPageIndex_ = index; }

    // The cells' count over the page capacity, rounded up; 0 without cells or capacity.
    std::uint32_t numberOfPages() const;

    // Drops every laid-out cell; the next drawing pass asks the data source again.
    void reloadData();
    // The layout pass.
    void drawRect(const CGRect& rect) override;

    // The cell laid out at `index`; none past the laid-out cells.
    std::shared_ptr<OEGridViewCell> cellAtIndex(unsigned long index) const;
    void cellWasSelected(const std::shared_ptr<OEGridViewCell>& cell);
    void cellWasDoubleTapped(const std::shared_ptr<OEGridViewCell>& cell);
    // The page whose middle is nearest the scroll position, reported to the delegate.
    void updateCurrentPageIndex();

    void scrollViewDidEndDecelerating(const std::shared_ptr<UIScrollView>&) override { updateCurrentPageIndex(); }
    void scrollViewDidEndScrollingAnimation(const std::shared_ptr<UIScrollView>&) override { updateCurrentPageIndex(); }

private:
    void createSubviews();
    // Columns and rows per page before the landscape swap: as set, else from the cell size.
    void pageShape(unsigned long& columns, unsigned long& rows) const;

    std::shared_ptr<UIScrollView> scrollView_;
    std::weak_ptr<OEGridViewDataSource> dataSource_;
    std::weak_ptr<OEGridViewDelegate> delegate_;
    unsigned long numberOfRows_ = 0;
    unsigned long numberOfColumns_ = 0;
    unsigned long cellMargin_ = 0;
    float cellWidth_ = 0;
    float cellHeight_ = 0;
    unsigned long currentPageIndex_ = 0;
};
