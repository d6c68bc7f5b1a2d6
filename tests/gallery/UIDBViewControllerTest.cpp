// The category browser over the demo catalogue, phone and pad: the first grouping from the
// given source, groupings made once and reused, the layouts per grouping, and row selection
// (the pad's remembered row across grouping switches and data changes, the phone's none).
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"

#include "content/ListOtherSubCat_DataSource.h"
#include "config/OEConfig.h"
#include "gallery/ImageCell_TableViewDelegate.h"
#include "gallery/StandartCellInfo_TableViewDelegate.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIFavoritesImagesViewController.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/UIStandartInfoCell.h"

#include <set>

using testing::ElementsAre;

namespace {

class UIDBViewControllerTest : public GalleryFixture {
protected:
    void TearDown() override {
        Clock::setReal();
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        GalleryFixture::TearDown();
    }
    // The browser as the root of a navigation controller in a visible window.
    void show(const std::shared_ptr<UIDBViewController>& browser, CGSize size) {
        browser_ = browser;
        navigation_ = UINavigationController::initWithRootViewController(browser);
        window_ = UIWindow::initWithFrame({{0, 0}, size});
        window_->setRootViewController(navigation_);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        window_->layoutIfNeeded();
    }
    std::shared_ptr<UITableView> table() const { return browser_->tableView(); }
    std::vector<std::string> rowNames() const {
        std::vector<std::string> names;
        auto delegate = browser_->currentTableViewDelegate();
        for (long s = 0; s < table()->numberOfSections(); ++s)
            for (long r = 0; r < table()->numberOfRowsInSection(s); ++r)
                names.push_back(delegate->subCatForIndexPath({s, r})->data().get("name_en").stringValue());
        return names;
    }
    void choose(std::size_t segment) { browser_->segmentedControl()->simulateTapOnSegment(segment); }
    static NSIndexPath lastRowOf(const std::shared_ptr<UITableView>& table, long section) {
        return {section, table->numberOfRowsInSection(section) - 1};
    }

    std::shared_ptr<UIDBViewController> browser_;
    std::shared_ptr<UINavigationController> navigation_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(UIDBViewControllerTest, ThePhoneBrowserOpensOnTheGenreGroupingOfItsSource) {
    auto source = catalogue();
    auto browser = UIDBViewController_iPhone::initWithSource(source, galleryContext());
    EXPECT_FALSE(browser->isViewLoaded());
    EXPECT_EQ(browser->mode(), 0);
    EXPECT_TRUE(browser->tableDelegates().empty());
    show(browser, {375, 667});

    EXPECT_EQ(browser->navigationItem()->title(), NSLocalizedString("IMAGES_TITLE"));
    EXPECT_EQ(browser->navigationItem()->backBarButtonItem()->title(), "Back");
    EXPECT_TRUE(browser->navigationItem()->leftBarButtonItem());
    EXPECT_FALSE(navigation_->isToolbarHidden());
    const auto color = galleryContext().app.config->color()->backgroundColor();
    EXPECT_DOUBLE_EQ(browser->view()->backgroundColor()->red(), color.red);

    ASSERT_EQ(browser->toolbarItems().size(), 3u);
    EXPECT_TRUE(browser->toolbarItems()[0]->isSpace());
    EXPECT_TRUE(browser->toolbarItems()[2]->isSpace());
    auto segments = browser->segmentedControl();
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->numberOfSegments(), 2u);
    EXPECT_EQ(segments->titleForSegmentAtIndex(0), NSLocalizedStringFromTable("By Janre", "Core"));
    EXPECT_EQ(segments->titleForSegmentAtIndex(1), NSLocalizedStringFromTable("By Name", "Core"));
    EXPECT_EQ(segments->titleForSegmentAtIndex(0), "By Genre");
    EXPECT_EQ(segments->selectedSegmentIndex(), 0);

