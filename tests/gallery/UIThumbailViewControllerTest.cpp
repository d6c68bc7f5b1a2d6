// The thumbnail pipeline against the demo content server on 127.0.0.1 (files on the device,
// fetches kept only when they are pictures within their bound, large claims decoded small, paths
// kept inside their folders, recycled views),
// the signs, and the thumbnail screen: its grid and list as the simulator shows them, the page
// curl between them, the grid's geometry, the filter rule, reloads and the way to the pager.
#include "gallery/UIThumbailViewController.h"

#include "content/OEFilterStorage.h"
#include "content/tempDataSource.h"
#include "demo/loopback/LoopbackServer.h"
#include "demo/server/ContentServer.h"
#include "gallery/DownloadedImagesCount.h"
#include "gallery/FileListDownloader.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoPageViewController.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIInfoView.h"
#include "gallery/UIThumbCollectionCell.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimCommand.h"
#include "simulator/SimScreen.h"
#include "simulator/SimSession.h"
#include "tests/fixtures/PictureHeaders.h"
#include "tests/fixtures/Readme.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr double kSafety = 20.0;

Value::Dictionary rowFor(const std::string& imagePath) { return {{"imagePath", Value(imagePath)}}; }

const DemoPainting& painting(bool onServerOnly, int skip = 0) {
    for (const auto& candidate : DemoCatalogue::paintings()) {
        const std::string path = DemoCatalogue::imagePathOf(candidate);
        if (DemoCatalogue::isOnServerOnly(candidate) == onServerOnly && path.ends_with(".jpg") && skip-- == 0)
            return candidate;
    }
    ADD_FAILURE() << "no such demo painting";
    return DemoCatalogue::paintings().front();
}

bool spinning(const std::shared_ptr<UIView>& view) {
    for (const auto& sub : view->subviews())
        if (std::dynamic_pointer_cast<UIActivityIndicatorView>(sub)) return true;
    return false;
}

// The mode switch among the toolbar's items.
std::shared_ptr<UISegmentedControl> segmentsOf(const UIThumbailViewController& screen) {
    for (const auto& item : screen.toolbaritems())
        if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(item->customView())) return control;
    ADD_FAILURE() << "no mode switch in the toolbar";
    return nullptr;
}

std::string pictureName(const std::shared_ptr<UIImageView>& view) {
    auto image = view->image();
    return image ? fs::path(image->name()).filename().string() : "";
}

// Opens the pager as a plain screen titled with the picture's index.
class PagedThumbnails : public UIThumbailViewController {
public:
    using UIThumbailViewController::UIThumbailViewController;
    std::shared_ptr<UIViewController> photoControllerForImage(std::size_t index) override {
        auto pager = UIViewController::make();
        pager->setTitle("pager at " + std::to_string(index));
        return pager;
    }
    // A real pager (the slideshow's) is kept here instead of being shown.
    void showPhotoController(const std::shared_ptr<UIViewController>& controller) override {
        if (auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(controller)) {
            shownPagers.push_back(pager);
            return;
        }
        UIThumbailViewController::showPhotoController(controller);
    }
    std::vector<std::shared_ptr<PhotoPageViewController>> shownPagers;
};

