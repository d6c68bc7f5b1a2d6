// The download queue's screen against the content server: one "Empty" row with nothing to do;
// the running files in name order with their progress in megabytes, then the waiting ones
// "Queued"; a row's cancel button; and the rows kept while the network's reachability drops and
// comes back as files wait, until every file is in and the screen is empty again.
#include "gallery/UIFileDownloaderViewController.h"

#include "content/FileDownloader.h"
#include "gallery/UIFileDownloadCell.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIProgressView.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/Reachability.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Names out of case order, one of them above the megabyte.
const std::vector<std::pair<std::string, std::size_t>> kFiles = {
    {"mozart/night.m4a", 3 * 1024 * 1024 / 2}, {"Bach/air.m4a", 64 * 1024}, {"handel/sarabande.m4a", 64 * 1024},
    {"chopin/nocturne.m4a", 64 * 1024},        {"vivaldi/spring.m4a", 64 * 1024}, {"brahms/lullaby.m4a", 64 * 1024}};

class DownloadScreenTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(90'000);
        UIApplication::sharedApplication()->reset();
        const std::string served = Sandbox::tmp() + "/queue-server";
        fs::remove_all(served);
        for (const auto& [name, size] : kFiles) {
            const std::string path = served + "/data/ostrelmedia/m4a/" + name;
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        }
        std::string error;
        server = ContentServer::start({served, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
        auto config = OEConfig::initWithAppConfig(
            nullptr, nullptr, nullptr, nullptr, nullptr, OEMediaConfig::initWithMediaFormat(0), nullptr,
            OEURLFormatConfig::initWithDownloadFormat("", "", "", "", server->host() + "/data/ostrelmedia/%@/%@", ""));
        // The gallery's documents outlive a test: files an earlier test downloaded would be
        // found there and never asked for.
        for (const auto& [name, size] : kFiles) fs::remove(galleryContext().app.fileSystem->documentsPathForFile(name));
        downloader = std::make_shared<FileDownloader>();
        downloader->setContext(OEContext{config, nullptr, galleryContext().app.fileSystem});
        screen = UIFileDownloaderViewController::initWithDownloader(downloader);
        window = UIWindow::make();
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
        settle();
    }
    void TearDown() override {
        SCNetworkReachability::setFlagsProvider(nullptr);
        if (server) server->releaseStalls();
        window.reset();
        screen.reset();
        downloader.reset();
        settle();
        server.reset();
        for (const auto& [name, size] : kFiles) fs::remove(galleryContext().app.fileSystem->documentsPathForFile(name));
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
        GalleryFixture::TearDown();
    }
    std::shared_ptr<UIFileDownloadCell> row(long index) const {
        return std::dynamic_pointer_cast<UIFileDownloadCell>(screen->tableView()->cellForRowAtIndexPath({0, index}));
    }
    // Each row as "name | progress text", the progress bar marked when it shows.
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (long i = 0; i < screen->tableView()->numberOfRowsInSection(0); ++i) {
            auto cell = row(i);
            if (!cell) {
                out.push_back("?");
                continue;
            }
            if (cell->fileName()->isHidden()) {
                out.push_back(cell->textLabel()->text());
                continue;
            }
            out.push_back(cell->fileName()->text() + " | " + cell->progressText()->text() +
                          (cell->progressBar()->isHidden() ? "" : " [bar]"));
        }
        return out;
    }
    // The main run loop keeps turning meanwhile: the queue hands its files to the network from it.
    bool allFourStalled() const {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return server->waitForStalls(4, 0.05); }, kNetworkWait);
    }
    void stall(const std::string& name, std::size_t after) {
        server->setFault("/data/ostrelmedia/m4a/" + name, LoopbackServer::Fault::stall(after));
    }
    static std::string queued() { return UIFileDownloadCell::localized("Queued"); }
    static std::string megabytes(float done, float size) {
        return NSString::format(UIFileDownloadCell::localized("%.02f mb from %.02f mb"), done, size);
    }

    std::unique_ptr<ContentServer> server;
    std::shared_ptr<FileDownloader> downloader;
    std::shared_ptr<UIFileDownloaderViewController> screen;
    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST_F(DownloadScreenTest, RunningFilesInNameOrderWithTheirMegabytesThenTheWaitingOnes) {
    EXPECT_EQ(rows(), std::vector<std::string>{UIFileDownloadCell::localized("Empty")});
    EXPECT_EQ(row(0)->textLabel()->textAlignment(), NSTextAlignmentCenter);
    EXPECT_EQ(screen->supportedInterfaceOrientations(), UIInterfaceOrientationMaskPortrait);

    for (const auto& [name, size] : kFiles) stall(name, size / 2);
    for (const auto& [name, size] : kFiles) downloader->addFile(name);
    ASSERT_TRUE(allFourStalled());
    // Each of the four running files has its first half in before the rows are read.
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] {
            for (std::size_t i = 0; i < 4; ++i) {
                if (downloader->fileDownloadedBytes(kFiles[i].first) < static_cast<std::int64_t>(kFiles[i].second / 2))
                    return false;
            }
            return true;
        },
        kNetworkWait));
    screen->reloadData();
    settle();
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "Bach/air.m4a | " + megabytes(0.03125f, 0.0625f) + " [bar]",
                          "chopin/nocturne.m4a | " + megabytes(0.03125f, 0.0625f) + " [bar]",
                          "handel/sarabande.m4a | " + megabytes(0.03125f, 0.0625f) + " [bar]",
                          "mozart/night.m4a | " + megabytes(0.75f, 1.5f) + " [bar]",
                          "vivaldi/spring.m4a | " + queued(),
                          "brahms/lullaby.m4a | " + queued(),
                      }));
    EXPECT_FLOAT_EQ(row(3)->progressBar()->progress(), 0.5f);

    // A row's cancel button stops its file; the screen reloads when a file is done with.
    row(0)->cancelButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    settle();
    EXPECT_EQ(downloader->fileState("Bach/air.m4a"), FileDownloader::Unknown);
    ASSERT_EQ(rows().size(), 5u);
    EXPECT_EQ(rows()[0].rfind("chopin/nocturne.m4a | ", 0), 0u);
    EXPECT_EQ(rows()[3].rfind("vivaldi/spring.m4a | ", 0), 0u) << "the first waiting file took the place";
    EXPECT_EQ(rows()[4], "brahms/lullaby.m4a | " + queued());
}