    ASSERT_EQ(browser->tableDelegates().size(), 1u);
    auto delegate = std::dynamic_pointer_cast<ImageCell_TableViewDelegate>(browser->tableDelegates().at("subCat"));
    ASSERT_TRUE(delegate);
    EXPECT_EQ(browser->currentTableViewDelegate(), delegate);
    EXPECT_EQ(delegate->dataSource(), source);
    EXPECT_EQ(delegate->cellHeight(), 115u);
    EXPECT_EQ(table()->dataSource(), delegate);
    EXPECT_EQ(table()->numberOfSections(), static_cast<long>(kDemoBigCatCount));
    EXPECT_EQ(rowNames().size(), kDemoGenreGroupsWithPaintings);

    // A known group with its picture count.
    const auto& portraits = DemoCatalogue::genreGroups().front();
    auto cell = std::dynamic_pointer_cast<UIImageCell>(table()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    const auto record = delegate->subCatForIndexPath({0, 0});
    EXPECT_EQ(cell->mainText()->text(), record->data().get("name_en").stringValue());
    std::size_t expected = 0;
    for (const auto& painting : DemoCatalogue::paintings())
        if (DemoCatalogue::genreGroupOf(painting) == record->index()) ++expected;
    EXPECT_EQ(source->list(record)->size(), expected);
    EXPECT_NE(std::find(rowNames().begin(), rowNames().end(), portraits.name.en), rowNames().end());
}

TEST_F(UIDBViewControllerTest, AGroupingIsReadOnceWhenFirstChosenAndReusedAfterwards) {
    auto source = catalogue();
    show(UIDBViewController_iPhone::initWithSource(source, galleryContext()), {375, 667});
    const auto first = browser_->currentTableViewDelegate();

    choose(1);
    EXPECT_EQ(browser_->mode(), 1);
    ASSERT_EQ(browser_->tableDelegates().size(), 2u);
    const auto second = browser_->tableDelegates().at("subCat2");
    EXPECT_EQ(browser_->currentTableViewDelegate(), second);
    EXPECT_TRUE(std::dynamic_pointer_cast<ImageCell_TableViewDelegate>(second));
    auto bySecond = std::dynamic_pointer_cast<ListOtherSubCat_DataSource>(second->dataSource());
    ASSERT_TRUE(bySecond);
    EXPECT_EQ(bySecond->groupingTable(), "subCat2");
    const auto names = rowNames();
    ASSERT_EQ(names.size(), kDemoPainterGroupCount);
    for (const auto& painter : DemoCatalogue::painterGroups())
        EXPECT_NE(std::find(names.begin(), names.end(), painter.name.en), names.end()) << painter.name.en;

    choose(0);
    EXPECT_EQ(browser_->mode(), 0);
    EXPECT_EQ(browser_->currentTableViewDelegate(), first);
    EXPECT_EQ(first->dataSource(), source);
    choose(1);
    EXPECT_EQ(browser_->currentTableViewDelegate(), second);
    EXPECT_EQ(second->dataSource(), bySecond);
    EXPECT_EQ(browser_->tableDelegates().size(), 2u);
}

TEST_F(UIDBViewControllerTest, TheAuthorGroupingListsPaintersWithTheirCounts) {
    configureGroupings({{"subCat", "By Century"}, {"subCat2", "By Janre"}, {"author", "By Name"}});
    show(UIDBViewController_iPhone::initWithSource(catalogue(), galleryContext()), {375, 667});
    ASSERT_EQ(browser_->segmentedControl()->numberOfSegments(), 3u);
    choose(2);
    auto delegate = std::dynamic_pointer_cast<StandartCellInfo_TableViewDelegate>(browser_->currentTableViewDelegate());
    ASSERT_TRUE(delegate);
    auto cell = std::dynamic_pointer_cast<UIStandartInfoCell>(table()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(cell);
    const auto record = delegate->subCatForIndexPath({0, 0});
    const auto pictures = delegate->dataSource()->list(record);
    EXPECT_EQ(cell->detail()->text(), "paintings " + std::to_string(pictures ? pictures->size() : 0));
    EXPECT_EQ(table()->rectForRowAtIndexPath({0, 0}).size.height, 44);
}

TEST_F(UIDBViewControllerTest, ThePhonePushesTheTappedSubcategoryAndKeepsNoRowSelected) {
    Clock::setManual();
    auto source = catalogue();
    show(UIDBViewController_iPhone::initWithSource(source, galleryContext()), {375, 667});
    EXPECT_FALSE(table()->indexPathForSelectedRow());
    table()->simulateTapOnRow({0, 1});
    EXPECT_FALSE(table()->indexPathForSelectedRow());
    EXPECT_FALSE(browser_->isSelected({0, 1}, browser_->source()));
    EXPECT_FALSE(table()->cellForRowAtIndexPath({0, 1})->isSelected());

    auto thumbnails = std::dynamic_pointer_cast<UIThumbailViewController>(navigation_->topViewController());
    ASSERT_TRUE(thumbnails);
    EXPECT_EQ(thumbnails->dataSubCat(), (*source->subCatList((*source->catList())[0]))[1]);
    EXPECT_EQ(thumbnails->originalDataSource(), source);
    EXPECT_TRUE(thumbnails->alowFilter());
    Clock::advance(1);
    EXPECT_TRUE(thumbnails->hasAppeared());
    navigation_->popViewControllerAnimated(false);

    // Opened from another grouping, the screen offers no filter.
    choose(1);
    table()->simulateTapOnRow({0, 0});
    thumbnails = std::dynamic_pointer_cast<UIThumbailViewController>(navigation_->topViewController());
    ASSERT_TRUE(thumbnails);
    EXPECT_EQ(thumbnails->originalDataSource(), browser_->tableDelegates().at("subCat2")->dataSource());
    EXPECT_FALSE(thumbnails->alowFilter());
    Clock::advance(1);
    EXPECT_TRUE(thumbnails->hasAppeared());
}

TEST_F(UIDBViewControllerTest, ThePadShowsTheChosenSubcategoryInTheDetailPane) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = catalogue();
    auto browser = UIDBViewController_iPad::initWithSource(source, galleryContext());
    auto master = UINavigationController::initWithRootViewController(browser);
    auto split = UISplitViewController::make();
    split->setViewControllers({master});
    window_ = UIWindow::initWithFrame({{0, 0}, {1024, 768}});
    window_->setRootViewController(split);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    browser_ = browser;

    auto detail = [&] {
        EXPECT_EQ(split->viewControllers().size(), 2u);
        EXPECT_EQ(split->viewControllers().front(), master);
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers().back());
        return navigation ? std::dynamic_pointer_cast<UIThumbailViewController>(navigation->topViewController()) : nullptr;
    };
    // The first subcategory fills the pane from the start.
    auto first = detail();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->dataSubCat(), browser->curSubCat());
    EXPECT_TRUE(first->alowFilter());

