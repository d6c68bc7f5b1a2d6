// The pager's actions against the demo content server, on a phone unless said: every page asks
// for its likes and the like button shows them, whole in the bar when they come late (a shot);
// the favourite toggle stores the favourite,
// likes or unlikes it on the server and moves the count by one; the HD button follows the
// device's flag and switches the picture, downloading the file once; the slideshow runs on the
// manual clock with the screen kept on; the picture is mirrored on an external screen that
// comes and goes; the information items open the author's and the picture's texts.
#include "gallery/PhotoPageViewController.h"

#include "content/Favorites_DataSource.h"
#include "content/ImagesWithIds_DataSource.h"
#include "content/OELikesManager.h"
#include "config/OEConfigFactory.h"
#include "gallery/FileListDownloader.h"
#include "gallery/ImageLoader.h"
#include "gallery/ImageMenu.h"
#include "gallery/ImageScrollView.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoviewTitleView.h"
#include "gallery/SecondWindowController.h"
#include "gallery/UIInfoView.h"
#include "gallery/UILikesButton.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/web/WKWebView.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimScreen.h"
#include "tests/gallery/GalleryFixture.h"
#include "tests/simulator/SimTestSupport.h"
#include "uikit/OEIdleTimerManager.h"

#include <algorithm>

namespace {

class PagerActionsTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(10'000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        server_ = startContentServer();
        ASSERT_TRUE(server_);
        context_ = galleryContext();
        // Every address of the pager's: pictures, high-resolution files, requests and likes.
        context_.app.config->setUrlFormat(
            OEConfigFactory::defaultFactory()->makeURLFormatConfigWithHost(server_->host(), "gallery"));
        context_.likes = OELikesManager::initWithConfig(context_.app.config);
        context_.idle = OEIdleTimerManager::make();
        source_ = catalogue();
    }
    static void TearDownTestSuite() { SimRenderer::releaseCaches(); }
    void TearDown() override {
        pager_.reset();
        nav_.reset();
        window_.reset();
        if (server_) server_->releaseStalls();
        settle();
        for (const auto& screen : UIScreen::screens())
            if (screen != UIScreen::mainScreen()) UIScreen::disconnectScreen(screen);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        NSUserDefaults::standardUserDefaults()->removeObjectForKey("slideshowDelay");
        Clock::setReal();
        server_.reset();
        GalleryFixture::TearDown();
    }

    ContentRowList rowsWithIds(const Value::Array& ids) {
        return ImagesWithIds_DataSource::initWithLoader(imagesLoader(), ids)->list();
    }
    // Pictures the bundle holds, with a high-resolution file for phones on the server.
    ContentRowList localRows(std::size_t count) {
        auto group = source_->subCatList(source_->catList()->front())->front();
        ContentRows rows;
        for (const auto& row : *source_->list(group))
            if (rows.size() < count && exists(bundle() + "/Data/" + row.get("imagePath").stringValue()) &&
                row.get("has_hd_iphone").stringValue() == "1")
                rows.push_back(row);
        EXPECT_EQ(rows.size(), count);
        return std::make_shared<const ContentRows>(std::move(rows));
    }

