// The platform player over real compositions: from files and from the content server (whole,
// throttled, failing halfway, missing), driven on the manual clock, with its observers, the
// end of an item, seeking, the audio mix's gain and files that are no audio; a local file ready
// from its header before anything decodes.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVAudioSession.h"
#include "platform/media/AVError.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/MediaByteSource.h"
#include "platform/media/MediaDecoder.h"
#include "platform/net/NSURL.h"
#include "platform/net/URLNetwork.h"
#include "demo/loopback/LoopbackServer.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/fixtures/RefusingPort.h"
#include "tests/platform/media/MediaTestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace {

// Counts what is read of one file, and whether it is open, over the real file system.
class FileReads final : public FaultyFileIO {
public:
    explicit FileReads(std::string path) : path_(std::move(path)) {}

    int open(const std::string& path, int flags, mode_t mode, int& fd) override {
        const int err = FaultyFileIO::open(path, flags, mode, fd);
        std::lock_guard lock(mutex_);
        if (!err && path == path_) {
            open_.insert(fd);
            ++opens_;
        }
        return err;
    }
    int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        const int err = FaultyFileIO::readAt(fd, offset, buffer, size, got);
        std::lock_guard lock(mutex_);
        if (!err && open_.count(fd)) bytes_ += got;
        return err;
    }
    int read(int fd, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        const int err = FaultyFileIO::read(fd, buffer, size, got);
        std::lock_guard lock(mutex_);
        if (!err && open_.count(fd)) bytes_ += got;
        return err;
    }
    int close(int fd) override {
        {
            std::lock_guard lock(mutex_);
            open_.erase(fd);
        }
        return FaultyFileIO::close(fd);
    }

    std::uint64_t bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    bool isOpen() const {
        std::lock_guard lock(mutex_);
        return !open_.empty();
    }
    int opens() const {
        std::lock_guard lock(mutex_);
        return opens_;
    }

private:
    const std::string path_;
    mutable std::mutex mutex_;
    std::set<int> open_;
    std::uint64_t bytes_ = 0;
    int opens_ = 0;
};

// What a server was asked for one path: requests for a range, for the whole body, and the bytes
// the ranges cover within a file of `size` bytes.
struct Served {
    std::size_t ranged = 0;
    std::size_t whole = 0;
    std::uint64_t bytes = 0;
};

Served servedFor(const LoopbackServer& server, const std::string& path, std::uint64_t size) {
    Served served;
    for (const auto& request : server.requestsFor(path)) {
        const std::string range = request.header("Range");
        unsigned long long first = 0, last = 0;
        if (range.empty()) {
            ++served.whole;
        } else if (std::sscanf(range.c_str(), "bytes=%llu-%llu", &first, &last) == 2 && first <= last && first < size) {
            ++served.ranged;
            served.bytes += std::min<std::uint64_t>(last, size - 1) - first + 1;
        } else {
            ADD_FAILURE() << "an odd range: " << range;
        }
    }
    return served;
}

// The decoder's figures for a local file.
std::optional<MediaDecoder::Info> decoderFigures(const std::string& file) {
    NSErrorPtr error;
    auto source = MediaByteSource::open(*NSURL::fileURLWithPath(file), &error);
    auto decoder = source ? MediaDecoder::open(source, &error) : nullptr;
    EXPECT_TRUE(decoder) << file << ": " << (error ? error->localizedDescription() : "");
    if (!decoder) return std::nullopt;
    return decoder->info();
}

std::string fileText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A 206 with these bytes of `body` and this Content-Range, whatever was asked.
LoopbackServer::Response partial(const std::string& body, std::size_t first, std::size_t last,
                                 const std::string& contentRange) {
    auto response = LoopbackServer::Response::make(206, body.substr(first, last - first + 1), "audio/mp4");
    response.headers.emplace_back("Content-Range", contentRange);
    return response;
}

class AVPlayerTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(100'000); }
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::setReal();
    }

    static bool pump(const std::function<bool()>& until, double seconds = 20) {
        return NSRunLoop::mainRunLoop()->runUntil(until, seconds);
    }
    static void advance(double seconds) {
        Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // Its item loading: asking for the duration starts it.
    static std::shared_ptr<AVPlayer> playerFor(const std::shared_ptr<NSURL>& url) {
        auto item = AVPlayerItem::playerItemWithAsset(AVURLAsset::URLAssetWithURL(url));
        (void)item->duration();
        return AVPlayer::playerWithPlayerItem(item);
    }
    static std::shared_ptr<AVPlayer> readyPlayer(const std::string& file) {
        auto player = playerFor(NSURL::fileURLWithPath(file));
        EXPECT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
        EXPECT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
        return player;
    }
    static double seconds(CMTime time) { return CMTimeGetSeconds(time); }
    static double loadedEnd(const AVPlayer& player) {
        const auto ranges = player.currentItem()->loadedTimeRanges();
        if (ranges.empty()) return 0;
        return seconds(ranges.back().start) + seconds(ranges.back().duration);
    }
};

