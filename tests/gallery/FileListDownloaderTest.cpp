// The list and single-file downloads against the content server on 127.0.0.1: pictures fetched
// in order behind the overlay with its "Loading n/m" message, present ones skipped, the screen
// lock held through the idle-timer manager; an error status or a page in place of a picture
// ends the run and keeps nothing; a file that cannot be written is not reported as saved, and
// the run's end says how many were not and why; each
// picture streamed to disk within a picture's length; the
// time-out's Retry/Cancel question on the manual clock; the overlay's cancel button; and the
// single download's percentage, its file, its failure and its cancel.
#include "gallery/FileListDownloader.h"
#include "gallery/UIOneFileDownloader.h"

#include "demo/loopback/LoopbackServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/ActivityView.h"
#include "uikit/OEIdleTimerManager.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// The overlay's message, "" while it is hidden.
std::string overlayMessage() {
    auto overlay = ActivityView::sharedActivityView();
    if (!overlay->isShown()) return "";
    auto label = std::dynamic_pointer_cast<UILabel>(overlay->centerView()->viewWithTag(ActivityView::kMessageLabelTag));
    return label ? label->text() : "";
}

void pressOverlayCancel() {
    for (const auto& view : ActivityView::sharedActivityView()->centerView()->subviews())
        if (auto button = std::dynamic_pointer_cast<UIButton>(view)) button->sendActionsForControlEvents(UIControlEventTouchUpInside);
}

std::vector<std::string> alertMessages() {
    std::vector<std::string> out;
    for (const auto& alert : UIAlertView::visibleAlertViews()) out.push_back(alert->message());
    return out;
}

std::string text(const std::string& key) { return FileListDownloader::localized(key); }

class ListDownloadTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(50'000);
        UIApplication::sharedApplication()->reset();
        server_ = startContentServer();
        ASSERT_TRUE(server_);
        idle_ = OEIdleTimerManager::make();
        for (const auto& painting : DemoCatalogue::paintings())
            if (DemoCatalogue::isOnServerOnly(painting)) serverOnly_.push_back(DemoCatalogue::imagePathOf(painting));
        for (const auto& painting : DemoCatalogue::paintings())
            if (!DemoCatalogue::isOnServerOnly(painting)) installed_.push_back(DemoCatalogue::imagePathOf(painting));
        ASSERT_GE(serverOnly_.size(), 4u);
    }
    void TearDown() override {
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        ActivityView::sharedActivityView()->hideActivityIndicator();
        if (server_) server_->releaseStalls();
        server_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        NSLocale::resetPreferredLanguages();
        Clock::setReal();
        GalleryFixture::TearDown();
    }

    std::shared_ptr<FileListDownloader> downloader(std::vector<std::string> list) {
        return FileListDownloader::initWithArray(std::move(list), galleryContext(), idle_);
    }
    static bool pump(const std::function<bool()>& until) { return NSRunLoop::mainRunLoop()->runUntil(until, 20); }
    std::vector<std::string> pictureRequests() const {
        std::vector<std::string> out;
        for (const auto& request : server_->requests()) out.push_back(request.path);
        return out;
    }
    static std::string picturePath(const std::string& name) { return "/pic/gallery/" + name; }
    static std::string saved(const std::string& name) { return Sandbox::documents() + "/Data/" + name; }
    static std::string dataFolder() { return Sandbox::documents() + "/Data"; }
    static std::string onServer(const std::string& name) { return serverFolder() + "/pic/gallery/" + name; }

    std::unique_ptr<ContentServer> server_;
    std::shared_ptr<OEIdleTimerManager> idle_;
    std::vector<std::string> serverOnly_;
    std::vector<std::string> installed_;
};

}  // namespace

