// A stream's bytes within their limits: the head in memory and the rest in a temporary file that
// never shows in its folder, a body past the bound cut off with an error, a declared length over
// the bound refused before the body, and an item over such a stream failing with that reason.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/Sandbox.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVError.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/MediaByteSource.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/URLNetwork.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/platform/media/MediaTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace {

class MediaByteSourceTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(100'000);
        server_ = MediaTestFiles::startServer();
        ASSERT_TRUE(server_);
        path_ = MediaTestFiles::serverPath(MediaTestFiles::phrases());
        const auto body = readDataFromFile(MediaTestFiles::phrases());
        ASSERT_TRUE(body);
        body_ = *body;
        spill_ = Sandbox::tmp() + "/spill";
        std::filesystem::create_directories(spill_);
    }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        std::filesystem::remove_all(spill_);
        Clock::setReal();
    }

    // The composition sent again and again, with no length said.
    void serveEndlessly() {
        auto fault = LoopbackServer::Fault::endless(LoopbackServer::never);
        fault.framing = LoopbackServer::Framing::Chunked;
        server_->setFault(path_, fault);
    }
    std::shared_ptr<MediaByteSource> open(const MediaByteLimits& limits) {
        NSErrorPtr error;
        auto source = MediaByteSource::open(*NSURL::URLWithString(server_->host() + path_), &error, limits);
        EXPECT_TRUE(source) << (error ? error->description() : "");
        return source;
    }
    static bool ended(const MediaByteSource& source) {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return source.error() || source.isComplete(); }, 20);
    }
    // Every byte a stream will take has come: its transfer has ended (as it does once its
    // temporary file fails), looked at after each thing the network does.
    static bool loadingEnded() {
        return settleWithNetworkUntil([] { return URLNetwork::liveTransferCount() == 0; }, 30);
    }
    MediaByteLimits smallLimits() const {
        MediaByteLimits limits;
        limits.memoryBytes = 64 * 1024;
        limits.maximumBytes = 1024 * 1024;
        limits.spillFolder = spill_;
        return limits;
    }
    // The byte the endless body has at `offset`.
    std::uint8_t expected(std::uint64_t offset) const { return body_[offset % body_.size()]; }

    std::unique_ptr<ContentServer> server_;
    std::string path_;
    NSData body_;
    std::string spill_;
};

