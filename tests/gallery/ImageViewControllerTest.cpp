// A picture page on its own in a phone window: the picture read off the main thread behind a
// spinner and faded in with its two notifications; the spinner's style following the pager's
// message; the picture dropped when the page goes and read again when it comes back; the
// high-resolution picture faded in and out (read only once the page has faded out, the last of
// several wishes alone), and a missing one falling back to the standard.
// Against the content server on 127.0.0.1: a missing picture downloaded into Documents "Data"
// once and read from there afterwards; the "offline" picture for an error status, for a body
// that is no picture (which is not kept, and asked for again at the next appearance), for one cut
// off on its way, for one longer than any picture and for a name that would leave "Data"; a copy
// over the pixel cap fetched once in a run; a picture too costly to decode whole read at the size
// shown.
#include "gallery/ImageViewController.h"

#include "demo/loopback/LoopbackServer.h"
#include "gallery/FullSizePictureHolder.h"
#include "gallery/ImageScrollView.h"
#include "gallery/ResourceLoader.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/PictureDecoding.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/HeldOpenFileIO.h"
#include "tests/fixtures/LibjpegPicture.h"
#include "tests/fixtures/PictureHeaders.h"
#include "tests/fixtures/Readme.h"
#include "tests/gallery/GalleryFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

class Journal : public NSObject {
public:
    std::vector<std::string> events;
    std::vector<std::shared_ptr<NSObject>> senders;
    void willShow(const NSNotification& note) { add("will show", note); }
    void didShow(const NSNotification& note) { add("did show", note); }
    void add(const std::string& event, const NSNotification& note) {
        events.push_back(event);
        senders.push_back(note.object());
    }
};

class ImageViewControllerTest : public GalleryFixture {
protected:
    // The page leaves the screen and comes back, and what that starts settles.
    void reappear() {
        page_->beginAppearanceTransition(false, false);
        page_->endAppearanceTransition();
        page_->beginAppearanceTransition(true, false);
        page_->endAppearanceTransition();
        settle();
    }
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(20'000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        auto center = NSNotificationCenter::defaultCenter();
        center->addObserver(journal_, &Journal::willShow, kImageViewControllerImageWillShow);
        center->addObserver(journal_, &Journal::didShow, kImageViewControllerImageDidShow);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(journal_);
        page_.reset();
        window_.reset();
        settle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
        GalleryFixture::TearDown();
    }
    // A painting whose picture the bundle holds.
    static const DemoPainting& localPainting() {
        for (const auto& painting : DemoCatalogue::paintings())
            if (!DemoCatalogue::isOnServerOnly(painting)) return painting;
        return DemoCatalogue::paintings().front();
    }
    // The pictures of the first `count` paintings the bundle holds.
    static std::vector<std::string> localPicturePaths(std::size_t count) {
        std::vector<std::string> paths;
        for (const auto& painting : DemoCatalogue::paintings())
            if (!DemoCatalogue::isOnServerOnly(painting) && paths.size() < count) paths.push_back(DemoCatalogue::imagePathOf(painting));
        return paths;
    }
    // The page as the window's screen; it appears at once.
    void show(const std::string& imagePath) {
        page_ = ImageViewController::initWithImageData(Value::Dictionary{{"imagePath", Value(imagePath)}}, galleryContext());
        window_ = UIWindow::make();
        window_->setRootViewController(page_);
        window_->makeKeyAndVisible();
    }