TEST_F(ListDownloadTest, FetchesTheMissingPicturesInOrderSkippingPresentOnesAndHoldsTheScreenLockMeanwhile) {
    const std::vector<std::string> list{serverOnly_[0], serverOnly_[1], installed_[0], serverOnly_[2], serverOnly_[3]};
    int ends = 0;
    std::vector<std::string> files, messagesAtEachFile;
    std::weak_ptr<FileListDownloader> weak;
    {
        auto run = downloader(list);
        weak = run;
        run->startDownload([&] { ++ends; },
                           [&](const std::string& path) {
                               files.push_back(path);
                               messagesAtEachFile.push_back(overlayMessage());
                           });
        EXPECT_EQ(overlayMessage(), text("Loading..."));
        EXPECT_TRUE(idle_->isHeldBy(run));
        EXPECT_TRUE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    }
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    // Each message was set after the file before: the skipped picture changed nothing.
    EXPECT_EQ(messagesAtEachFile, (std::vector<std::string>{text("Loading..."), "Loading 1/5", "Loading 2/5",
                                                            "Loading 4/5"}));
    // Each call is told the folder the pictures went into.
    EXPECT_EQ(files, std::vector<std::string>(4, dataFolder()));
    for (const auto& name : {serverOnly_[0], serverOnly_[1], serverOnly_[2], serverOnly_[3]})
        EXPECT_EQ(bytesOf(saved(name)), bytesOf(onServer(name))) << name;
    EXPECT_EQ(pictureRequests(), (std::vector<std::string>{picturePath(serverOnly_[0]), picturePath(serverOnly_[1]),
                                                           picturePath(serverOnly_[2]), picturePath(serverOnly_[3])}));
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{text("All images downloaded")}));
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(weak.expired()) << "the run let itself go";

    // A list that is all there: only the closing alert, one end, no request.
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);
    server_->clearRequests();
    ends = 0;
    downloader({serverOnly_[0], installed_[1]})->startDownload([&] { ++ends; }, nullptr);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{text("All images downloaded")}));
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(ListDownloadTest, AnErrorStatusOrAPageInPlaceOfAPictureEndsTheRunAndKeepsNothing) {
    server_->setFault(picturePath(serverOnly_[1]), LoopbackServer::Fault::withStatus(500));
    int ends = 0;
    std::vector<std::string> files;
    downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2]})
        ->startDownload([&] { ++ends; }, [&](const std::string& path) { files.push_back(path); });
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_EQ(files, (std::vector<std::string>{dataFolder()}));
    EXPECT_TRUE(exists(saved(serverOnly_[0])));
    EXPECT_FALSE(exists(saved(serverOnly_[1])));
    EXPECT_FALSE(exists(saved(serverOnly_[2])));
    EXPECT_EQ(pictureRequests().size(), 2u) << "nothing after the failure";
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{text("Error downloading") + ": Server returned status code 500"}));
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);

    // A page served with 200 is no picture: not written, not reported, and the run ends.
    server_->setFault(picturePath(serverOnly_[2]), LoopbackServer::Fault::withPage(LoopbackServer::Fault::Page::Error));
    ends = 0;
    files.clear();
    downloader({serverOnly_[2], serverOnly_[3]})->startDownload([&] { ++ends; }, [&](const std::string& path) {
        files.push_back(path);
    });
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(exists(saved(serverOnly_[2])));
    const auto messages = alertMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind(text("Error downloading") + ": ", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find(serverOnly_[2]), std::string::npos) << messages[0];
}

