// The paged grid: pages and slots from the cell size or the set rows and columns (swapped in
// landscape), page counts and the capacity that fits no cell, the current page after scrolls,
// and the late single tap that a double tap takes back.
#include "uikit/OEGridView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/KeyWindowTest.h"
#include "uikit/OEGridViewCell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CountingCell : public OEGridViewCell {
public:
    using OEGridViewCell::OEGridViewCell;
    void addSelectedView() override {
        auto highlight = UIView::initWithFrame(bounds());
        highlight->setTag(kSelectedViewTag);
        addSubview(highlight);
    }
    void longPress() override { ++longPresses; }
    int longPresses = 0;
};

// Hands out numbered cells and writes down every report.
class Feed : public NSObject, public OEGridViewDataSource, public OEGridViewDelegate {
public:
    long numberOfCellsInGridView(const std::shared_ptr<OEGridView>&) override { return count; }
    std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>&, unsigned long index) override {
        ++cellsAsked;
        auto cell = OEGridViewCell::cellWithFrame<CountingCell>(CGRectZero);
        cell->setTag(static_cast<int>(index) + 1);
        return cell;
    }
    void gridViewDidSelectCellAtIndex(const std::shared_ptr<OEGridView>&, const std::shared_ptr<OEGridViewCell>&,
                                      unsigned long index) override {
        events.push_back("tap " + std::to_string(index));
    }
    void gridViewDidDoubleTapCellAtIndex(const std::shared_ptr<OEGridView>&, const std::shared_ptr<OEGridViewCell>&,
                                         unsigned long index) override {
        events.push_back("double " + std::to_string(index));
    }
    void gridViewChangedPageToIndex(const std::shared_ptr<OEGridView>&, unsigned long page) override {
        pages.push_back(page);
    }
    long count = 0;
    int cellsAsked = 0;
    std::vector<std::string> events;
    std::vector<unsigned long> pages;
};

class OEGridViewTest : public KeyWindowTest {
protected:
    void TearDown() override {
        UIDevice::currentDevice()->setOrientation(UIDeviceOrientation::Portrait);
        KeyWindowTest::TearDown();
    }
    std::shared_ptr<OEGridView> gridOf(CGSize size, long cells) {
        feed->count = cells;
        auto grid = OEGridView::initWithFrame({{0, 0}, size});
        grid->setDataSource(feed);
        grid->setDelegate(feed);
        return grid;
    }
    static void draw(const std::shared_ptr<OEGridView>& grid) {
        grid->setNeedsDisplay();
        grid->displayIfNeeded();
    }
    std::shared_ptr<Feed> feed = std::make_shared<Feed>();
};

}  // namespace

TEST_F(OEGridViewTest, CellsFillPagesRowByRowFromTheCellSize) {
    auto grid = gridOf({768, 904}, 26);
    grid->setCellWidth(140);
    grid->setCellHeight(180);
    grid->setCellMargin(3);
    EXPECT_TRUE(grid->scrollView()->subviews().empty());
    draw(grid);

    ASSERT_EQ(grid->scrollView()->subviews().size(), 26u);
    EXPECT_EQ(grid->numberOfPages(), 2u);
    EXPECT_EQ(grid->scrollView()->contentSize(), CGSizeMake(1536, 904));
    EXPECT_EQ(grid->cellAtIndex(7)->frame(), CGRectMake(310, 183, 148, 176));
    EXPECT_EQ(grid->cellAtIndex(25)->frame(), CGRectMake(771, 3, 148, 175));
    EXPECT_EQ(grid->cellAtIndex(25)->index(), 25);
    EXPECT_EQ(grid->cellAtIndex(25)->gridView(), grid);
    EXPECT_EQ(grid->cellAtIndex(26), nullptr);
    EXPECT_TRUE(grid->scrollView()->isPagingEnabled());
    EXPECT_FALSE(grid->scrollView()->bounces());
    EXPECT_EQ(feed->pages, std::vector<unsigned long>{0});

    // A size change lays the same cells out again; a reload asks for new ones.
    auto first = grid->cellAtIndex(0);
    grid->setFrame({{0, 0}, {904, 768}});
    grid->displayIfNeeded();
    EXPECT_EQ(grid->cellAtIndex(0), first);
    EXPECT_EQ(feed->cellsAsked, 26);
    EXPECT_EQ(grid->cellAtIndex(24)->frame().origin, CGPointMake(904 + 3, 3));  // 6 x 4 per page
    grid->reloadData();
    EXPECT_TRUE(grid->scrollView()->subviews().empty());
    grid->displayIfNeeded();
    EXPECT_NE(grid->cellAtIndex(0), first);
    EXPECT_EQ(feed->cellsAsked, 52);
}

TEST_F(OEGridViewTest, LandscapeSwapsTheSetRowsAndColumnsButNotThePageCount) {
    auto grid = gridOf({600, 600}, 7);
    grid->setNumberOfColumns(3);
    grid->setNumberOfRows(2);
    draw(grid);
    EXPECT_EQ(grid->cellAtIndex(3)->frame(), CGRectMake(0, 300, 200, 300));
    EXPECT_EQ(grid->cellAtIndex(6)->frame(), CGRectMake(600, 0, 200, 300));
    EXPECT_EQ(grid->numberOfPages(), 2u);

    UIDevice::currentDevice()->setOrientation(UIDeviceOrientation::LandscapeLeft);
    draw(grid);
    EXPECT_EQ(grid->cellAtIndex(3)->frame(), CGRectMake(300, 200, 300, 200));
    EXPECT_EQ(grid->cellAtIndex(6)->frame(), CGRectMake(600, 0, 300, 200));
    EXPECT_EQ(grid->numberOfPages(), 2u);
}

