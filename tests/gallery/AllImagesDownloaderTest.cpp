// The count of present pictures and the download of all of them, over the demo catalogue and
// the content server on 127.0.0.1: the count by storage type, compared with "at least", and
// redone after a deletion; the download of every missing picture with its progress, its end
// and its announcement; a failing file that ends the run with only what is on disk counted; a
// full device, whose run ends saying how many pictures were not saved and why;
// a run broken off halfway, after which a new count finds only what is on disk and the next
// run fetches only the rest; and the offer of the download, accepted.
#include "gallery/AllImagesDownloader.h"
#include "gallery/DownloadedImagesCount.h"
#include "gallery/FileListDownloader.h"

#include "content/ImagesWithIds_DataSource.h"
#include "content/tempDataSource.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEIdleTimerManager.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class Announcements : public NSObject {
public:
    int changes = 0;
    void changed(const NSNotification&) { ++changes; }
};

class AllImagesTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(50'000);
        UIApplication::sharedApplication()->reset();
        idle_ = OEIdleTimerManager::make();
        for (const auto& painting : DemoCatalogue::paintings())
            if (DemoCatalogue::isOnServerOnly(painting)) serverOnly_.push_back(DemoCatalogue::imagePathOf(painting));
        NSNotificationCenter::defaultCenter()->addObserver(announcements_, &Announcements::changed, kImagesDataChanged);
    }
    void TearDown() override {
        offerWindow_.reset();
        NSNotificationCenter::defaultCenter()->removeObserver(announcements_);
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        ActivityView::sharedActivityView()->hideActivityIndicator();
        if (server_) server_->releaseStalls();
        server_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
        GalleryFixture::TearDown();
    }

    std::shared_ptr<DownloadedImagesCount> counter(std::int32_t storageType = 3) {
        galleryContext().app.config->images()->setImageStorageType(storageType);
        auto made = DownloadedImagesCount::make(galleryContext(), idle_);
        made->setup(tempDataSource::tempImagesDataSource(galleryContext().app));
        return made;
    }
    // Runs the download of all pictures to its end; false when it does not end.
    bool downloadAll(const std::shared_ptr<DownloadsCounter>& count, std::vector<std::string>* messages = nullptr) {
        bool ended = false;
        AllImagesDownloader::initWithDataSource(tempDataSource::tempImagesDataSource(galleryContext().app),
                                                galleryContext(), idle_, count)
            ->downloadAllImages([&] { ended = true; });
        EXPECT_TRUE(ActivityView::sharedActivityView()->isShown()) << "the overlay comes at once";
        return NSRunLoop::mainRunLoop()->runUntil(
            [&] {
                if (messages) {
                    const auto m = overlayMessage();
                    if (!m.empty() && (messages->empty() || messages->back() != m)) messages->push_back(m);
                }
                return ended;
            },
            30);
    }
    static std::string overlayMessage() {
        auto overlay = ActivityView::sharedActivityView();
        if (!overlay->isShown()) return "";
        auto label = std::dynamic_pointer_cast<UILabel>(overlay->centerView()->viewWithTag(ActivityView::kMessageLabelTag));
        return label ? label->text() : "";
    }
    // The pictures found on disk, counted apart from the code under test.
    static std::int64_t presentOnDisk() {
        std::int64_t present = 0;
        for (const auto& painting : DemoCatalogue::paintings()) {
            const std::string name = "/Data/" + DemoCatalogue::imagePathOf(painting);
            if (fs::exists(bundle() + name) || fs::exists(Sandbox::documents() + name)) ++present;
        }
        return present;
    }
    std::vector<std::string> requestedPictures() const {
        std::vector<std::string> out;
        for (const auto& request : server_->requests())
            if (request.path.rfind("/pic/gallery/", 0) == 0) out.push_back(request.path.substr(13));
        return out;
    }

    // The offer of the download, asked over a screen of a window of its own.
    std::shared_ptr<UIAlertController> offer(const std::shared_ptr<DownloadedImagesCount>& count) {
        auto root = UIViewController::make();
        offerWindow_ = UIWindow::make();
        offerWindow_->setRootViewController(root);
        offerWindow_->makeKeyAndVisible();
        count->showDownloadAlertFromController(root);
        return std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    }

    std::shared_ptr<OEIdleTimerManager> idle_;
    std::shared_ptr<UIWindow> offerWindow_;
    std::unique_ptr<ContentServer> server_;
    std::vector<std::string> serverOnly_;
    std::shared_ptr<Announcements> announcements_ = std::make_shared<Announcements>();
};

}  // namespace