TEST_F(MediaByteSourceTest, AnEndlessBodyEndsAtTheBoundAndKeepsOnlyItsHeadInMemory) {
    serveEndlessly();
    const auto limits = smallLimits();
    auto source = open(limits);
    ASSERT_TRUE(source);
    ASSERT_TRUE(ended(*source));
    ASSERT_TRUE(source->error());
    EXPECT_EQ(source->error()->domain(), NSURLErrorDomain);
    EXPECT_EQ(source->error()->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_FALSE(source->isComplete());
    EXPECT_GT(source->received(), limits.memoryBytes);
    EXPECT_LE(source->received(), limits.maximumBytes);
    // Bytes from memory, across the budget's edge, and from the temporary file all read back.
    for (const std::uint64_t offset : {std::uint64_t{0}, limits.memoryBytes - 10, source->received() - 100}) {
        std::vector<std::uint8_t> buffer(64);
        const long got = source->read(offset, buffer.data(), buffer.size());
        ASSERT_GT(got, 0) << offset;
        for (long i = 0; i < got; ++i) ASSERT_EQ(buffer[static_cast<std::size_t>(i)], expected(offset + i)) << offset + i;
    }
    std::uint8_t byte = 0;
    EXPECT_EQ(source->read(source->received(), &byte, 1), -1) << "past what came, the failure";
    EXPECT_TRUE(std::filesystem::is_empty(spill_)) << "the temporary file never shows in its folder";
}

TEST_F(MediaByteSourceTest, ADeclaredLengthOverTheBoundIsRefusedBeforeTheBody) {
    // Two gigabytes said in the header; none of it is taken.
    server_->setFault(path_, LoopbackServer::Fault::endless(std::size_t{2} << 30));
    auto source = open(smallLimits());
    ASSERT_TRUE(source);
    ASSERT_TRUE(ended(*source));
    ASSERT_TRUE(source->error());
    EXPECT_EQ(source->error()->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(source->received(), 0u);
}

TEST_F(MediaByteSourceTest, ATemporaryFileThatCannotBeWrittenEndsTheStreamWithItsReason) {
    serveEndlessly();
    FaultInjection faults;
    faults->noSpace("*/spill/*");
    auto source = open(smallLimits());
    ASSERT_TRUE(source);
    ASSERT_TRUE(ended(*source));
    ASSERT_TRUE(source->error());
    EXPECT_EQ(source->error()->code(), ENOSPC);
    EXPECT_EQ(source->received(), smallLimits().memoryBytes);
    EXPECT_GT(faults->injected(), 0);
}

// A composition longer than the memory budget whose temporary folder cannot be written plays
// what came, then fails with that reason: it never ends as if it were over. Whether the container
// indexes its packets (MP4) or not (a wave file), the loaded part is what came, not the whole.
TEST_F(MediaByteSourceTest, AnItemWhoseTemporaryFileCannotBeWrittenFailsWhereItsBytesEndAndNeverEnds) {
    FaultInjection faults;
    faults->readOnly("*/spill*");
    for (const std::string& file : {MediaTestFiles::longPhrases(), MediaTestFiles::longWave()}) {
        SCOPED_TRACE(file);
        MediaByteLimits limits = smallLimits();
        limits.memoryBytes = file == MediaTestFiles::longWave() ? 1024 * 1024 : 64 * 1024;
        limits.maximumBytes = 16 * 1024 * 1024;
        auto item = AVPlayerItem::playerItemWithAsset(
            AVURLAsset::URLAssetWithURL(NSURL::URLWithString(server_->host() + MediaTestFiles::serverPath(file))), limits);
        ASSERT_TRUE(item);
        auto player = AVPlayer::playerWithPlayerItem(item);
        int ends = 0;
        auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
            AVPlayerItemDidPlayToEndTimeNotification, item, nullptr, [&](const NSNotification&) { ++ends; });
        player->play();
        ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return item->status() != AVPlayerItemStatus::Unknown; }, 20));
        // Time moves only once what will come has come: it plays to there, not to wherever the
        // bytes had reached when the clock passed them.
        ASSERT_TRUE(loadingEnded());
        double loaded = 0;
        for (int second = 0; second < 25 && item->status() != AVPlayerItemStatus::Failed; ++second) {
            for (const auto& range : item->loadedTimeRanges())
                loaded = std::max(loaded, CMTimeGetSeconds(range.start) + CMTimeGetSeconds(range.duration));
            Clock::advance(1.0);
            NSRunLoop::mainRunLoop()->runUntilIdle();
        }
        NSNotificationCenter::defaultCenter()->removeObserver(observer);
        EXPECT_EQ(ends, 0) << "the composition did not end";
        ASSERT_EQ(item->status(), AVPlayerItemStatus::Failed);
        const double played = CMTimeGetSeconds(item->currentTime());
        EXPECT_GT(played, 0.5) << "what came was played";
        EXPECT_LT(loaded, 12.0) << "only what came counts as loaded";
        EXPECT_LE(played, loaded + 0.05);
        ASSERT_TRUE(item->error());
        EXPECT_EQ(item->error()->code(), AVErrorContentIsUnavailable);
        auto reason = std::dynamic_pointer_cast<NSError>(item->error()->userInfo()[NSUnderlyingErrorKey].object());
        ASSERT_TRUE(reason);
        EXPECT_EQ(reason->code(), EROFS);
    }
    EXPECT_GT(faults->injected(), 0);
}

TEST_F(MediaByteSourceTest, AnItemOverAStreamPastTheBoundFailsWithThatReason) {
    serveEndlessly();
    auto item = AVPlayerItem::playerItemWithAsset(AVURLAsset::URLAssetWithURL(NSURL::URLWithString(server_->host() + path_)),
                                                  smallLimits());
    ASSERT_TRUE(item);
    auto player = AVPlayer::playerWithPlayerItem(item);
    player->play();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return item->status() == AVPlayerItemStatus::Failed; }, 20));
    ASSERT_TRUE(item->error());
    EXPECT_EQ(item->error()->domain(), AVFoundationErrorDomain);
    EXPECT_EQ(item->error()->code(), AVErrorContentIsUnavailable);
    const Value underlying = item->error()->userInfo()[NSUnderlyingErrorKey];
    auto reason = std::dynamic_pointer_cast<NSError>(underlying.object());
    ASSERT_TRUE(reason);
    EXPECT_EQ(reason->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_EQ(player->status(), AVPlayerStatus::Failed);
}

}  // namespace