TEST_F(OEGridViewTest, NoCellsNoSourceOrNoRoomForACellMakeNoPages) {
    auto empty = gridOf({768, 904}, 0);
    empty->setCellWidth(140);
    empty->setCellHeight(180);
    draw(empty);
    EXPECT_EQ(empty->numberOfPages(), 0u);
    EXPECT_TRUE(empty->scrollView()->subviews().empty());
    EXPECT_EQ(feed->pages, std::vector<unsigned long>{0});
    EXPECT_EQ(empty->cellAtIndex(0), nullptr);

    // Narrower than one cell: a page holds nothing, so there are no pages to count.
    auto narrow = gridOf({100, 904}, 5);
    narrow->setCellWidth(140);
    narrow->setCellHeight(180);
    draw(narrow);
    EXPECT_EQ(narrow->numberOfPages(), 0u);
    EXPECT_TRUE(narrow->scrollView()->subviews().empty());

    // Neither rows, columns nor a cell size.
    auto unset = gridOf({768, 904}, 5);
    draw(unset);
    EXPECT_EQ(unset->numberOfPages(), 0u);
    EXPECT_TRUE(unset->scrollView()->subviews().empty());

    auto orphan = OEGridView::initWithFrame({{0, 0}, {768, 904}});
    orphan->setNumberOfColumns(2);
    orphan->setNumberOfRows(2);
    draw(orphan);
    EXPECT_EQ(orphan->numberOfPages(), 0u);
}

TEST_F(OEGridViewTest, TheCurrentPageIsTheOneWhoseMiddleIsNearest) {
    auto grid = gridOf({300, 400}, 10);
    grid->setNumberOfColumns(2);
    grid->setNumberOfRows(2);
    draw(grid);
    ASSERT_EQ(grid->numberOfPages(), 3u);
    auto scroll = grid->scrollView();

    scroll->simulateScroll({300, 0});
    EXPECT_EQ(grid->currentPageIndex(), 1u);
    scroll->setContentOffset({0.4 * 300, 0});
    grid->scrollViewDidEndDecelerating(scroll);
    EXPECT_EQ(grid->currentPageIndex(), 0u);
    scroll->setContentOffset({0.6 * 300, 0});
    grid->scrollViewDidEndDecelerating(scroll);
    EXPECT_EQ(grid->currentPageIndex(), 1u);
    scroll->setContentOffset({600, 0}, true);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(grid->currentPageIndex(), 2u);
    // Only a program gets before the first page.
    scroll->setContentOffset({-250, 0});
    grid->scrollViewDidEndDecelerating(scroll);
    EXPECT_EQ(grid->currentPageIndex(), 0u);
    EXPECT_EQ(feed->pages.back(), 0u);
    // Reported after every scroll that ends, changed or not.
    EXPECT_EQ(feed->pages.size(), 6u);
}

TEST_F(OEGridViewTest, ASingleTapWaitsForASecondOneAndALongPressCountsOncePerTouch) {
    auto grid = gridOf({375, 600}, 4);
    grid->setNumberOfColumns(2);
    grid->setNumberOfRows(2);
    root->view()->addSubview(grid);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    const CGPoint inFirst = grid->convertPointToView({50, 50}, nullptr);
    const CGPoint inLast = grid->convertPointToView({300, 400}, nullptr);

    auto touch = window->touchDown(inLast);
    auto cell = std::dynamic_pointer_cast<CountingCell>(grid->cellAtIndex(3));
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->viewWithTag(OEGridViewCell::kSelectedViewTag));
    window->touchUp(touch);
    Clock::advance(0.09);
    EXPECT_TRUE(feed->events.empty());
    Clock::advance(0.02);
    EXPECT_EQ(feed->events, std::vector<std::string>{"tap 3"});
    Clock::advance(0.5);
    EXPECT_FALSE(cell->viewWithTag(OEGridViewCell::kSelectedViewTag));

    // A quick second touch takes the first tap back.
    feed->events.clear();
    Clock::advance(1);
    touch = window->touchDown(inFirst);
    window->touchUp(touch);
    Clock::advance(0.05);
    touch = window->touchDown(inFirst);
    ASSERT_EQ(touch->tapCount(), 2);
    window->touchUp(touch);
    Clock::advance(1);
    EXPECT_EQ(feed->events, std::vector<std::string>{"double 0"});

    // A slow one does not.
    feed->events.clear();
    touch = window->touchDown(inFirst);
    window->touchUp(touch);
    Clock::advance(0.2);
    touch = window->touchDown(inFirst);
    ASSERT_EQ(touch->tapCount(), 2);
    window->touchUp(touch);
    Clock::advance(1);
    EXPECT_EQ(feed->events, (std::vector<std::string>{"tap 0", "double 0"}));

    Clock::advance(1);
    touch = window->touchDown(inLast);
    Clock::advance(0.6);
    window->touchMove(touch, {inLast.x + 4, inLast.y});
    Clock::advance(0.1);
    window->touchMove(touch, {inLast.x + 8, inLast.y});
    window->touchUp(touch);
    EXPECT_EQ(cell->longPresses, 1);
    Clock::advance(1);
    window->longPress(inLast, 1.0);
    EXPECT_EQ(cell->longPresses, 2);
}
