// The download queue against the content server on 127.0.0.1: six compositions at most four at
// a time, each end starting one more, progress from the server's length, files in their
// subfolders of Documents; failures reported as failures and freeing their place; cancelling
// queued and running files; a restart while files wait, leaving no part of them; and the
// screen lock held while anything waits or runs, through the idle-timer hold handed in.
#include "content/FileDownloader.h"

#include "demo/server/ContentServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Sandbox.h"
#include "tests/content/ContentFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFiles = {"bach/air.m4a",      "Vivaldi/winter.m4a",   "handel/sarabande.m4a",
                                         "mozart/night.m4a", "bach/toccata.m4a", "vivaldi/spring.m4a"};
constexpr std::size_t kFileSize = 96 * 1024;

std::string bytesFor(const std::string& name) {
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + name.size() * 7) & 0xff);
    return bytes;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileDownloaderTest : public ContentFixture {
protected:
    void SetUp() override {
        ContentFixture::SetUp();
        Clock::setManual(70'000);
        served = Sandbox::tmp() + "/compositions-server";
        fs::remove_all(served);
        for (const auto& name : kFiles) {
            const std::string path = served + "/data/ostrelmedia/m4a/" + name;
            fs::create_directories(fs::path(path).parent_path());
            std::ofstream(path, std::ios::binary) << bytesFor(name);
        }
        std::string error;
        server = ContentServer::start({served, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
        auto config = OEConfig::initWithAppConfig(
            nullptr, nullptr, nullptr, nullptr, nullptr, OEMediaConfig::initWithMediaFormat(0), nullptr,
            OEURLFormatConfig::initWithDownloadFormat("", "", "", "", server->host() + "/data/ostrelmedia/%@/%@", ""));
        downloader = make();
        observer = std::make_shared<NSObject>();
        NSNotificationCenter::defaultCenter()->addObserver(
            observer,
            [this](const NSNotification& note) {
                const Value::Dictionary& info = note.userInfo();
                const Value* file = info.find(FileDownloader::kFileKey);
                const Value* failed = info.find(FileDownloader::kFailedKey);
                finished.push_back({file ? file->stringValue() : "", failed && failed->boolValue()});
                if (const Value* error = info.find(FileDownloader::kErrorKey)) errors.push_back(error->stringValue());
            },
            FileDownloader::kFileDownloadedMessage);
        NSNotificationCenter::defaultCenter()->addObserver(
            observer, [this](const NSNotification&) { mostRunning = std::max(mostRunning, downloader->downloadingFiles()); },
            FileDownloader::kQueueChangedMessage);
        contextForTest = OEContext{config, nullptr, std::make_shared<FileSystem>()};
        downloader->setContext(contextForTest);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer);
        if (server) server->releaseStalls();
        downloader.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        server.reset();
        Clock::setReal();
        ContentFixture::TearDown();
    }
    std::shared_ptr<FileDownloader> make() {
        auto made = std::make_shared<FileDownloader>();
        made->setContext(contextForTest);
        made->setIdleTimerHold([this](bool disabled, const std::shared_ptr<NSObject>&) { holds.push_back(disabled); });
        return made;
    }
    void stallAll(std::size_t after = 0) {
        const auto stall = LoopbackServer::Fault::stall(after);
        for (const auto& name : kFiles) server->setFault("/data/ostrelmedia/m4a/" + name, stall);
    }
    bool pumpUntil(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, 20); }
    std::string inDocuments(const std::string& name) const { return documents() + "/" + name; }
    bool nothingLeftInCaches() const {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(caches(), ec))
            if (entry.is_regular_file() && entry.path().extension() == ".tmp") return false;
        return true;
    }

    struct Finished {
        std::string file;
        bool failed = false;
        bool operator==(const Finished&) const = default;
        friend void PrintTo(const Finished& f, std::ostream* out) { *out << f.file << (f.failed ? " (failed)" : ""); }
    };

    std::string served;
    std::unique_ptr<ContentServer> server;
    OEContext contextForTest;
    std::shared_ptr<FileDownloader> downloader;
    std::shared_ptr<NSObject> observer;
    std::vector<Finished> finished;
    std::vector<std::string> errors;
    std::vector<bool> holds;
    long mostRunning = 0;
};

}  // namespace

