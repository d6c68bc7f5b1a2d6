// The favourites and most liked pictures screen over the demo catalogue and the demo content
// server on 127.0.0.1: favourites read again on every switch and on "MessageDataUpdated" from
// the screen's own source, the popular list in the server's order without null or unknown
// pictures, the error alert with an empty list, and a late popular answer that arrives after
// the user went back to the favourites.
#include "gallery/UIFavoritesImagesViewController.h"

#include "content/Favorites_DataSource.h"
#include "content/Loader.h"
#include "content/OELikesManager.h"
#include "content/dbEntry.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"

#include <algorithm>
#include <atomic>

namespace {

constexpr double kFavoritesWait = 20.0;

class FavoritesScreenTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        server_ = startContentServer();
        ASSERT_TRUE(server_);
        context_ = galleryContext();
        context_.app.config->urlFormat()->setLikesRequest(server_->host() + "/likes/likes.php?app_id=%@");
        context_.likes = OELikesManager::initWithConfig(context_.app.config);
    }
    void TearDown() override {
        window_.reset();
        screen_.reset();
        navigation_.reset();
        if (server_) server_->releaseStalls();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
        server_.reset();
        GalleryFixture::TearDown();
    }

    void show() {
        screen_ = UIFavoritesImagesViewController::make(context_);
        navigation_ = UINavigationController::initWithRootViewController(screen_);
        window_ = UIWindow::initWithFrame({{0, 0}, {375, 667}});
        window_->setRootViewController(navigation_);
        window_->makeKeyAndVisible();
        ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    }
    static bool pumpUntil(const std::function<bool()>& done) {
        return NSRunLoop::mainRunLoop()->runUntil(done, kFavoritesWait);
    }
    bool spinning() const {
        for (const auto& sub : screen_->view()->subviews())
            if (std::dynamic_pointer_cast<UIActivityIndicatorView>(sub)) return true;
        return false;
    }
    void choose(std::size_t segment) { screen_->modeSelector()->simulateTapOnSegment(segment); }
    std::vector<int> shown() const {
        std::vector<int> indexes;
        for (const auto& row : screen_->images()) indexes.push_back(row.get("index").intValue());
        return indexes;
    }
    std::shared_ptr<UIAlertController> alert() const {
        return std::dynamic_pointer_cast<UIAlertController>(navigation_->presentedViewController());
    }
    // Favourites stored through a source of their own, as another screen would.
    void addFavoriteElsewhere(int index) {
        auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(context_.app.config->database()), context_.app);
        ASSERT_TRUE(Favorites_DataSource::initWithLoader(loader)->addToFavorites({{"index", Value(index)}}));
    }

    std::unique_ptr<ContentServer> server_;
    GalleryContext context_;
    std::shared_ptr<UIFavoritesImagesViewController> screen_;
    std::shared_ptr<UINavigationController> navigation_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(FavoritesScreenTest, FavouritesFollowTheirOwnSourceAndAreReadAgainOnEverySwitch) {
    const int monaLisa = demoPaintingTitled("Mona Lisa"), nightWatch = demoPaintingTitled("The Night Watch");
    show();
    EXPECT_EQ(screen_->selectedFavoritesMode(), UIFavoritesImagesViewController::kModeFavorites);
    EXPECT_EQ(screen_->navigationItem()->titleView(), screen_->modeSelector());
    EXPECT_EQ(screen_->modeSelector()->titleForSegmentAtIndex(0), "Favorites");
    EXPECT_EQ(screen_->modeSelector()->titleForSegmentAtIndex(1), "Popular");
    EXPECT_TRUE(shown().empty());

    // Stored through the screen's own source: "MessageDataUpdated" reloads the screen.
    ASSERT_TRUE(screen_->dataSource()->addToFavorites({{"index", Value(monaLisa)}}));
    EXPECT_EQ(shown(), std::vector<int>{monaLisa});

    // Stored elsewhere: the favourites source keeps its list until a switch reads it again.
    addFavoriteElsewhere(nightWatch);
    EXPECT_EQ(shown(), std::vector<int>{monaLisa});
    choose(1);
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    choose(0);
    EXPECT_TRUE(shown().empty());
    EXPECT_TRUE(spinning());
    EXPECT_EQ(screen_->title(), "Favorites");
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    EXPECT_EQ(shown(), (std::vector<int>{monaLisa, nightWatch}));

    ASSERT_TRUE(screen_->dataSource()->deleteFromFavorites({{"index", Value(monaLisa)}}));
    EXPECT_EQ(shown(), std::vector<int>{nightWatch});
}