TEST_F(AllImagesTest, TheCountFollowsTheStorageTypeIsComparedWithAtLeastAndIsRedoneAfterADeletion) {
    const auto total = static_cast<std::int64_t>(kDemoPaintingCount);
    const auto installed = total - static_cast<std::int64_t>(serverOnly_.size());
    ASSERT_EQ(presentOnDisk(), installed);

    auto installedType = counter(1);
    EXPECT_EQ(installedType->totalFiles(), total);
    EXPECT_EQ(installedType->downloadedCount(), total);
    EXPECT_TRUE(installedType->allFilesDownloaded());
    installedType.reset();
    EXPECT_EQ(counter(0)->downloadedCount(), 0) << "not counted at set-up";

    auto count = counter(3);
    EXPECT_EQ(count->downloadedCount(), installed);
    EXPECT_FALSE(count->allFilesDownloaded());
    // A picture counted twice by the screens that fetch it still leaves the count at least
    // the total, and every picture is there.
    for (std::size_t i = 0; i < serverOnly_.size() + 3; ++i) count->fileDownloaded();
    EXPECT_GT(count->downloadedCount(), total);
    EXPECT_TRUE(count->allFilesDownloaded());

    // Two downloaded pictures, then the downloaded pictures deleted: the installed ones remain.
    fs::create_directories(Sandbox::documents() + "/Data");
    fs::copy_file(serverFolder() + "/pic/gallery/" + serverOnly_[0], Sandbox::documents() + "/Data/" + serverOnly_[0]);
    fs::copy_file(serverFolder() + "/pic/gallery/" + serverOnly_[1], Sandbox::documents() + "/Data/" + serverOnly_[1]);
    galleryContext().resources->postDataChanged();
    EXPECT_EQ(count->downloadedCount(), installed + 2);
    galleryContext().resources->removeLoadedData();
    EXPECT_EQ(count->downloadedCount(), installed);
    EXPECT_EQ(count->downloadedCount(), presentOnDisk());
    EXPECT_FALSE(count->allFilesDownloaded());

    const std::string message = count->downloadMessage();
    EXPECT_NE(message.find(std::to_string(serverOnly_.size()) + " "), std::string::npos) << message;
    EXPECT_EQ(message.find(" 0 MB"), std::string::npos) << message;
}

// The paths are read once and kept as the source keeps its lists: a changed catalogue is
// counted again once it is announced.
TEST_F(AllImagesTest, TheTotalIsCountedAgainWhenTheCatalogueChanges) {
    const auto total = static_cast<std::int64_t>(kDemoPaintingCount);
    auto count = counter(3);
    ASSERT_EQ(count->totalFiles(), total);
    auto loader = imagesLoader();
    ASSERT_TRUE(loader->sql());
    ASSERT_TRUE(loader->sql()->execRequest("delete from images where imagePath = '" + serverOnly_.at(0) + "'"));
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
    EXPECT_EQ(count->totalFiles(), total - 1);
    EXPECT_FALSE(count->allFilesDownloaded());
    // The missing picture no longer in the catalogue is not offered.
    const std::string message = count->downloadMessage();
    EXPECT_NE(message.find(std::to_string(serverOnly_.size() - 1) + " "), std::string::npos) << message;
}