    table()->simulateTapOnRow({0, 5});
    auto chosen = detail();
    ASSERT_TRUE(chosen);
    EXPECT_NE(chosen, first);
    EXPECT_EQ(chosen->dataSubCat(), (*source->subCatList((*source->catList())[0]))[5]);

    choose(1);
    table()->simulateTapOnRow({0, 1});
    auto regrouped = detail();
    ASSERT_TRUE(regrouped);
    EXPECT_FALSE(regrouped->alowFilter());
    EXPECT_EQ(regrouped->dataSubCat(), browser->curSubCat());
}

TEST_F(UIDBViewControllerTest, TheFavouritesButtonPushesTheFavouritesScreenOnThePhone) {
    Clock::setManual();
    show(UIDBViewController_iPhone::initWithSource(catalogue(), galleryContext()), {375, 667});
    auto button = browser_->navigationItem()->rightBarButtonItem();
    ASSERT_TRUE(button);
    ASSERT_TRUE(button->image());
    EXPECT_EQ(button->image()->name(), "favorite");
    button->simulateTap();
    auto favourites = std::dynamic_pointer_cast<UIFavoritesImagesViewController>(navigation_->topViewController());
    ASSERT_TRUE(favourites);
    EXPECT_EQ(favourites->selectedFavoritesMode(), UIFavoritesImagesViewController::kModeFavorites);
    EXPECT_TRUE(favourites->alowFilter());
    Clock::advance(1);
    EXPECT_TRUE(favourites->hasAppeared());
}

