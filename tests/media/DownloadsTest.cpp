// The music downloads screen over the shared download queue, fetching compositions from the
// content server: the rows under the tracks' names, "Stop all", the popover's size and closing
// once on the phone, and the composition in place for its track.
#include "content/FileDownloader.h"
#include "gallery/UIFileDownloadCell.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "media/UICompositionCatsViewController.h"
#include "media/UICompositionsDownloaderViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UITableView.h"
#include "tests/media/MusicScreenFixture.h"
#include "uikit/OEIdleTimerManager.h"

#include <filesystem>
#include <vector>

namespace {

const std::string kMedia = "/data/ostrelmedia/m4a/";

class DownloadsTest : public MusicScreenFixture {
protected:
    void SetUp() override {
        MusicScreenFixture::SetUp();
        // The queue as the engine sets it up: the application's configuration and files, and
        // the screen lock through the idle-timer manager.
        downloader_ = std::make_shared<FileDownloader>();
        downloader_->setContext(context()->app);
        downloader_->setIdleTimerHold([idle = std::weak_ptr<OEIdleTimerManager>(context()->idle)](
                                          bool disabled, const std::shared_ptr<NSObject>& holder) {
            if (auto manager = idle.lock()) manager->setIdleTimerDisabled(disabled, holder);
        });
        music_.downloads = downloader_;
    }
    void TearDown() override {
        if (downloader_) downloader_->cancelAll();
        downloader_.reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        MusicScreenFixture::TearDown();
    }
    static std::string inDocuments(const std::string& name) { return documents() + "/" + name; }
    std::shared_ptr<UICompositionsDownloaderViewController> screen() {
        return UICompositionsDownloaderViewController::initWithStyle(UITableViewStyleGrouped, source_, downloader_,
                                                                     music_);
    }
    static std::shared_ptr<UIFileDownloadCell> row(const std::shared_ptr<UITableViewController>& screen, long index) {
        return std::dynamic_pointer_cast<UIFileDownloadCell>(
            screen->cellForRowAtIndexPath(screen->tableView(), NSIndexPath::indexPathForRow(index, 0)));
    }

    std::shared_ptr<FileDownloader> downloader_;
};

const std::vector<std::string> kSix = {"bach/minuet.m4a",  "mozart/minuet.m4a",   "mozart/rondo alla turca.m4a",
                                       "mozart/requiem.m4a", "mozart/serenade.m4a", "bach/sarabande.m4a"};

TEST_F(DownloadsTest, TheScreenListsRunningThenQueuedFilesUnderTheirTracksAndOneEmptyRowWhenNothingIsLeft) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto downloads = screen();
    auto navigation = show(downloads);
    ASSERT_EQ(downloads->tableView()->numberOfRowsInSection(0), 1);
    auto empty = row(downloads, 0);
    EXPECT_EQ(empty->textLabel()->text(), "Empty");
    EXPECT_TRUE(empty->fileName()->isHidden());
    EXPECT_EQ(downloads->navigationItem()->title(), "Downloading");
    EXPECT_EQ(downloads->preferredContentSize(), (CGSize{200, 44}));

    downloader_->setMaxDownloadingFiles(1);
    server().setFault(kMedia + kSix[2], LoopbackServer::Fault::stall(1000));
    downloader_->addFile(kSix[2]);
    downloader_->addFile(kSix[3]);
    downloader_->addFile("nowhere/unknown.m4a");
    ASSERT_TRUE(server().waitForStalls(1));
    ASSERT_TRUE(pump([&] { return downloader_->fileDownloadedBytes(kSix[2]) >= 1000; }));
    downloads->reloadData();
    ASSERT_EQ(downloads->tableView()->numberOfRowsInSection(0), 3);
    EXPECT_EQ(downloads->preferredContentSize(), (CGSize{600, 132}));
    auto running = row(downloads, 0);
    EXPECT_EQ(running->fileName()->text(), "Rondo");
    EXPECT_FALSE(running->progressBar()->isHidden());
    EXPECT_GT(running->progressBar()->progress(), 0.0f);
    EXPECT_NE(running->progressText()->text().find(" mb from "), std::string::npos) << running->progressText()->text();
    auto queued = row(downloads, 1);
    EXPECT_EQ(queued->fileName()->text(), "Requiem");
    EXPECT_EQ(queued->progressText()->text(), "Queued");
    // A file without a track: a row without a title, still cancellable.
    auto unknown = row(downloads, 2);
    EXPECT_EQ(unknown->fileName()->text(), "");
    unknown->cancelButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(downloader_->fileState("nowhere/unknown.m4a"), FileDownloader::Unknown);
    EXPECT_EQ(downloads->tableView()->numberOfRowsInSection(0), 2);

