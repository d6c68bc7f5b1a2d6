// The paged grid's layout pass, page count and page tracking.
#include "uikit/OEGridView.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "uikit/OEGridViewCell.h"

#include <cmath>
#include <utility>

std::shared_ptr<OEGridView> OEGridView::initWithFrame(const CGRect& frame) {
    auto grid = std::make_shared<OEGridView>(frame);
    grid->createSubviews();
    return grid;
}

void OEGridView::createSubviews() {
    currentPageIndex_ = 0;
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    // A rotation or resize runs the layout pass again.
    setContentMode(UIViewContentModeRedraw);
    setBackgroundColor(UIColor::clearColor());
    scrollView_ = UIScrollView::initWithFrame(bounds());
    scrollView_->setDelegate(self<OEGridView>());
    scrollView_->setBackgroundColor(UIColor::clearColor());
    scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    scrollView_->setBounces(false);
    scrollView_->setAlwaysBounceHorizontal(false);
    scrollView_->setAlwaysBounceVertical(false);
    scrollView_->setShowsHorizontalScrollIndicator(false);
    scrollView_->setShowsVerticalScrollIndicator(false);
    scrollView_->setPagingEnabled(true);
    addSubview(scrollView_);
    reloadData();
}

void OEGridView::setDataSource(const std::shared_ptr<OEGridViewDataSource>& dataSource) {
    dataSource_ = dataSource;
    reloadData();
}

void OEGridView::setNumberOfRows(unsigned long rows) {
    numberOfRows_ = rows;
    reloadData();
}

void OEGridView::setNumberOfColumns(unsigned long columns) {
    numberOfColumns_ = columns;
    reloadData();
}

void OEGridView::setCellMargin(unsigned long margin) {
    cellMargin_ = margin;
    reloadData();
}

void OEGridView::reloadData() {
    const auto cells = scrollView_->subviews();
    for (const auto& cell : cells) cell->removeFromSuperview();
    setNeedsDisplay();
}

void OEGridView::pageShape(unsigned long& columns, unsigned long& rows) const {
    if ((columns < 1 || rows < 1) && cellWidth_ > 0 && cellHeight_ > 0) {
        const CGSize size = scrollView_->bounds().size;
        columns = static_cast<unsigned long>(std::floor(static_cast<float>(size.width) / cellWidth_));
        rows = static_cast<unsigned long>(std::floor(static_cast<float>(size.height) / cellHeight_));
    }
}

std::uint32_t OEGridView::numberOfPages() const {
    auto source = dataSource();
    if (!source) return 0;
    unsigned long columns = numberOfColumns_, rows = numberOfRows_;
    pageShape(columns, rows);
    const long count = source->numberOfCellsInGridView(
        std::const_pointer_cast<OEGridView>(std::static_pointer_cast<const OEGridView>(shared_from_this())));
    // A grid narrower than one cell holds nothing per page, so it has no pages either.
    const unsigned long capacity = columns * rows;
    if (count <= 0 || capacity == 0) return 0;
    return static_cast<std::uint32_t>(std::ceil(static_cast<float>(count) / static_cast<float>(capacity)));
}

void OEGridView::drawRect(const CGRect&) {
    auto self = this->self<OEGridView>();
    unsigned long columns = numberOfColumns_, rows = numberOfRows_;
    if (UIDeviceOrientationIsLandscape(UIDevice::currentDevice()->orientation())) std::swap(columns, rows);
    pageShape(columns, rows);
    auto source = dataSource();
    if (source && columns >= 1 && rows >= 1) {
        const CGSize size = scrollView_->bounds().size;
        scrollView_->setContentSize({size.width * numberOfPages(), size.height});
        const float width = static_cast<float>(size.width);
        const float cellW = width / static_cast<float>(columns);
        const float cellH = static_cast<float>(size.height) / static_cast<float>(rows);
        const unsigned long perPage = columns * rows;
        const CGFloat margin = static_cast<CGFloat>(cellMargin_);
        for (unsigned long i = 0; static_cast<long>(i) < source->numberOfCellsInGridView(self); ++i) {
            std::shared_ptr<OEGridViewCell> cell;
            if (scrollView_->subviews().size() > i) {
                cell = std::dynamic_pointer_cast<OEGridViewCell>(scrollView_->subviews()[i]);
            } else {
                cell = source->gridViewCellAtIndex(self, i);
                if (cell) scrollView_->addSubview(cell);
            }
            if (!cell) break;
            cell->setGridView(self);
            cell->setIndex(static_cast<long>(i));
            const unsigned long page = i / perPage;
            const unsigned long row = i / columns - rows * page;
            const unsigned long column = i % columns;
            const CGRect slot{{width * static_cast<float>(page) + cellW * static_cast<float>(column),
                               cellH * static_cast<float>(row)},
                              {cellW, cellH}};
            cell->setFrame(CGRectIntegral(CGRectInset(slot, margin, margin)));
        }
    }
    updateCurrentPageIndex();
}

std::shared_ptr<OEGridViewCell> OEGridView::cellAtIndex(unsigned long index) const {
    const auto& cells = scrollView_->subviews();
    if (index >= cells.size()) return nullptr;
    return std::dynamic_pointer_cast<OEGridViewCell>(cells[index]);
}

void OEGridView::cellWasSelected(const std::shared_ptr<OEGridViewCell>& cell) {
    if (auto target = delegate(); target && cell)
        target->gridViewDidSelectCellAtIndex(self<OEGridView>(), cell, static_cast<unsigned long>(cell->index()));
}

void OEGridView::cellWasDoubleTapped(const std::shared_ptr<OEGridViewCell>& cell) {
    if (auto target = delegate(); target && cell)
        target->gridViewDidDoubleTapCellAtIndex(self<OEGridView>(), cell, static_cast<unsigned long>(cell->index()));
}

void OEGridView::updateCurrentPageIndex() {
    const CGFloat pageWidth = scrollView_->frame().size.width;
    const CGFloat x = scrollView_->contentOffset().x;
    unsigned long page = 0;
    if (pageWidth > 0) {
        const double nearest = std::floor((x - pageWidth / 2) / pageWidth) + 1;
        // Scrolled back past the first page by program: still the first page.
        if (nearest > 0) page = static_cast<unsigned long>(nearest);
    }
    currentPageIndex_ = page;
    if (auto target = delegate()) target->gridViewChangedPageToIndex(self<OEGridView>(), page);
}