    // Pushed above a list screen, as the phone opens it.
    void push(ContentRowList rows, std::int64_t index = 0, bool withSource = true) {
        pager_ = PhotoPageViewController::initWithImagesData(std::move(rows), nullptr, index, context_);
        ASSERT_TRUE(pager_);
        if (withSource) pager_->setDataSource(source_);
        nav_ = UINavigationController::initWithRootViewController(UIViewController::make());
        window_ = UIWindow::make();
        window_->setRootViewController(nav_);
        window_->makeKeyAndVisible();
        nav_->pushViewController(pager_, false);
        settle();
    }
    std::shared_ptr<ImageViewController> page() const { return pager_->currentImageViewController(); }
    std::string likesTitle() const { return pager_->likesButton()->currentTitle(); }
    // Runs until the pager knows the count of the current picture.
    bool waitForCount(const std::string& index) {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return pager_->likesCount().count(index) > 0; }, kNetworkWait);
    }
    // Runs until the current page shows its picture, faded in.
    bool waitForPicture() {
        if (!NSRunLoop::mainRunLoop()->runUntil([&] { return page() && page()->image() && !page()->downloadRequest(); },
                                                kNetworkWait))
            return false;
        pass(0.25);
        return page()->scrollView()->alpha() >= 1;
    }
    // Runs until the server has had `times` questions for the likes of picture `id`.
    bool waitForAsks(int id, std::size_t times) {
        const std::string asked = "GET app_id=ostrel_gallery&id=" + std::to_string(id);
        return NSRunLoop::mainRunLoop()->runUntil(
            [&] {
                const auto requests = likeRequests();
                return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), asked)) >= times;
            },
            kNetworkWait);
    }
    std::vector<std::string> likeRequests() const {
        std::vector<std::string> out;
        for (const auto& request : server_->requests())
            if (request.path == "/likes/likes.php") out.push_back(request.method + " " + request.query);
        return out;
    }
    std::string hdButtonImage() const {
        auto button = std::dynamic_pointer_cast<UIButton>(pager_->hdImageBarButton()->customView());
        return button && button->currentImage() ? button->currentImage()->name() : "";
    }
    bool hdButtonHidden() const { return pager_->hdImageBarButton()->customView()->isHidden(); }
    // Whether the HD button says it is on, as its lit image shows.
    bool hdButtonOn() const {
        const UIAccessibilityTraits traits = accessibilityTraits(*pager_->hdImageBarButton()->customView());
        EXPECT_TRUE(traits & UIAccessibilityTraitToggleButton);
        return (traits & UIAccessibilityTraitSelected) != 0;
    }

    std::unique_ptr<ContentServer> server_;
    GalleryContext context_;
    std::shared_ptr<List_DataSource> source_;
    std::shared_ptr<PhotoPageViewController> pager_;
    std::shared_ptr<UINavigationController> nav_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(PagerActionsTest, EveryPageAsksForItsLikesAndTheLikeButtonShowsTheCount) {
    const int monaLisa = demoPaintingTitled("Mona Lisa"), starryNight = demoPaintingTitled("The Starry Night");
    const int quiet = localRows(1)->front().get("index").intValue();  // no likes on the server
    push(rowsWithIds({Value(monaLisa), Value(starryNight), Value(quiet)}));
    ASSERT_TRUE(pager_->likesButton());
    // The like item is the outermost on the right; the author's item follows when there is a text.
    const auto right = pager_->navigationItem()->rightBarButtonItems();
    ASSERT_FALSE(right.empty());
    EXPECT_EQ(right.front(), pager_->favoritesButton());

    ASSERT_TRUE(waitForCount(std::to_string(monaLisa)));
    EXPECT_EQ(likesTitle(), " 2.3kk");
    EXPECT_FALSE(pager_->likesButton()->liked());
    EXPECT_EQ(pager_->favoritesButton()->width(), pager_->likesButton()->frame().size.width);
    pager_->clickNext();
    ASSERT_TRUE(waitForCount(std::to_string(starryNight)));
    EXPECT_EQ(likesTitle(), " 1.4k");  // sent as the text "1480"
    pager_->clickNext();
    ASSERT_TRUE(waitForCount(std::to_string(quiet)));
    EXPECT_EQ(likesTitle(), "");  // no likes: no text
    EXPECT_EQ(pager_->likesButton()->likesCount(), 0);
    const auto asked = likeRequests();
    for (int id : {monaLisa, starryNight, quiet})
        EXPECT_NE(std::find(asked.begin(), asked.end(), "GET app_id=ostrel_gallery&id=" + std::to_string(id)), asked.end())
            << id;

    // A failed answer leaves the count known before.
    server_->setFault("/likes/likes.php", LoopbackServer::Fault::withStatus(500));
    server_->clearRequests();
    pager_->clickPrev();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !likeRequests().empty(); }, kNetworkWait));
    pass(0.5);
    EXPECT_EQ(likesTitle(), " 1.4k");
}

