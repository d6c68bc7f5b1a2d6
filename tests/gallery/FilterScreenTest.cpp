// The filter screen and the thumbnail screen's filter: distinct sorted values, ticking, select
// and deselect all compared as sets, Done handing the ticks back once dismissed; the choice
// kept per subcategory, and a new source clearing the filter and its button.
#include "gallery/UIFilter.h"
#include "gallery/UIThumbailViewController.h"

#include "content/OEFilterStorage.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/OECoreStrings.h"

using testing::ElementsAre;

namespace {

// A subcategory's rows given by the test.
class FixedRows : public DataSource {
public:
    explicit FixedRows(ContentRows rows) : rows_(std::make_shared<const ContentRows>(std::move(rows))) {}
    ContentRowList list(const std::shared_ptr<dataSubCat>&) override { return rows_; }

private:
    ContentRowList rows_;
};

class Chosen : public NSObject, public FilterProtocol {
public:
    void filterSelectedItems(const std::vector<std::string>& values) override { calls.push_back(values); }
    std::vector<std::vector<std::string>> calls;
};

class FilterScreenTest : public GalleryFixture {
protected:
    void TearDown() override {
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        GalleryFixture::TearDown();
    }
    void showInWindow(const std::shared_ptr<UIViewController>& root) {
        window_ = UIWindow::initWithFrame({{0, 0}, {320, 480}});
        window_->setRootViewController(root);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    static bool settle(const std::shared_ptr<UIViewController>& controller) {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return !controller->isBeingPresented() && !controller->isBeingDismissed(); }, 20.0);
    }
    static std::string rightTitle(const std::shared_ptr<UIViewController>& screen) {
        auto item = screen->navigationItem()->rightBarButtonItem();
        return item ? item->title() : "";
    }
    static std::string rightImage(const std::shared_ptr<UIViewController>& screen) {
        auto item = screen->navigationItem()->rightBarButtonItem();
        return item && item->image() ? item->image()->name() : "";
    }
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(FilterScreenTest, ValuesAreListedOnceSortedAndTickedAsSets) {
    auto source = std::make_shared<FixedRows>(ContentRows{
        {{"author", Value("b")}}, {{"author", Value("A")}}, {{"name", Value("no author")}}, {{"author", Value("b")}},
        {{"author", Value("c")}}, {{"author", Value(nullptr)}}});
    EXPECT_THAT(UIFilter::listForFilterBy("author", source, nullptr), ElementsAre("b", "A", "c"));
    EXPECT_THAT(UIFilter::collectCheckedListWithFilterList({"x", "y"}, std::nullopt), ElementsAre("x", "y"));
    EXPECT_THAT(UIFilter::collectCheckedListWithFilterList({"x", "y"}, std::vector<std::string>{"y"}), ElementsAre("y"));

    auto filter = UIFilter::filterWithDataSource(source, nullptr, "author", std::nullopt, galleryContext());
    auto chosen = std::make_shared<Chosen>();
    filter->setDelegate(chosen);
    auto navigation = UINavigationController::initWithRootViewController(filter);
    auto host = UIViewController::make();
    showInWindow(host);
    host->presentViewController(navigation, false, nullptr);
    ASSERT_TRUE(settle(navigation));
    EXPECT_THAT(filter->filterList(), ElementsAre("A", "b", "c"));
    EXPECT_EQ(filter->navigationItem()->title(), OECoreString("Select Filter"));
    auto table = filter->tableView();
    ASSERT_EQ(table->numberOfRowsInSection(0), 3);
    auto box = [&](long row) { return table->cellForRowAtIndexPath({0, row})->imageView()->image()->name(); };
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->textLabel()->text(), "b");
    EXPECT_EQ(box(0), "cb_dark_off");
    EXPECT_EQ(rightTitle(filter), OECoreString("Select All"));

    // Ticking every value one by one turns the button at once.
    table->simulateTapOnRow({0, 2});
    table->simulateTapOnRow({0, 0});
    EXPECT_EQ(rightTitle(filter), OECoreString("Select All"));
    table->simulateTapOnRow({0, 1});
    EXPECT_THAT(filter->selectedFilters(), ElementsAre("c", "A", "b"));
    EXPECT_EQ(box(1), "cb_dark_on");
    EXPECT_EQ(rightTitle(filter), OECoreString("Deselect All"));
    filter->navigationItem()->rightBarButtonItem()->simulateTap();
    EXPECT_TRUE(filter->selectedFilters().empty());
    EXPECT_EQ(box(0), "cb_dark_off");
    filter->navigationItem()->rightBarButtonItem()->simulateTap();
    EXPECT_THAT(filter->selectedFilters(), ElementsAre("A", "b", "c"));
    table->simulateTapOnRow({0, 0});  // unticks "A"
    EXPECT_THAT(filter->selectedFilters(), ElementsAre("b", "c"));