// The top-rated source is the favourites source, whatever it is given: a new one over the
// images database on each call, listing what the screen lists in favourites mode.
TEST_F(FavoritesScreenTest, TheTopRatedSourceIsANewFavouritesSourceListingWhatTheScreenLists) {
    const int monaLisa = demoPaintingTitled("Mona Lisa"), nightWatch = demoPaintingTitled("The Night Watch");
    addFavoriteElsewhere(nightWatch);
    addFavoriteElsewhere(monaLisa);
    show();
    const auto sender = std::make_shared<NSObject>();
    auto topRated = UIFavoritesImagesViewController::topRatedDataSource(context_, sender);
    ASSERT_NE(std::dynamic_pointer_cast<Favorites_DataSource>(topRated), nullptr);
    EXPECT_NE(topRated, UIFavoritesImagesViewController::topRatedDataSource(context_, nullptr));
    EXPECT_NE(topRated, screen_->dataSource());
    const auto rows = topRated->list(screen_->dataSubCat());
    ASSERT_TRUE(rows);
    std::vector<int> listed;
    for (const auto& row : *rows) listed.push_back(row.get("index").intValue());
    EXPECT_EQ(listed, shown());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<int>{std::min(monaLisa, nightWatch), std::max(monaLisa, nightWatch)}));
}

TEST_F(FavoritesScreenTest, ThePopularListComesInTheServersOrderWithoutNullOrUnknownPictures) {
    addFavoriteElsewhere(demoPaintingTitled("The Ninth Wave"));
    show();
    choose(1);
    EXPECT_TRUE(shown().empty());
    EXPECT_TRUE(spinning());
    EXPECT_EQ(screen_->title(), "Popular");
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    EXPECT_FALSE(alert());
    EXPECT_EQ(screen_->selectedFavoritesMode(), UIFavoritesImagesViewController::kModePopular);
    // The fixtures' list: an id as text, a null id and 99999, which no catalogue has.
    EXPECT_EQ(shown(), (std::vector<int>{demoPaintingTitled("Mona Lisa"), demoPaintingTitled("The Starry Night"),
                                         demoPaintingTitled("The Great Wave off Kanagawa"), demoPaintingTitled("The Night Watch"),
                                         demoPaintingTitled("Girl with a Pearl Earring"), demoPaintingTitled("The Ninth Wave")}));
    bool asked = false;
    for (const auto& request : server_->requests())
        if (request.path == "/likes/likes.php") {
            EXPECT_EQ(request.query, "app_id=ostrel_gallery&sort=desc&count=100");
            asked = true;
        }
    EXPECT_TRUE(asked);
}

TEST_F(FavoritesScreenTest, AFailedPopularListShowsTheErrorAlertAndLeavesTheListEmpty) {
    const int nightWatch = demoPaintingTitled("The Night Watch");
    addFavoriteElsewhere(nightWatch);
    show();
    ASSERT_EQ(shown(), std::vector<int>{nightWatch});
    // The alert's presentation ends on clock time.
    Clock::setManual();

    const auto failing = LoopbackServer::Fault::withStatus(503);
    server_->setFault("/likes/likes.php", failing);
    choose(1);
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->actions().size(), 1u);
    EXPECT_TRUE(shown().empty());
    Clock::advance(1);
    EXPECT_TRUE(alert()->tapActionAtIndex(0));
    ASSERT_TRUE(pumpUntil([&] { return !alert(); }));

    // Back to the favourites: there again.
    choose(0);
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    EXPECT_EQ(shown(), std::vector<int>{nightWatch});
}

TEST_F(FavoritesScreenTest, ALatePopularAnswerDoesNotReplaceTheFavouritesChosenSince) {
    const int nightWatch = demoPaintingTitled("The Night Watch");
    addFavoriteElsewhere(nightWatch);
    show();

    const auto stall = LoopbackServer::Fault::stall(0);
    server_->setFault("/likes/likes.php", stall);
    choose(1);
    ASSERT_TRUE(server_->waitForStalls(1, kFavoritesWait));
    choose(0);
    ASSERT_TRUE(pumpUntil([&] { return !spinning(); }));
    ASSERT_EQ(shown(), std::vector<int>{nightWatch});

    // The stalled answer goes on; a request sent after it is answered after it, on the same
    // serial queue, so once that one is back on the main queue the late one has been handled.
    server_->removeFaults();
    server_->releaseStalls();
    auto sentinel = std::make_shared<std::atomic<bool>>(false);
    context_.likes->getPopular([sentinel](const Value::Array&, const NSErrorPtr&) {
        DispatchQueue::mainQueue()->async([sentinel] { *sentinel = true; });
    });
    ASSERT_TRUE(pumpUntil([&] { return sentinel->load(); }));
    NSRunLoop::mainRunLoop()->runUntilIdle();

    EXPECT_EQ(shown(), std::vector<int>{nightWatch});
    EXPECT_EQ(screen_->selectedFavoritesMode(), UIFavoritesImagesViewController::kModeFavorites);
    EXPECT_EQ(screen_->title(), "Favorites");
    EXPECT_FALSE(spinning());
    EXPECT_FALSE(alert());
}