    std::shared_ptr<Journal> journal_ = std::make_shared<Journal>();
    std::shared_ptr<ImageViewController> page_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(ImageViewControllerTest, ThePictureIsReadBehindASpinnerAndFadesInWithItsTwoNotifications) {
    show(DemoCatalogue::imagePathOf(localPainting()));
    // Nothing is read on the main thread: the page waits behind a gray spinner.
    ASSERT_TRUE(page_->loadIndicator());
    EXPECT_TRUE(page_->loadIndicator()->isAnimating());
    EXPECT_EQ(page_->loadIndicator()->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleGray);
    EXPECT_FALSE(page_->image());
    EXPECT_EQ(page_->scrollView()->alpha(), 0);
    // The pager switches the spinner to white while its controls are hidden.
    NSNotificationCenter::defaultCenter()->postNotificationName(kImageViewControllerChangeLoadIndicatorStyleMessage,
                                                                nullptr, {{"style", Value(std::int64_t{1})}});
    EXPECT_EQ(page_->loadActivityStyle(), 1);
    EXPECT_EQ(page_->loadIndicator()->activityIndicatorViewStyle(), UIActivityIndicatorViewStyleWhite);

    settle();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_FALSE(page_->loadIndicator());
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show"}));
    pass(0.19);
    EXPECT_EQ(journal_->events.size(), 1u);
    pass(0.02);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show", "did show"}));
    EXPECT_EQ(journal_->senders.back(), page_);
    EXPECT_EQ(page_->scrollView()->alpha(), 1);

    // Gone, the page holds no picture; back, it reads it again, with no fade this time.
    page_->beginAppearanceTransition(false, false);
    page_->endAppearanceTransition();
    EXPECT_FALSE(page_->image());
    page_->beginAppearanceTransition(true, false);
    page_->endAppearanceTransition();
    settle();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show", "did show", "will show"}));
}

// A page zooms by its picture's pixels, so it holds its picture whole: the next page to read one
// makes the page before let go of its picture first, even while both are on screen (that one then
// shows a copy at the screen's size), and a page that leaves the screen or goes gives its picture
// back, which is freed off the main thread. At most one picture is held whole.
TEST_F(ImageViewControllerTest, AtMostOnePictureIsHeldWholeAndTheNextPageMakesTheOneBeforeLetGo) {
    const auto& holder = galleryContext().resources->fullSizePictures();
    const auto paths = localPicturePaths(3);
    ASSERT_EQ(paths.size(), 3u);
    show(paths[0]);
    settle();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(holder->heldPicture(), page_->image());
    std::weak_ptr<UIImage> first = page_->image();

    const auto pageOnItsOwn = [&](const std::string& path) {
        auto page = ImageViewController::initWithImageData(Value::Dictionary{{"imagePath", Value(path)}}, galleryContext());
        auto window = UIWindow::make();
        window->setRootViewController(page);
        window->makeKeyAndVisible();
        return std::make_pair(page, window);
    };
    auto [second, secondWindow] = pageOnItsOwn(paths[1]);
    // Let go as the second page asks for its picture: the holder no longer holds it, and the page,
    // still on screen, shows it whole until its copy fitted to the screen is made; the picture is
    // gone before the second is read, and the copy stays until the page leaves.
    EXPECT_FALSE(holder->heldPicture());
    EXPECT_FALSE(second->image());
    EXPECT_FALSE(first.expired());
    EXPECT_EQ(page_->image(), first.lock());
    settle();
    EXPECT_TRUE(first.expired());
    ASSERT_TRUE(second->image());
    EXPECT_EQ(holder->heldPicture(), second->image());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), 375);

    // Leaving the screen gives the picture back; so does going.
    second->beginAppearanceTransition(false, false);
    second->endAppearanceTransition();
    EXPECT_FALSE(holder->heldPicture());
    auto third = ImageViewController::initWithImageData(Value::Dictionary{{"imagePath", Value(paths[2])}}, galleryContext());
    third->beginAppearanceTransition(true, false);
    third->endAppearanceTransition();
    settle();
    ASSERT_TRUE(third->image());
    std::weak_ptr<UIImage> last = third->image();
    // The journal keeps the pages that told it of their pictures.
    journal_->senders.clear();
    third.reset();
    EXPECT_FALSE(holder->heldPicture());
    // Freed on the holder's queue, not on the main thread.
    settle();
    EXPECT_TRUE(last.expired());

    // The first page, back on screen, reads its picture again.
    reappear();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(holder->heldPicture(), page_->image());
}

// A page turning away keeps showing its picture whole while its copy at the screen's size is made
// off the main thread, and shows the copy once it is in place; the picture is freed only then, and
// before the next page's picture is read. A page turned back to before its copy is in place goes on
// showing its picture, takes it back whole without decoding it again, and never shows the copy.
TEST_F(ImageViewControllerTest, APageTurningAwayShowsItsPictureWholeUntilItsCopyIsInPlaceAndKeepsItWhenTurnedBackTo) {
    const auto& holder = galleryContext().resources->fullSizePictures();
    const auto paths = localPicturePaths(2);
    ASSERT_EQ(paths.size(), 2u);
    show(paths[0]);
    settle();
    pass(0.3);
    std::weak_ptr<UIImage> whole = page_->image();
    ASSERT_FALSE(whole.expired());
    const auto nextPage = [&] {
        auto page = ImageViewController::initWithImageData(Value::Dictionary{{"imagePath", Value(paths[1])}}, galleryContext());
        page->view()->setFrame(page_->view()->frame());
        return page;
    };

    // Turned away from and back to before anything the turn started has reached the main thread.
    page_->beginAppearanceTransition(false, true);
    auto next = nextPage();
    next->beginAppearanceTransition(true, true);
    EXPECT_EQ(page_->image(), whole.lock());
    next->beginAppearanceTransition(false, true);
    next->endAppearanceTransition();
    page_->beginAppearanceTransition(true, true);
    page_->endAppearanceTransition();
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    settle();
    EXPECT_EQ(page_->image(), whole.lock());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(holder->heldPicture(), page_->image());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    EXPECT_FALSE(next->image());

    // Turned away from for good: the picture whole until the copy is in place, then the copy.
    page_->beginAppearanceTransition(false, true);
    next = nextPage();
    next->beginAppearanceTransition(true, true);
    EXPECT_EQ(page_->image(), whole.lock());
    EXPECT_FALSE(next->image());
    settle();
    EXPECT_TRUE(whole.expired());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), 375);
    ASSERT_TRUE(next->image());
    EXPECT_EQ(holder->heldPicture(), next->image());
    page_->endAppearanceTransition();
    next->endAppearanceTransition();
    EXPECT_FALSE(page_->image());
    next->beginAppearanceTransition(false, false);
    next->endAppearanceTransition();
    settle();
}