TEST_F(UIDBViewControllerTest, ThePadShowsFavouritesInTheDetailPaneAndForgetsTheMarkedRow) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto browser = UIDBViewController_iPad::initWithSource(catalogue(), galleryContext());
    auto master = UINavigationController::initWithRootViewController(browser);
    auto split = UISplitViewController::make();
    split->setViewControllers({master});
    window_ = UIWindow::initWithFrame({{0, 0}, {1024, 768}});
    window_->setRootViewController(split);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    browser_ = browser;
    table()->simulateTapOnRow({0, 2});
    ASSERT_TRUE(browser->curSubCat());

    browser->navigationItem()->rightBarButtonItem()->simulateTap();
    ASSERT_EQ(split->viewControllers().size(), 2u);
    EXPECT_EQ(split->viewControllers().front(), master);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers().back());
    ASSERT_TRUE(navigation);
    EXPECT_TRUE(std::dynamic_pointer_cast<UIFavoritesImagesViewController>(navigation->topViewController()));
    EXPECT_FALSE(browser->curSubCat());
    EXPECT_FALSE(browser->curSelectedIndexPath());
    EXPECT_FALSE(table()->indexPathForSelectedRow());
    EXPECT_FALSE(browser->isSelected({0, 2}, browser->source()));
    // A grouping switch and back scrolls to the first row, as nothing is remembered.
    EXPECT_EQ(browser->selectedRowIndexPath(), NSIndexPath::indexPathForRow(0, 0));
}

TEST_F(UIDBViewControllerTest, ThePadMarksTheFirstSubcategoryAndMovesTheMarkOnATap) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = catalogue();
    auto browser = UIDBViewController_iPad::initWithSource(source, galleryContext());
    const auto firstRecord = (*source->subCatList((*source->catList())[0]))[0];
    EXPECT_EQ(browser->curSubCat(), firstRecord);
    EXPECT_EQ(browser->curSelectedIndexPath(), (NSIndexPath{0, 0}));
    EXPECT_FALSE(browser->lastSelectedInDelegate());

    show(browser, {768, 1024});
    auto delegate = std::dynamic_pointer_cast<ImageCell_TableViewDelegate>(browser->currentTableViewDelegate());
    ASSERT_TRUE(delegate);
    EXPECT_EQ(delegate->cellHeight(), 149u);
    EXPECT_EQ(browser->lastSelectedInDelegate(), delegate);
    EXPECT_EQ(browser->curSubCat(), firstRecord);
    EXPECT_THAT(table()->indexPathsForSelectedRows(), ElementsAre(NSIndexPath{0, 0}));

    table()->simulateTapOnRow({0, 5});
    EXPECT_EQ(browser->curSelectedIndexPath(), (NSIndexPath{0, 5}));
    EXPECT_EQ(browser->curSubCat(), (*source->subCatList((*source->catList())[0]))[5]);
    EXPECT_THAT(table()->indexPathsForSelectedRows(), ElementsAre(NSIndexPath{0, 5}));
    EXPECT_TRUE(browser->isSelected({0, 5}, source));
    EXPECT_FALSE(browser->isSelected({0, 0}, source));
}