TEST_F(AVPlayerTest, MediaTimesCompareAcrossTimescales) {
    EXPECT_EQ(CMTimeCompare(CMTimeMake(1, 2), CMTimeMake(300, 600)), 0);
    EXPECT_LT(CMTimeCompare(CMTimeMake(1, 3), CMTimeMake(1, 2)), 0);
    EXPECT_LT(CMTimeCompare(kCMTimeInvalid, kCMTimeZero), 0);
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(CMTimeMake(1, 0))));
    EXPECT_DOUBLE_EQ(CMTimeGetSeconds(CMTimeMakeWithSeconds(90.5, 600)), 90.5);
}

TEST_F(AVPlayerTest, ALocalFileIsReadyWithItsDurationTrackAndWholeLoadedRange) {
    // The file opens on the item's own queue, which may finish before a first look here: only
    // the state once it has is checked.
    auto player = playerFor(NSURL::fileURLWithPath(MediaTestFiles::phrases()));
    ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
    ASSERT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
    EXPECT_NEAR(seconds(player->currentItem()->asset()->duration()), 3.0, 0.05);
    const auto tracks = player->currentItem()->asset()->tracksWithMediaType(AVMediaTypeAudio);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_GT(tracks[0]->trackID(), 0);
    EXPECT_NEAR(loadedEnd(*player), 3.0, 0.05);
    EXPECT_EQ(player->rate(), 0.0f);
}

// An item given to a player reads its file's header on its queue and is ready with its length,
// its track and the whole file loaded, having read the header alone and kept no file open; it
// decodes nothing (no output, no device) until it plays, and playing does not make it ready
// again.
TEST_F(AVPlayerTest, AnItemGivenToAPlayerIsReadyFromItsHeaderAndDecodesOnlyToPlay) {
    auto reads = std::make_shared<FileReads>(MediaTestFiles::phrases());
    ScopedFileIO scope(reads);
    auto local = AVPlayer::playerWithPlayerItem(
        AVPlayerItem::playerItemWithAsset(AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(MediaTestFiles::phrases()))));
    // Made on the main thread, it reads nothing before the main queue's next turn, so whoever
    // made it observes it first: an observer without the initial value still hears it ready.
    EXPECT_EQ(reads->opens(), 0);
    std::vector<long> statuses;
    auto token = local->addObserver("status", NSKeyValueObservingOptionNew,
                                    [&](const std::string&) { statuses.push_back(static_cast<long>(local->status())); });
    ASSERT_TRUE(pump([&] { return !statuses.empty(); }));
    const std::vector<long> told = statuses;
    EXPECT_EQ(told, (std::vector<long>{1}));
    const auto& item = local->currentItem();
    EXPECT_NEAR(seconds(item->duration()), 3.0, 0.05);
    EXPECT_EQ(seconds(item->asset()->duration()), seconds(item->duration()));
    const auto tracks = item->asset()->tracksWithMediaType(AVMediaTypeAudio);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0]->trackID(), 1);
    EXPECT_EQ(loadedEnd(*local), seconds(item->duration()));
    // A settle of the clock waits for every queue: a decoder would have opened by now.
    advance(1.0);
    EXPECT_EQ(local->rate(), 0.0f) << "ready, not started";
    EXPECT_EQ(seconds(local->currentTime()), 0.0);
    EXPECT_EQ(item->outputFrames(), 0);
    EXPECT_FALSE(item->playsOnDevice());
    const std::uint64_t size = std::filesystem::file_size(MediaTestFiles::phrases());
    EXPECT_EQ(reads->opens(), 1);
    EXPECT_FALSE(reads->isOpen());
    EXPECT_LT(reads->bytes(), 2048u) << "the header alone, of " << size << " bytes";

    local->play();
    advance(1.0);
    EXPECT_NEAR(seconds(local->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(item->outputFrames(), 44100);
    EXPECT_GT(reads->bytes(), size / 2) << "the decoder read the file";
    EXPECT_EQ(statuses, told) << "not made ready again";
    local->removeObserver(token);
}

// A file whose header the probe does not know, or could not read, waits for its first play (or
// a question about its length) as before: the decoder then reads it, and says it is no audio, or
// plays it.
TEST_F(AVPlayerTest, AHeaderThatCannotBeReadLeavesTheItemToItsDecoder) {
    auto text = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(MediaTestFiles::notAudio())));
    FaultInjection faults;
    faults->inject(FaultyFileIO::Operation::Read, MediaTestFiles::phrases(), EIO, 1);
    auto unread = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(MediaTestFiles::phrases())));
    advance(1.0);
    EXPECT_EQ(faults->injected(), 1);
    EXPECT_EQ(text->status(), AVPlayerStatus::Unknown);
    EXPECT_EQ(unread->status(), AVPlayerStatus::Unknown);
    EXPECT_FALSE(text->error());

    text->play();
    ASSERT_TRUE(pump([&] { return text->status() != AVPlayerStatus::Unknown; }));
    EXPECT_EQ(text->status(), AVPlayerStatus::Failed);
    ASSERT_TRUE(text->error());
    EXPECT_EQ(text->error()->code(), AVErrorFileFormatNotRecognized);
    unread->play();
    advance(1.0);
    EXPECT_EQ(unread->status(), AVPlayerStatus::ReadyToPlay);
    EXPECT_NEAR(seconds(unread->currentTime()), 1.0, 1e-9);
}