// A page back on screen takes its picture as it was, when something still keeps it whole (a share
// sheet's item), rather than decoding a second; the holder itself keeps nothing it let go.
TEST_F(ImageViewControllerTest, APageBackOnScreenTakesItsPictureStillKeptElsewhereRatherThanDecodingItAgain) {
    show(DemoCatalogue::imagePathOf(localPainting()));
    settle();
    auto kept = page_->image();
    ASSERT_TRUE(kept);
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    reappear();
    EXPECT_EQ(page_->image(), kept);
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);

    kept.reset();
    reappear();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 1);
}

TEST_F(ImageViewControllerTest, TheHighResolutionPictureFadesInAndAMissingOneFallsBackToTheStandard) {
    const std::string path = DemoCatalogue::imagePathOf(localPainting());
    show(path);
    pass(1);
    ASSERT_TRUE(page_->image());

    // None on the device yet: the standard picture comes back and HD reads as not wanted.
    page_->setHdImage(true);
    EXPECT_TRUE(page_->hdImage());
    pass(0.2);
    settle();
    EXPECT_FALSE(page_->hdImage());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);

    writePNG(Sandbox::documents() + "/Data/hd-" + path, 640, 480);
    page_->setHdImage(true);
    pass(0.2);
    settle();
    EXPECT_TRUE(page_->hdImage());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), 640);
    pass(0.2);
    EXPECT_EQ(page_->scrollView()->alpha(), 1);

    page_->setHdImage(false);
    pass(0.2);
    settle();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);

    // A page that goes away forgets the wish: it comes back in the standard resolution.
    page_->setHdImage(true);
    pass(1);
    page_->beginAppearanceTransition(false, false);
    page_->endAppearanceTransition();
    EXPECT_FALSE(page_->hdImage());
}

TEST_F(ImageViewControllerTest, AChangeOfResolutionShowsTheOtherPictureOnlyOnceThePageHasFadedOut) {
    const std::string path = DemoCatalogue::imagePathOf(localPainting());
    writePNG(Sandbox::documents() + "/Data/hd-" + path, 64, 48);
    show(path);
    pass(1);
    ASSERT_TRUE(page_->image());
    journal_->events.clear();

    UIView::clearAnimationLog();
    page_->setHdImage(true);
    settle();
    // Fading out with the standard picture still in it, however long the read would take.
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(page_->scrollView()->alpha(), 0);
    pass(0.19);
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_TRUE(journal_->events.empty());
    pass(0.02);
    // Faded out: the high-resolution picture is in place and fades in, from 0 to 1 in 0.2 s.
    EXPECT_EQ(page_->image()->pixelWidth(), 64);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show"}));
    const auto log = UIView::animationLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1]->changed(page_->scrollView().get(), "opacity"));
    EXPECT_GE(log[1]->startTime, log[0]->endTime());
    EXPECT_DOUBLE_EQ(log[1]->duration, 0.2);
    EXPECT_EQ(page_->scrollView()->alpha(), 1);
    pass(0.21);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show", "did show"}));

    // Back and forth within one fade: only the last wish is read, once, and shows at full opacity.
    journal_->events.clear();
    page_->setHdImage(false);
    pass(0.1);
    page_->setHdImage(true);
    pass(0.12);
    EXPECT_TRUE(journal_->events.empty());
    EXPECT_EQ(page_->scrollView()->alpha(), 0);
    pass(0.1);
    EXPECT_TRUE(page_->hdImage());
    EXPECT_EQ(page_->image()->pixelWidth(), 64);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show"}));
    pass(0.21);
    EXPECT_EQ(page_->scrollView()->alpha(), 1);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show", "did show"}));

    // A page that goes while it fades out reads nothing when the fade ends.
    page_->setHdImage(false);
    page_->beginAppearanceTransition(false, false);
    page_->endAppearanceTransition();
    pass(0.3);
    EXPECT_FALSE(page_->image());
}

