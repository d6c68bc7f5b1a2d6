// The full-screen pager over pictures of the demo bundle, on a phone unless said: no pager over
// an empty list; paging by swipes and by the toolbar without wrap-around, with the title, the
// description strip, the buttons and the viewed marks following; the controls hidden and shown
// by single taps (the pages told the spinner style); zoom by double tap; the close item of a
// presented pager; the full-name hint; and a picture that is on the content server only,
// downloaded into Documents "Data" while its page is shown; the thumbnail screen opening it; a
// shot of the phone turned sideways, its strip and light toolbar over the picture.
#include "gallery/PhotoPageViewController.h"

#include "content/List_DataSource.h"
#include "gallery/FullSizePictureHolder.h"
#include "gallery/ImageScrollView.h"
#include "gallery/ResourceLoader.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoviewTitleView.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPageViewController.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimScreen.h"
#include "tests/gallery/GalleryFixture.h"
#include "tests/simulator/SimTestSupport.h"
#include "uikit/UIViewToast.h"

namespace {

class StyleListener : public NSObject {
public:
    std::vector<std::int64_t> styles;
    std::vector<std::shared_ptr<NSObject>> senders;
    void heard(const NSNotification& note) {
        styles.push_back(note.userInfo().get("style").integerValue());
        senders.push_back(note.object());
    }
};

class PhotoPagerTest : public GalleryFixture {
protected:
    static void TearDownTestSuite() { SimRenderer::releaseCaches(); }
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(10'000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    }
    void TearDown() override {
        pager_.reset();
        nav_.reset();
        window_.reset();
        settle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        for (const char* key : {"zoom", "fullScreenHintsEnabled"}) NSUserDefaults::standardUserDefaults()->removeObjectForKey(key);
        Clock::setReal();
        GalleryFixture::TearDown();
    }


    // The rows of the first genre group whose pictures the bundle holds.
    ContentRowList localRows() {
        auto source = catalogue();
        auto group = source->subCatList(source->catList()->front())->front();
        ContentRows rows;
        for (const auto& row : *source->list(group))
            if (exists(bundle() + "/Data/" + row.get("imagePath").stringValue())) rows.push_back(row);
        return std::make_shared<const ContentRows>(std::move(rows));
    }

    std::shared_ptr<PhotoPageViewController> make(ContentRowList rows, std::int64_t index) {
        pager_ = PhotoPageViewController::initWithImagesData(std::move(rows), nullptr, index, galleryContext());
        return pager_;
    }
    // Pushed above a list screen, as the phone opens it.
    void push(std::int64_t index = 0) {
        make(localRows(), index);
        ASSERT_TRUE(pager_);
        auto list = UIViewController::make();
        list->setTitle("List");
        nav_ = UINavigationController::initWithRootViewController(list);
        showWindow();
        nav_->pushViewController(pager_, false);
        settle();
    }
    void showWindow() {
        window_ = UIWindow::make();
        window_->setRootViewController(nav_);
        window_->makeKeyAndVisible();
        settle();
    }
    std::shared_ptr<ImageViewController> page() const { return pager_->currentImageViewController(); }
    std::string title() const { return pager_->navigationItem()->title(); }
    std::string strip() const { return pager_->descriptionView()->titleLabel()->text(); }
    std::string authorOf(std::int64_t i) const { return locale().localizedAuthorFieldValue((*pager_->imagesData())[i]); }
    std::string nameOf(std::int64_t i) const { return locale().localizedNameFieldValue((*pager_->imagesData())[i]); }
    bool swipe(bool forward) {
        const bool turned = pager_->pageViewController()->swipe(forward);
        pass(UIPageViewController::turnDuration());
        return turned;
    }
    void tapPicture(int taps = 1) {
        window_->tap({187, 333}, taps);
        pass(1);
    }

    std::shared_ptr<PhotoPageViewController> pager_;
    std::shared_ptr<UINavigationController> nav_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(PhotoPagerTest, NoPagerIsMadeOverAnEmptyListOrOutsideIt) {
    auto rows = localRows();
    ASSERT_GE(rows->size(), 3u);
    EXPECT_FALSE(make(nullptr, 0));
    EXPECT_FALSE(make(std::make_shared<const ContentRows>(), 0));
    EXPECT_FALSE(make(rows, -1));
    EXPECT_FALSE(make(rows, static_cast<std::int64_t>(rows->size())));
    auto last = make(rows, static_cast<std::int64_t>(rows->size()) - 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->currentImageIndex(), static_cast<std::int64_t>(rows->size()) - 1);
    EXPECT_FALSE(last->controllsHidden());
    EXPECT_TRUE(last->canHideStatusBar());
}

TEST_F(PhotoPagerTest, SwipesAndTheToolbarPageWithoutWrappingAndTheTitleStripAndMarksFollow) {
    push();
    const auto count = static_cast<std::int64_t>(pager_->imagesData()->size());
    const std::string firstPath = (*pager_->imagesData())[0].get("imagePath").stringValue();
    EXPECT_EQ(pager_->currentImageIndex(), 0);
    EXPECT_EQ(title(), authorOf(0));
    EXPECT_EQ(strip(), nameOf(0));
    EXPECT_FALSE(galleryContext().resources->isNewImage(firstPath));
    ASSERT_TRUE(page()->image());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(page()->scrollView()->alpha(), 1);
    EXPECT_FALSE(page()->loadIndicator());
    EXPECT_EQ(pager_->pageViewController()->interPageSpacing(), PhotoPageViewController::kInterPageSpacing);
    // The pictures fill the screen under the bars.
    EXPECT_EQ(pager_->view()->frame(), CGRectMake(0, 0, 375, 667));

    // The screen: the picture the page shows, touched for the bars and the zoom (the pager's
    // and the zoom view's drags are not listed), by its file's name; the name in the strip with
    // its information button, the author over the list's back button and the author's
    // information item, the menu (Download HD, Get HD, Share), the arrows, HD (on while the HD
    // picture shows) and the slideshow.
    const std::string screen = SimScreen::capture().text();
    EXPECT_EQ(screen, R"([1] picture
  image p0010.jpg
"Self-Portrait at Twenty-Eight"
[2] button "information"
== Albrecht Dürer ==
  [3] < List  | [4] information  
-- toolbar: [5] menu  [6] previous picture (disabled)  [7] HD (off)  [8] next picture  [9] slideshow  
)");

    EXPECT_FALSE(swipe(false));  // nothing before the first
    for (std::int64_t i = 1; i < count; ++i) {
        ASSERT_TRUE(swipe(true)) << i;
        EXPECT_EQ(pager_->currentImageIndex(), i);
        EXPECT_EQ(title(), authorOf(i));
        EXPECT_EQ(strip(), nameOf(i));
        EXPECT_TRUE(pager_->prevButton()->isEnabled());
        EXPECT_EQ(pager_->nextButton()->isEnabled(), i < count - 1);
        ASSERT_TRUE(page()->image()) << i;
    }
    EXPECT_FALSE(swipe(true));  // the last one does not wrap to the first
    EXPECT_EQ(pager_->currentImageIndex(), count - 1);

    pager_->prevButton()->simulateTap();
    settle();
    EXPECT_EQ(pager_->currentImageIndex(), count - 2);
    EXPECT_EQ(strip(), nameOf(count - 2));
    for (std::int64_t i = count - 2; i > 0; --i) {
        pager_->prevButton()->simulateTap();
        settle();
    }
    EXPECT_EQ(pager_->currentImageIndex(), 0);
    EXPECT_FALSE(pager_->prevButton()->isEnabled());
    pager_->prevButton()->simulateTap();
    settle();
    EXPECT_EQ(pager_->currentImageIndex(), 0);
    pager_->nextButton()->simulateTap();
    settle();
    EXPECT_EQ(pager_->currentImageIndex(), 1);
    for (const auto& row : *pager_->imagesData())
        EXPECT_FALSE(galleryContext().resources->isNewImage(row.get("imagePath").stringValue()));

    // An abandoned swipe keeps the page.
    ASSERT_TRUE(pager_->pageViewController()->swipe(true, false));
    pass(1);
    EXPECT_EQ(pager_->currentImageIndex(), 1);
    EXPECT_EQ(title(), authorOf(1));
}

// The next page takes the one full-size picture as it turns in; the page turning away keeps
// showing its picture, fitted to the screen, until it is off screen, and reads it whole again if
// the turn falls back.
TEST_F(PhotoPagerTest, APageTurningAwayKeepsShowingItsPictureAtTheScreensSizeUntilItIsOffScreen) {
    push();
    auto leaving = page();
    ASSERT_TRUE(leaving->image());
    std::weak_ptr<UIImage> whole = leaving->image();
    const CGSize size = leaving->image()->size();
    const CGRect frame = leaving->scrollView()->zoomView()->frame();

    ASSERT_TRUE(pager_->pageViewController()->swipe(true));
    // Under the next page, still reading its picture, the screen shows the leaving one's.
    const std::string underTheNext = "[1] picture\n  image p0010.jpg\n[2] picture\n  (busy)\n";
    EXPECT_EQ(SimScreen::capture().text().substr(0, underTheNext.size()), underTheNext);
    settle();
    EXPECT_TRUE(whole.expired());
    auto copy = leaving->image();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->pixelWidth(), 375);
    EXPECT_DOUBLE_EQ(copy->size().width, size.width);
    EXPECT_NEAR(copy->size().height, size.height, 1);
    EXPECT_EQ(leaving->scrollView()->zoomView()->frame(), frame);
    pass(UIPageViewController::turnDuration());
    EXPECT_FALSE(leaving->image());
    ASSERT_TRUE(page()->image());
    EXPECT_EQ(galleryContext().resources->fullSizePictures()->heldPicture(), page()->image());

    // A turn that falls back: the page turning back in reads its picture whole again.
    auto staying = page();
    ASSERT_TRUE(pager_->pageViewController()->swipe(true, false));
    settle();
    ASSERT_TRUE(staying->image());
    EXPECT_EQ(staying->image()->pixelWidth(), 375);
    pass(UIPageViewController::turnDuration());
    ASSERT_TRUE(staying->image());
    EXPECT_EQ(staying->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(galleryContext().resources->fullSizePictures()->heldPicture(), staying->image());
}

TEST_F(PhotoPagerTest, OnePictureHasOnlyTheMenuAndCannotBeSwiped) {
    auto rows = localRows();
    make(std::make_shared<const ContentRows>(ContentRows{rows->front()}), 0);
    nav_ = UINavigationController::initWithRootViewController(pager_);
    showWindow();
    // The menu alone: no arrows, no HD, no slideshow.
    ASSERT_EQ(pager_->toolbarItems().size(), 2u);
    EXPECT_EQ(pager_->toolbarItems().front(), pager_->menuButton());
    EXPECT_TRUE(pager_->toolbarItems().back()->isSpace());
    EXPECT_FALSE(pager_->prevButton());
    EXPECT_FALSE(pager_->slideShowButton());
    EXPECT_FALSE(swipe(true));
    EXPECT_FALSE(swipe(false));
    EXPECT_FALSE(nav_->isToolbarHidden());
}

TEST_F(PhotoPagerTest, SingleTapsHideAndShowTheControlsAndTellThePagesTheSpinnerStyle) {
    auto listener = std::make_shared<StyleListener>();
    NSNotificationCenter::defaultCenter()->addObserver(listener, &StyleListener::heard,
                                                       kImageViewControllerChangeLoadIndicatorStyleMessage);
    push();
    const CGRect stripFrame = pager_->descriptionFrame();
    EXPECT_EQ(stripFrame, CGRectMake(0, 667 - 44 - 44, 375, 44));
    EXPECT_EQ(pager_->descriptionView()->frame(), stripFrame);
    // The first picture has a description: the label leaves room for the information button.
    ASSERT_FALSE(pager_->descriptionView()->descriptionText().empty());
    EXPECT_FALSE(pager_->descriptionView()->infoButton()->isHidden());
    EXPECT_EQ(pager_->descriptionView()->titleLabel()->frame().size.width, 375 - 20 - 44);
    EXPECT_EQ(pager_->descriptionView()->titleFont()->pointSize(), 13);
    EXPECT_EQ(page()->loadActivityStyle(), 2);

    tapPicture();
    EXPECT_TRUE(pager_->controllsHidden());
    EXPECT_TRUE(nav_->isNavigationBarHidden());
    EXPECT_TRUE(nav_->isToolbarHidden());
    EXPECT_EQ(pager_->descriptionView()->alpha(), 0);
    EXPECT_EQ(pager_->descriptionView()->frame().origin.y, 667);
    EXPECT_FALSE(pager_->descriptionView()->isUserInteractionEnabled());
    EXPECT_TRUE(pager_->prefersStatusBarHidden());
    EXPECT_EQ(page()->loadActivityStyle(), 1);
    EXPECT_EQ(listener->styles, (std::vector<std::int64_t>{1}));
    EXPECT_EQ(listener->senders.front(), pager_);
    // Hiding the bars does not resize the pictures: they are under the bars all along.
    EXPECT_EQ(pager_->view()->frame(), CGRectMake(0, 0, 375, 667));
    // A page made now starts with the white spinner.
    ASSERT_TRUE(swipe(true));
    EXPECT_EQ(page()->loadActivityStyle(), 1);

    tapPicture();
    EXPECT_FALSE(pager_->controllsHidden());
    EXPECT_FALSE(nav_->isNavigationBarHidden());
    EXPECT_FALSE(nav_->isToolbarHidden());
    EXPECT_EQ(pager_->descriptionView()->alpha(), 1);
    EXPECT_EQ(pager_->descriptionView()->frame(), stripFrame);
    EXPECT_TRUE(pager_->descriptionView()->isUserInteractionEnabled());
    EXPECT_FALSE(pager_->prefersStatusBarHidden());
    EXPECT_EQ(page()->loadActivityStyle(), 2);
    EXPECT_EQ(listener->styles, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(pager_->toolbarItems(), pager_->normalToolbarItems());
    EXPECT_EQ(pager_->toolbarItems().size(), 9u);

    // On the pad the status bar never hides.
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    pager_->setControlsHidden(true, false);
    EXPECT_FALSE(pager_->prefersStatusBarHidden());
    NSNotificationCenter::defaultCenter()->removeObserver(listener);
}

TEST_F(PhotoPagerTest, ADoubleTapZoomsToTheSettingsScaleAndBackWithoutTogglingTheControls) {
    NSUserDefaults::standardUserDefaults()->setInteger(3, "zoom");
    push();
    auto scroll = page()->scrollView();
    ASSERT_TRUE(scroll->image());
    const double fit = scroll->startScale();
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), fit);
    tapPicture(2);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 2.0);
    EXPECT_FALSE(pager_->controllsHidden());
    tapPicture(2);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), fit);
    EXPECT_FALSE(pager_->controllsHidden());

    // A page whose scrolling is off ignores double taps and zooms back; single taps still
    // toggle the controls.
    tapPicture(2);
    page()->setScrollEnabled(false);
    pass(1);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), fit);
    tapPicture(2);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), fit);
    tapPicture();
    EXPECT_TRUE(pager_->controllsHidden());
}