class ThumbnailTest : public GalleryFixture {
protected:
    // One server for the suite: a stopping server waits out its clients' idle connections.
    static void SetUpTestSuite() {
        std::string error;
        suiteServer_ = ContentServer::start({serverFolder(), "", 0, {}}, &error);
        ASSERT_TRUE(suiteServer_) << error;
    }
    static void TearDownTestSuite() { suiteServer_.reset(); }
    void SetUp() override {
        GalleryFixture::SetUp();
        ASSERT_TRUE(suiteServer_);
        server_ = suiteServer_.get();
        server_->removeFaults();
        server_->clearRequests();
        pointThumbnailsAt(server_->host());
    }
    void TearDown() override {
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        ActivityView::sharedActivityView()->hideActivityIndicator();
        countDownloadsWith(nullptr);
        window_.reset();
        screen_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        server_->releaseStalls();
        server_->removeFaults();
        // The suite shares its server: a fetch of this test still on its way would be logged
        // among the next test's requests.
        EXPECT_TRUE(pumpUntil([] { return URLNetwork::liveTransferCount() == 0; }));
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIView::clearAnimationLog();
        UIImage::setScreenScale(1);
        Clock::setReal();
        GalleryFixture::TearDown();
    }
    void pointThumbnailsAt(const std::string& host) {
        galleryContext().app.config->urlFormat()->setThumbs(host + "/data/gallery/thumbs/%@");
    }
    static bool pumpUntil(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, kSafety); }
    // Every fetch handed to the session so far has reached the main queue and run there.
    static void flushFetches() {
        auto flushed = std::make_shared<std::atomic<bool>>(false);
        NSURLSession::sharedSession()->delegateQueue()->post(
            [flushed] { DispatchQueue::mainQueue()->async([flushed] { *flushed = true; }); });
        ASSERT_TRUE(pumpUntil([&] { return flushed->load(); }));
    }
    std::vector<std::string> thumbnailRequests() {
        std::vector<std::string> paths;
        for (const auto& request : server_->requests())
            if (request.path.starts_with("/data/gallery/thumbs/")) paths.push_back(request.path.substr(21));
        return paths;
    }
    std::string cached(const std::string& relative) const { return Sandbox::caches() + "/Data/" + relative; }

    // The screen of `subCat` in a navigation controller of a window of `size`.
    std::shared_ptr<PagedThumbnails> show(const std::shared_ptr<dataSubCat>& subCat, CGSize size, bool alowFilter = true,
                                          std::shared_ptr<DataSource> source = nullptr) {
        auto screen = std::make_shared<PagedThumbnails>(source ? source : catalogue(), subCat, alowFilter, galleryContext());
        screen_ = screen;
        navigation_ = UINavigationController::initWithRootViewController(screen);
        window_ = UIWindow::initWithFrame({{0, 0}, size});
        window_->setRootViewController(navigation_);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        window_->layoutIfNeeded();
        return screen;
    }
    // The text screen once every thumbnail on it has come.
    std::string settledScreen() {
        EXPECT_TRUE(pumpUntil([] {
            NSRunLoop::mainRunLoop()->runUntilIdle();
            return !SimScreen::capture().contains("(busy)");
        }));
        window_->layoutIfNeeded();
        return SimScreen::capture().text();
    }
    // The genre group with the fewest paintings, four or more, among those with a painting on
    // the server only.
    std::shared_ptr<dataSubCat> smallGroupWithServerPictures() {
        auto source = catalogue();
        std::shared_ptr<dataSubCat> best;
        std::size_t fewest = SIZE_MAX;
        for (const auto& cat : *source->catList()) {
            for (const auto& subCat : *source->subCatList(cat)) {
                const auto rows = source->list(subCat);
                bool remote = false;
                for (const auto& row : *rows)
                    for (const auto& p : DemoCatalogue::paintings())
                        if (DemoCatalogue::imagePathOf(p) == row.get("imagePath").stringValue() &&
                            DemoCatalogue::isOnServerOnly(p))
                            remote = true;
                if (remote && rows->size() >= 4 && rows->size() < fewest) {
                    fewest = rows->size();
                    best = subCat;
                }
            }
        }
        return best;
    }

    // Pictures come from the suite's server too, and are counted by a count over the catalogue.
    std::shared_ptr<DownloadedImagesCount> countPictures() {
        galleryContext().app.config->urlFormat()->setImages(server_->host() + "/pic/gallery/%@");
        galleryContext().app.config->images()->setImageStorageType(3);
        auto count = DownloadedImagesCount::make(galleryContext(), nullptr);
        count->setup(tempDataSource::tempImagesDataSource(galleryContext().app));
        countDownloadsWith(count);
        return count;
    }
    std::vector<std::string> requestedPictures() const {
        std::vector<std::string> paths;
        for (const auto& request : server_->requests())
            if (request.path.starts_with("/pic/gallery/")) paths.push_back(request.path.substr(13));
        return paths;
    }
    std::shared_ptr<UIAlertController> question() const {
        return std::dynamic_pointer_cast<UIAlertController>(topController(window_->rootViewController()));
    }
    static std::vector<std::string> toolbarTitles(const std::vector<std::shared_ptr<UIBarButtonItem>>& items) {
        std::vector<std::string> titles;
        for (const auto& item : items) {
            if (std::dynamic_pointer_cast<UISegmentedControl>(item->customView())) titles.push_back("(modes)");
            else if (item->isSpace()) titles.push_back(item->width() > 0 ? "(" + std::to_string(static_cast<int>(item->width())) + ")" : "(flex)");
            else titles.push_back(item->title());
        }
        return titles;
    }

    static inline std::unique_ptr<ContentServer> suiteServer_;
    ContentServer* server_ = nullptr;
    std::shared_ptr<UIThumbailViewController> screen_;
    std::shared_ptr<UINavigationController> navigation_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(ThumbnailTest, AThumbnailComesFromTheDeviceOrOnceFromTheServer) {
    EXPECT_EQ(UIThumbailViewController::thumbnailPath("p0001.jpg"), "p0001_thumb.jpg");
    EXPECT_EQ(UIThumbailViewController::thumbnailPath("p0002.JPG"), "p0002_thumb.jpg");
    EXPECT_EQ(UIThumbailViewController::thumbnailPath("p0003.png"), "p0003.png");

    // In the bundle: at once, without asking the server.
    const std::string local = DemoCatalogue::imagePathOf(painting(false));
    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(local), galleryContext());
    EXPECT_EQ(pictureName(view), DemoCatalogue::thumbnailPathOf(painting(false)));
    EXPECT_FALSE(spinning(view));
    const std::string upper = DemoCatalogue::imagePathOf(paintingWithExtension(".JPG"));
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(upper), galleryContext());
    EXPECT_EQ(pictureName(view), UIThumbailViewController::thumbnailPath(upper));

    // On the server only: a spinner, then the fetched picture, kept in Caches.
    const std::string remote = DemoCatalogue::imagePathOf(painting(true));
    const std::string thumbnail = UIThumbailViewController::thumbnailPath(remote);
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(remote), galleryContext());
    EXPECT_FALSE(view->image());
    EXPECT_TRUE(spinning(view));
    ASSERT_TRUE(pumpUntil([&] { return !spinning(view); }));
    ASSERT_TRUE(view->image());
    EXPECT_EQ(view->image()->pixelWidth(), kDemoThumbnailWidth);
    EXPECT_EQ(bytesOf(cached(thumbnail)), bytesOf(serverFolder() + "/data/gallery/thumbs/" + thumbnail));
    EXPECT_EQ(thumbnailRequests(), std::vector<std::string>{thumbnail});

    // The next time it is on the device.
    auto again = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));
    UIThumbailViewController::loadThumbnailForImageView(again, rowFor(remote), galleryContext());
    EXPECT_EQ(pictureName(again), thumbnail);
    EXPECT_FALSE(spinning(again));
    EXPECT_EQ(thumbnailRequests().size(), 1u);
}

TEST_F(ThumbnailTest, OnlyAPictureThatCameWithSuccessIsKept) {
    const std::string remote = DemoCatalogue::imagePathOf(painting(true));
    const std::string thumbnail = UIThumbailViewController::thumbnailPath(remote);
    const std::string served = "/data/gallery/thumbs/" + thumbnail;
    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));
    auto fetch = [&](const Value::Dictionary& row) {
        UIThumbailViewController::loadThumbnailForImageView(view, row, galleryContext());
        EXPECT_TRUE(pumpUntil([&] { return !spinning(view); }));
    };

    fetch(rowFor("nowhere.jpg"));  // 404
    EXPECT_FALSE(view->image());
    EXPECT_FALSE(exists(cached("nowhere_thumb.jpg")));

    std::vector<std::pair<std::string, LoopbackServer::Fault>> faults;
    const auto failing = LoopbackServer::Fault::withStatus(500);
    faults.emplace_back("500", failing);
    const auto page = LoopbackServer::Fault::withPage(LoopbackServer::Fault::Page::Error);  // served with 200
    faults.emplace_back("html", page);
    const auto cut = LoopbackServer::Fault::reset(100);
    faults.emplace_back("reset", cut);
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        server_->setFault(served, fault);
        fetch(rowFor(remote));
        EXPECT_FALSE(view->image());
        EXPECT_FALSE(exists(cached(thumbnail)));
    }
    EXPECT_EQ(thumbnailRequests().size(), 4u);

    // A whole answer whose picture stops half-way does not decode.
    LoopbackServer loopback;
    LoopbackServer::Response half;
    half.body = bytesOf(serverFolder() + served).substr(0, 300);
    writePNG(Sandbox::home() + "/whole.png", 64, 64);
    LoopbackServer::Response truncatedPNG;
    truncatedPNG.body = bytesOf(Sandbox::home() + "/whole.png");
    truncatedPNG.body.resize(truncatedPNG.body.size() / 2);
    loopback.serve(served, half);
    loopback.serve("/data/gallery/thumbs/half.png", truncatedPNG);
    // A whole picture, but as the body of a 404: a server's "not found" image is no thumbnail.
    LoopbackServer::Response notFoundPicture;
    notFoundPicture.status = 404;
    notFoundPicture.body = bytesOf(Sandbox::home() + "/whole.png");
    loopback.serve("/data/gallery/thumbs/not-found.png", notFoundPicture);
    pointThumbnailsAt(loopback.url(""));
    for (const std::string& path : {remote, std::string("half.png"), std::string("not-found.png")}) {
        SCOPED_TRACE(path);
        fetch(rowFor(path));
        EXPECT_FALSE(view->image());
        EXPECT_FALSE(exists(cached(UIThumbailViewController::thumbnailPath(path))));
    }
    EXPECT_EQ(loopback.requests().size(), 3u);

    // Mended, it is fetched again and kept.
    server_->removeFaults();
    pointThumbnailsAt(server_->host());
    fetch(rowFor(remote));
    ASSERT_TRUE(view->image());
    EXPECT_TRUE(exists(cached(thumbnail)));
}