TEST_F(FileDownloaderTest, SixFilesRunFourAtATimeWithProgressAndEachEndStartsOneMore) {
    stallAll(kFileSize / 2);
    for (const auto& name : kFiles) downloader->addFile(name);
    EXPECT_EQ(downloader->downloadingFiles(), 4);
    EXPECT_EQ(downloader->queuedFiles(), 2);
    EXPECT_EQ(downloader->filesCount(), 6);
    EXPECT_EQ(downloader->fileState(kFiles[0]), FileDownloader::Downloading);
    EXPECT_EQ(downloader->fileState(kFiles[4]), FileDownloader::Queued);
    EXPECT_TRUE(downloader->isFileDownloading(kFiles[5]));
    EXPECT_EQ(downloader->queuedFileAt(0), kFiles[4]);
    EXPECT_EQ(downloader->queuedFileAt(2), "");
    // The running ones in case-insensitive order.
    EXPECT_EQ(downloader->downloadingFileAt(0), "bach/air.m4a");
    EXPECT_EQ(downloader->downloadingFileAt(1), "handel/sarabande.m4a");
    EXPECT_EQ(downloader->downloadingFileAt(2), "mozart/night.m4a");
    EXPECT_EQ(downloader->downloadingFileAt(3), "Vivaldi/winter.m4a");
    EXPECT_EQ(holds, std::vector<bool>{true}) << "the screen stays on while anything waits";

    ASSERT_TRUE(server->waitForStalls(4, 20));
    EXPECT_FALSE(server->waitForStalls(5, 0.3)) << "never more than four at once";
    ASSERT_TRUE(pumpUntil([&] { return downloader->fileDownloadedBytes(kFiles[0]) >= static_cast<std::int64_t>(kFileSize / 2); }));
    EXPECT_EQ(downloader->fileSize(kFiles[0]), static_cast<std::int64_t>(kFileSize));
    EXPECT_FLOAT_EQ(downloader->fileProgress(kFiles[0]), 0.5f);
    EXPECT_EQ(downloader->fileProgress(kFiles[4]), 0) << "a queued file has no progress";

    server->removeFaults();
    server->releaseStalls();
    ASSERT_TRUE(pumpUntil([&] { return finished.size() == kFiles.size(); }));
    EXPECT_LE(mostRunning, 4);
    for (const auto& name : kFiles) {
        EXPECT_EQ(read(inDocuments(name)), bytesFor(name)) << name;
        EXPECT_EQ(downloader->fileState(name), FileDownloader::Unknown) << "the finished list empties with the queue";
    }
    for (const auto& f : finished) EXPECT_FALSE(f.failed) << f.file;
    EXPECT_EQ(downloader->downloadedFiles(), 0);
    EXPECT_EQ(downloader->filesCount(), 0);
    EXPECT_EQ(holds, (std::vector<bool>{true, false})) << "and lets the screen lock again at the end";
    EXPECT_TRUE(nothingLeftInCaches());
}

TEST_F(FileDownloaderTest, AFailedDownloadIsReportedAsFailedFreesItsPlaceAndCanBeAddedAgain) {
    server->setFault("/data/ostrelmedia/m4a/" + kFiles[1], LoopbackServer::Fault::withStatus(500));
    downloader->setMaxDownloadingFiles(1);
    downloader->addFile(kFiles[1]);
    downloader->addFile("../outside.m4a");
    downloader->addFile("bach/missing.m4a");
    downloader->addFile(kFiles[0]);
    ASSERT_TRUE(pumpUntil([&] { return finished.size() == 4; }));
    // A name without an address fails as it is added; the others in their turn.
    EXPECT_EQ(finished, (std::vector<Finished>{{"../outside.m4a", true}, {kFiles[1], true}, {"bach/missing.m4a", true},
                                               {kFiles[0], false}}));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[1].find("500"), std::string::npos) << errors[1];
    EXPECT_NE(errors[2].find("404"), std::string::npos) << errors[2];
    EXPECT_FALSE(fs::exists(inDocuments(kFiles[1])));
    EXPECT_FALSE(fs::exists(documents() + "/../outside.m4a"));
    EXPECT_TRUE(fs::exists(inDocuments(kFiles[0])));
    EXPECT_TRUE(downloader->didFileFail(kFiles[1]));
    EXPECT_EQ(downloader->canceledFiles(), 3);
    EXPECT_EQ(downloader->fileState(kFiles[1]), FileDownloader::Unknown);
    EXPECT_FALSE(holds.back());
    EXPECT_TRUE(nothingLeftInCaches());

    // The server mended: added again, it comes, and a copy already there is replaced.
    server->removeFault("/data/ostrelmedia/m4a/" + kFiles[1]);
    std::ofstream(inDocuments(kFiles[0])) << "old";
    downloader->addFile(kFiles[1]);
    EXPECT_FALSE(downloader->didFileFail(kFiles[1]));
    downloader->addFile(kFiles[0]);
    ASSERT_TRUE(pumpUntil([&] { return finished.size() == 6; }));
    EXPECT_EQ(read(inDocuments(kFiles[1])), bytesFor(kFiles[1]));
    EXPECT_EQ(read(inDocuments(kFiles[0])), bytesFor(kFiles[0]));
    EXPECT_EQ(downloader->canceledFiles(), 2);
}