TEST_F(ListDownloadTest, APictureThatCannotBeWrittenIsNotReportedTheRunGoesOnAndItsEndSaysWhy) {
    FaultInjection faults;
    // The downloaded file cannot be put in its place.
    faults->failRename("*/Data/*" + serverOnly_[1] + "*");
    int ends = 0;
    std::vector<std::string> files;
    downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2]})
        ->startDownload([&] { ++ends; }, [&](const std::string& path) { files.push_back(path); });
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_GE(faults->injected(), 1);
    EXPECT_EQ(files, std::vector<std::string>(2, dataFolder()));
    EXPECT_FALSE(exists(saved(serverOnly_[1])));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Sandbox::documents() + "/Data")) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{serverOnly_[0], serverOnly_[2]};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected) << "no half-written file stays";
    // The end is no success: it says how many of the list were not saved, and why.
    EXPECT_EQ(alertMessages(), std::vector<std::string>{NSString::format(text("%ld of %ld images not saved: %@"), 1L,
                                                                         3L, text("not written"))});
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);

    // The download files cannot be written at all (a full disk): nothing is saved, the run
    // still goes to its end, and no file is left in Caches.
    faults->clear();
    faults->noSpace("*.tmp");
    ends = 0;
    files.clear();
    downloader({serverOnly_[1], serverOnly_[3]})->startDownload([&] { ++ends; }, [&](const std::string& path) {
        files.push_back(path);
    });
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_GE(faults->injected(), 2);
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(exists(saved(serverOnly_[3])));
    EXPECT_EQ(alertMessages(), std::vector<std::string>{NSString::format(text("%ld of %ld images not saved: %@"), 2L,
                                                                         2L, text("no space left"))});
    EXPECT_EQ(alertMessages().front(), "2 of 2 pictures could not be saved: there is no space left on the device");
    for (const auto& entry : fs::recursive_directory_iterator(Sandbox::caches()))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);

    // Both reasons, in the reader's language; the pictures already there are no failures.
    faults->clear();
    faults->inject(FaultyFileIO::Operation::Write, "*.tmp", ENOSPC, 1);
    faults->failRename("*/Data/*" + serverOnly_[3] + "*");
    NSLocale::setPreferredLanguages({"de"});
    ends = 0;
    downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2], serverOnly_[3]})->startDownload([&] { ++ends; }, nullptr);
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_EQ(alertMessages(), std::vector<std::string>{"2 von 4 Bildern nicht gesichert: auf dem Gerät ist kein Platz "
                                                        "mehr frei; die Datei konnte nicht geschrieben werden"});
}

TEST_F(ListDownloadTest, EachPictureGoesToDiskAsItArrivesAndAnAnswerLongerThanAnyPictureEndsTheRun) {
    LoopbackServer loopback;
    LoopbackServer::Response endless;
    endless.body = bytesOf(onServer(serverOnly_[1]));
    endless.fault = LoopbackServer::Fault{};
    endless.fault->repeatBodyTo = static_cast<std::size_t>(UIImage::kMaxEncodedLength) + 1;
    loopback.serve("/pic/" + serverOnly_[1], endless);
    loopback.handlePrefix("/pic/", [&](const LoopbackServer::Request& asked) {
        LoopbackServer::Response picture;
        picture.body = bytesOf(onServer(asked.path.substr(5)));
        return picture;
    });
    galleryContext().app.config->urlFormat()->setImages(loopback.url("/pic/%@"));

    int ends = 0;
    std::vector<std::string> files;
    auto run = downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2]});
    run->startDownload([&] { ++ends; }, [&](const std::string& path) { files.push_back(path); });
    ASSERT_TRUE(run->request());
    EXPECT_TRUE(run->request()->downloadToFile());
    EXPECT_EQ(run->request()->maximumBodyLength(), UIImage::kMaxEncodedLength);
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_EQ(files, std::vector<std::string>{dataFolder()});
    EXPECT_EQ(bytesOf(saved(serverOnly_[0])), bytesOf(onServer(serverOnly_[0])));
    EXPECT_FALSE(exists(saved(serverOnly_[1])));
    EXPECT_EQ(loopback.requests().size(), 2u) << "nothing after the failure";
    ASSERT_EQ(alertMessages().size(), 1u);
    EXPECT_EQ(alertMessages()[0], text("Error downloading") + ": resource exceeds maximum size");
    for (const auto& entry : fs::recursive_directory_iterator(Sandbox::caches()))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