TEST_F(PagerActionsTest, TheFavouriteToggleStoresItLikesItOnTheServerAndMovesTheCountByOne) {
    const int pearl = demoPaintingTitled("Girl with a Pearl Earring");
    const int quiet = localRows(1)->front().get("index").intValue();
    push(rowsWithIds({Value(pearl), Value(quiet)}));
    ASSERT_TRUE(waitForCount(std::to_string(pearl)));
    // The pager asks as it loads and again as it appears: no question is still on its way
    // when the log is cleared.
    ASSERT_TRUE(waitForAsks(pearl, 2));
    EXPECT_EQ(likesTitle(), " 37");
    server_->clearRequests();

    pager_->likesButton()->simulateTap();
    EXPECT_TRUE(pager_->likesButton()->liked());
    EXPECT_EQ(likesTitle(), " 38");  // at once, without waiting for the server
    EXPECT_EQ(pager_->likesButton()->currentImage()->name().find("favorite_on"), 0u);
    EXPECT_TRUE(source_->inFavorites((*pager_->imagesData())[0]));
    // Stored in the database: a source of its own sees it.
    auto favourites = Favorites_DataSource::initWithLoader(imagesLoader())->list(nullptr);
    ASSERT_EQ(favourites->size(), 1u);
    EXPECT_EQ(favourites->front().get("index").intValue(), pearl);
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !likeRequests().empty(); }, kNetworkWait));
    EXPECT_EQ(likeRequests(), (std::vector<std::string>{"POST app_id=ostrel_gallery&id=" + std::to_string(pearl)}));
    // The likes client sends only changes: it marks the like as set once the server took it.
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] { return NSUserDefaults::standardUserDefaults()->boolForKey("like_set_for_image_" + std::to_string(pearl)); },
        kNetworkWait));

    // The server's count replaces the local one at the next page change.
    pager_->clickNext();
    pager_->clickPrev();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return likeRequests().size() >= 3; }, kNetworkWait));
    pass(0.5);
    EXPECT_EQ(likesTitle(), " 38");
    EXPECT_TRUE(pager_->likesButton()->liked());

    server_->clearRequests();
    pager_->likesButton()->simulateTap();
    EXPECT_FALSE(pager_->likesButton()->liked());
    EXPECT_EQ(likesTitle(), " 37");
    EXPECT_FALSE(source_->inFavorites((*pager_->imagesData())[0]));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !likeRequests().empty(); }, kNetworkWait));
    EXPECT_EQ(likeRequests(), (std::vector<std::string>{"DELETE app_id=ostrel_gallery&id=" + std::to_string(pearl)}));

    // A picture nobody liked: a like shows one, taking it back shows none, never below.
    pager_->clickNext();
    ASSERT_TRUE(waitForCount(std::to_string(quiet)));
    pager_->likesButton()->simulateTap();
    EXPECT_EQ(likesTitle(), " 1");
    pager_->likesButton()->simulateTap();
    EXPECT_EQ(likesTitle(), "");
    EXPECT_EQ(pager_->likesCount().at(std::to_string(quiet)), 0);
}

TEST_F(PagerActionsTest, ACountAskedForBeforeALikeDoesNotUndoIt) {
    const int pearl = demoPaintingTitled("Girl with a Pearl Earring");
    const int quiet = localRows(1)->front().get("index").intValue();
    // The answers to the page's questions wait at the server.
    const auto stall = LoopbackServer::Fault::stall(0);
    server_->setFault("/likes/likes.php", stall);
    push(rowsWithIds({Value(pearl), Value(quiet)}));
    ASSERT_TRUE(server_->waitForStalls(1, kNetworkWait));
    pager_->likesButton()->simulateTap();
    EXPECT_EQ(likesTitle(), " 1");  // no count known yet: one like, this one

    // The answers come, asked for before the like: the like stays shown.
    server_->removeFaults();
    server_->releaseStalls();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] { return NSUserDefaults::standardUserDefaults()->boolForKey("like_set_for_image_" + std::to_string(pearl)); },
        kNetworkWait));
    pass(0.5);
    EXPECT_EQ(likesTitle(), " 1");
    EXPECT_TRUE(pager_->likesButton()->liked());
    // The next page change asks again: the server's count, with this like.
    pager_->clickNext();
    pager_->clickPrev();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return likesTitle() == " 38"; }, kNetworkWait)) << likesTitle();
}