TEST_F(AllImagesTest, DownloadsEveryMissingPictureWithItsProgressThenCountsAndAnnounces) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    auto count = counter();
    std::vector<std::string> messages;
    ASSERT_TRUE(downloadAll(count, &messages));

    auto requested = requestedPictures();
    auto expected = serverOnly_;
    std::sort(requested.begin(), requested.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(requested, expected) << "only the missing pictures, each once";
    // "Loading n/120" at the list position of each fetched picture, rising.
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front(), FileListDownloader::localized("Loading..."));
    long last = 0;
    for (std::size_t i = 1; i < messages.size(); ++i) {
        long position = 0, of = 0;
        ASSERT_EQ(std::sscanf(messages[i].c_str(), "Loading %ld/%ld", &position, &of), 2) << messages[i];
        EXPECT_EQ(of, static_cast<long>(kDemoPaintingCount));
        EXPECT_GT(position, last);
        last = position;
    }
    EXPECT_EQ(count->downloadedCount(), static_cast<std::int64_t>(kDemoPaintingCount));
    EXPECT_TRUE(count->allFilesDownloaded());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    // The change is announced on a later turn.
    const int before = announcements_->changes;
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(announcements_->changes, before + 1);
}

TEST_F(AllImagesTest, AFailingFileEndsTheRunAndOnlyWhatIsOnDiskIsCounted) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    const std::string failing = serverOnly_[serverOnly_.size() / 2];
    server_->setFault("/pic/gallery/" + failing, LoopbackServer::Fault::withStatus(503));
    auto count = counter();
    ASSERT_TRUE(downloadAll(count));

    EXPECT_FALSE(fs::exists(Sandbox::documents() + "/Data/" + failing));
    EXPECT_EQ(requestedPictures().back(), failing) << "the run stopped at the failure";
    EXPECT_EQ(count->downloadedCount(), presentOnDisk());
    EXPECT_LT(count->downloadedCount(), static_cast<std::int64_t>(kDemoPaintingCount));
    EXPECT_FALSE(count->allFilesDownloaded());
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->message(),
              FileListDownloader::localized("Error downloading") + ": Server returned status code 503");
}

TEST_F(AllImagesTest, OnAFullDeviceTheRunGoesToItsEndAndSaysHowManyPicturesWereNotSavedAndWhy) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    auto count = counter();
    FaultInjection faults;
    faults->noSpace("*.tmp");
    ASSERT_TRUE(downloadAll(count));

    EXPECT_EQ(requestedPictures().size(), serverOnly_.size()) << "every missing picture was tried";
    EXPECT_GE(faults->injected(), static_cast<int>(serverOnly_.size()));
    EXPECT_EQ(count->downloadedCount(), presentOnDisk());
    EXPECT_FALSE(count->allFilesDownloaded());
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->message(),
              NSString::format(FileListDownloader::localized("%ld of %ld images not saved: %@"),
                               static_cast<long>(serverOnly_.size()), static_cast<long>(kDemoPaintingCount),
                               FileListDownloader::localized("no space left")));
}