TEST_F(ListDownloadTest, ATimeOutAsksWhetherToRetryAndTheRunWaitsForTheAnswer) {
    const auto stall = LoopbackServer::Fault::stall(100);
    server_->setFault(picturePath(serverOnly_[1]), stall);
    int ends = 0;
    auto run = downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2]});
    run->startDownload([&] { ++ends; }, nullptr);
    ASSERT_TRUE(pump([&] { return run->request() && run->request()->downloadedBytes() == 100; }));

    Clock::advance(HTTPrequest::kIdleTimeout - 1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    Clock::advance(1);
    ASSERT_TRUE(pump([] { return !UIAlertView::visibleAlertViews().empty(); }));
    auto question = UIAlertView::visibleAlertViews().front();
    EXPECT_EQ(question->title(), "");
    EXPECT_EQ(question->message(), text("Error downloading") + ": " + text("timeout"));
    ASSERT_EQ(question->numberOfButtons(), 2);
    EXPECT_EQ(question->buttonTitleAtIndex(question->cancelButtonIndex()), text("Cancel"));
    EXPECT_EQ(question->buttonTitleAtIndex(question->firstOtherButtonIndex()), text("Retry"));
    EXPECT_EQ(ends, 0);
    EXPECT_TRUE(ActivityView::sharedActivityView()->isShown());
    EXPECT_TRUE(idle_->isHeldBy(run));

    // Retry fetches the same picture again, and the run goes to its end.
    server_->removeFault(picturePath(serverOnly_[1]));
    server_->releaseStalls();
    server_->clearRequests();
    question->tapButtonAtIndex(question->firstOtherButtonIndex());
    ASSERT_TRUE(pump([&] { return ends > 0; }));
    EXPECT_EQ(pictureRequests(), (std::vector<std::string>{picturePath(serverOnly_[1]), picturePath(serverOnly_[2])}));
    EXPECT_TRUE(exists(saved(serverOnly_[1])));
    EXPECT_TRUE(exists(saved(serverOnly_[2])));
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{text("All images downloaded")}));
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);

    // Cancel ends the run there, once.
    server_->setFault(picturePath(serverOnly_[3]), stall);
    ends = 0;
    run = downloader({serverOnly_[3]});
    run->startDownload([&] { ++ends; }, nullptr);
    ASSERT_TRUE(pump([&] { return run->request() && run->request()->downloadedBytes() == 100; }));
    Clock::advance(HTTPrequest::kIdleTimeout);
    ASSERT_TRUE(pump([] { return !UIAlertView::visibleAlertViews().empty(); }));
    question = UIAlertView::visibleAlertViews().front();
    question->tapButtonAtIndex(question->cancelButtonIndex());
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(run->isRunning());
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    EXPECT_FALSE(exists(saved(serverOnly_[3])));
}

TEST_F(ListDownloadTest, TheOverlaysCancelButtonStopsTheRunWithoutAWord) {
    const auto stall = LoopbackServer::Fault::stall(0);
    server_->setFault(picturePath(serverOnly_[1]), stall);
    int ends = 0;
    std::weak_ptr<FileListDownloader> weak;
    {
        auto run = downloader({serverOnly_[0], serverOnly_[1], serverOnly_[2]});
        weak = run;
        run->startDownload([&] { ++ends; }, nullptr);
    }
    ASSERT_TRUE(pump([&] {
        auto run = weak.lock();
        return run && run->curItem() == serverOnly_[1];
    }));
    ASSERT_TRUE(server_->waitForStalls(1, 20));
    pressOverlayCancel();
    EXPECT_EQ(ends, 1);
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    server_->releaseStalls();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(exists(saved(serverOnly_[0])));
    EXPECT_FALSE(exists(saved(serverOnly_[1])));
}