TEST_F(PhotoPagerTest, APresentedPagerClosesWithItsBackItemAndAPushedOneKeepsTheBackButton) {
    auto presenter = UIViewController::make();
    window_ = UIWindow::make();
    window_->setRootViewController(presenter);
    window_->makeKeyAndVisible();
    make(localRows(), 1);
    nav_ = UINavigationController::initWithRootViewController(pager_);
    presenter->presentViewController(nav_, false, nullptr);
    settle();
    EXPECT_TRUE(pager_->navigationItem()->hidesBackButton());
    auto close = pager_->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->title(), "Back");
    close->simulateTap();
    pass(1);
    EXPECT_FALSE(presenter->presentedViewController());

    push();
    EXPECT_FALSE(pager_->navigationItem()->leftBarButtonItem());
    EXPECT_TRUE(nav_->showsBackButton());
    EXPECT_EQ(pager_->navigationItem()->backBarButtonItem()->title(), "Back");
}

TEST_F(PhotoPagerTest, WithHintsOnANewPictureShowsItsFullNameWhileTheControlsAreHidden) {
    NSUserDefaults::standardUserDefaults()->setBool(true, "fullScreenHintsEnabled");
    push();
    EXPECT_FALSE(page()->view()->viewWithTag(kUIToastTag));  // controls shown: no hint
    tapPicture();
    ASSERT_TRUE(swipe(true));
    pass(0.3);
    auto toast = page()->view()->viewWithTag(kUIToastTag);
    ASSERT_TRUE(toast);
    EXPECT_NE(SimScreen::capture().text().find(authorOf(1) + " - " + nameOf(1)), std::string::npos)
        << SimScreen::capture().text();
    // A tap takes the hint away along with showing the controls.
    tapPicture();
    EXPECT_FALSE(page()->view()->viewWithTag(kUIToastTag));
    EXPECT_FALSE(pager_->controllsHidden());
    pass(kUIToastDefaultDuration + kUIToastFadeDuration);  // the hint's own time runs out before the test's
}