// A stream given to a player is ready from its header, fetched with a few range requests from
// wherever its movie box is (the first answer tells the file's length), with the figures the
// decoder reads; none of its body is asked for, so nothing is loaded, until it plays: then its
// body loads once and plays.
TEST_F(AVPlayerTest, AStreamGivenToAPlayerIsReadyFromItsHeaderFetchedInRanges) {
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    for (const std::string& file : {MediaTestFiles::longPhrases(), MediaTestFiles::longIndexLast()}) {
        SCOPED_TRACE(file);
        const bool indexLast = file == MediaTestFiles::longIndexLast();
        const auto decoded = decoderFigures(file);
        ASSERT_TRUE(decoded);
        const std::string path = MediaTestFiles::serverPath(file);
        const std::uint64_t size = std::filesystem::file_size(file);
        auto player = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::URLWithString(server->host() + path)));
        ASSERT_TRUE(player);
        std::vector<long> statuses;
        auto token = player->addObserver("status", NSKeyValueObservingOptionNew,
                                         [&](const std::string&) { statuses.push_back(static_cast<long>(player->status())); });
        ASSERT_TRUE(pump([&] { return !statuses.empty(); }));
        EXPECT_EQ(statuses, (std::vector<long>{1}));
        const auto& item = player->currentItem();
        EXPECT_EQ(seconds(item->duration()), seconds(CMTimeMakeWithSeconds(decoded->duration, 600)));
        EXPECT_EQ(seconds(item->asset()->duration()), seconds(item->duration()));
        const auto tracks = item->asset()->tracksWithMediaType(AVMediaTypeAudio);
        ASSERT_EQ(tracks.size(), 1u);
        EXPECT_EQ(tracks[0]->trackID(), decoded->trackID);
        EXPECT_TRUE(item->loadedTimeRanges().empty()) << "nothing of the body is here";
        EXPECT_TRUE(item->isPlaybackBufferEmpty());

        const Served header = servedFor(*server, path, size);
        EXPECT_EQ(header.whole, 0u);
        EXPECT_GE(header.ranged, indexLast ? 2u : 1u) << "the movie box at the end is fetched where it is";
        EXPECT_LE(header.ranged, 4u);
        EXPECT_LE(header.bytes, 64u * 1024) << "of " << size << " bytes";
        EXPECT_GT(size, 4 * header.bytes);
        advance(1.0);
        EXPECT_EQ(servedFor(*server, path, size).ranged, header.ranged) << "nothing more until it plays";
        EXPECT_EQ(item->outputFrames(), 0);

        player->play();
        ASSERT_TRUE(pump([&] { return loadedEnd(*player) >= 2.0; }));
        advance(1.0);
        EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
        EXPECT_EQ(player->rate(), 1.0f);
        const Served played = servedFor(*server, path, size);
        EXPECT_EQ(played.whole, 1u) << "the body, once, from the play";
        EXPECT_EQ(played.ranged, header.ranged);
        EXPECT_EQ(statuses, (std::vector<long>{1})) << "not made ready again";
        player->removeObserver(token);
    }
}

