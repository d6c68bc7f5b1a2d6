// Opening and starting a five-minute composition, from a local file and streamed from the
// content server on 127.0.0.1: time until the player is ready and its first output block has
// been decoded, against FFmpeg probing the same file and decoding its first frame directly in
// the same run. And the cost of playing: process CPU time per second of audio decoded and
// consumed by the silent output.
#include "demo/generator/DemoAudio.h"
#include "demo/server/ContentServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/net/NSURL.h"

#include "bench/support/CPUTime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr double kCompositionSeconds = 300;

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "Setting up the media benchmark failed: %s\n", what);
        std::exit(1);
    }
}

struct Fixture {
    std::string folder;
    std::string file;
    std::unique_ptr<ContentServer> server;
    std::string url;

    Fixture() {
        folder = std::filesystem::temp_directory_path().string() + "/ostrel-media-bench-" + std::to_string(::getpid());
        const std::string relative = "data/ostrelmedia/m4a/long.m4a";
        file = folder + "/" + relative;
        std::string error;
        require(DemoAudio::writeM4A(file, {kCompositionSeconds, 5, 44100, 2, 0}, &error), error.c_str());
        server = ContentServer::start({folder, "", 0, nullptr}, &error);
        require(server != nullptr, error.c_str());
        url = server->host() + "/" + relative;
    }
    ~Fixture() {
        server.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Fixture& fixture() {
    static Fixture made;
    return made;
}

// Makes the player, waits until it is ready and its first output block has loaded, and plays
// that block on the manual clock.
void openAndStart(const std::shared_ptr<NSURL>& url) {
    auto player = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithAsset(AVURLAsset::URLAssetWithURL(url)));
    const auto firstBlockLoaded = [&] {
        if (player->status() == AVPlayerStatus::Failed) return true;
        const auto ranges = player->currentItem()->loadedTimeRanges();
        return !ranges.empty() && CMTimeGetSeconds(ranges[0].duration) >= AVPlayerItem::kOutputBlockSeconds;
    };
    // Observed as the application does: each report reaches the main queue, which wakes the wait.
    auto status = player->addObserver("status", NSKeyValueObservingOptionNew, [](const std::string&) {});
    auto ranges = player->addObserver("currentItem.loadedTimeRanges", NSKeyValueObservingOptionNew,
                                      [](const std::string&) {});
    require(NSRunLoop::mainRunLoop()->runUntil(firstBlockLoaded, 30), "the player did not get ready");
    require(player->status() == AVPlayerStatus::ReadyToPlay, "the player failed");
    player->removeObserver(status);
    player->removeObserver(ranges);
    player->play();
    Clock::advance(AVPlayerItem::kOutputBlockSeconds);
    // The block is decoded on the item's queue once the clock makes it due.
    require(NSRunLoop::mainRunLoop()->runUntil([&] { return player->currentItem()->outputFrames() > 0; }, 30),
            "nothing was played");
}

void BM_ReadyAndFirstBlockFromFile(benchmark::State& state) {
    Clock::setManual(1'000);
    auto url = NSURL::fileURLWithPath(fixture().file);
    for (auto _ : state) openAndStart(url);
    Clock::setReal();
}
BENCHMARK(BM_ReadyAndFirstBlockFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadyAndFirstBlockFromServer(benchmark::State& state) {
    Clock::setManual(1'000);
    auto url = NSURL::URLWithString(fixture().url);
    for (auto _ : state) openAndStart(url);
    Clock::setReal();
}
BENCHMARK(BM_ReadyAndFirstBlockFromServer)->Unit(benchmark::kMillisecond)->UseRealTime();

// The anchor: FFmpeg alone on the same file, its own file reading, probing and first frame.
void BM_FFmpegProbeAndFirstFrame(benchmark::State& state) {
    av_log_set_level(AV_LOG_FATAL);
    const std::string& path = fixture().file;
    for (auto _ : state) {
        AVFormatContext* format = nullptr;
        require(avformat_open_input(&format, path.c_str(), nullptr, nullptr) == 0, "open");
        require(avformat_find_stream_info(format, nullptr) >= 0, "stream info");
        const AVCodec* codec = nullptr;
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        AVCodecContext* context = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(context, format->streams[stream]->codecpar);
        require(avcodec_open2(context, codec, nullptr) == 0, "decoder");
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        bool decoded = false;
        while (!decoded && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream && avcodec_send_packet(context, packet) >= 0)
                decoded = avcodec_receive_frame(context, frame) >= 0;
            av_packet_unref(packet);
        }
        require(decoded, "no frame");
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
        avformat_close_input(&format);
    }
}
BENCHMARK(BM_FFmpegProbeAndFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// Decoding while playing: ten seconds of the composition per iteration, reported as CPU time
// per second of audio.
void BM_PlayingCPUPerSecondOfAudio(benchmark::State& state) {
    Clock::setManual(1'000);
    auto player = AVPlayer::playerWithPlayerItem(
        AVPlayerItem::playerItemWithAsset(AVURLAsset::URLAssetWithURL(NSURL::fileURLWithPath(fixture().file))));
    require(NSRunLoop::mainRunLoop()->runUntil([&] { return player->status() != AVPlayerStatus::Unknown; }, 30),
            "the player did not get ready");
    player->play();
    double cpu = 0, audio = 0;
    for (auto _ : state) {
        if (CMTimeGetSeconds(player->currentTime()) > kCompositionSeconds - 20) player->seekToTime(kCMTimeZero);
        const double start = CMTimeGetSeconds(player->currentTime());
        const double before = bench::processCPUSeconds();
        Clock::advance(10);
        // The blocks are decoded on the item's queue: counted once all ten seconds are played.
        require(NSRunLoop::mainRunLoop()->runUntil(
                    [&] { return CMTimeGetSeconds(player->currentTime()) >= start + 10 - 1e-6; }, 30),
                "the composition stopped playing");
        cpu += bench::processCPUSeconds() - before;
        audio += 10;
    }
    state.counters["cpu_ms_per_audio_second"] = audio > 0 ? cpu * 1000 / audio : 0;
    Clock::setReal();
}
BENCHMARK(BM_PlayingCPUPerSecondOfAudio)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