TEST_F(PagerActionsTest, ACountThatArrivesLateIsShownWholeInsideTheBarOnPhoneAndPad) {
    const int pearl = demoPaintingTitled("Girl with a Pearl Earring");
    for (const auto idiom : {UIUserInterfaceIdiom::Phone, UIUserInterfaceIdiom::Pad}) {
        SCOPED_TRACE(idiom == UIUserInterfaceIdiom::Phone ? "phone" : "pad");
        UIDevice::applyProfile(idiom);
        // The count waits at the server until the bar has been laid out without it.
        server_->setFault("/likes/likes.php", LoopbackServer::Fault::stall(0));
        push(rowsWithIds({Value(pearl)}));
        ASSERT_TRUE(server_->waitForStalls(1, kNetworkWait));
        EXPECT_EQ(likesTitle(), "");
        server_->removeFaults();
        server_->releaseStalls();
        ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return likesTitle() == " 37"; }, kNetworkWait));
        settle();

        const auto like = pager_->likesButton();
        const CGRect shown = like->convertRectToView(like->bounds(), window_);
        EXPECT_LE(CGRectGetMaxX(shown), CGRectGetMaxX(window_->bounds()) - UINavigationBar::kItemInset);
        EXPECT_EQ(shown.size.width, pager_->favoritesButton()->width());
        const std::string path = Sandbox::tmp() + "/pager.png";
        std::string error;
        std::vector<SimDrawnElement> drawn;
        ASSERT_TRUE(SimRenderer::write(path, error, &drawn)) << error;
        auto shot = UIImage::imageWithContentsOfFile(path);
        ASSERT_TRUE(shot && shot->decodes());
        const auto count = std::find_if(drawn.begin(), drawn.end(), [](const SimDrawnElement& element) {
            return element.kind == "line" && element.text.find("37") != std::string::npos;
        });
        ASSERT_NE(count, drawn.end());
        // Both figures drawn, within the picture.
        EXPECT_LE(CGRectGetMaxX(count->frame), static_cast<CGFloat>(shot->pixelWidth()));
        EXPECT_GT(markedPixels(*shot, count->frame), 0);

        pager_.reset();
        nav_.reset();
        window_.reset();
        settle();
    }
}

TEST_F(PagerActionsTest, AFavouriteWithNoCountKnownStaysAtZeroWhenTakenBack) {
    const auto rows = localRows(2);
    ASSERT_TRUE(source_->addToFavorites(rows->front()));
    // The likes cannot be read: no count is ever known.
    server_->setFault("/likes/likes.php", LoopbackServer::Fault::withStatus(500));
    push(rows);
    EXPECT_TRUE(pager_->likesButton()->liked());
    EXPECT_TRUE(pager_->likesCount().empty());
    pager_->likesButton()->simulateTap();
    EXPECT_FALSE(pager_->likesButton()->liked());
    EXPECT_EQ(pager_->likesCount().at(rows->front().get("index").stringValue()), 0);
    EXPECT_EQ(likesTitle(), "");
}

TEST_F(PagerActionsTest, WithoutASourceOfFavouritesThereIsNoLikeItem) {
    push(localRows(2), 0, false);
    EXPECT_FALSE(pager_->likesButton());
    EXPECT_FALSE(pager_->favoritesButton());
    const auto right = pager_->navigationItem()->rightBarButtonItems();
    ASSERT_EQ(right.size(), 1u);
    EXPECT_EQ(right.front(), pager_->authorInfoButton());
    pager_->favoriteClick();  // not reachable from the screen, and harmless
    EXPECT_FALSE(source_->inFavorites((*pager_->imagesData())[0]));
}

TEST_F(PagerActionsTest, TheHDButtonFollowsTheDevicesFlag) {
    auto rows = localRows(2);
    ContentRows changed = *rows;
    changed[0].set("has_hd_iphone", Value("0"));
    changed[0].set("has_hd_ipad", Value("1"));
    changed[1].set("has_hd_iphone", Value("1"));
    changed[1].set("has_hd_ipad", Value("0"));
    push(std::make_shared<const ContentRows>(changed));
    EXPECT_TRUE(hdButtonHidden());
    EXPECT_EQ(SimScreen::capture().text().find("button_hd"), std::string::npos) << SimScreen::capture().text();
    pager_->clickNext();
    EXPECT_FALSE(hdButtonHidden());
    EXPECT_EQ(hdButtonImage().find("button_hd"), 0u);

    // On the pad the other flag counts.
    pager_.reset();
    nav_.reset();
    window_.reset();
    settle();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    push(std::make_shared<const ContentRows>(changed));
    EXPECT_FALSE(hdButtonHidden());
    pager_->clickNext();
    EXPECT_TRUE(hdButtonHidden());
}