// A stream whose header does not come as asked, given to a player and not played: a server that
// ignores ranges has the start of its whole answer read (the header there makes the item ready;
// one further on than the bound, or a format the probe does not know, leaves it waiting); one
// that cannot be reached, fails the range or loops its redirects makes it fail; answers whose
// Content-Range is not what was asked for (elsewhere, longer, of a file whose length changes)
// and one that stalls past the bound (on the clock) leave it waiting. Its player hears its
// status once, when it changed, and no more than the header's request is made: a waiting item
// says it loads nothing, and loads its body when it plays, then plays or says why it cannot.
TEST_F(AVPlayerTest, AStreamWhoseHeaderDoesNotComeAsAskedIsReadyFailedOrWaitsForItsPlay) {
    const std::string body = fileText(MediaTestFiles::longPhrases());
    const std::string indexLast = fileText(MediaTestFiles::longIndexLast());
    ASSERT_GT(body.size(), 64u * 1024);
    // The index-last file with a free box before its movie box, which then lies past the bound.
    std::string farIndex = indexLast;
    std::size_t moov = 0;
    while (moov + 8 <= farIndex.size() && farIndex.compare(moov + 4, 4, "moov") != 0)
        moov += (std::size_t(std::uint8_t(farIndex[moov])) << 24) | (std::size_t(std::uint8_t(farIndex[moov + 1])) << 16) |
                (std::size_t(std::uint8_t(farIndex[moov + 2])) << 8) | std::uint8_t(farIndex[moov + 3]);
    ASSERT_LT(moov + 8, farIndex.size());
    const std::uint32_t gap = 1024 * 1024;
    farIndex.insert(moov, std::string{char(gap >> 24), char(gap >> 16 & 0xFF), 0, 0, 'f', 'r', 'e', 'e'} +
                              std::string(gap - 8, '\0'));
    const std::string size = std::to_string(body.size());
    LoopbackServer server;
    // The path's answer to a range request; plain requests get the whole file, as the decoder wants.
    auto serve = [&](const std::string& path, const std::string& file,
                     std::function<LoopbackServer::Response(std::size_t first, std::size_t last)> ranged) {
        server.handle(path, [file, ranged](const LoopbackServer::Request& request) {
            unsigned long long first = 0, last = 0;
            if (std::sscanf(request.header("Range").c_str(), "bytes=%llu-%llu", &first, &last) == 2)
                return ranged(first, std::min<std::size_t>(last, file.size() - 1));
            return LoopbackServer::Response::make(200, file, "audio/mp4");
        });
    };
    for (const auto& [path, file] : {std::pair<std::string, std::string>{"/whole.m4a", body},
                                     {"/far-index.m4a", farIndex},
                                     {"/text.m4a", fileText(MediaTestFiles::notAudio())}}) {
        serve(path, file, [whole = file](std::size_t, std::size_t) {
            return LoopbackServer::Response::make(200, whole, "audio/mp4");
        });
    }
    serve("/failing.m4a", body, [](std::size_t, std::size_t) { return LoopbackServer::Response::make(500, "Status 500\n"); });
    serve("/elsewhere.m4a", body, [&](std::size_t first, std::size_t last) {
        return partial(body, first + 100, last, "bytes " + std::to_string(first + 100) + "-" + std::to_string(last) + "/" + size);
    });
    serve("/longer.m4a", body, [&](std::size_t first, std::size_t) {
        return partial(body, first, body.size() - 1, "bytes " + std::to_string(first) + "-" + std::to_string(body.size() - 1) + "/" + size);
    });
    // Right the first time; the file then grows.
    serve("/growing.m4a", indexLast, [&](std::size_t first, std::size_t last) {
        const std::size_t told = indexLast.size() + (first == 0 ? 0 : 1000);
        return partial(indexLast, first, last,
                       "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(told));
    });
    serve("/loop.m4a", body, [](std::size_t, std::size_t) {
        auto response = LoopbackServer::Response::make(302, "");
        response.headers.emplace_back("Location", "/loop.m4a");
        return response;
    });
    serve("/stalled.m4a", body, [&](std::size_t first, std::size_t last) {
        auto response = partial(body, first, last, "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + size);
        response.fault = LoopbackServer::Fault::stall(0);
        return response;
    });
    RefusingPort refusing;
    ASSERT_GT(refusing.port(), 0);

    enum Told { Ready = 1, Failed = 2, Waits = 0 };
    const std::vector<std::tuple<std::string, Told, bool>> cases = {
        {"/whole.m4a", Ready, true},      {"/far-index.m4a", Waits, true}, {"/text.m4a", Waits, false},
        {"/failing.m4a", Failed, false},  {"/elsewhere.m4a", Waits, true}, {"/longer.m4a", Waits, true},
        {"/growing.m4a", Waits, true},    {"/loop.m4a", Failed, false},    {"/stalled.m4a", Waits, true},
        {"/refused.m4a", Failed, false}};
    for (const auto& [path, told, plays] : cases) {
        SCOPED_TRACE(path);
        const std::string url =
            path == "/refused.m4a" ? "http://127.0.0.1:" + std::to_string(refusing.port()) + path : server.url(path);
        auto player = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::URLWithString(url)));
        std::vector<long> statuses;
        std::vector<bool> loading;
        auto token = player->addObserver("status", NSKeyValueObservingOptionNew,
                                         [&](const std::string&) { statuses.push_back(static_cast<long>(player->status())); });
        auto loadingToken = player->addObserver("currentItem.loading", NSKeyValueObservingOptionNew, [&](const std::string&) {
            loading.push_back(player->currentItem()->isLoading());
        });
        if (path == "/stalled.m4a") {
            // The header read starts on the main queue's next turn.
            NSRunLoop::mainRunLoop()->runUntilIdle();
            ASSERT_TRUE(server.waitForStalls(1));
            // Not a second before the bound: the read goes on waiting.
            advance(14.0);
            EXPECT_TRUE(player->currentItem()->isLoading());
            advance(1.5);
        }
        ASSERT_TRUE(pump([&] { return !statuses.empty() || (!loading.empty() && !loading.back()); }));
        server.releaseStalls();
        ASSERT_TRUE(settleWithNetworkUntil([] { return URLNetwork::liveTransferCount() == 0; }));
        advance(1.0);
        EXPECT_EQ(statuses, told == Waits ? std::vector<long>{} : std::vector<long>{told}) << "told once";
        EXPECT_FALSE(player->currentItem()->isLoading()) << "nothing loads";
        // Loading from the header read on, and, unless the status says more, no longer.
        EXPECT_EQ(loading.size(), told == Waits ? 2u : 1u);
        const auto asked = server.requestsFor(path);
        for (const auto& request : asked) EXPECT_FALSE(request.header("Range").empty()) << "the header alone";
        if (path != "/loop.m4a") {
            EXPECT_LE(asked.size(), 3u);
        }
        if (told == Failed) {
            ASSERT_TRUE(player->error());
            EXPECT_EQ(player->error()->code(), AVErrorContentIsUnavailable);
        }

        player->play();
        if (told == Waits) {
            ASSERT_TRUE(pump([&] { return !statuses.empty(); }));
            EXPECT_EQ(loading.size(), 3u) << "loading again for the play";
        }
        if (plays) {
            ASSERT_TRUE(pump([&] { return loadedEnd(*player) >= 2.0; }));
            advance(1.0);
            EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
            EXPECT_EQ(server.requestsFor(path).size(), asked.size() + 1) << "the body, once, for the play";
        } else {
            EXPECT_EQ(player->status(), AVPlayerStatus::Failed);
            ASSERT_TRUE(player->error());
            EXPECT_EQ(player->error()->code(), told == Waits ? AVErrorFileFormatNotRecognized : AVErrorContentIsUnavailable);
        }
        player->removeObserver(token);
        player->removeObserver(loadingToken);
    }
}