namespace {

// The pages download from the demo's content server, started for each test on a free port.
class PictureDownloadTest : public ImageViewControllerTest {
protected:
    void SetUp() override {
        ImageViewControllerTest::SetUp();
        server_ = startContentServer();
        ASSERT_TRUE(server_);
    }
    void TearDown() override {
        ImageViewControllerTest::TearDown();
        server_.reset();
    }
    // Rewrites the bundle's picture at `bundled` to claim 8200 x 6000 pixels, over the cap; its
    // bytes.
    NSData claimOverTheCap(const std::string& bundled) {
        const std::string picture = bytesOf(bundled);
        const NSData claim = claimingPixelSize(NSData(picture.begin(), picture.end()), 8200, 6000);
        EXPECT_TRUE(std::filesystem::remove(bundled));
        writeText(bundled, std::string(claim.begin(), claim.end()));
        return claim;
    }
    // The `nth` painting (from 0) whose picture only the server has.
    static const DemoPainting& serverOnlyPainting(std::size_t nth = 0) {
        for (const auto& painting : DemoCatalogue::paintings())
            if (DemoCatalogue::isOnServerOnly(painting) && nth-- == 0) return painting;
        return DemoCatalogue::paintings().front();
    }
    // Runs the main run loop until the page's download has ended, in real time (the answer
    // comes over the loopback network), then what follows on the queues.
    void awaitDownload() {
        ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return page_->downloadRequest() == nullptr; }, kNetworkWait));
        settle();
    }
    std::vector<LoopbackServer::Request> picturesAsked() const {
        std::vector<LoopbackServer::Request> out;
        for (const auto& r : server_->requests())
            if (r.path.rfind("/pic/", 0) == 0) out.push_back(r);
        return out;
    }
    static std::vector<std::string> filesIn(const std::string& folder) {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
            if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
        return names;
    }
    bool showsOffline() const {
        return page_->image() && page_->image() == UIImage::imageNamed(ImageViewController::kOfflineImageName);
    }

    std::unique_ptr<ContentServer> server_;
};

}  // namespace

TEST_F(PictureDownloadTest, AMissingPictureIsDownloadedIntoDocumentsDataOnceAndReadFromThereAfterwards) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    ASSERT_FALSE(exists(bundle() + "/Data/" + path));
    // The picture waits at the server while the page is looked at.
    server_->setFault("/pic/gallery/" + path, LoopbackServer::Fault::stall(0));
    show(path);
    settle();
    ASSERT_TRUE(server_->waitForStalls(1, kNetworkWait));
    ASSERT_TRUE(page_->downloadRequest());
    ASSERT_TRUE(page_->loadIndicator());
    server_->removeFaults();
    awaitDownload();

    const std::string stored = Sandbox::documents() + "/Data/" + path;
    ASSERT_TRUE(exists(stored));
    EXPECT_EQ(bytesOf(stored), bytesOf(serverFolder() + "/pic/gallery/" + path));
    ASSERT_TRUE(page_->image());
    EXPECT_FALSE(showsOffline());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_FALSE(page_->loadIndicator());
    pass(0.2);
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show", "did show"}));
    // No download file is left in Caches.
    EXPECT_TRUE(filesIn(Sandbox::caches()).empty()) << filesIn(Sandbox::caches()).front();
    ASSERT_EQ(picturesAsked().size(), 1u);
    EXPECT_EQ(picturesAsked().front().path, "/pic/gallery/" + path);
    EXPECT_EQ(picturesAsked().front().method, "GET");

    // Back on screen, the page reads the file: the server is not asked again.
    reappear();
    EXPECT_FALSE(page_->downloadRequest());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(picturesAsked().size(), 1u);
}