TEST_F(PagerActionsTest, TheHDSwitchDownloadsTheFileOnceAndThenSwitchesBothWays) {
    const auto rows = localRows(2);
    const std::string imagePath = rows->front().get("imagePath").stringValue();
    push(rows);
    ASSERT_TRUE(waitForPicture());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(hdButtonImage(), "button_hd");
    EXPECT_FALSE(hdButtonOn());
    server_->clearRequests();
    // Not on the device yet, and remembered so: the thumbnails' sign asks the same way.
    EXPECT_FALSE(ImageLoader::hdImageExists(rows->front(), context_));

    UIView::clearAnimationLog();
    pager_->toggleHdClick();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] { return exists(Sandbox::documents() + "/Data/hd-" + imagePath); }, kNetworkWait));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return page()->hdImage(); }, kNetworkWait));
    // Seen as soon as it is in place.
    EXPECT_TRUE(ImageLoader::hdImageExists(rows->front(), context_));
    // It came as any change of resolution does: the page fades out with the standard picture
    // still in it, and only once that fade has ended is the new picture read and faded in.
    settle();
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(page()->scrollView()->alpha(), 0);
    pass(0.2);
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoHDPictureWidth);
    std::vector<std::shared_ptr<UIViewAnimation>> fades;
    for (const auto& animation : UIView::animationLog())
        if (animation->changed(page()->scrollView().get(), "opacity")) fades.push_back(animation);
    ASSERT_EQ(fades.size(), 2u);
    EXPECT_DOUBLE_EQ(fades[0]->duration, 0.2);
    EXPECT_DOUBLE_EQ(fades[1]->duration, 0.2);
    EXPECT_TRUE(fades[1]->beginsFromCurrentState());
    EXPECT_GE(fades[1]->startTime, fades[0]->endTime());
    ASSERT_TRUE(waitForPicture());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoHDPictureWidth);
    EXPECT_EQ(hdButtonImage(), "button_hd_up");
    EXPECT_TRUE(hdButtonOn());
    // Switching to the large picture hides the controls; the download let the screen lock go.
    EXPECT_TRUE(pager_->controllsHidden());
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_EQ(context_.idle->holderCount(), 0u);
    std::size_t downloads = 0;
    for (const auto& request : server_->requests())
        if (request.path == "/data/gallery/" + imagePath) ++downloads;
    EXPECT_EQ(downloads, 1u);

    pager_->toggleHdClick();
    pass(0.3);
    ASSERT_TRUE(waitForPicture());
    EXPECT_FALSE(page()->hdImage());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(hdButtonImage(), "button_hd");
    EXPECT_FALSE(hdButtonOn());

    // On the device now: no second download.
    server_->clearRequests();
    pager_->toggleHdClick();
    pass(0.3);
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(page()->hdImage());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoHDPictureWidth);
    EXPECT_TRUE(server_->requests().empty());

    // Deleted: no longer there for the next look.
    context_.resources->deleteFileFromCashes(ImageLoader::hdImagePath(rows->front()));
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/hd-" + imagePath));
    EXPECT_FALSE(ImageLoader::hdImageExists(rows->front(), context_));
}

TEST_F(PagerActionsTest, AFailedHDDownloadLeavesTheStandardPictureAndNoFile) {
    const auto rows = localRows(2);
    const std::string imagePath = rows->front().get("imagePath").stringValue();
    server_->setFault("/data/gallery/" + imagePath, LoopbackServer::Fault::withStatus(404));
    push(rows);
    ASSERT_TRUE(waitForPicture());
    pager_->toggleHdClick();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([] { return !UIAlertView::visibleAlertViews().empty(); }, kNetworkWait));
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->message(), FileListDownloader::localized("Error downloading"));
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);
    settle();
    EXPECT_FALSE(page()->hdImage());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/hd-" + imagePath));
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
}