TEST_F(ThumbnailTest, LargePicturesAreDecodedSmallAndClaimsTheirBytesCannotHoldOrOverlongAnswersAreNoThumbnails) {
    // Large pictures under the pixel cap.
    const NSData large =
        UIImageJPEGRepresentation(UIImage::imageWithPixels(std::vector<std::uint8_t>(2000 * 1500 * 4, 200), 2000, 1500, 1), 0.9);
    auto sample = UIImage::imageWithPixels(std::vector<std::uint8_t>(16 * 16 * 4, 200), 16, 16, 1);
    const NSData jpegBytes = UIImageJPEGRepresentation(sample, 0.9);
    LoopbackServer loopback;
    const auto served = [](const NSData& bytes) {
        LoopbackServer::Response answer;
        answer.body.assign(bytes.begin(), bytes.end());
        return answer;
    };
    for (const std::string name : {"a", "b", "c"}) loopback.serve("/data/gallery/thumbs/large-" + name + "_thumb.jpg", served(large));
    // Small bodies whose headers claim sizes under the cap.
    loopback.serve("/data/gallery/thumbs/bomb_thumb.jpg", served(claimingPixelSize(jpegBytes, 8000, 6000)));
    loopback.serve("/data/gallery/thumbs/bomb.png", served(claimingPixelSize(UIImagePNGRepresentation(sample), 3000, 3000)));
    // A real thumbnail with more behind it than any picture has: refused by its length alone.
    loopback.serve("/data/gallery/thumbs/long_thumb.jpg", served(jpegBytes));
    loopback.setFault("/data/gallery/thumbs/long_thumb.jpg",
                      LoopbackServer::Fault::endless(UIThumbailViewController::kThumbnailMaxBytes + 1));
    pointThumbnailsAt(loopback.url(""));

    UIImage::setScreenScale(2);
    const int side = UIThumbailViewController::thumbnailPixelSize();
    EXPECT_EQ(side, static_cast<int>(UIThumbailViewController::kThumbnailPoints * 2));
    std::size_t held = 0;
    for (const std::string name : {"a", "b", "c"}) {
        SCOPED_TRACE(name);
        auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 120, 120));
        UIThumbailViewController::loadThumbnailForImageView(view, rowFor("large-" + name + ".jpg"), galleryContext());
        ASSERT_TRUE(pumpUntil([&] { return !spinning(view); }));
        ASSERT_TRUE(view->image());
        EXPECT_EQ(view->image()->pixelWidth(), side);
        EXPECT_EQ(view->image()->pixelHeight(), side * 3 / 4);
        EXPECT_EQ(view->image()->size(), CGSizeMake(2000, 1500));
        // The served picture itself, reduced.
        EXPECT_EQ(view->image()->rgbaPixels(), UIImage::reducedImageWithData(large, side)->rgbaPixels());
        held += view->image()->rgbaPixels().size();
        EXPECT_TRUE(exists(cached("large-" + name + "_thumb.jpg")));
        // From Caches the next time, as small.
        auto again = UIImageView::initWithFrame(CGRectMake(0, 0, 120, 120));
        UIThumbailViewController::loadThumbnailForImageView(again, rowFor("large-" + name + ".jpg"), galleryContext());
        ASSERT_TRUE(again->image());
        EXPECT_EQ(again->image()->pixelWidth(), side);
    }
    // Three of them decoded hold what three thumbnails do, not 3 x 12 MB.
    EXPECT_EQ(held, 3u * side * (side * 3 / 4) * 4);

    for (const std::string path : {"bomb.jpg", "bomb.png", "long.jpg"}) {
        SCOPED_TRACE(path);
        auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 120, 120));
        UIThumbailViewController::loadThumbnailForImageView(view, rowFor(path), galleryContext());
        ASSERT_TRUE(pumpUntil([&] { return !spinning(view); }));
        EXPECT_FALSE(view->image());
        EXPECT_FALSE(exists(cached(UIThumbailViewController::thumbnailPath(path))));
    }
    EXPECT_EQ(loopback.requestsFor("/data/gallery/thumbs/long_thumb.jpg").size(), 1u);
}

// What is said of a served thumbnail that is refused or does not decode names the address it
// came from.
TEST_F(ThumbnailTest, AServedPictureThatIsRefusedOrDoesNotDecodeIsLoggedByItsAddress) {
    writePNG(Sandbox::home() + "/whole.png", 64, 64);
    const std::string whole = bytesOf(Sandbox::home() + "/whole.png");
    LoopbackServer loopback;
    LoopbackServer::Response cut, claim;
    cut.body = whole.substr(0, whole.size() / 2);
    const NSData claiming = claimingPixelSize(NSData(whole.begin(), whole.end()), 3000, 3000);
    claim.body.assign(claiming.begin(), claiming.end());
    loopback.serve("/data/gallery/thumbs/cut.png", cut);
    loopback.serve("/data/gallery/thumbs/claim.png", claim);
    pointThumbnailsAt(loopback.url(""));

    testing::internal::CaptureStderr();
    for (const std::string path : {"cut.png", "claim.png"}) {
        auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));
        UIThumbailViewController::loadThumbnailForImageView(view, rowFor(path), galleryContext());
        EXPECT_TRUE(pumpUntil([&] { return !spinning(view); })) << path;
        EXPECT_FALSE(view->image()) << path;
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, testing::HasSubstr("The picture " + loopback.url("/data/gallery/thumbs/cut.png") +
                                        " does not decode past its header"));
    EXPECT_THAT(log, testing::HasSubstr("The thumbnail " + loopback.url("/data/gallery/thumbs/claim.png") +
                                        " is not a picture that can be shown. It claims 3000 x 3000 pixels"));
    EXPECT_EQ(log.find("from memory"), std::string::npos) << log;
}

