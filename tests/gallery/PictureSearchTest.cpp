// The picture search as a person types it: searches run on the screen's serial queue, waiting
// ones dropped and the running one delivered; the pad's search screen and the phone's overlay
// over the demo catalogue with quotes, "%", "_" and Cyrillic text, the search on a connection of
// its own while the main thread lists; a tapped match opens the pager on the matches.
#include "gallery/GallerySearchViewController.h"
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"

#include "content/SQL_Search_2fields.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoPageViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"

#include <condition_variable>
#include <mutex>

using testing::ElementsAre;

namespace {

constexpr double kSearchSafety = 20.0;

bool pumpSearchUntil(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, kSearchSafety); }

// Holds each search until the test lets it go, and notes where and for what it ran.
class GatedSearch : public UISearchViewController {
public:
    ContentRowList searchResultForString(const std::string& text) override {
        std::unique_lock lock(mutex_);
        searched_.push_back(text);
        onMain_ = onMain_ || NSThread::isMainThread();
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        return std::make_shared<const ContentRows>(ContentRows{{{"text", Value(text)}}});
    }
    void searchResultRecived(const ContentRowList& result) override {
        received_.push_back(result->front().get("text").stringValue());
        receivedOnMain_ = receivedOnMain_ && NSThread::isMainThread();
    }
    void searchStopped() override { ++stopped_; }

    void waitForSearches(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return searched_.size() >= count; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::vector<std::string> searched() {
        std::lock_guard lock(mutex_);
        return searched_;
    }

    std::vector<std::string> received_;
    bool receivedOnMain_ = true;
    bool onMain_ = false;
    int stopped_ = 0;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> searched_;
    bool open_ = false;
};

class PictureSearchTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        NSNotificationCenter::defaultCenter()->addObserver(
            observer_, [shown = picturesShown_](const NSNotification&) { ++*shown; }, kImageViewControllerImageDidShow);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer_);
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        GalleryFixture::TearDown();
    }
    // A pager's page reads its picture and then fades it in, which may end after the pager has
    // come: a test lets the pager go only once the picture has shown, so that no fade outlives it.
    std::size_t picturesShown() const { return *picturesShown_; }
    void showInWindow(const std::shared_ptr<UIViewController>& root, CGSize size) {
        window_ = UIWindow::initWithFrame({{0, 0}, size});
        window_->setRootViewController(root);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        window_->layoutIfNeeded();
    }
    // The catalogue with the product's two-column search on a loader of its own.
    std::shared_ptr<List_DataSource> searchableCatalogue(const std::string& nameField, const std::string& authorField) {
        auto source = catalogue();
        source->setSearch(SQL_Search_2fields::sqlSearchWithLoader(imagesLoader(), nameField, authorField));
        return source;
    }
    // The demo paintings whose title or painter's name in `language` contains `text`, sorted.
    static std::vector<std::string> expectedTitles(const std::string& text, const std::string& language) {
        std::vector<std::string> titles;
        for (const auto& painting : DemoCatalogue::paintings()) {
            std::string painter;
            for (const auto& p : DemoCatalogue::painters())
                if (p.index == painting.painter) painter = p.name.in(language).empty() ? p.name.in("en") : p.name.in(language);
            const std::string title = painting.title.in(language);
            if (title.find(text) != std::string::npos || painter.find(text) != std::string::npos)
                titles.push_back(painting.title.in("en"));
        }
        std::sort(titles.begin(), titles.end());
        return titles;
    }
    static std::vector<std::string> titlesOf(const ContentRowList& rows) {
        std::vector<std::string> titles;
        if (rows)
            for (const auto& row : *rows) titles.push_back(row.get("name_en").stringValue());
        std::sort(titles.begin(), titles.end());
        return titles;
    }

    std::shared_ptr<UIWindow> window_;
    std::shared_ptr<NSObject> observer_ = std::make_shared<NSObject>();
    std::shared_ptr<std::size_t> picturesShown_ = std::make_shared<std::size_t>(0);
};

}  // namespace