// A stored picture whose header says that it does not decode whole within the bound on a decode's
// memory, but does reduced, is sound (a bound on memory, not damage): the page on a pad (2048 px)
// reads its file once and decodes it only at the largest of the decoder's own scales below the
// screen's size that the bound allows, says so, keeps its file, and downloads nothing. While it is
// read the page waits behind its spinner, and a person can go back: the read stops before it
// decodes anything, nothing is shown, and the next visit reads it again at that size.
TEST_F(PictureDownloadTest, AStoredPictureTooCostlyToDecodeWholeIsReadAtTheSizeShownBehindASpinnerThatCanBeLeft) {
    struct PadScreen {
        const CGFloat scale = UIImage::screenScale();
        PadScreen() {
            UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
            UIImage::setScreenScale(2);
        }
        ~PadScreen() {
            UIImage::setScreenScale(scale);
            UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        }
    } pad;
    const auto& holder = galleryContext().resources->fullSizePictures();
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    const std::string stored = Sandbox::documents() + "/Data/" + path;
    const int side = 2400;
    const NSData photograph = grainyProgressiveJPEG(side, side);
    writeText(stored, std::string(photograph.begin(), photograph.end()));
    // Its coefficients, the decoders' rows (a twentieth of the bound) and 2 MB: room for a reduced
    // picture's sums up to 362 px, none for the one scan it is rewritten to when decoded whole.
    constexpr std::uint64_t kCoefficients = 2400ull * 2400 * 6;
    ui_detail::ScopedDecodingBound lowered((kCoefficients + (2 << 20)) * 20 / 19);
    NSErrorPtr refused;
    ASSERT_FALSE(UIImage::imageWithContentsOfFile(stored, &refused));
    ASSERT_TRUE(refused);
    ASSERT_EQ(refused->code(), UIImageErrorTooCostlyWhole);

    // The page's reading of the file waits, as behind a slow disk.
    HeldOpen held(stored, 1);
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    testing::internal::CaptureStderr();
    show(path);
    ASSERT_TRUE(held->waitUntilHeld(kNetworkWait));
    ASSERT_TRUE(page_->loadIndicator());
    EXPECT_TRUE(page_->loadIndicator()->isAnimating());
    EXPECT_FALSE(page_->image());
    page_->beginAppearanceTransition(false, false);
    page_->endAppearanceTransition();
    held->release();
    ASSERT_TRUE(DispatchQuiescence::waitUntilIdle(kNetworkWait));
    settle();
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    EXPECT_FALSE(page_->image());
    EXPECT_FALSE(holder->heldPicture());
    EXPECT_TRUE(journal_->events.empty());

    page_->beginAppearanceTransition(true, false);
    page_->endAppearanceTransition();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return page_->image() != nullptr; }, kNetworkWait));
    settle();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(showsOffline());
    // 6/8 of its side: 7/8 (2100 px) is larger than the screen.
    EXPECT_EQ(page_->image()->pixelWidth(), 1800);
    EXPECT_EQ(page_->image()->size(), CGSizeMake(side, side));
    EXPECT_FALSE(page_->loadIndicator());
    EXPECT_EQ(journal_->events, (std::vector<std::string>{"will show"}));
    // One reading and one decode a visit, at that size: the whole is never tried.
    EXPECT_EQ(held->opened(), 2);
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 1);
    EXPECT_THAT(log, testing::HasSubstr("The picture Data/" + path + " is shown reduced, at 1800 x 1800 pixels."));
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("at its full size")));
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("is not a picture that can be shown")));
    EXPECT_FALSE(page_->downloadRequest());
    EXPECT_TRUE(picturesAsked().empty());
    EXPECT_EQ(bytesOf(stored), std::string(photograph.begin(), photograph.end()));
}

// A stored picture whose header lets its whole decode be tried, and whose one scan then comes out
// longer than the bound leaves room for, is shown reduced on that same visit; from then on, while
// its file is unchanged, the page decodes it only reduced.
TEST_F(PictureDownloadTest, APictureWhoseWholeDecodeMetTheBoundIsShownReducedAndNotTriedWholeAgain) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    const std::string stored = Sandbox::documents() + "/Data/" + path;
    const NSData photograph = grainyProgressiveJPEG(2400, 2400);
    writeText(stored, std::string(photograph.begin(), photograph.end()));
    std::filesystem::last_write_time(stored, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ui_detail::PictureHeader header;
    std::string why;
    ASSERT_EQ(ui_detail::readPictureHeader(photograph, header, why), ui_detail::PictureHeaderVerdict::Taken);
    // Its coefficients, the rewrite's tables and its scans' bytes and a fiftieth: short of the scan
    // libjpeg writes for it, a twentieth longer.
    ui_detail::ScopedDecodingBound lowered(header.coefficientBytes + (1 << 20) + header.scanBytes * 51 / 50);

    // Its decodes are long ones, which a settle does not wait for.
    const auto shown = [&] {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return page_->image() != nullptr; }, kNetworkWait);
    };
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    testing::internal::CaptureStderr();
    show(path);
    ASSERT_TRUE(shown());
    settle();
    std::string log = testing::internal::GetCapturedStderr();
    // The largest of the decoder's scales below the phone's 667 px that the bound allows: 2/8.
    EXPECT_EQ(page_->image()->pixelWidth(), 600);
    EXPECT_THAT(log, testing::HasSubstr("needs more memory to decode at its full size"));
    EXPECT_THAT(log, testing::HasSubstr("The picture Data/" + path + " is shown reduced, at 600 x 600 pixels."));
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 2);

    testing::internal::CaptureStderr();
    page_->beginAppearanceTransition(false, false);
    page_->endAppearanceTransition();
    page_->beginAppearanceTransition(true, false);
    page_->endAppearanceTransition();
    ASSERT_TRUE(shown());
    settle();
    log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(page_->image()->pixelWidth(), 600);
    EXPECT_THAT(log, testing::Not(testing::HasSubstr("at its full size")));
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 3);
    EXPECT_TRUE(picturesAsked().empty());
    EXPECT_EQ(bytesOf(stored), std::string(photograph.begin(), photograph.end()));
}