TEST_F(UIDBViewControllerTest, ThePadMarkBelongsToItsGroupingAndComesBackWithIt) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto browser = UIDBViewController_iPad::initWithSource(catalogue(), galleryContext());
    show(browser, {768, 600});
    table()->simulateTapOnRow({0, 3});
    const auto remembered = browser->curSubCat();

    choose(1);
    EXPECT_TRUE(table()->indexPathsForSelectedRows().empty());
    EXPECT_EQ(browser->selectedRowIndexPath(), (NSIndexPath{0, 0}));
    EXPECT_EQ(table()->contentOffset().y, 0);
    // A subcategory of the second grouping takes the mark.
    table()->simulateTapOnRow({0, 1});
    EXPECT_NE(browser->curSubCat(), remembered);
    EXPECT_EQ(browser->lastSelectedInDelegate(), browser->tableDelegates().at("subCat2"));

    choose(0);
    EXPECT_TRUE(table()->indexPathsForSelectedRows().empty());
    table()->simulateTapOnRow({0, 3});
    choose(1);
    choose(0);
    EXPECT_THAT(table()->indexPathsForSelectedRows(), ElementsAre(NSIndexPath{0, 3}));
    EXPECT_GT(table()->contentOffset().y, 0);
    const CGRect row = table()->rectForRowAtIndexPath({0, 3});
    EXPECT_NEAR(CGRectGetMidY(row) - table()->contentOffset().y, table()->bounds().size.height / 2, 1.0);
}

TEST_F(UIDBViewControllerTest, ThePadNeverScrollsToTheLastRowOfASection) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto browser = UIDBViewController_iPad::initWithSource(catalogue(), galleryContext());
    show(browser, {768, 600});
    const NSIndexPath last = lastRowOf(table(), 0);
    table()->simulateTapOnRow(last);
    choose(1);
    ASSERT_EQ(table()->contentOffset().y, 0);
    choose(0);
    EXPECT_EQ(browser->selectedRowIndexPath(), last);
    // Not scrolled to, so its row is not even filled (and marked) yet.
    EXPECT_EQ(table()->contentOffset().y, 0);
    EXPECT_FALSE(table()->cellForRowAtIndexPath(last));

    // One row before the last is scrolled to the middle.
    const NSIndexPath beforeLast{0, last.row - 1};
    table()->simulateTapOnRow(beforeLast);
    choose(1);
    choose(0);
    EXPECT_GT(table()->contentOffset().y, 0);
}

TEST_F(UIDBViewControllerTest, AfterTheSourceDropsItsListsNoRowIsMarkedUntilTheNextTap) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = catalogue();
    auto browser = UIDBViewController_iPad::initWithSource(source, galleryContext());
    show(browser, {768, 1024});
    ASSERT_FALSE(table()->indexPathsForSelectedRows().empty());

    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    table()->reloadData();
    EXPECT_TRUE(table()->indexPathsForSelectedRows().empty());
    EXPECT_FALSE(browser->isSelected({0, 0}, source));

    table()->simulateTapOnRow({0, 0});
    table()->reloadData();
    EXPECT_THAT(table()->indexPathsForSelectedRows(), ElementsAre(NSIndexPath{0, 0}));
}

TEST_F(UIDBViewControllerTest, EveryAppearanceHandsTheScreenBackToTheKeptDelegates) {
    show(UIDBViewController_iPhone::initWithSource(catalogue(), galleryContext()), {375, 667});
    choose(1);
    for (const auto& [identifier, delegate] : browser_->tableDelegates()) delegate->setDelegate(nullptr);
    navigation_->setToolbarHidden(true);
    browser_->viewWillAppear(false);
    for (const auto& [identifier, delegate] : browser_->tableDelegates()) {
        EXPECT_EQ(delegate->delegate(), std::static_pointer_cast<TableViewDelegateProtocol>(browser_)) << identifier;
    }
    EXPECT_FALSE(navigation_->isToolbarHidden());
}