TEST_F(PictureSearchTest, TypingQuicklyRunsTheRunningAndTheLastSearchOffTheMainThreadAndShowsThemInTurn) {
    auto screen = std::make_shared<GatedSearch>();
    showInWindow(screen, {768, 1024});
    auto bar = screen->searchController()->searchBar();
    EXPECT_TRUE(bar->showsCancelButton());
    EXPECT_EQ(screen->searchQueue()->maxConcurrentOperationCount(), 1);

    ASSERT_TRUE(bar->simulateTyping("M"));
    screen->waitForSearches(1);  // running, held
    ASSERT_TRUE(bar->simulateTyping("o"));
    ASSERT_TRUE(bar->simulateTyping("n"));
    // The running search and one waiting: "Mo" was dropped when "Mon" came.
    EXPECT_EQ(screen->searchQueue()->operationCount(), 2u);
    screen->open();
    ASSERT_TRUE(pumpSearchUntil([&] { return screen->received_.size() == 2; }));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_THAT(screen->searched(), ElementsAre("M", "Mon"));
    EXPECT_THAT(screen->received_, ElementsAre("M", "Mon"));
    EXPECT_FALSE(screen->onMain_);
    EXPECT_TRUE(screen->receivedOnMain_);

    // Clearing the text stops; the cancel button ends the search and calls the cancel block.
    const int stopped = screen->stopped_;
    ASSERT_TRUE(bar->simulateReplaceText(""));
    EXPECT_EQ(screen->stopped_, stopped + 1);
    std::shared_ptr<UISearchViewController> cancelled;
    screen->setCancelBlock([&](const std::shared_ptr<UISearchViewController>& c) { cancelled = c; });
    bar->simulateCancelButton();
    EXPECT_FALSE(screen->searchController()->isActive());
    EXPECT_EQ(screen->stopped_, stopped + 2);
    EXPECT_EQ(cancelled, screen);
}

TEST_F(PictureSearchTest, ThePadSearchFindsQuotesWildcardsAndCyrillicWhileTheMainThreadListsAndOpensThePager) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = searchableCatalogue("name_en", "author_name_en");
    auto screen = GallerySearchViewController::initWithSource(source, galleryContext());
    showInWindow(screen, {768, 1024});
    auto table = screen->tableView();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->tableHeaderView(), screen->searchController()->searchBar());
    EXPECT_FALSE(screen->searchController()->dimsBackgroundDuringPresentation());
    EXPECT_EQ(table->numberOfRowsInSection(0), 0);  // the empty text matches nothing

    auto bar = screen->searchController()->searchBar();
    auto search = [&](const std::string& text) {
        EXPECT_TRUE(bar->simulateReplaceText(text));
        // The main thread goes on listing on its own connection meanwhile.
        const auto cats = source->catList();
        for (const auto& cat : *cats) EXPECT_TRUE(source->subCatList(cat));
        screen->searchQueue()->waitUntilAllOperationsAreFinished();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return titlesOf(screen->searchDelegate()->dataSource()->searchLast());
    };
    for (const std::string text : {"'", "%", "_", "Rembrandt", "Night"}) {
        SCOPED_TRACE(text);
        const auto found = search(text);
        EXPECT_EQ(found, expectedTitles(text, "en"));
        EXPECT_EQ(table->numberOfRowsInSection(0), static_cast<long>(found.size()));
    }
    EXPECT_FALSE(expectedTitles("'", "en").empty());
    EXPECT_FALSE(expectedTitles("Rembrandt", "en").empty());

    // Ending the search shows the empty list again.
    ASSERT_TRUE(bar->simulateReplaceText("Rembrandt"));
    screen->searchQueue()->waitUntilAllOperationsAreFinished();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    const auto rembrandt = screen->searchDelegate()->dataSource()->searchLast();
    ASSERT_GE(rembrandt->size(), 2u);

    // A match tapped while the bar is active: the pager over the matches at that one, presented
    // full screen with a cross-dissolve by the search controller.
    auto open = [&](long row, const std::shared_ptr<UIViewController>& presenter) {
        const std::size_t shownBefore = picturesShown();
        screen->itemSelected({0, row}, source);
        auto presented = std::dynamic_pointer_cast<UINavigationController>(presenter->presentedViewController());
        EXPECT_TRUE(presented);
        if (!presented) return std::shared_ptr<PhotoPageViewController>();
        EXPECT_EQ(presented->modalTransitionStyle(), UIModalTransitionStyle::CrossDissolve);
        EXPECT_EQ(presented->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);
        auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(presented->topViewController());
        EXPECT_TRUE(pumpSearchUntil([&] { return picturesShown() > shownBefore && !presented->isBeingPresented(); }));
        presented->dismissViewControllerAnimated(false, nullptr);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return pager;
    };
    ASSERT_TRUE(screen->searchController()->isActive());
    auto pager = open(1, screen->searchController());
    ASSERT_TRUE(pager);
    EXPECT_EQ(pager->imagesData(), rembrandt);
    EXPECT_EQ(pager->dataSource(), source);

    screen->searchController()->setActive(false);
    EXPECT_EQ(table->numberOfRowsInSection(0), 0);
    // With the bar inactive the search screen itself presents.
    screen->searchDelegate()->dataSource()->setLastSearch(rembrandt);
    EXPECT_TRUE(open(0, screen));

    // Cyrillic: in Russian the search reads the base columns.
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value("ru")}), "AppleLanguages"));
    source->setSearch(SQL_Search_2fields::sqlSearchWithLoader(imagesLoader(), "name", "author_name"));
    for (const std::string text : {"Репин", "вечеря"}) {
        SCOPED_TRACE(text);
        const auto found = search(text);
        EXPECT_FALSE(found.empty());
        EXPECT_EQ(found, expectedTitles(text, "ru"));
    }
    screen->searchController()->setActive(false);
}

