// Collection screens: the view is a collection view made with the given layout that asks the
// controller for its items, only the visible ones, and loses its selection on appearing.
#include "platform/ui/UICollectionViewController.h"

#include <gtest/gtest.h>

#include <set>

namespace {

class Gallery : public UICollectionViewController {
public:
    using UICollectionViewController::UICollectionViewController;
    long items = 100;
    int countAsked = 0;
    std::set<long> cellsAsked;
    std::vector<NSIndexPath> selections;
    long numberOfItemsInSection(const std::shared_ptr<UICollectionView>&, long) override {
        ++countAsked;
        return items;
    }
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const std::shared_ptr<UICollectionView>& view,
                                                                 const NSIndexPath& path) override {
        cellsAsked.insert(path.item());
        return view->dequeueReusableCellWithReuseIdentifier("Cell", path);
    }
    void didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>&, const NSIndexPath& path) override {
        selections.push_back(path);
    }
};

std::shared_ptr<UICollectionViewFlowLayout> squares() {
    auto layout = UICollectionViewFlowLayout::make();
    layout->setItemSize({100, 100});
    layout->setMinimumLineSpacing(0);
    layout->setMinimumInteritemSpacing(0);
    return layout;
}

std::shared_ptr<Gallery> loadedGallery(const std::shared_ptr<UICollectionViewFlowLayout>& layout) {
    auto gallery = std::make_shared<Gallery>(layout);
    auto view = gallery->collectionView();
    view->registerClass<UICollectionViewCell>("Cell");
    view->setFrame(CGRectMake(0, 0, 300, 300));
    return gallery;
}

TEST(UICollectionViewControllerView, IsACollectionViewWithTheGivenLayoutWiredToTheController) {
    auto layout = squares();
    auto gallery = std::make_shared<Gallery>(layout);
    EXPECT_EQ(gallery->collectionViewLayout(), layout);
    EXPECT_FALSE(gallery->isViewLoaded());
    auto view = std::dynamic_pointer_cast<UICollectionView>(gallery->view());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view, gallery->collectionView());
    EXPECT_EQ(view->collectionViewLayout(), layout);
    EXPECT_EQ(view->dataSource(), gallery);
    EXPECT_EQ(view->delegate(), gallery);
}

TEST(UICollectionViewControllerView, WithoutALayoutAFlowLayoutIsMade) {
    auto controller = UICollectionViewController::initWithCollectionViewLayout(nullptr);
    ASSERT_NE(controller->collectionViewLayout(), nullptr);
    EXPECT_EQ(controller->collectionView()->collectionViewLayout(), controller->collectionViewLayout());
    // The base class has no items: laying out asks for no cells and makes none.
    controller->collectionView()->layoutIfNeeded();
    EXPECT_EQ(controller->collectionView()->numberOfItemsInSection(0), 0);
    EXPECT_TRUE(controller->collectionView()->visibleCells().empty());
}

TEST(UICollectionViewControllerItems, TheViewAsksTheControllerForTheCountAndOnlyTheVisibleCells) {
    auto gallery = loadedGallery(squares());
    gallery->viewWillAppear(false);
    gallery->collectionView()->layoutIfNeeded();
    EXPECT_GT(gallery->countAsked, 0);
    EXPECT_EQ(gallery->collectionView()->numberOfItemsInSection(0), 100);
    // A 300-point square shows three rows of three.
    EXPECT_EQ(gallery->cellsAsked, (std::set<long>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    gallery->collectionView()->setContentOffset({0, 300});
    gallery->collectionView()->layoutIfNeeded();
    EXPECT_EQ(gallery->cellsAsked.count(9), 1u);
    EXPECT_EQ(gallery->cellsAsked.count(30), 0u);
    EXPECT_EQ(gallery->cellsAsked.count(99), 0u);
}

TEST(UICollectionViewControllerSelection, TapsReachTheControllerAndAppearingClearsTheSelection) {
    auto gallery = loadedGallery(squares());
    gallery->viewWillAppear(false);
    gallery->viewDidAppear(false);
    auto view = gallery->collectionView();
    view->layoutIfNeeded();
    view->simulateTapOnItem({0, 4});
    ASSERT_EQ(gallery->selections.size(), 1u);
    EXPECT_EQ(gallery->selections[0], (NSIndexPath{0, 4}));
    EXPECT_EQ(view->indexPathsForSelectedItems().size(), 1u);
    gallery->viewWillDisappear(false);
    gallery->viewDidDisappear(false);
    gallery->viewWillAppear(false);
    EXPECT_TRUE(view->indexPathsForSelectedItems().empty());
}

}  // namespace