    // On the pad the screen stays when the queue empties, showing "Empty".
    server().releaseStalls();
    server().removeFaults();
    ASSERT_TRUE(pump([&] { return downloader_->filesCount() == 0; }));
    EXPECT_EQ(navigation->topViewController(), downloads);
    EXPECT_EQ(row(downloads, 0)->textLabel()->text(), "Empty");
}

TEST_F(DownloadsTest, ThePopoverGrowsBy44PointsAFileUpTo600) {
    downloader_->setMaxDownloadingFiles(0);  // everything waits
    auto downloads = screen();
    downloader_->addFile("a.m4a");
    downloads->reloadData();
    EXPECT_EQ(downloads->downloadPopoverSize(), (CGSize{600, 44}));
    for (int i = 0; i < 13; ++i) downloader_->addFile("f" + std::to_string(i) + ".m4a");
    EXPECT_EQ(downloads->downloadPopoverSize(), (CGSize{600, 600}));
    downloader_->cancelAll();
    EXPECT_EQ(downloads->downloadPopoverSize(), (CGSize{200, 44}));
}

TEST_F(DownloadsTest, StopAllAsksFirstThenEmptiesTheQueueAndClosesTheScreenOnceOverTheCatalogue) {
    downloader_->setMaxDownloadingFiles(0);
    // The menu below the catalogue, so that a second close would take the catalogue away.
    auto navigation = show(UIViewController::make());
    auto catalogue = UICompositionCatsViewController::initWithDb(openMedia(), music_);
    navigation->pushViewController(catalogue, false);
    downloader_->addFile(kSix[0]);
    downloader_->addFile(kSix[1]);
    auto downloads = screen();
    navigation->pushViewController(downloads, false);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    downloads->stopAllClick();
    auto alert = std::dynamic_pointer_cast<UIAlertController>(navigation->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "Stop all downloads?");
    ASSERT_TRUE(alert->tapActionWithTitle("Cancel"));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(downloader_->queuedFiles(), 2);
    EXPECT_EQ(navigation->topViewController(), downloads);

    downloads->stopAllClick();
    alert = std::dynamic_pointer_cast<UIAlertController>(navigation->presentedViewController());
    ASSERT_TRUE(alert);
    ASSERT_TRUE(alert->tapActionWithTitle("Ok"));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(downloader_->filesCount(), 0);
    // The queue's own announcement of the cancel closes nothing more: the catalogue stays.
    ASSERT_EQ(navigation->viewControllers().size(), 2u);
    EXPECT_EQ(navigation->topViewController(), catalogue);
    advance(1);
}

TEST_F(DownloadsTest, OnThePhoneTheScreenClosesItselfWhenTheLastDownloadEnds) {
    auto catalogue = UICompositionCatsViewController::initWithDb(openMedia(), music_);
    auto navigation = show(catalogue);
    server().setFault(kMedia + kSix[0], LoopbackServer::Fault::stall(0));
    downloader_->addFile(kSix[0]);
    auto downloads = screen();
    navigation->pushViewController(downloads, false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_TRUE(server().waitForStalls(1));
    EXPECT_EQ(navigation->topViewController(), downloads);
    EXPECT_TRUE(context()->idle->isHeldBy(downloader_)) << "the screen stays on while it downloads";
    server().removeFaults();
    ASSERT_TRUE(pump([&] { return navigation->topViewController() == catalogue; }));
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
    advance(1);
    // The whole composition, where its track looks for it.
    EXPECT_TRUE(source_->findItem(kSix[0], "filepath")->downloaded());
    const std::string served = serverFolder() + kMedia + kSix[0];
    ASSERT_TRUE(std::filesystem::exists(inDocuments(kSix[0])));
    EXPECT_EQ(std::filesystem::file_size(inDocuments(kSix[0])), std::filesystem::file_size(served));
    EXPECT_FALSE(context()->idle->isHeldBy(downloader_));
}

TEST_F(DownloadsTest, TheLastDownloadEndingWhileTheScreenIsPushedLeavesTheCatalogueWithItsToolbar) {
    auto catalogue = UICompositionCatsViewController::initWithDb(openMedia(), music_);
    auto navigation = show(catalogue);
    downloader_->addFile(kSix[0]);
    auto downloads = screen();
    navigation->pushViewController(downloads, true);
    ASSERT_TRUE(pump([&] { return downloader_->filesCount() == 0; }));
    advance(1);
    EXPECT_EQ(navigation->topViewController(), catalogue);
    EXPECT_FALSE(navigation->isToolbarHidden());
}

}  // namespace