// A stream played while its header is still on its way loads its body at once: the header's
// request is let go, and the decoder reads the header from the body.
TEST_F(AVPlayerTest, AStreamPlayedBeforeItsHeaderCameLoadsItsBodyAtOnce) {
    const std::string body = fileText(MediaTestFiles::phrases());
    LoopbackServer server;
    server.handle("/slow.m4a", [&](const LoopbackServer::Request& request) {
        if (request.header("Range").empty()) return LoopbackServer::Response::make(200, body, "audio/mp4");
        auto response = partial(body, 0, 16383, "bytes 0-16383/" + std::to_string(body.size()));
        response.fault = LoopbackServer::Fault::stall(0);
        return response;
    });
    auto player = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::URLWithString(server.url("/slow.m4a"))));
    std::vector<long> statuses;
    auto token = player->addObserver("status", NSKeyValueObservingOptionNew,
                                     [&](const std::string&) { statuses.push_back(static_cast<long>(player->status())); });
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_TRUE(server.waitForStalls(1));
    player->play();
    ASSERT_TRUE(pump([&] { return !statuses.empty(); }));
    EXPECT_EQ(statuses, (std::vector<long>{1})) << "ready from the body, not told it waits";
    advance(1.0);
    EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(server.requestsFor("/slow.m4a").size(), 2u);
    player->removeObserver(token);
    server.releaseStalls();
}

// A place sought while the item is ready from its header alone is where the decoder starts: the
// blocks played from there are those an item already decoding plays after the same seek (but
// the first, which holds the decoder's start after a seek and so what it decoded before).
TEST_F(AVPlayerTest, ASeekBeforeTheFirstPlayDecodesFromThere) {
    auto blocksAfterSeek = [&](bool playFirst) {
        auto player = readyPlayer(MediaTestFiles::phrases());
        if (playFirst) {
            player->play();
            advance(0.2);
            player->pause();
        }
        std::mutex mutex;
        std::vector<AVAudioOutputBlock> blocks;
        player->currentItem()->setOutputTap([&](const AVAudioOutputBlock& block) {
            std::lock_guard lock(mutex);
            blocks.push_back(block);
        });
        player->seekToTime(CMTimeMake(3, 2));
        player->play();
        advance(0.5);
        player->pause();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        std::lock_guard lock(mutex);
        return blocks;
    };
    const auto fresh = blocksAfterSeek(false);
    const auto decoding = blocksAfterSeek(true);
    ASSERT_EQ(fresh.size(), 10u);
    ASSERT_EQ(decoding.size(), fresh.size());
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        EXPECT_DOUBLE_EQ(fresh[i].start, 1.5 + 0.05 * static_cast<double>(i));
        EXPECT_DOUBLE_EQ(fresh[i].start, decoding[i].start);
        EXPECT_GT(fresh[i].rms, 0.0f) << "block " << i;
        if (i == 0) continue;
        EXPECT_NEAR(fresh[i].rms, decoding[i].rms, 1e-5) << "block " << i;
        EXPECT_NEAR(fresh[i].peak, decoding[i].peak, 1e-5) << "block " << i;
    }
}

TEST_F(AVPlayerTest, PlayingAdvancesOnTheClockOnlyWhileTheRateIsOne) {
    auto player = readyPlayer(MediaTestFiles::phrases());
    advance(1.0);
    EXPECT_EQ(seconds(player->currentTime()), 0.0) << "nothing plays before play()";
    player->play();
    advance(1.0);
    EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(player->currentItem()->outputFrames(), 44100);
    player->pause();
    advance(1.0);
    EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(player->currentItem()->outputFrames(), 44100);
    player->setRate(1.0f);
    advance(0.5);
    EXPECT_NEAR(seconds(player->currentTime()), 1.5, 1e-9);
}