// A picture in the bundle that cannot be shown (over the pixel cap) gives way to the copy the
// server has: the page downloads it once, keeps it and shows it, and on its next visits reads it
// from Documents without asking again. The bundled file is logged once, however often it comes. The
// README gives the cap and the longest file to whoever puts a picture of their own in the bundle.
TEST_F(PictureDownloadTest, ABundledPictureOverTheCapGivesWayToTheServedCopyWhichIsKept) {
    const auto grouped = [](std::int64_t number) {
        std::string digits = std::to_string(number);
        for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<std::size_t>(at), ",");
        return digits;
    };
    EXPECT_NE(readmeText().find("A picture may have at most " + grouped(UIImage::kMaxPixelCount) +
                                " pixels (8000 x 6000, or 6928 x 6928) and its file at most " +
                                grouped(UIImage::kMaxEncodedLength) +
                                " bytes: one larger is not shown, the diagnostics log says why, and the page and the "
                                "grid show the drawn painting the server has in its place."),
              std::string::npos);
    const std::string path = DemoCatalogue::imagePathOf(localPainting());
    const std::string bundled = useBundleCopy() + "/Data/" + path;
    claimOverTheCap(bundled);

    testing::internal::CaptureStderr();
    show(path);
    settle();
    awaitDownload();
    for (int visit = 0; visit < 2; ++visit) {
        reappear();
        settle();
    }
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string stored = Sandbox::documents() + "/Data/" + path;
    ASSERT_TRUE(exists(stored));
    EXPECT_EQ(bytesOf(stored), bytesOf(serverFolder() + "/pic/gallery/" + path));
    ASSERT_TRUE(page_->image());
    EXPECT_FALSE(showsOffline());
    EXPECT_EQ(page_->image()->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(picturesAsked().size(), 1u);
    const std::string refused = "The file " + bundled + " is not a picture that can be shown. It claims 8200 x 6000 pixels";
    std::size_t lines = 0;
    for (auto at = log.find("is not a picture that can be shown"); at != std::string::npos;
         at = log.find("is not a picture that can be shown", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << log;
    EXPECT_THAT(log, testing::HasSubstr(refused)) << log;
}

// When the server's copy is over the pixel cap too, it is fetched once in a run: the page shows the
// offline picture, keeps nothing, says once that the copy is not fetched again, and its next
// visits ask for nothing. A copy cut short on its way is not held against it: it is asked again.
TEST_F(PictureDownloadTest, AServedCopyOverThePixelCapTooIsFetchedOnceInARun) {
    const std::string path = DemoCatalogue::imagePathOf(localPainting());
    const std::string bundled = useBundleCopy() + "/Data/" + path;
    const NSData claim = claimOverTheCap(bundled);
    LoopbackServer loopback;
    loopback.serve("/pic/" + path, LoopbackServer::Response::make(200, std::string(claim.begin(), claim.end()), "image/jpeg"));
    galleryContext().app.config->urlFormat()->setImages(loopback.url("/pic/%@"));
    const std::string stored = Sandbox::documents() + "/Data/" + path;

    loopback.setFault("/pic/" + path, LoopbackServer::Fault::reset());
    show(path);
    settle();
    awaitDownload();
    EXPECT_TRUE(showsOffline());
    loopback.removeFaults();

    testing::internal::CaptureStderr();
    for (int visit = 0; visit < 2; ++visit) {
        reappear();
        if (page_->downloadRequest()) awaitDownload();
        EXPECT_TRUE(showsOffline()) << visit;
        EXPECT_FALSE(exists(stored)) << visit;
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(page_->downloadRequest());
    EXPECT_EQ(loopback.requestsFor("/pic/" + path).size(), 2u);
    const std::string said = "The copy of Data/" + path +
                             " from the server cannot be shown; it is removed and not fetched again while the "
                             "application runs.";
    std::size_t lines = 0;
    for (auto at = log.find("not fetched again"); at != std::string::npos; at = log.find("not fetched again", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << log;
    EXPECT_THAT(log, testing::HasSubstr(said)) << log;
    EXPECT_TRUE(journal_->events.empty());
}

TEST_F(PictureDownloadTest, AnErrorStatusShowsTheOfflinePictureAndKeepsNothing) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    server_->setFault("/pic/gallery/" + path, LoopbackServer::Fault::withStatus(404));
    show(path);
    settle();
    awaitDownload();
    EXPECT_TRUE(showsOffline());
    EXPECT_EQ(page_->scrollView()->alpha(), 1);
    EXPECT_FALSE(page_->scrollView()->isScrollEnabled());
    EXPECT_FALSE(page_->loadIndicator());
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/" + path));
    EXPECT_TRUE(journal_->events.empty());
}

// A server's page served with 200 in place of the picture (a login portal's, an error page) is no
// picture: it is not kept and the page shows the offline picture. It says nothing of the picture,
// so the next appearance asks again and keeps the picture that comes then.
TEST_F(PictureDownloadTest, ABodyThatIsNoPictureIsNotKeptAndTheNextAppearanceAsksAgain) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    server_->setFault("/pic/gallery/" + path, LoopbackServer::Fault::withPage(LoopbackServer::Fault::Page::Error));
    show(path);
    settle();
    awaitDownload();
    EXPECT_TRUE(showsOffline());
    // Not on the device, so nothing counts it as downloaded.
    EXPECT_FALSE(galleryContext().resources->fileExistsInCaches("Data/" + path));
    EXPECT_TRUE(filesIn(Sandbox::caches()).empty());
    EXPECT_TRUE(journal_->events.empty());
    server_->removeFaults();
    reappear();
    awaitDownload();
    ASSERT_TRUE(page_->image());
    EXPECT_FALSE(showsOffline());
    EXPECT_EQ(bytesOf(Sandbox::documents() + "/Data/" + path), bytesOf(serverFolder() + "/pic/gallery/" + path));
    reappear();
    EXPECT_FALSE(page_->downloadRequest());
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(picturesAsked().size(), 2u);

    // A stored file that does not decode is replaced by the next download.
    const std::string other = DemoCatalogue::imagePathOf(serverOnlyPainting(1));
    ASSERT_NE(other, path);
    writeText(Sandbox::documents() + "/Data/" + other, "\xFF\xD8\xFF broken");
    show(other);
    settle();
    awaitDownload();
    ASSERT_TRUE(page_->image());
    EXPECT_FALSE(showsOffline());
    EXPECT_EQ(bytesOf(Sandbox::documents() + "/Data/" + other), bytesOf(serverFolder() + "/pic/gallery/" + other));
}

// A copy cut off on its way (its whole length declared, half of it sent, the connection closed) is
// asked for once at each appearance, and each time the log says that it could not be downloaded.
TEST_F(PictureDownloadTest, ACopyCutOffOnItsWayIsAskedForOnceAVisitAndTheLogSaysSo) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    server_->setFault("/pic/gallery/" + path, LoopbackServer::Fault::reset());
    testing::internal::CaptureStderr();
    show(path);
    settle();
    awaitDownload();
    EXPECT_TRUE(showsOffline());
    for (int visit = 2; visit <= 3; ++visit) {
        reappear();
        awaitDownload();
        EXPECT_TRUE(showsOffline()) << visit;
        EXPECT_EQ(picturesAsked().size(), static_cast<std::size_t>(visit));
    }
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string said = "The picture Data/" + path + " could not be downloaded: The network connection was lost.";
    std::size_t lines = 0;
    for (auto at = log.find(said); at != std::string::npos; at = log.find(said, at + 1)) ++lines;
    EXPECT_EQ(lines, 3u) << log;
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/" + path));
    EXPECT_TRUE(filesIn(Sandbox::caches()).empty()) << filesIn(Sandbox::caches()).front();
    EXPECT_TRUE(journal_->events.empty());
}

TEST_F(PictureDownloadTest, APictureThatCannotBePutInPlaceIsNotKeptAnywhere) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    // A file where the Data folder belongs: the downloaded picture has nowhere to go.
    writeText(Sandbox::documents() + "/Data", "not a folder");
    show(path);
    settle();
    awaitDownload();
    ASSERT_EQ(picturesAsked().size(), 1u);
    EXPECT_TRUE(showsOffline());
    EXPECT_FALSE(galleryContext().resources->fileExistsInCaches("Data/" + path));
    EXPECT_TRUE(filesIn(Sandbox::caches()).empty()) << filesIn(Sandbox::caches()).front();
    EXPECT_TRUE(journal_->events.empty());
}

// The downloaded picture goes into Documents "Data" through the file system in use: a move that
// fails, or a copy onto another disk that fills up, keeps nothing half-written anywhere, shows
// the offline picture and says why; the next visit downloads it again and keeps it.
TEST_F(PictureDownloadTest, APictureThatCannotBeSavedIsNotKeptAnywhereAndTheNextVisitSavesIt) {
    using testing::HasSubstr;
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    const std::string stored = Sandbox::documents() + "/Data/" + path;
    const struct {
        const char* fault;
        std::function<void(FaultInjection&)> inject;
        const char* says;
    } cases[] = {
        {"failed move", [&](FaultInjection& io) { io->failRename(stored); }, "Input/output error"},
        {"another disk that fills up",
         [&](FaultInjection& io) {
             io->failRename(stored, EXDEV);
             io->noSpace(stored);
         },
         "no space left on the volume"},
    };
    std::size_t asked = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultInjection io;
        c.inject(io);
        journal_->events.clear();
        testing::internal::CaptureStderr();
        show(path);
        settle();
        awaitDownload();
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(picturesAsked().size(), ++asked);
        EXPECT_GT(io->injected(), 0);
        EXPECT_THAT(log, HasSubstr("The downloaded picture could not be moved to " + stored));
        EXPECT_THAT(log, HasSubstr(c.says));
        EXPECT_TRUE(showsOffline());
        EXPECT_FALSE(exists(stored));
        EXPECT_TRUE(filesIn(Sandbox::caches()).empty()) << filesIn(Sandbox::caches()).front();
        EXPECT_TRUE(journal_->events.empty());
    }
    show(path);
    settle();
    awaitDownload();
    EXPECT_EQ(picturesAsked().size(), asked + 1);
    EXPECT_FALSE(showsOffline());
    EXPECT_EQ(bytesOf(stored), bytesOf(serverFolder() + "/pic/gallery/" + path));
}