TEST_F(PagerActionsTest, TheSlideshowTurnsPagesOnTheClockAndKeepsTheScreenOnWhileItRuns) {
    NSUserDefaults::standardUserDefaults()->setInteger(3, "slideshowDelay");
    push(localRows(3), 1);
    EXPECT_EQ(pager_->slideShowDeleay(), 7);
    ASSERT_TRUE(page()->image());
    const std::int64_t count = 3;

    pager_->slideShowButton()->simulateTap();
    pass(PhotoPageViewController::kControlsDuration);
    EXPECT_TRUE(pager_->slideShowEnabled());
    EXPECT_TRUE(pager_->controllsHidden());
    EXPECT_TRUE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_FALSE(page()->scrollEnabled());
    ASSERT_TRUE(pager_->slideShowTimer());
    // No swiping while it runs.
    EXPECT_FALSE(pager_->pageViewController()->swipe(true));

    // The delay runs from the end of the fade-in; then a 0.3 s fade-out and the next picture.
    pass(6.6);
    EXPECT_EQ(pager_->currentImageIndex(), 1);
    pass(0.4);
    EXPECT_EQ(pager_->currentImageIndex(), 1);
    EXPECT_LT(page()->view()->alpha(), 1.0);
    pass(0.3);
    EXPECT_EQ(pager_->currentImageIndex(), 2);
    EXPECT_FALSE(page()->scrollEnabled());
    // The new picture fades in (0.2 s); its delay starts then. After the last comes the first.
    pass(0.2);
    pass(6.9);
    EXPECT_EQ(pager_->currentImageIndex(), 2);
    pass(0.1 + 0.3);
    EXPECT_EQ(pager_->currentImageIndex(), 0);
    EXPECT_LT(pager_->currentImageIndex(), count);

    // Shown controls offer the pause item alone.
    pager_->setControlsHidden(false, false);
    settle();
    ASSERT_EQ(pager_->toolbarItems(), pager_->slideshowToolbarItems());
    pager_->pauseButton()->simulateTap();
    pass(1);
    EXPECT_FALSE(pager_->slideShowEnabled());
    EXPECT_FALSE(pager_->controllsHidden());
    EXPECT_FALSE(pager_->slideShowTimer());
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_TRUE(page()->scrollEnabled());
    EXPECT_EQ(pager_->toolbarItems(), pager_->normalToolbarItems());
    const auto stoppedAt = pager_->currentImageIndex();
    pass(30);
    EXPECT_EQ(pager_->currentImageIndex(), stoppedAt);
}

TEST_F(PagerActionsTest, ASlideshowAskedForAtLoadStopsWithThePager) {
    // With one picture: no timer, but the controls hide and the screen stays on.
    pager_ = PhotoPageViewController::initWithImagesData(
        std::make_shared<const ContentRows>(ContentRows{localRows(1)->front()}), nullptr, 0, context_);
    pager_->setSlideShow(true);
    nav_ = UINavigationController::initWithRootViewController(pager_);
    window_ = UIWindow::make();
    window_->setRootViewController(nav_);
    window_->makeKeyAndVisible();
    pass(1);
    EXPECT_TRUE(pager_->slideShowEnabled());
    EXPECT_TRUE(pager_->controllsHidden());
    EXPECT_FALSE(pager_->slideShowTimer());
    EXPECT_TRUE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    // A tap shows the bars with an empty toolbar: there is no pause item.
    pager_->setControlsHidden(false, false);
    settle();
    EXPECT_TRUE(pager_->toolbarItems().empty());

    window_->setRootViewController(UIViewController::make());
    nav_.reset();
    pager_.reset();
    settle();
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_EQ(context_.idle->holderCount(), 0u);
}