TEST_F(AVPlayerTest, BlocksFollowTheClockAtTodaysReadingsToo) {
    // Seconds since 1970 leave a clock reading a few tenths of a microsecond of precision.
    Clock::setManual(1'796'630'286.200280);
    auto player = readyPlayer(MediaTestFiles::phrases());
    player->play();
    advance(0.3);
    advance(0.7);
    EXPECT_NEAR(seconds(player->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(player->currentItem()->outputFrames(), 44100);
}

TEST_F(AVPlayerTest, PeriodicObserversFireEveryWholeIntervalAndOnJumpsUntilRemoved) {
    auto player = readyPlayer(MediaTestFiles::phrases());
    std::vector<double> times;
    auto token = player->addPeriodicTimeObserverForInterval(CMTimeMake(1, 1), nullptr,
                                                            [&](CMTime time) { times.push_back(seconds(time)); });
    ASSERT_TRUE(token);
    player->play();  // a jump: once at 0
    advance(2.2);
    EXPECT_EQ(times, (std::vector<double>{0.0, 1.0, 2.0}));
    times.clear();
    player->seekToTime(CMTimeMake(1, 2));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(times, (std::vector<double>{0.5}));
    // A delivery already queued is dropped once the observer is removed.
    times.clear();
    advance(0.6);
    player->seekToTime(kCMTimeZero);
    player->removeTimeObserver(token);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    advance(1.5);
    EXPECT_EQ(times, (std::vector<double>{1.0}));
}

TEST_F(AVPlayerTest, TheEndIsPostedOnceAndLeavesTheTimeAtTheDuration) {
    auto player = readyPlayer(MediaTestFiles::phrases());
    int ends = 0;
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        AVPlayerItemDidPlayToEndTimeNotification, player->currentItem(), nullptr, [&](const NSNotification&) { ++ends; });
    player->seekToTime(CMTimeMakeWithSeconds(2.0, 600));
    player->play();
    advance(2.0);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_DOUBLE_EQ(seconds(player->currentTime()), seconds(player->currentItem()->duration()));
    advance(2.0);
    EXPECT_EQ(ends, 1);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

// A file that says it lasts a million seconds and holds three: its end comes after those three,
// as a jump to the length it said, and the time observer is told each second played and the
// jump, one call queued at a time however far the time went.
TEST_F(AVPlayerTest, AFileThatDeclaresAHugeDurationEndsAfterItsAudioWithFewTimeCallsQueued) {
    auto player = readyPlayer(MediaTestFiles::hugeDeclaredDuration());
    ASSERT_GT(seconds(player->currentItem()->duration()), 999'000.0);
    // The calls wait on a queue of their own, held until the end: what is queued is what it holds.
    auto queue = DispatchQueue::create("time calls");
    queue->suspend();
    std::atomic<int> calls{0};
    std::vector<double> times;
    std::mutex mutex;
    auto token = player->addPeriodicTimeObserverForInterval(CMTimeMake(1, 1), queue, [&](CMTime time) {
        ++calls;
        std::lock_guard lock(mutex);
        times.push_back(seconds(time));
    });
    int ends = 0;
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        AVPlayerItemDidPlayToEndTimeNotification, player->currentItem(), nullptr, [&](const NSNotification&) { ++ends; });
    player->play();
    advance(5.0);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_DOUBLE_EQ(seconds(player->currentTime()), seconds(player->currentItem()->duration()));
    queue->resume();
    ASSERT_TRUE(pump([&] {
        std::lock_guard lock(mutex);
        return !times.empty() && times.back() > 999'000.0;
    }));
    queue->sync([] {});
    std::lock_guard lock(mutex);
    EXPECT_LE(calls.load(), 8) << "the seconds played, the start and the end";
    EXPECT_EQ(times.front(), 0.0);
    EXPECT_DOUBLE_EQ(times.back(), seconds(player->currentItem()->duration()));
    player->removeTimeObserver(token);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

TEST_F(AVPlayerTest, SeekingClampsToTheItem) {
    auto player = readyPlayer(MediaTestFiles::phrases());
    player->seekToTime(CMTimeMake(-5, 1));
    EXPECT_EQ(seconds(player->currentTime()), 0.0);
    player->seekToTime(CMTimeMake(99, 1));
    EXPECT_DOUBLE_EQ(seconds(player->currentTime()), seconds(player->currentItem()->duration()));
    player->seekToTime(CMTimeMake(3, 2));
    player->play();
    advance(0.5);
    EXPECT_NEAR(seconds(player->currentTime()), 2.0, 1e-9);
}

TEST_F(AVPlayerTest, TheMixGainAppliesFromTheNextBlock) {
    auto player = readyPlayer(MediaTestFiles::steadyTone());
    std::mutex mutex;
    std::vector<AVAudioOutputBlock> blocks;
    player->currentItem()->setOutputTap([&](const AVAudioOutputBlock& block) {
        std::lock_guard lock(mutex);
        blocks.push_back(block);
    });
    player->seekToTime(CMTimeMake(1, 1));
    player->play();
    advance(0.5);
    const auto tracks = player->currentItem()->asset()->tracksWithMediaType(AVMediaTypeAudio);
    auto parameters = AVMutableAudioMixInputParameters::audioMixInputParametersWithTrack(tracks.at(0));
    parameters->setVolume(0.5f, kCMTimeZero);
    auto mix = AVMutableAudioMix::audioMix();
    mix->setInputParameters({parameters});
    // The same half second again, now through the mix.
    player->seekToTime(CMTimeMake(1, 1));
    player->currentItem()->setAudioMix(mix);
    advance(0.5);
    std::lock_guard lock(mutex);
    ASSERT_EQ(blocks.size(), 20u);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(blocks[i].gain, 1.0f);
        EXPECT_NEAR(blocks[i].rms, 0.5 / std::sqrt(2.0), 0.03) << "block " << i;
    }
    // Every block after the change, the first one included, is at half the level (-6 dB).
    for (std::size_t i = 10; i < 20; ++i) {
        EXPECT_EQ(blocks[i].gain, 0.5f);
        EXPECT_DOUBLE_EQ(blocks[i].start, blocks[i - 10].start);
        EXPECT_NEAR(blocks[i].rms / blocks[i - 10].rms, 0.5, 0.02) << "block " << i;
    }
    // Pausing leaves the output silent: nothing more is consumed.
    player->pause();
    const auto before = blocks.size();
    mutex.unlock();
    advance(1.0);
    mutex.lock();
    EXPECT_EQ(blocks.size(), before);
}

TEST_F(AVPlayerTest, KeyValueObserversGetTheInitialValueAtOnceAndLaterChangesOnTheMainQueue) {
    // A slow stream, still loading when the observer comes.
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    const std::string path = MediaTestFiles::serverPath(MediaTestFiles::phrases());
    server->setFault(path, LoopbackServer::Fault::slow(std::chrono::milliseconds(30), 1024));
    auto player = playerFor(NSURL::URLWithString(server->host() + path));
    std::vector<long> statuses;
    auto token = player->addObserver("status", NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial,
                                     [&](const std::string&) { statuses.push_back(static_cast<long>(player->status())); });
    ASSERT_TRUE(token);
    EXPECT_EQ(statuses, (std::vector<long>{0}));
    ASSERT_TRUE(pump([&] { return statuses.size() == 2; }));
    EXPECT_EQ(statuses, (std::vector<long>{0, 1}));
    player->removeObserver(token);
    EXPECT_FALSE(player->addObserver("volume", NSKeyValueObservingOptionNew, [](const std::string&) {}));
}

TEST_F(AVPlayerTest, FilesThatAreNoAudioOrMissingFail) {
    for (const std::string& file : {MediaTestFiles::notAudio(), MediaTestFiles::serverFolder() + "/missing.m4a",
                                    MediaTestFiles::serverFolder()}) {
        auto player = playerFor(NSURL::fileURLWithPath(file));
        ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; })) << file;
        EXPECT_EQ(player->status(), AVPlayerStatus::Failed) << file;
        ASSERT_TRUE(player->error()) << file;
        EXPECT_EQ(player->error()->domain(), AVFoundationErrorDomain);
        EXPECT_TRUE(player->currentItem()->loadedTimeRanges().empty());
        player->play();
        advance(1.0);
        EXPECT_EQ(seconds(player->currentTime()), 0.0);
    }
}