TEST_F(FileDownloaderTest, CancellingTakesQueuedFilesOutAndStopsRunningOnes) {
    stallAll();
    for (const auto& name : kFiles) downloader->addFile(name);
    downloader->addFile(kFiles[0]);  // already running: not queued twice
    EXPECT_EQ(downloader->filesCount(), 6);
    ASSERT_TRUE(server->waitForStalls(4, 20));

    downloader->cancelFile(kFiles[5]);
    EXPECT_EQ(finished, (std::vector<Finished>{{kFiles[5], false}}));
    EXPECT_EQ(downloader->queuedFiles(), 1);
    EXPECT_EQ(downloader->downloadingFiles(), 4) << "the running ones untouched";
    EXPECT_EQ(downloader->fileState(kFiles[5]), FileDownloader::Unknown);

    downloader->cancelFile(kFiles[0]);
    EXPECT_EQ(downloader->downloadingFiles(), 4) << "the last waiting file takes the place";
    EXPECT_EQ(downloader->queuedFiles(), 0);
    EXPECT_EQ(downloader->fileState(kFiles[4]), FileDownloader::Downloading);

    downloader->cancelAll();
    EXPECT_EQ(downloader->downloadingFiles(), 0);
    EXPECT_EQ(downloader->filesCount(), 0);
    EXPECT_FALSE(holds.back());
    server->releaseStalls();
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.5);  // runs what comes in meanwhile
    for (const auto& name : kFiles) EXPECT_FALSE(fs::exists(inDocuments(name))) << name;
    EXPECT_EQ(finished.size(), 3u) << "two cancels and the cancel of all";
    EXPECT_TRUE(nothingLeftInCaches());
}

TEST_F(FileDownloaderTest, ARestartWhileFilesWaitLeavesNoPartOfThemAndTheyComeWhenAddedAgain) {
    auto shared = FileDownloader::sharedDownloader();
    shared->setContext(contextForTest);
    stallAll(kFileSize / 3);
    for (const auto& name : kFiles) shared->addFile(name);
    ASSERT_TRUE(server->waitForStalls(4, 20));
    ASSERT_TRUE(pumpUntil([&] { return shared->fileDownloadedBytes(kFiles[0]) > 0; }));

    // The process ends with four files half there and two waiting.
    FileDownloader::resetSharedDownloader();
    shared.reset();
    EXPECT_FALSE(FileDownloader::hasSharedDownloader());
    server->releaseStalls();
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.5);  // runs what comes in meanwhile
    for (const auto& name : kFiles) EXPECT_FALSE(fs::exists(inDocuments(name))) << name;
    EXPECT_TRUE(nothingLeftInCaches());

    server->removeFaults();
    auto next = FileDownloader::sharedDownloader();
    next->setContext(contextForTest);
    for (const auto& name : kFiles) {
        EXPECT_EQ(next->fileState(name), FileDownloader::Unknown);
        next->addFile(name);
    }
    ASSERT_TRUE(pumpUntil([&] { return next->filesCount() == 0; }));
    for (const auto& name : kFiles) EXPECT_EQ(read(inDocuments(name)), bytesFor(name)) << name;
    FileDownloader::resetSharedDownloader();
}

TEST_F(FileDownloaderTest, AFileHasAnAddressOnlyWithTheFormatsAndAPathInsideItsFolder) {
    EXPECT_EQ(downloader->fileURL("bach/air and more.m4a"), server->host() + "/data/ostrelmedia/m4a/bach/air%20and%20more.m4a");
    EXPECT_FALSE(downloader->fileURL("/etc/passwd"));
    EXPECT_FALSE(downloader->fileURL("a/../../b.m4a"));
    EXPECT_FALSE(downloader->fileURL(""));
    auto noMedia = make();
    noMedia->setContext(OEContext{OEConfig::initWithAppConfig(nullptr, nullptr, nullptr, nullptr, nullptr,
                                                               OEMediaConfig::initWithMediaFormat(9), nullptr,
                                                               contextForTest.config->urlFormat()),
                                  nullptr, contextForTest.fileSystem});
    EXPECT_FALSE(noMedia->fileURL("bach/air.m4a"));
}