// A thumbnail that two views wait for at once (the grid and the list reload together) is asked
// for once. A fetch that fails says why, each time. A served thumbnail over the pixel cap is asked
// for once in a run, and the log says so; one that is no picture for any other reason (a server's
// page served in its place) may be mended, and is asked for again.
TEST_F(ThumbnailTest, AThumbnailIsAskedForOnceAtATimeAndOneOverTheCapOnceInARun) {
    const NSData jpegBytes =
        UIImageJPEGRepresentation(UIImage::imageWithPixels(std::vector<std::uint8_t>(16 * 16 * 4, 200), 16, 16, 1), 0.9);
    const std::string picture(jpegBytes.begin(), jpegBytes.end());
    const NSData claim = claimingPixelSize(jpegBytes, 8200, 6000);
    LoopbackServer loopback;
    loopback.serve("/data/gallery/thumbs/shared_thumb.jpg", LoopbackServer::Response::make(200, picture, "image/jpeg"));
    loopback.serve("/data/gallery/thumbs/huge_thumb.jpg",
                   LoopbackServer::Response::make(200, std::string(claim.begin(), claim.end()), "image/jpeg"));
    loopback.serve("/data/gallery/thumbs/cut_thumb.jpg", LoopbackServer::Response::make(200, picture, "image/jpeg"));
    loopback.serve("/data/gallery/thumbs/page_thumb.jpg", LoopbackServer::Response::make(200, picture, "image/jpeg"));
    loopback.setFault("/data/gallery/thumbs/cut_thumb.jpg", LoopbackServer::Fault::reset());
    loopback.setFault("/data/gallery/thumbs/page_thumb.jpg", LoopbackServer::Fault::withPage(LoopbackServer::Fault::Page::Error));
    loopback.setFault("/data/gallery/thumbs/shared_thumb.jpg", LoopbackServer::Fault::stall(0));
    pointThumbnailsAt(loopback.url(""));
    const auto makeView = [] { return UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100)); };

    auto grid = makeView(), list = makeView();
    UIThumbailViewController::loadThumbnailForImageView(grid, rowFor("shared.jpg"), galleryContext());
    UIThumbailViewController::loadThumbnailForImageView(list, rowFor("shared.jpg"), galleryContext());
    ASSERT_TRUE(loopback.waitForStalls(1, kNetworkWait));
    EXPECT_TRUE(spinning(grid));
    EXPECT_TRUE(spinning(list));
    loopback.releaseStalls();
    ASSERT_TRUE(pumpUntil([&] { return !spinning(grid) && !spinning(list); }));
    EXPECT_TRUE(grid->image());
    EXPECT_TRUE(list->image());
    EXPECT_EQ(loopback.requestsFor("/data/gallery/thumbs/shared_thumb.jpg").size(), 1u);

    testing::internal::CaptureStderr();
    for (int visit = 0; visit < 2; ++visit) {
        for (const std::string path : {"huge.jpg", "cut.jpg", "page.jpg"}) {
            auto view = makeView();
            UIThumbailViewController::loadThumbnailForImageView(view, rowFor(path), galleryContext());
            ASSERT_TRUE(pumpUntil([&] { return !spinning(view); })) << path;
            EXPECT_FALSE(view->image()) << path;
        }
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loopback.requestsFor("/data/gallery/thumbs/huge_thumb.jpg").size(), 1u);
    EXPECT_EQ(loopback.requestsFor("/data/gallery/thumbs/cut_thumb.jpg").size(), 2u);
    EXPECT_EQ(loopback.requestsFor("/data/gallery/thumbs/page_thumb.jpg").size(), 2u);
    const auto count = [&log](const std::string& said) {
        std::size_t lines = 0;
        for (auto at = log.find(said); at != std::string::npos; at = log.find(said, at + 1)) ++lines;
        return lines;
    };
    EXPECT_EQ(count("The thumbnail " + loopback.url("/data/gallery/thumbs/huge_thumb.jpg") +
                    " is not a picture that can be shown. It claims 8200 x 6000 pixels, more than the 48000000 a "
                    "picture may have. It is not fetched again while the application runs."),
              1u)
        << log;
    EXPECT_EQ(count("The thumbnail " + loopback.url("/data/gallery/thumbs/cut_thumb.jpg") +
                    " could not be downloaded: The network connection was lost."),
              2u)
        << log;
    EXPECT_EQ(count("The thumbnail " + loopback.url("/data/gallery/thumbs/page_thumb.jpg") +
                    " is not a picture that can be shown."),
              2u)
        << log;
}

TEST_F(ThumbnailTest, PathsFromTheDatabaseStayInTheirFoldersAndGoIntoURLsEncoded) {
    LoopbackServer loopback;
    writePNG(Sandbox::home() + "/any.png", 8, 8);
    LoopbackServer::Response picture;
    picture.body = bytesOf(Sandbox::home() + "/any.png");
    picture.contentType = "image/png";
    loopback.handlePrefix("/", [picture](const LoopbackServer::Request&) { return picture; });
    pointThumbnailsAt(loopback.url(""));
    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));

    for (const char* hostile : {"../../escaped.jpg", "/tmp/absolute.jpg", "a/../../../up.jpg"}) {
        SCOPED_TRACE(hostile);
        UIThumbailViewController::loadThumbnailForImageView(view, rowFor(hostile), galleryContext());
        EXPECT_FALSE(spinning(view));
        EXPECT_FALSE(view->image());
    }
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(loopback.requests().empty());
    EXPECT_FALSE(exists(Sandbox::home() + "/escaped_thumb.jpg"));
    EXPECT_FALSE(exists(Sandbox::caches() + "/escaped_thumb.jpg"));

    // Subfolders are made; spaces, "#", "?" and letters beyond ASCII are encoded.
    const std::string awkward = "sub folder/caf\xC3\xA9 #1?.jpg";
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(awkward), galleryContext());
    ASSERT_TRUE(pumpUntil([&] { return !spinning(view); }));
    ASSERT_EQ(loopback.requests().size(), 1u);
    EXPECT_EQ(loopback.requests().front().path, "/data/gallery/thumbs/sub folder/caf\xC3\xA9 #1?_thumb.jpg");
    EXPECT_TRUE(loopback.requests().front().query.empty());
    EXPECT_TRUE(view->image());
    EXPECT_TRUE(exists(cached("sub folder/caf\xC3\xA9 #1?_thumb.jpg")));
}

