// Collection views: flow-layout positions (from the layout or the delegate), cells only for
// visible items with reuse, selection and batch updates.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UICollectionView.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

class Thumb : public UICollectionViewCell {
public:
    static inline int made = 0;
    Thumb() { ++made; }
};

class Grid : public UICollectionViewDataSource, public UICollectionViewDelegateFlowLayout {
public:
    long items = 20;
    int asked = 0;
    std::optional<CGSize> answer;
    std::vector<NSIndexPath> selectedLog;
    long numberOfItemsInSection(const std::shared_ptr<UICollectionView>&, long) override { return items; }
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const std::shared_ptr<UICollectionView>& view,
                                                                 const NSIndexPath& path) override {
        ++asked;
        return view->dequeueReusableCellWithReuseIdentifier("Thumb", path);
    }
    std::optional<CGSize> sizeForItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath&) override {
        return answer;
    }
    void didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath& path) override {
        selectedLog.push_back(path);
    }
};

std::shared_ptr<UICollectionView> makeGrid(const std::shared_ptr<Grid>& grid,
                                           const std::shared_ptr<UICollectionViewFlowLayout>& layout) {
    auto view = UICollectionView::initWithFrame(CGRectMake(0, 0, 320, 200), layout);
    view->registerClass<Thumb>("Thumb");
    view->setDataSource(grid);
    view->setDelegate(grid);
    view->layoutIfNeeded();
    return view;
}

TEST(FlowLayout, FullLinesSpreadTheirItemsAndTheLastLineKeepsTheColumns) {
    auto layout = UICollectionViewFlowLayout::make();
    layout->setItemSize({100, 80});
    layout->setSectionInset(UIEdgeInsetsMake(10, 5, 10, 5));
    layout->setMinimumInteritemSpacing(2);
    layout->setMinimumLineSpacing(4);
    auto grid = std::make_shared<Grid>();
    grid->items = 7;
    auto view = makeGrid(grid, layout);
    // 310 points across: three items of 100 with the 10 left over shared as two gaps of 5.
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 0}), CGRectMake(5, 10, 100, 80));
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 2}), CGRectMake(215, 10, 100, 80));
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 3}), CGRectMake(5, 94, 100, 80));
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 6}), CGRectMake(5, 178, 100, 80));
    EXPECT_EQ(view->contentSize(), CGSizeMake(320, 268));
    EXPECT_EQ(view->indexPathForItemAtPoint({220, 100}), (NSIndexPath{0, 5}));

    // The delegate's answer wins over the layout's item size; a lone item is centred.
    grid->answer = CGSizeMake(200, 50);
    grid->items = 1;
    view->reloadData();
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 0}), CGRectMake(60, 10, 200, 50));

    layout->setScrollDirection(UICollectionViewScrollDirectionHorizontal);
    grid->answer.reset();
    grid->items = 5;
    view->setCollectionViewLayout(layout);
    // 180 points down: two items of 80 per column, the 20 left over as one gap.
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 1}), CGRectMake(5, 110, 100, 80));
    EXPECT_EQ(view->frameForItemAtIndexPath({0, 2}), CGRectMake(109, 10, 100, 80));
    EXPECT_EQ(view->contentSize(), CGSizeMake(5 + 100 + 4 + 100 + 4 + 100 + 5, 200));
}

TEST(CollectionCells, OnlyVisibleItemsGetCellsAndScrollingReusesThem) {
    auto layout = UICollectionViewFlowLayout::make();
    layout->setItemSize({100, 100});
    layout->setMinimumLineSpacing(0);
    auto grid = std::make_shared<Grid>();
    grid->items = 30;  // ten lines of three
    Thumb::made = 0;
    auto view = makeGrid(grid, layout);
    EXPECT_EQ(grid->asked, 6);  // lines 0 and 1 in 200 points
    EXPECT_EQ(view->visibleCells().size(), 6u);
    auto first = view->cellForItemAtIndexPath({0, 0});
    ASSERT_TRUE(std::dynamic_pointer_cast<Thumb>(first));
    EXPECT_EQ(view->cellForItemAtIndexPath({0, 6}), nullptr);

    view->simulateScroll({0, 600}, true);
    EXPECT_EQ(view->indexPathsForVisibleItems().front(), (NSIndexPath{0, 18}));
    EXPECT_EQ(view->indexPathsForVisibleItems().size(), 6u);
    auto reused = view->cellForItemAtIndexPath({0, 18});
    EXPECT_EQ(view->indexPathForCell(reused), (NSIndexPath{0, 18}));
    EXPECT_EQ(grid->asked, 12);
    EXPECT_EQ(Thumb::made, 6);  // the six cells that left the screen came back
    // Every cell on screen shows a visible item.
    for (const auto& cell : view->visibleCells()) EXPECT_GE(view->indexPathForCell(cell)->row, 18);
}

TEST(CollectionSelection, TapsSelectOneItemAndBatchUpdatesCompleteOnTheNextTurn) {
    auto grid = std::make_shared<Grid>();
    auto view = makeGrid(grid, UICollectionViewFlowLayout::make());
    view->simulateTapOnItem({0, 1});
    view->simulateTapOnItem({0, 2});
    EXPECT_EQ(view->indexPathsForSelectedItems(), (std::vector<NSIndexPath>{{0, 2}}));
    EXPECT_EQ(grid->selectedLog, (std::vector<NSIndexPath>{{0, 1}, {0, 2}}));
    EXPECT_TRUE(view->cellForItemAtIndexPath({0, 2})->isSelected());

    bool completed = false;
    const int reloads = view->reloadCount();
    view->performBatchUpdates([&] {
        grid->items = 2;
        view->deleteItemsAtIndexPaths({{0, 2}});
    }, [&](bool finished) { completed = finished; });
    EXPECT_EQ(view->reloadCount(), reloads + 1);
    EXPECT_EQ(view->numberOfItemsInSection(0), 2);
    EXPECT_TRUE(view->indexPathsForSelectedItems().empty());
    EXPECT_FALSE(completed);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(completed);
}

}  // namespace