TEST_F(PictureSearchTest, ThePadBrowsersSearchButtonPresentsTheSearchAndItsCancelDismissesIt) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = searchableCatalogue("name_en", "author_name_en");
    auto browser = UIDBViewController_iPad::initWithSource(source, galleryContext());
    auto split = UISplitViewController::make();
    split->setViewControllers({UINavigationController::initWithRootViewController(browser)});
    showInWindow(split, {1024, 768});
    const auto& items = browser->navigationItem()->rightBarButtonItems();
    ASSERT_FALSE(items.empty());
    items.back()->simulateTap();
    auto search = std::dynamic_pointer_cast<GallerySearchViewController>(split->presentedViewController());
    ASSERT_TRUE(search);
    EXPECT_EQ(search->searchDelegate()->dataSource(), source);
    ASSERT_TRUE(pumpSearchUntil([&] { return !search->isBeingPresented(); }));
    // Ready for typing, as the phone's search bar is once touched.
    EXPECT_TRUE(search->searchController()->searchBar()->isFirstResponder());
    search->searchController()->searchBar()->simulateCancelButton();
    ASSERT_TRUE(pumpSearchUntil([&] { return !split->presentedViewController(); }));
}

TEST_F(PictureSearchTest, ThePhoneSearchShowsMatchesInItsOverlayAndATappedOnePushesThePager) {
    auto source = searchableCatalogue("name_en", "author_name_en");
    auto browser = UIDBViewController_iPhone::initWithSource(source, galleryContext());
    auto navigation = UINavigationController::initWithRootViewController(browser);
    showInWindow(navigation, {375, 667});
    auto search = browser->navigationItem()->searchController();
    ASSERT_TRUE(search);
    EXPECT_FALSE(browser->navigationItem()->hidesSearchBarWhenScrolling());
    EXPECT_TRUE(search->dimsBackgroundDuringPresentation());
    EXPECT_TRUE(search->hidesNavigationBarDuringPresentation());
    EXPECT_EQ(search->searchResultsController(), browser->searchResultsController());
    auto overlay = browser->searchResultsController()->tableView();
    EXPECT_EQ(overlay->contentInset().top, -40);
    EXPECT_EQ(overlay->dataSource(), browser->searchDelegate());
    EXPECT_EQ(browser->searchDelegate()->dataSource(), source);

    auto bar = search->searchBar();
    ASSERT_TRUE(bar->becomeFirstResponder());
    EXPECT_TRUE(search->isActive());
    EXPECT_TRUE(navigation->isToolbarHidden());
    EXPECT_FALSE(browser->tableView()->isScrollEnabled());

    ASSERT_TRUE(bar->simulateTyping("Rembrandt"));
    browser->searchQueue()->waitUntilAllOperationsAreFinished();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(titlesOf(source->searchLast()), expectedTitles("Rembrandt", "en"));
    ASSERT_GE(overlay->numberOfRowsInSection(0), 2);

    // A tapped match: the pager over the matches at that index, pushed.
    overlay->layoutIfNeeded();
    const std::size_t shownBefore = picturesShown();
    overlay->simulateTapOnRow({0, 1});
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(navigation->topViewController());
    ASSERT_TRUE(pager);
    EXPECT_EQ(pager->imagesData(), source->searchLast());
    ASSERT_TRUE(pumpSearchUntil([&] {
        return picturesShown() > shownBefore && !pager->isMovingToParentViewController() && pager->isViewLoaded() &&
               pager->view()->window();
    }));
    navigation->popViewControllerAnimated(false);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // Clearing the text forgets the matches without reloading the overlay.
    overlay->clearUpdateLog();
    ASSERT_TRUE(bar->simulateReplaceText(""));
    EXPECT_EQ(source->searchLast(), nullptr);
    EXPECT_TRUE(overlay->updateLog().empty());

    // Ending the search gives the browser back its scrolling and its toolbar.
    search->setActive(false);
    EXPECT_FALSE(navigation->isToolbarHidden());
    EXPECT_TRUE(browser->tableView()->isScrollEnabled());
}