TEST_F(ThumbnailTest, AReusedViewNeverShowsTheThumbnailOfTheRowItShowedBefore) {
    const std::string slow = DemoCatalogue::imagePathOf(painting(true, 0));
    const std::string quick = DemoCatalogue::imagePathOf(painting(true, 1));
    const std::string local = DemoCatalogue::imagePathOf(painting(false));
    const auto stall = LoopbackServer::Fault::stall(0);
    server_->setFault("/data/gallery/thumbs/" + UIThumbailViewController::thumbnailPath(slow), stall);

    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 100, 100));
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(slow), galleryContext());
    ASSERT_TRUE(server_->waitForStalls(1, kSafety));
    // Reused for a picture on the device, then for one the server sends at once.
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(local), galleryContext());
    EXPECT_EQ(pictureName(view), UIThumbailViewController::thumbnailPath(local));
    UIThumbailViewController::loadThumbnailForImageView(view, rowFor(quick), galleryContext());
    ASSERT_TRUE(pumpUntil([&] { return view->image() != nullptr; }));
    EXPECT_EQ(pictureName(view), UIThumbailViewController::thumbnailPath(quick));

    // The first fetch ends now, and is kept for later, but leaves the view alone.
    server_->releaseStalls();
    ASSERT_TRUE(pumpUntil([&] { return exists(cached(UIThumbailViewController::thumbnailPath(slow))); }));
    flushFetches();
    EXPECT_EQ(pictureName(view), UIThumbailViewController::thumbnailPath(quick));
}

TEST_F(ThumbnailTest, SignsSitInTheirCornersAndTheAuthorLineFollowsItsRules) {
    auto screen = UIThumbailViewController::initWithDataSource(catalogue(), smallGroupWithServerPictures(), true,
                                                               galleryContext());
    const std::string local = DemoCatalogue::imagePathOf(painting(false));
    Value::Dictionary row = rowFor(local);
    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 102, 102));

    // Never viewed, and offered as new: the "new" sign; an HD file on the device: the HD sign.
    row.set("inapp", Value("1"));
    writeText(Sandbox::documents() + "/Data/hd-" + local, "high resolution");
    screen->configureThumbImageView(view, row, 0);
    ASSERT_EQ(view->subviews().size(), 2u);
    const auto newSign = std::dynamic_pointer_cast<UIImageView>(view->subviews()[0]);
    const auto hdSign = std::dynamic_pointer_cast<UIImageView>(view->subviews()[1]);
    ASSERT_TRUE(newSign && hdSign);
    EXPECT_EQ(newSign->image()->name(), "new_item");
    EXPECT_EQ(newSign->frame(), CGRectMake(3, 102 - 20 - 3, 20, 20));
    EXPECT_EQ(hdSign->image()->name(), "hd");
    EXPECT_EQ(hdSign->frame(), CGRectMake(102 - 24 - 5, 5, 24, 14));
    view->setFrame(CGRectMake(0, 0, 150, 120));
    EXPECT_EQ(hdSign->frame().origin, CGPointMake(150 - 24 - 5, 5));
    EXPECT_EQ(newSign->frame().origin, CGPointMake(3, 120 - 20 - 3));

    // Configured again: the old signs go first; viewed, or not offered as new, no "new" sign.
    galleryContext().resources->resetNewImage(local);
    screen->configureThumbImageView(view, row, 0);
    ASSERT_EQ(view->subviews().size(), 1u);
    row.set("inapp", Value(""));
    // Deleted as the application deletes it, which tells the lookups.
    galleryContext().resources->deleteFileFromCashes("Data/hd-" + local);
    ASSERT_FALSE(exists(Sandbox::documents() + "/Data/hd-" + local));
    screen->configureThumbImageView(view, row, 0);
    EXPECT_TRUE(view->subviews().empty());

    Value::Dictionary named{{"author_name", Value("J. Smith.")}, {"author_name_en", Value("J. Smith.")},
                            {"name", Value("Sea")}, {"name_en", Value("Sea")}};
    EXPECT_EQ(screen->imageText(named, " - "), "J. Smith - Sea");
    named.set("author_name_en", Value(""));
    named.set("author_name", Value(""));
    EXPECT_EQ(screen->imageText(named, " - "), "Sea");
    named.set("author_name_en", Value("."));
    named.set("name_en", Value(""));
    named.set("name", Value(""));
    EXPECT_EQ(screen->imageText(named, " - "), " - ");
}

TEST_F(ThumbnailTest, AGridCellWhosePictureIsOnTheDeviceInHighDefinitionReadsPlusHdAsTheReadmeSays) {
    EXPECT_NE(readmeText().find("a tile by its title, followed by `+hd` where its picture is on the device in "
                                "high definition (its HD file downloaded into the home"),
              std::string::npos);
    Clock::setManual();
    const auto subCat = smallGroupWithServerPictures();
    ASSERT_TRUE(subCat);
    const auto rows = catalogue()->list(subCat);
    ASSERT_GE(rows->size(), 2u);
    writeText(Sandbox::documents() + "/Data/hd-" + rows->front().get("imagePath").stringValue(), "high resolution");
    show(subCat, {320, 480});
    const std::string screen = settledScreen();
    EXPECT_NE(screen.find("[2] cell \"The Ninth Wave\" +hd\n[3] cell \"The Sea of Ice\"\n"), std::string::npos)
        << screen;
}