TEST_F(PictureDownloadTest, AnAnswerLongerThanAnyPictureIsRefusedAndKeepsNothing) {
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());
    LoopbackServer loopback;
    LoopbackServer::Response endless;
    endless.body = bytesOf(serverFolder() + "/pic/gallery/" + path);
    endless.fault = LoopbackServer::Fault{};
    endless.fault->repeatBodyTo = static_cast<std::size_t>(UIImage::kMaxEncodedLength) + 1;
    loopback.serve("/pic/" + path, endless);
    galleryContext().app.config->urlFormat()->setImages(loopback.url("/pic/%@"));
    show(path);
    settle();
    awaitDownload();
    EXPECT_EQ(loopback.requestsFor("/pic/" + path).size(), 1u);
    EXPECT_TRUE(showsOffline());
    EXPECT_FALSE(galleryContext().resources->fileExistsInCaches("Data/" + path));
    EXPECT_TRUE(filesIn(Sandbox::caches()).empty()) << filesIn(Sandbox::caches()).front();
    EXPECT_TRUE(journal_->events.empty());
}

TEST_F(PictureDownloadTest, ANameThatWouldLeaveDataIsNeitherAskedForNorWritten) {
    show("../viewed_images");
    settle();
    EXPECT_FALSE(page_->downloadRequest());
    EXPECT_TRUE(showsOffline());
    EXPECT_TRUE(picturesAsked().empty());
    EXPECT_FALSE(page_->loadIndicator());
}