    // A kept selection with a value the list no longer has counts as many, but is not all.
    filter->setSelectedFilters({"A", "b", "gone"});
    filter->updateSelectButton();
    EXPECT_FALSE(filter->isAllSelected());
    EXPECT_EQ(rightTitle(filter), OECoreString("Select All"));
    filter->navigationItem()->rightBarButtonItem()->simulateTap();
    EXPECT_THAT(filter->selectedFilters(), ElementsAre("A", "b", "c"));

    // Done with nothing ticked: the delegate hears an empty choice once the screen is gone.
    filter->setSelectedFilters({});
    filter->navigationItem()->leftBarButtonItem()->simulateTap();
    EXPECT_TRUE(chosen->calls.empty());
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !chosen->calls.empty(); }, 20.0));
    EXPECT_FALSE(host->presentedViewController());
    ASSERT_EQ(chosen->calls.size(), 1u);
    EXPECT_TRUE(chosen->calls[0].empty());

    // No values and no ticks: all (nothing) is selected.
    auto empty = UIFilter::initWithFiltersList({}, {}, galleryContext());
    EXPECT_TRUE(empty->isAllSelected());
}

TEST_F(FilterScreenTest, TheThumbnailScreensChoiceIsKeptPerSubcategoryAndANewSourceClearsIt) {
    auto source = catalogue();
    const auto subCats = source->subCatList(source->catList()->front());
    ASSERT_GE(subCats->size(), 2u);
    const auto first = subCats->at(0), second = subCats->at(1);
    const auto rows = source->list(first);
    const std::string author = locale().localizedAuthorFieldValue(rows->front());
    std::size_t byAuthor = 0;
    for (const auto& row : *rows) byAuthor += locale().localizedAuthorFieldValue(row) == author;
    ASSERT_LT(byAuthor, rows->size());

    auto open = [&](const std::shared_ptr<dataSubCat>& subCat, std::shared_ptr<DataSource> from) {
        auto screen = UIThumbailViewController::initWithDataSource(std::move(from), subCat, true, galleryContext());
        showInWindow(UINavigationController::initWithRootViewController(screen));
        return screen;
    };
    auto screen = open(first, source);
    EXPECT_EQ(rightImage(screen), "filter_off");

    // The button opens the filter screen full screen on a phone, over the authors of the list.
    screen->navigationItem()->rightBarButtonItem()->simulateTap();
    auto presented = std::dynamic_pointer_cast<UINavigationController>(screen->navigationController()->presentedViewController());
    ASSERT_TRUE(presented);
    EXPECT_EQ(presented->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);
    auto filter = std::dynamic_pointer_cast<UIFilter>(presented->topViewController());
    ASSERT_TRUE(filter);
    ASSERT_TRUE(settle(presented));
    const auto& authors = filter->filterList();
    const auto at = std::find(authors.begin(), authors.end(), author);
    ASSERT_NE(at, authors.end());
    filter->tableView()->simulateTapOnRow({0, at - authors.begin()});
    filter->doneClick();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !screen->filter().empty(); }, 20.0));
    EXPECT_EQ(screen->images().size(), byAuthor);
    EXPECT_EQ(rightImage(screen), "filter_on");
    EXPECT_EQ(OEFilterStorage::filterForSubCat(*galleryContext().app.fileSystem, first), std::vector<std::string>{author});
    EXPECT_FALSE(OEFilterStorage::filterForSubCat(*galleryContext().app.fileSystem, second));

    // Another subcategory keeps its own (none); the first one's comes back when it opens again.
    auto other = open(second, source);
    EXPECT_EQ(rightImage(other), "filter_off");
    EXPECT_EQ(other->images().size(), source->list(second)->size());
    auto again = open(first, source);
    EXPECT_EQ(again->filter(), std::vector<std::string>{author});
    EXPECT_EQ(rightImage(again), "filter_on");

    // A new source: the filter, its stored choice and the button are cleared.
    again->setDataSource(catalogue());
    EXPECT_TRUE(again->filter().empty());
    EXPECT_EQ(rightImage(again), "filter_off");
    EXPECT_EQ(again->images().size(), rows->size());
    EXPECT_FALSE(OEFilterStorage::filterForSubCat(*galleryContext().app.fileSystem, first));

    // On a pad the filter screen is a form sheet; choosing nothing turns the filter off.
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    again->filterClick();
    auto sheet = std::dynamic_pointer_cast<UINavigationController>(again->navigationController()->presentedViewController());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->modalPresentationStyle(), UIModalPresentationStyle::FormSheet);
    ASSERT_TRUE(settle(sheet));
    again->filterSelectedItems({});
    EXPECT_EQ(rightImage(again), "filter_off");
    sheet->dismissViewControllerAnimated(false, nullptr);
}