TEST_F(ThumbnailTest, TheGridAndTheListShowTheSubcategoryAndCurlFromOneToTheOther) {
    Clock::setManual();
    const auto subCat = smallGroupWithServerPictures();
    ASSERT_TRUE(subCat);
    auto screen = show(subCat, {320, 480});
    // Both views are there; only the grid is on screen, and it fills the view.
    ASSERT_TRUE(screen->gridView() && screen->listView());
    EXPECT_TRUE(screen->gridView()->superview());
    EXPECT_FALSE(screen->listView()->superview());
    EXPECT_EQ(screen->gridView()->frame(), screen->view()->bounds());
    EXPECT_EQ(screen->selectedMode(), 0u);

    // The thumbnails on the server only are fetched; with pictures missing from the device the
    // toolbar offers to download them all.
    EXPECT_EQ(settledScreen(), R"(== Seascapes ==
  | [1] filter (off)  
[2] cell "The Ninth Wave"
[3] cell "The Sea of Ice"
[4] cell "The Monk by the Sea"
[5] cell "The Great Wave off Kanagawa"
[6] cell "Impression, Sunrise"
[7] cell "The Fighting Temeraire"
[8] cell "The Slave Ship"
-- toolbar: [9] <Grid>  [10] List  [11] Download All  
)");
    // Three columns of 102-point squares, 2 points apart, 5 in from the edges.
    EXPECT_EQ(screen->gridView()->frameForItemAtIndexPath({0, 0}), CGRectMake(5, 5, 102, 102));
    EXPECT_EQ(screen->gridView()->frameForItemAtIndexPath({0, 1}), CGRectMake(109, 5, 102, 102));
    EXPECT_EQ(screen->gridView()->frameForItemAtIndexPath({0, 3}), CGRectMake(5, 109, 102, 102));

    auto segments = [&] { return segmentsOf(*screen); };
    segments()->simulateTapOnSegment(1);
    EXPECT_EQ(screen->selectedMode(), 1u);
    EXPECT_FALSE(screen->gridView()->superview());
    EXPECT_TRUE(screen->listView()->superview());
    auto curl = UIView::animationLog().back();
    EXPECT_EQ(curl->transition, UIViewAnimationTransitionCurlUp);
    EXPECT_EQ(curl->duration, UIThumbailViewController::kModeSwitchDuration);
    EXPECT_EQ(curl->transitionView.lock(), screen->view());
    // In list mode each picture with a description has its information button.
    EXPECT_EQ(settledScreen(), R"(== Seascapes ==
  | [1] filter (off)  
[2] row "Ivan Aivazovsky" "The Ninth Wave"
  [3] button "information"
[4] row "Caspar David Friedrich" "The Sea of Ice"
  [5] button "information"
[6] row "Caspar David Friedrich" "The Monk by the Sea"
  [7] button "information"
-- toolbar: [8] Grid  [9] <List>  [10] Download All  
)");
    auto row = std::dynamic_pointer_cast<UIImageCell>(screen->listView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(row);
    EXPECT_EQ(screen->listView()->rectForRowAtIndexPath({0, 0}).size.height, 130);
    EXPECT_EQ(row->mainText()->font()->pointSize(), 16);
    EXPECT_EQ(row->selectionStyle(), UITableViewCellSelectionStyleGray);

    segments()->simulateTapOnSegment(0);
    EXPECT_EQ(UIView::animationLog().back()->transition, UIViewAnimationTransitionCurlDown);
    EXPECT_TRUE(screen->gridView()->superview());
    // The mode already shown curls down too, and reloads it.
    const int reloads = screen->gridView()->reloadCount();
    screen->switchToMode(0);
    EXPECT_EQ(UIView::animationLog().back()->transition, UIViewAnimationTransitionCurlDown);
    EXPECT_EQ(screen->gridView()->reloadCount(), reloads + 1);
    pass(UIThumbailViewController::kModeSwitchDuration);  // the curls end before the test does
}

TEST_F(ThumbnailTest, GridSquaresFollowTheWidthOnAPhoneAndAreFixedOnAPad) {
    EXPECT_EQ(UIThumbailViewController::widthWitItemsInRow(320), 102);
    EXPECT_EQ(UIThumbailViewController::widthWitItemsInRow(375), 120);
    EXPECT_EQ(UIThumbailViewController::widthWitItemsInRow(414), 99);
    EXPECT_EQ(UIThumbailViewController::widthWitItemsInRow(568), 110);
    EXPECT_EQ(UIThumbailViewController::widthWitItemsInRow(60), 50);  // never fewer than one column

    // Turned sideways, the grid lays itself out again for the new width.
    auto phone = show(smallGroupWithServerPictures(), {320, 568});
    window_->setFrame(CGRectMake(0, 0, 568, 320));
    window_->layoutIfNeeded();
    phone->willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation::LandscapeLeft, 0.3);
    EXPECT_EQ(phone->gridView()->frameForItemAtIndexPath({0, 4}), CGRectMake(5 + 4 * 112, 5, 110, 110));

    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto pad = show(smallGroupWithServerPictures(), {703, 704});
    auto layout = pad->gridView()->collectionViewLayout();
    EXPECT_EQ(layout->minimumInteritemSpacing(), 10);
    EXPECT_EQ(pad->gridView()->frameForItemAtIndexPath({0, 0}), CGRectMake(5, 5, 128, 128));
    EXPECT_EQ(pad->gridView()->frameForItemAtIndexPath({0, 1}).size, CGSizeMake(128, 128));
}

TEST_F(ThumbnailTest, ATappedPictureOpensThePagerPushedOnAPhoneAndPresentedOnAPad) {
    auto screen = show(smallGroupWithServerPictures(), {320, 480});
    SimSession session(false);
    ASSERT_TRUE(session.screen().contains("[6] cell"));
    EXPECT_TRUE(session.execute(SimCommand::parse("tap 6")).ok);
    EXPECT_EQ(navigation_->topViewController()->title(), "pager at 4");
    // Left selected, the cell would open the pager again when shown once more.
    EXPECT_TRUE(screen->gridView()->indexPathsForSelectedItems().empty());
    navigation_->popViewControllerAnimated(false);
    session.settle();

    screen->switchToMode(UIThumbailViewController::kModeList);
    screen->listView()->simulateTapOnRow({0, 2});
    EXPECT_EQ(navigation_->topViewController()->title(), "pager at 2");
    EXPECT_FALSE(screen->listView()->indexPathForSelectedRow());
    navigation_->popViewControllerAnimated(false);

    // On a pad: full screen, cross-dissolving, presented by the split screen.
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto pad = std::make_shared<PagedThumbnails>(catalogue(), smallGroupWithServerPictures(), true, galleryContext());
    auto split = UISplitViewController::make();
    split->setViewControllers({UINavigationController::initWithRootViewController(UIViewController::make()),
                               UINavigationController::initWithRootViewController(pad)});
    window_ = UIWindow::initWithFrame({{0, 0}, {1024, 768}});
    window_->setRootViewController(split);
    window_->makeKeyAndVisible();
    session.settle();
    pad->showImage(1);
    Clock::advance(1);
    auto presented = std::dynamic_pointer_cast<UINavigationController>(split->presentedViewController());
    ASSERT_TRUE(presented);
    EXPECT_EQ(presented->topViewController()->title(), "pager at 1");
    EXPECT_EQ(presented->modalTransitionStyle(), UIModalTransitionStyle::CrossDissolve);
    EXPECT_EQ(presented->modalPresentationStyle(), UIModalPresentationStyle::FullScreen);
    presented->dismissViewControllerAnimated(false, nullptr);
    session.settle();
    EXPECT_FALSE(split->presentedViewController());
}