TEST_F(ListDownloadTest, TheSingleDownloadShowsItsPercentageAndHandsOverItsFile) {
    // The body comes in small pieces and waits at the server half-way, where the percentage
    // is looked at.
    const std::string name = serverOnly_[0];
    auto slow = LoopbackServer::Fault::slow(std::chrono::milliseconds(1), 512);
    slow.stallAfter = bytesOf(onServer(name)).size() / 2;
    server_->setFault(picturePath(name), slow);
    const std::string url = server_->host() + picturePath(name);
    std::optional<std::string> handed;
    std::vector<std::string> messages;
    const auto note = [&] {
        if (const auto m = overlayMessage(); !m.empty() && (messages.empty() || messages.back() != m)) messages.push_back(m);
    };
    auto single = UIOneFileDownloader::make(galleryContext(), idle_);
    single->downloadFile(url, [&](const std::string& path) { handed = path; });
    EXPECT_EQ(overlayMessage(), text("Downloading..."));
    EXPECT_TRUE(idle_->isHeldBy(single));
    note();
    ASSERT_TRUE(server_->waitForStalls(1, 20));
    int halfPercent = -1;
    ASSERT_TRUE(pump([&] {
        note();
        return !messages.empty() && std::sscanf(messages.back().c_str(), "Downloading: %d%%", &halfPercent) == 1 &&
               halfPercent > 0;
    }));
    server_->releaseStalls();
    ASSERT_TRUE(pump([&] {
        note();
        return handed.has_value();
    }));
    // "Downloading…", then the whole percentage of what has arrived, rising; half-way it is
    // neither nothing nor all.
    ASSERT_GE(messages.size(), 2u);
    EXPECT_LT(halfPercent, 100);
    int last = -1;
    for (std::size_t i = 1; i < messages.size(); ++i) {
        int percent = -1;
        ASSERT_EQ(std::sscanf(messages[i].c_str(), "Downloading: %d%%", &percent), 1) << messages[i];
        EXPECT_GT(percent, last);
        last = percent;
    }
    ASSERT_FALSE(handed->empty());
    EXPECT_EQ(bytesOf(*handed), bytesOf(onServer(name)));
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(idle_->holderCount(), 0u);
    fs::remove(*handed);

    // Without a length the message stays as it was.
    server_->setFault(picturePath(name), LoopbackServer::Fault::chunked());
    handed.reset();
    messages.clear();
    UIOneFileDownloader::make(galleryContext(), idle_)->downloadFile(url, [&](const std::string& path) { handed = path; });
    ASSERT_TRUE(pump([&] {
        if (const auto m = overlayMessage(); !m.empty()) messages.push_back(m);
        return handed.has_value();
    }));
    for (const auto& m : messages) EXPECT_EQ(m, text("Downloading..."));
    ASSERT_FALSE(handed->empty());
    fs::remove(*handed);
}

TEST_F(ListDownloadTest, TheSingleDownloadsFailureAndCancelHandOverNothing) {
    const std::string name = serverOnly_[0];
    const std::string url = server_->host() + picturePath(name);
    server_->setFault(picturePath(name), LoopbackServer::Fault::withStatus(404));
    std::optional<std::string> handed;
    UIOneFileDownloader::make(galleryContext(), idle_)->downloadFile(url, [&](const std::string& path) { handed = path; });
    ASSERT_TRUE(pump([&] { return handed.has_value(); }));
    EXPECT_EQ(*handed, "");
    EXPECT_EQ(alertMessages(), (std::vector<std::string>{text("Error downloading")}));
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->buttonTitleAtIndex(0), text("Ok"));
    EXPECT_EQ(idle_->holderCount(), 0u);
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);

    const auto stall = LoopbackServer::Fault::stall(1000);
    server_->setFault(picturePath(name), stall);
    handed.reset();
    auto single = UIOneFileDownloader::make(galleryContext(), idle_);
    single->downloadFile(url, [&](const std::string& path) { handed = path; });
    ASSERT_TRUE(pump([&] { return single->request() && single->request()->downloadedBytes() == 1000; }));
    pressOverlayCancel();
    ASSERT_TRUE(handed.has_value());
    EXPECT_EQ(*handed, "");
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    EXPECT_FALSE(single->isDownloading());
    EXPECT_EQ(idle_->holderCount(), 0u);
    // The begun file went with the request.
    std::vector<std::string> temporary;
    for (const auto& entry : fs::directory_iterator(Sandbox::caches()))
        if (entry.path().extension() == ".tmp") temporary.push_back(entry.path());
    EXPECT_TRUE(temporary.empty());
}