TEST_F(AllImagesTest, ARunBrokenOffHalfwayLeavesOnlyWholePicturesAndTheNextRunFetchesTheRest) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    // The list's order decides which pictures come before the stalled one.
    auto list = AllImagesDownloader::initWithDataSource(tempDataSource::tempImagesDataSource(galleryContext().app),
                                                        galleryContext(), idle_, nullptr)
                    ->allImagesDataList();
    ASSERT_EQ(list.size(), static_cast<std::size_t>(kDemoPaintingCount));
    std::vector<std::string> inListOrder;
    for (const auto& path : list)
        if (std::find(serverOnly_.begin(), serverOnly_.end(), path) != serverOnly_.end()) inListOrder.push_back(path);
    const std::size_t half = inListOrder.size() / 2;
    const auto stall = LoopbackServer::Fault::stall();  // the header, then nothing
    server_->setFault("/pic/gallery/" + inListOrder[half], stall);

    auto first = counter();
    bool ended = false;
    AllImagesDownloader::initWithDataSource(tempDataSource::tempImagesDataSource(galleryContext().app),
                                            galleryContext(), idle_, first)
        ->downloadAllImages([&] { ended = true; });
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return requestedPictures().size() == half + 1; }, 30));
    ASSERT_TRUE(server_->waitForStalls(1, 20));

    // As a new process would start: a new picture service and a new count over the same folders.
    GalleryContext restarted = galleryContext();
    restarted.resources = ResourceLoader::make(restarted.app.fileSystem);
    auto second = DownloadedImagesCount::make(restarted, idle_);
    second->setup(tempDataSource::tempImagesDataSource(restarted.app));
    const auto installed = static_cast<std::int64_t>(kDemoPaintingCount - serverOnly_.size());
    EXPECT_EQ(second->downloadedCount(), installed + static_cast<std::int64_t>(half));
    EXPECT_EQ(second->downloadedCount(), presentOnDisk());
    EXPECT_FALSE(fs::exists(Sandbox::documents() + "/Data/" + inListOrder[half]));

    // The broken-off run goes (its overlay's cancel button), and the server answers again.
    for (const auto& view : ActivityView::sharedActivityView()->centerView()->subviews())
        if (auto button = std::dynamic_pointer_cast<UIButton>(view)) button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_TRUE(ended);
    EXPECT_EQ(first->downloadedCount(), presentOnDisk());
    server_->removeFault("/pic/gallery/" + inListOrder[half]);
    server_->releaseStalls();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    server_->clearRequests();

    ASSERT_TRUE(downloadAll(second));
    const std::vector<std::string> rest(inListOrder.begin() + static_cast<std::ptrdiff_t>(half), inListOrder.end());
    EXPECT_EQ(requestedPictures(), rest) << "nothing fetched twice";
    EXPECT_EQ(second->downloadedCount(), static_cast<std::int64_t>(kDemoPaintingCount));
    EXPECT_TRUE(second->allFilesDownloaded());
}

TEST_F(AllImagesTest, TheOfferAsksOverTheScreenAndAcceptingDownloadsEverythingMissing) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    auto count = counter();
    auto question = offer(count);
    ASSERT_TRUE(question);
    EXPECT_EQ(question->title(), OECoreString("Complete"));
    EXPECT_EQ(question->message(), count->downloadMessage());
    ASSERT_EQ(question->actions().size(), 2u);
    EXPECT_EQ(question->actions()[1]->title(), OECoreString("Cancel"));
    question->tapActionAtIndex(0);
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return count->allFilesDownloaded(); }, 30));
    EXPECT_EQ(requestedPictures().size(), serverOnly_.size());
    EXPECT_EQ(count->downloadedCount(), presentOnDisk());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());

    Clock::advance(5);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    offerWindow_.reset();
}

TEST_F(AllImagesTest, AcceptingTheOfferFetchesTheListThatWasCountedAndNoOther) {
    server_ = startContentServer();
    ASSERT_TRUE(server_);
    // Counted over one missing picture, as where the count is over a list other than the
    // whole catalogue.
    const DemoPainting* missing = nullptr;
    for (const auto& painting : DemoCatalogue::paintings())
        if (!missing && DemoCatalogue::isOnServerOnly(painting)) missing = &painting;
    ASSERT_TRUE(missing);
    ASSERT_GT(serverOnly_.size(), 1u);
    galleryContext().app.config->images()->setImageStorageType(3);
    auto count = DownloadedImagesCount::make(galleryContext(), idle_);
    count->setup(ImagesWithIds_DataSource::initWithLoader(imagesLoader(), Value::Array{Value(missing->index)}));
    ASSERT_FALSE(count->allFilesDownloaded());
    auto question = offer(count);
    ASSERT_TRUE(question);
    ASSERT_TRUE(question->tapActionAtIndex(0));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] { return count->allFilesDownloaded() && !ActivityView::sharedActivityView()->isShown(); }, 30));
    EXPECT_EQ(requestedPictures(), std::vector<std::string>{DemoCatalogue::imagePathOf(*missing)});

    Clock::advance(5);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    offerWindow_.reset();
}