TEST_F(ThumbnailTest, TheSlideshowOpensThePagerAtTheFirstPictureWithItsSlideshowOnAndAnEmptyListNothing) {
    auto screen = show(smallGroupWithServerPictures(), {320, 480});
    ASSERT_FALSE(screen->images().empty());
    screen->slideShowClick();
    ASSERT_EQ(screen->shownPagers.size(), 1u);
    const auto pager = screen->shownPagers.front();
    EXPECT_TRUE(pager->slideShow()) << "it starts turning as soon as it has loaded";
    EXPECT_EQ(pager->currentImageIndex(), 0);
    ASSERT_TRUE(pager->imagesData());
    EXPECT_EQ(*pager->imagesData(), screen->images());
    screen->shownPagers.clear();

    auto nothing = dataSubCat::make();
    nothing->setIndex(987654);
    auto empty = show(nothing, {320, 480});
    ASSERT_TRUE(empty->images().empty());
    empty->slideShowClick();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(empty->shownPagers.empty());
    EXPECT_EQ(navigation_->viewControllers().size(), 1u);
    EXPECT_EQ(navigation_->topViewController(), empty);
}

TEST_F(ThumbnailTest, ChangedDataReloadsTheViewOnScreenAndTheFilterIsKeptOnlyWhereAllowed) {
    const auto subCat = smallGroupWithServerPictures();
    const auto all = catalogue()->list(subCat);
    const std::string author = locale().localizedAuthorFieldValue(all->front());
    std::size_t byAuthor = 0;
    for (const auto& row : *all) byAuthor += locale().localizedAuthorFieldValue(row) == author;
    ASSERT_LT(byAuthor, all->size());
    ASSERT_TRUE(OEFilterStorage::saveFilter(*galleryContext().app.fileSystem, {author}, subCat));

    // Allowed: the stored choice applies.
    auto screen = show(subCat, {320, 480});
    EXPECT_EQ(screen->images().size(), byAuthor);
    EXPECT_EQ(screen->filter(), std::vector<std::string>{author});
    EXPECT_EQ(screen->gridView()->numberOfItemsInSection(0), static_cast<long>(byAuthor));

    // A change of the data reloads the grid on screen, not the list.
    const int gridReloads = screen->gridView()->reloadCount();
    screen->listView()->clearUpdateLog();
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_EQ(screen->gridView()->reloadCount(), gridReloads + 1);
    EXPECT_TRUE(screen->listView()->updateLog().empty());

    // Not allowed: the whole list, and the stored choice is forgotten.
    auto unfiltered = show(subCat, {320, 480}, false);
    EXPECT_EQ(unfiltered->images().size(), all->size());
    EXPECT_FALSE(OEFilterStorage::filterForSubCat(*galleryContext().app.fileSystem, subCat));
    EXPECT_EQ(unfiltered->toolbaritems().size(), 3u);
}

TEST_F(ThumbnailTest, DownloadAllAsksFetchesWhatIsMissingCountsEachPictureAndThenLeavesTheToolbar) {
    Clock::setManual();
    auto count = countPictures();
    const auto counted = count->downloadedCount();
    int announced = 0;
    auto listener = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(
        listener, [&](const NSNotification&) { ++announced; }, kImagesDataChanged);
    const auto subCat = smallGroupWithServerPictures();
    auto screen = show(subCat, {320, 480});
    const std::string name = locale().localizedNameFieldValue(subCat->data());

    // Every picture of the list in its order; those on the server only are missing.
    std::vector<std::string> paths, missing;
    for (const auto& row : screen->images()) paths.push_back(row.get("imagePath").stringValue());
    for (const auto& path : paths)
        for (const auto& p : DemoCatalogue::paintings())
            if (DemoCatalogue::imagePathOf(p) == path && DemoCatalogue::isOnServerOnly(p)) missing.push_back(path);
    EXPECT_EQ(screen->allImagesPaths(), paths);
    ASSERT_FALSE(missing.empty());
    EXPECT_EQ(toolbarTitles(screen->toolbaritems()),
              (std::vector<std::string>{"(modes)", "(flex)", FileListDownloader::localized("Download All")}));
    EXPECT_EQ(navigation_->toolbar()->items(), screen->toolbaritems());

    // The question names the subcategory; cancelled, nothing is fetched.
    screen->toolbaritems().back()->simulateTap();
    pass(1);
    auto asked = question();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->title(), OECoreString("Attention"));
    EXPECT_EQ(asked->message(), "Do you really want to download all pictures of \"" + name + "\"?");
    ASSERT_TRUE(asked->tapActionWithTitle(OECoreString("Cancel")));
    pass(1);
    EXPECT_TRUE(requestedPictures().empty());
    EXPECT_FALSE(screen->listDownloader());

    // Accepted: each missing picture is fetched once, in list order, and counted.
    screen->toolbaritems().back()->simulateTap();
    pass(1);
    asked = question();
    ASSERT_TRUE(asked);
    ASSERT_TRUE(asked->tapActionWithTitle(OECoreString("Ok")));
    ASSERT_TRUE(pumpUntil([] { return !UIAlertView::visibleAlertViews().empty(); }));
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->message(), FileListDownloader::localized("All images downloaded"));
    EXPECT_EQ(requestedPictures(), missing);
    for (const auto& path : missing) EXPECT_TRUE(exists(Sandbox::documents() + "/Data/" + path)) << path;
    EXPECT_EQ(count->downloadedCount(), counted + static_cast<std::int64_t>(missing.size()));

    // Nothing is missing now: the item goes, and the change is announced once.
    EXPECT_EQ(toolbarTitles(screen->toolbaritems()), (std::vector<std::string>{"(flex)", "(modes)", "(flex)"}));
    EXPECT_EQ(navigation_->toolbar()->items(), screen->toolbaritems());
    EXPECT_EQ(segmentsOf(*screen)->selectedSegmentIndex(), 0);
    ASSERT_TRUE(UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0));
    ASSERT_TRUE(pumpUntil([&] { return announced == 1; }));
    pass(1);
    EXPECT_EQ(announced, 1);
    NSNotificationCenter::defaultCenter()->removeObserver(listener.get());
    EXPECT_EQ(count->downloadedCount(), counted + static_cast<std::int64_t>(missing.size())) << "and the count holds";
}