TEST_F(DownloadScreenTest, TheRowsStayWhileReachabilityDropsAndComesBackAsFilesWait) {
    SCNetworkReachabilityFlags flags = kSCNetworkReachabilityFlagsReachable;
    SCNetworkReachability::setFlagsProvider([&](const SCNetworkReachability&) { return std::optional(flags); });
    auto internet = Reachability::reachabilityForInternetConnection();
    std::vector<NetworkStatus> changes;
    auto observer = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(
        observer, [&](const NSNotification&) { changes.push_back(internet->currentReachabilityStatus()); },
        kNetworkReachabilityChangedNotification);
    ASSERT_TRUE(internet->startNotifier());

    for (const auto& [name, size] : kFiles) stall(name, size / 2);
    for (const auto& [name, size] : kFiles) downloader->addFile(name);
    ASSERT_TRUE(allFourStalled());
    screen->reloadData();
    settle();
    const auto before = rows();
    ASSERT_EQ(before.size(), 6u) << testing::PrintToString(before);

    flags = 0;
    pass(SCNetworkReachability::pollInterval());
    EXPECT_EQ(changes, std::vector<NetworkStatus>{NotReachable});
    screen->reloadData();
    settle();
    EXPECT_EQ(rows().size(), 6u) << "waiting files are not dropped when the network goes";
    EXPECT_EQ(downloader->downloadingFiles(), 4);

    flags = kSCNetworkReachabilityFlagsReachable;
    pass(SCNetworkReachability::pollInterval());
    EXPECT_EQ(changes, (std::vector<NetworkStatus>{NotReachable, ReachableViaWiFi}));
    server->removeFaults();
    server->releaseStalls();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return downloader->filesCount() == 0; }, kNetworkWait));
    settle();
    EXPECT_EQ(rows(), std::vector<std::string>{UIFileDownloadCell::localized("Empty")});
    for (const auto& [name, size] : kFiles)
        EXPECT_EQ(fs::file_size(galleryContext().app.fileSystem->documentsPathForFile(name)), size) << name;
    internet->stopNotifier();
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}