namespace {

// Counts what the page tells it.
class TallyCounter : public DownloadsCounter {
public:
    void setup(const std::shared_ptr<DataSource>&) override {}
    bool allFilesDownloaded() const override { return false; }
    void checkDownloadedFiles() override {}
    void fileDownloaded() override { ++fetched; }
    void downloadAllImages() override {}
    void showDownloadAlertFromController(const std::shared_ptr<UIViewController>&) override {}
    int fetched = 0;
};

}  // namespace

TEST_F(PictureDownloadTest, APictureIsCountedAndAnnouncedOnceWhenItIsInPlaceAndDecodes) {
    auto tally = std::make_shared<TallyCounter>();
    countDownloadsWith(tally);
    int announced = 0;
    auto listener = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(listener, [&](const NSNotification&) { ++announced; },
                                                       kImagesDataChanged);
    const std::string path = DemoCatalogue::imagePathOf(serverOnlyPainting());

    // Refused, or no picture (another painting's, as this one would not be asked again): neither
    // counted nor announced.
    server_->setFault("/pic/gallery/" + path, LoopbackServer::Fault::withStatus(500));
    show(path);
    settle();
    awaitDownload();
    const std::string other = DemoCatalogue::imagePathOf(serverOnlyPainting(1));
    server_->setFault("/pic/gallery/" + other, LoopbackServer::Fault::withPage(LoopbackServer::Fault::Page::Error));
    show(other);
    settle();
    awaitDownload();
    EXPECT_EQ(tally->fetched, 0);
    EXPECT_EQ(announced, 0);

    // In place and decoded: once each.
    server_->removeFaults();
    show(path);
    settle();
    awaitDownload();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(tally->fetched, 1);
    EXPECT_EQ(announced, 1);

    // Read from the device on its next appearance: nothing more.
    reappear();
    ASSERT_TRUE(page_->image());
    EXPECT_EQ(tally->fetched, 1);
    EXPECT_EQ(announced, 1);
    NSNotificationCenter::defaultCenter()->removeObserver(listener.get());
    countDownloadsWith(nullptr);
}