TEST_F(ThumbnailTest, ADownloadAllThatFailsLeavesTheItemForAnotherTryAndAPadPutsItAtTheEnd) {
    Clock::setManual();
    auto count = countPictures();
    const auto counted = count->downloadedCount();
    const auto subCat = smallGroupWithServerPictures();
    std::vector<std::string> missing;
    const auto source = catalogue();
    const auto rows = source->list(subCat);
    ASSERT_TRUE(rows);
    for (const auto& row : *rows)
        for (const auto& p : DemoCatalogue::paintings())
            if (DemoCatalogue::imagePathOf(p) == row.get("imagePath").stringValue() && DemoCatalogue::isOnServerOnly(p))
                missing.push_back(DemoCatalogue::imagePathOf(p));
    ASSERT_GE(missing.size(), 2u);
    server_->setFault("/pic/gallery/" + missing[1], LoopbackServer::Fault::withStatus(500));

    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto screen = show(subCat, {703, 704});
    EXPECT_EQ(toolbarTitles(screen->toolbaritems()), (std::vector<std::string>{"(90)", "(flex)", "(modes)", "(flex)",
                                                                               FileListDownloader::localized("Download All")}));
    // Switched to the list first: the mode stays what it is after the run.
    screen->switchToMode(UIThumbailViewController::kModeList);
    screen->downloadAllImagesClick();
    pass(1);
    ASSERT_TRUE(question());
    ASSERT_TRUE(question()->tapActionWithTitle(OECoreString("Ok")));
    ASSERT_TRUE(pumpUntil([] { return !UIAlertView::visibleAlertViews().empty(); }));
    EXPECT_NE(UIAlertView::visibleAlertViews().front()->message().find(FileListDownloader::localized("Error downloading")),
              std::string::npos);
    ASSERT_TRUE(UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0));
    pass(1);
    // The first came and counts; the failing one does not; the item stays.
    EXPECT_TRUE(exists(Sandbox::documents() + "/Data/" + missing[0]));
    EXPECT_FALSE(exists(Sandbox::documents() + "/Data/" + missing[1]));
    EXPECT_EQ(count->downloadedCount(), counted + 1);
    EXPECT_EQ(screen->toolbaritems().size(), 5u);
    EXPECT_EQ(screen->toolbaritems().back()->title(), FileListDownloader::localized("Download All"));
    EXPECT_EQ(screen->selectedMode(), UIThumbailViewController::kModeList);
}

TEST_F(ThumbnailTest, ListRowsCarryAnInformationButtonThatOpensThePicturesInformation) {
    Clock::setManual();
    const auto subCat = smallGroupWithServerPictures();
    auto screen = show(subCat, {320, 480});
    auto infoButtonOf = [](const std::shared_ptr<UIView>& view) -> std::shared_ptr<UIButton> {
        for (const auto& sub : view->subviews())
            if (auto button = std::dynamic_pointer_cast<UIButton>(sub)) return button;
        return nullptr;
    };
    // None in the grid.
    auto item = std::dynamic_pointer_cast<UIThumbCollectionCell>(screen->gridView()->cellForItemAtIndexPath({0, 1}));
    ASSERT_TRUE(item);
    EXPECT_FALSE(infoButtonOf(item->imageView()));

    screen->switchToMode(UIThumbailViewController::kModeList);
    auto row = std::dynamic_pointer_cast<UIImageCell>(screen->listView()->cellForRowAtIndexPath({0, 1}));
    ASSERT_TRUE(row);
    auto button = infoButtonOf(row->image());
    ASSERT_TRUE(button);
    EXPECT_EQ(button->tag(), 1);
    EXPECT_EQ(button->currentImage()->name(), "info_picture");
    EXPECT_EQ(button->frame().origin, CGPointMake(0, 0));
    EXPECT_EQ(button->frame().size, button->currentImage()->size());
    EXPECT_EQ(row->image()->subviews().back(), button) << "on top of the signs";
    EXPECT_TRUE(row->image()->isUserInteractionEnabled());

    // Touched where it is on the screen, the first row's opens that picture's information.
    const Value::Dictionary& picture = screen->images()[0];
    SimSession session(false);
    const std::string screenText = session.screen().text();
    ASSERT_NE(screenText.find("button \"information\""), std::string::npos) << screenText;
    ASSERT_TRUE(session.execute(SimCommand::parse("tap information")).ok);
    pass(1);
    auto info = std::dynamic_pointer_cast<UIInfoView>(navigation_->topViewController());
    ASSERT_TRUE(info);
    const std::string author = locale().localizedAuthorFieldValue(picture);
    EXPECT_EQ(info->author(), author + " - " + locale().localizedNameFieldValue(picture));
    EXPECT_EQ(info->text(), locale().localizedDescriptionFieldValue(picture));
    EXPECT_FALSE(info->text().empty());
    navigation_->popViewControllerAnimated(false);
    session.settle();

    // A picture without a description in the current language has no button.
    Value::Dictionary plain = picture;
    for (const auto& key : {locale().descriptionFieldKey(), std::string("description"), std::string("description_en")})
        (void)plain.erase(key);
    EXPECT_FALSE(screen->needInfoButton(plain));
    auto view = UIImageView::initWithFrame(CGRectMake(0, 0, 102, 102));
    screen->configureThumbImageView(view, plain, 0);
    EXPECT_FALSE(infoButtonOf(view));
    screen->configureThumbImageView(view, picture, 3);
    ASSERT_TRUE(infoButtonOf(view));
    EXPECT_EQ(infoButtonOf(view)->tag(), 3);
    // Back in the grid, a configured view loses it.
    screen->switchToMode(UIThumbailViewController::kModeGrid);
    screen->configureThumbImageView(view, picture, 3);
    EXPECT_FALSE(infoButtonOf(view));
    pass(UIThumbailViewController::kModeSwitchDuration);  // the curl ends before the test does
}