TEST_F(PhotoPagerTest, APictureOnTheServerOnlyIsDownloadedWhileItsPageIsShownAndMarkedViewed) {
    auto server = startContentServer();
    ASSERT_TRUE(server);
    // The first group's rows: some pictures in the bundle, some on the server only.
    auto source = catalogue();
    auto rows = source->list(source->subCatList(source->catList()->front())->front());
    std::int64_t remote = -1;
    for (std::size_t i = 0; i < rows->size() && remote < 0; ++i)
        if (!exists(bundle() + "/Data/" + (*rows)[i].get("imagePath").stringValue())) remote = static_cast<std::int64_t>(i);
    ASSERT_GE(remote, 0);
    const std::string path = (*rows)[static_cast<std::size_t>(remote)].get("imagePath").stringValue();
    ASSERT_TRUE(galleryContext().resources->isNewImage(path));
    // The picture waits at the server while the page is looked at.
    server->setFault("/pic/gallery/" + path, LoopbackServer::Fault::stall(0));

    make(rows, remote);
    nav_ = UINavigationController::initWithRootViewController(UIViewController::make());
    showWindow();
    nav_->pushViewController(pager_, false);
    settle();
    ASSERT_TRUE(server->waitForStalls(1, kNetworkWait));
    ASSERT_TRUE(page()->downloadRequest());
    server->removeFaults();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !page()->downloadRequest(); }, kNetworkWait));
    settle();
    ASSERT_TRUE(page()->image());
    EXPECT_EQ(page()->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_TRUE(exists(Sandbox::documents() + "/Data/" + path));
    EXPECT_FALSE(galleryContext().resources->isNewImage(path));
    EXPECT_EQ(strip(), nameOf(remote));
}