TEST_F(PagerActionsTest, ThePictureIsMirroredOnAnExternalScreenThatComesAndGoes) {
    auto external = UIScreen::make({1920, 1080}, 1);
    UIScreen::connectScreen(external);
    push(localRows(3));
    auto mirror = pager_->secondWindow();
    ASSERT_TRUE(mirror && mirror->secondWindow());
    EXPECT_EQ(mirror->secondWindow()->screen(), external);
    EXPECT_EQ(mirror->secondWindow()->frame(), CGRectMake(0, 0, 1920, 1080));
    ASSERT_TRUE(waitForPicture());
    pass(SecondWindowController::kFadeDuration);
    auto shown = std::dynamic_pointer_cast<UIImageView>(mirror->currentView());
    ASSERT_TRUE(shown);
    EXPECT_FALSE(mirror->secondWindow()->isHidden());
    EXPECT_EQ(shown->tag(), 1);
    EXPECT_EQ(shown->image(), page()->image());
    EXPECT_EQ(shown->contentMode(), UIViewContentModeScaleAspectFit);
    EXPECT_EQ(shown->frame(), CGRectMake(0, 0, 1920, 1080));
    EXPECT_EQ(shown->alpha(), 1);
    // The text screen says what the external screen shows; the phone's screen is not mixed in.
    const std::string screen = SimScreen::capture().text();
    EXPECT_NE(screen.find("-- external screen 1920x1080: image " + NSString::lastPathComponent(page()->image()->name()) +
                          "\n"),
              std::string::npos)
        << screen;

    // The next picture cross-fades in; the one before goes when the fade ends.
    pager_->clickNext();
    ASSERT_TRUE(waitForPicture());
    pass(SecondWindowController::kFadeDuration);
    ASSERT_EQ(mirror->secondWindow()->subviews().size(), 1u);
    EXPECT_EQ(mirror->currentView()->tag(), 2);

    // Gone: no window. Back: an empty hidden window until the next page change.
    UIScreen::disconnectScreen(external);
    settle();
    EXPECT_FALSE(mirror->secondWindow());
    EXPECT_FALSE(mirror->currentView());
    EXPECT_EQ(SimScreen::capture().text().find("external screen"), std::string::npos);
    UIScreen::connectScreen(external);
    settle();
    ASSERT_TRUE(mirror->secondWindow());
    EXPECT_TRUE(mirror->secondWindow()->isHidden());
    EXPECT_FALSE(mirror->currentView());
    EXPECT_NE(SimScreen::capture().text().find("-- external screen 1920x1080: nothing shown"), std::string::npos);
    pager_->clickNext();
    ASSERT_TRUE(waitForPicture());
    ASSERT_TRUE(mirror->currentView());
    EXPECT_EQ(mirror->currentView()->tag(), 3);
    EXPECT_FALSE(mirror->secondWindow()->isHidden());
}

TEST_F(PagerActionsTest, TheInformationItemsOpenTheAuthorsAndThePicturesTexts) {
    push(localRows(2));
    const auto& row = (*pager_->imagesData())[0];
    ASSERT_FALSE(locale().localizedAuthorDescriptionFieldValue(row).empty());
    pager_->authorInfoButton()->simulateTap();
    pass(1);
    auto presented = std::dynamic_pointer_cast<UINavigationController>(nav_->presentedViewController());
    ASSERT_TRUE(presented);
    auto info = std::dynamic_pointer_cast<UIInfoView>(presented->topViewController());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->author(), locale().localizedAuthorFieldValue(row));
    EXPECT_EQ(info->text(), locale().localizedAuthorDescriptionFieldValue(row));
    info->closeClick();
    pass(1);
    ASSERT_FALSE(nav_->presentedViewController());

    // The strip's button: the picture's name and description.
    ASSERT_FALSE(pager_->descriptionView()->infoButton()->isHidden());
    pager_->descriptionView()->infoButton()->simulateTap();
    pass(1);
    presented = std::dynamic_pointer_cast<UINavigationController>(nav_->presentedViewController());
    ASSERT_TRUE(presented);
    info = std::dynamic_pointer_cast<UIInfoView>(presented->topViewController());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->author(), locale().localizedNameFieldValue(row));
    EXPECT_EQ(info->text(), locale().localizedDescriptionFieldValue(row));
    EXPECT_NE(info->webView()->text().find(info->text().substr(0, 20)), std::string::npos);
}

TEST_F(PagerActionsTest, TheMenuButtonOffersTheCurrentPicturesSheet) {
    push(localRows(2), 1);
    pager_->menuButton()->simulateTap();
    pass(1);
    auto sheet = std::dynamic_pointer_cast<UIAlertController>(pager_->presentedViewController()
                                                                  ? pager_->presentedViewController()
                                                                  : nav_->presentedViewController());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->preferredStyle(), UIAlertControllerStyle::ActionSheet);
    const std::string resolution = (*pager_->imagesData())[1].get("resolution").stringValue();
    ASSERT_FALSE(resolution.empty());
    std::vector<std::string> titles;
    for (const auto& action : sheet->actions()) titles.push_back(action->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"Download HD (" + resolution + ")", "Get HD (" + resolution + ")",
                                                "Share", "Cancel"}));
    EXPECT_EQ(sheet->actions().back()->style(), UIAlertActionStyle::Cancel);
    EXPECT_TRUE(sheet->tapActionWithTitle("Cancel"));
}