// What is no regular file where a composition's file belongs (a FIFO, a link to one, a folder)
// is no media, and nothing waits on it: its source fails at once, its player's header read ends
// at once with nothing told, and its play fails the item.
TEST_F(AVPlayerTest, WhatIsNoRegularFileIsNeverWaitedOnAndFailsToPlay) {
    const std::string folder = Sandbox::tmp() + "/not-files";
    std::filesystem::create_directories(folder + "/folder.m4a");
    const std::string fifo = folder + "/pipe.m4a";
    ASSERT_TRUE(Fifo::make(fifo));
    std::filesystem::create_symlink(fifo, folder + "/link.m4a");
    for (const auto& [name, reason] : {std::pair{"pipe.m4a", ENOTSUP}, {"link.m4a", ENOTSUP}, {"folder.m4a", EISDIR}}) {
        SCOPED_TRACE(name);
        const auto url = NSURL::fileURLWithPath(folder + "/" + name);
        Fifo::Guard guard(fifo);
        NSErrorPtr error;
        EXPECT_FALSE(MediaByteSource::open(*url, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), reason);
        auto player = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(url));
        std::vector<long> statuses;
        auto token = player->addObserver("status", NSKeyValueObservingOptionNew,
                                         [&](const std::string&) { statuses.push_back(static_cast<long>(player->status())); });
        // A settle waits for the item's queue: the header read is over.
        advance(1.0);
        EXPECT_TRUE(statuses.empty());
        player->play();
        ASSERT_TRUE(pump([&] { return !statuses.empty(); }));
        EXPECT_EQ(statuses, (std::vector<long>{2}));
        ASSERT_TRUE(player->error());
        EXPECT_EQ(player->error()->code(), AVErrorFileFormatNotRecognized) << "no media";
        player->removeObserver(token);
        EXPECT_TRUE(guard.finish()) << "waited on the FIFO";
    }
}

TEST_F(AVPlayerTest, AWholeStreamFromTheContentServerLoadsAndPlays) {
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    auto player = playerFor(NSURL::URLWithString(server->host() + MediaTestFiles::serverPath(MediaTestFiles::phrases())));
    ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
    ASSERT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
    ASSERT_TRUE(pump([&] { return loadedEnd(*player) >= 2.99; }));
    player->play();
    advance(4.0);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_NEAR(seconds(player->currentTime()), 3.0, 0.05);
}