TEST_F(PhotoPagerTest, TheThumbnailScreenOpensThePagerOverItsPicturesAtTheOneTapped) {
    auto source = catalogue();
    auto group = source->subCatList(source->catList()->front())->front();
    auto thumbnails = UIThumbailViewController::initWithDataSource(source, group, true, galleryContext());
    nav_ = UINavigationController::initWithRootViewController(thumbnails);
    showWindow();
    ASSERT_GE(thumbnails->images().size(), 3u);
    thumbnails->showImage(2);
    pass(1);
    pager_ = std::dynamic_pointer_cast<PhotoPageViewController>(nav_->topViewController());
    ASSERT_TRUE(pager_);
    EXPECT_EQ(pager_->currentImageIndex(), 2);
    EXPECT_EQ(*pager_->imagesData(), thumbnails->images());
    EXPECT_EQ(pager_->dataSource(), thumbnails->dataSource());
    EXPECT_EQ(title(), authorOf(2));
    EXPECT_TRUE(nav_->showsBackButton());
}

TEST_F(PhotoPagerTest, TurnedSidewaysThePhoneDrawsTheStripAndTheLightToolbarOverThePicture) {
    push();
    auto app = UIApplication::sharedApplication();
    app->rotateTo(UIInterfaceOrientation::LandscapeLeft);
    pass(app->statusBarOrientationAnimationDuration());
    window_->layoutAndDisplayIfNeeded();
    const std::string path = Sandbox::tmp() + "/pager.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(path, error)) << error;
    auto shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    ASSERT_EQ(shot->pixelWidth(), 667);

    // The picture fills the height, so the strip and the toolbar lie over it.
    auto toolbar = nav_->toolbar();
    const CGRect bar = toolbar->convertRectToView(toolbar->bounds(), window_);
    const auto strip = pager_->descriptionView();
    const CGRect stripBox = strip->convertRectToView(strip->bounds(), window_);
    EXPECT_EQ(CGRectGetMaxY(stripBox), bar.origin.y);
    const CGRect picture = page()->view()->convertRectToView(page()->view()->bounds(), window_);
    EXPECT_GE(CGRectGetMaxY(picture), CGRectGetMaxY(bar));
    // The strip in the pager's background colour, as the pager gives it.
    const auto background = pager_->view()->backgroundColor();
    ASSERT_TRUE(background);
    const auto stripPixel = shotRGB(*shot, CGRectGetMidX(stripBox), stripBox.origin.y + 3);
    EXPECT_NEAR(stripPixel[0], background->red() * 255, 2);
    EXPECT_NEAR(stripPixel[2], background->blue() * 255, 2);
    // The toolbar is a light bar over the picture, not the picture with faint buttons on it.
    for (const double x : {CGRectGetMidX(bar) - 40, CGRectGetMidX(bar) + 40}) {
        const auto c = shotRGB(*shot, x, bar.origin.y + 3);
        EXPECT_GT(std::min({c[0], c[1], c[2]}), 200) << x;
    }
    app->rotateTo(UIInterfaceOrientation::Portrait);
    pass(app->statusBarOrientationAnimationDuration());
}