TEST_F(AVPlayerTest, AThrottledStreamStallsAtItsLoadedEndAndGrowsItsLoadedRange) {
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    const std::string path = MediaTestFiles::serverPath(MediaTestFiles::longPhrases());
    // A quarter of the body in small slow pieces, then nothing more until released: the clock
    // runs past what came while the rest is held back, however fast the machine.
    const std::uint64_t size = std::filesystem::file_size(MediaTestFiles::longPhrases());
    auto fault = LoopbackServer::Fault::slow(std::chrono::milliseconds(20), 4096);
    fault.stallAfter = size / 4;
    server->setFault(path, fault);
    NSErrorPtr error;
    auto local = MediaByteSource::open(*NSURL::fileURLWithPath(MediaTestFiles::longPhrases()), &error);
    ASSERT_TRUE(local);
    const auto decoder = MediaDecoder::open(local, &error);
    ASSERT_TRUE(decoder);
    const double held = seconds(CMTimeMakeWithSeconds(decoder->playableEnd(size / 4, false), 600));
    ASSERT_GT(held, 1.0);
    ASSERT_LT(held, 15.0);

    auto player = playerFor(NSURL::URLWithString(server->host() + path));
    std::vector<double> reported;
    auto token = player->addObserver("currentItem.loadedTimeRanges", NSKeyValueObservingOptionNew,
                                     [&](const std::string&) { reported.push_back(loadedEnd(*player)); });
    ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
    ASSERT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
    ASSERT_TRUE(server->waitForStalls(1));
    ASSERT_TRUE(pump([&] { return loadedEnd(*player) == held; }));
    player->play();
    advance(20.0);
    // Stopped where the data ended, rate 0, not at the end.
    EXPECT_EQ(player->rate(), 0.0f);
    const double stalledAt = seconds(player->currentTime());
    EXPECT_NEAR(stalledAt, held, 0.1);
    server->releaseStalls();
    // More arrives; the player does not resume by itself.
    ASSERT_TRUE(pump([&] { return loadedEnd(*player) > stalledAt + 1.0; }));
    advance(1.0);
    EXPECT_EQ(seconds(player->currentTime()), stalledAt);
    player->play();
    advance(0.5);
    EXPECT_NEAR(seconds(player->currentTime()), stalledAt + 0.5, 1e-6);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_GE(reported.size(), 3u);
    player->removeObserver(token);
}

TEST_F(AVPlayerTest, AStreamBrokenOffHalfwayPlaysWhatCameThenFails) {
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    const std::string path = MediaTestFiles::serverPath(MediaTestFiles::longPhrases());
    server->setFault(path, LoopbackServer::Fault::reset());  // half the body, then the connection closes
    auto player = playerFor(NSURL::URLWithString(server->host() + path));
    ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
    ASSERT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
    // The half has come once the transfer has ended.
    ASSERT_TRUE(settleWithNetworkUntil([] { return URLNetwork::liveTransferCount() == 0; }));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(player->currentItem()->loadedTimeRanges().size(), 1u);
    const double loaded = loadedEnd(*player);
    EXPECT_GT(loaded, 5.0);
    EXPECT_LT(loaded, 12.0);
    player->play();
    advance(loaded + 1.0);
    ASSERT_TRUE(pump([&] { return player->status() == AVPlayerStatus::Failed; }));
    EXPECT_NEAR(seconds(player->currentTime()), loaded, 0.06);
    ASSERT_TRUE(player->error());
    EXPECT_EQ(player->error()->code(), AVErrorContentIsUnavailable);
}

TEST_F(AVPlayerTest, AMissingStreamFails) {
    auto server = MediaTestFiles::startServer();
    ASSERT_TRUE(server);
    auto player = playerFor(NSURL::URLWithString(server->host() + "/data/ostrelmedia/m4a/nothing.m4a"));
    ASSERT_TRUE(pump([&] { return player->status() != AVPlayerStatus::Unknown; }));
    EXPECT_EQ(player->status(), AVPlayerStatus::Failed);
    ASSERT_TRUE(player->error());
    EXPECT_EQ(player->error()->code(), AVErrorContentIsUnavailable);
}

TEST_F(AVPlayerTest, TheAudioSessionRecordsItsCategoryAndCanBeMadeToFail) {
    auto session = AVAudioSession::sharedInstance();
    NSErrorPtr error;
    EXPECT_TRUE(session->setCategory(AVAudioSessionCategoryPlayback, &error));
    EXPECT_TRUE(session->setActive(true, &error));
    EXPECT_EQ(session->category(), AVAudioSessionCategoryPlayback);
    EXPECT_TRUE(session->isActive());
    session->setActivationFailure(NSError::errorWithDomain("NSOSStatusErrorDomain", 561017449));
    EXPECT_FALSE(session->setActive(false, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 561017449);
    EXPECT_TRUE(session->isActive());
    session->reset();
}

}  // namespace
