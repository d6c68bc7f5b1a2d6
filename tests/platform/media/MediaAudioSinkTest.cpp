// The player's output: the silent sink on the clock, the choice of the device with its fallback,
// and a player paced by a device (a stand-in the test drains), whose time and end follow what the
// device consumed. The machine's own device is only opened to see that it opens or says why,
// quietly.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/media/MediaAudioSink.h"
#include "platform/net/NSURL.h"
#include "tests/platform/media/MediaTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

// A device the test drains by hand: consume() plays frames and calls back on the item's queue, as
// the device's callback does.
class TestDevice {
public:
    struct Sink final : MediaAudioSink {
        Sink(TestDevice& device, std::shared_ptr<DispatchQueue> queue) : device_(device), queue_(std::move(queue)) {}
        bool begin(std::function<void()> wake, NSErrorPtr* error) override {
            std::lock_guard lock(device_.mutex_);
            if (device_.refuseStart_) {
                if (error) *error = NSError::errorWithDomain(NSOSStatusErrorDomain, -1);
                return false;
            }
            device_.wake_ = std::move(wake);
            device_.queue_ = queue_;
            device_.written_ = device_.played_ = 0;
            ++device_.runs_;
            return true;
        }
        void end() override {
            std::lock_guard lock(device_.mutex_);
            device_.wake_ = nullptr;
        }
        std::int64_t framesWanted() const override {
            std::lock_guard lock(device_.mutex_);
            return kCapacity - (device_.written_ - device_.played_);
        }
        void write(const float*, std::int64_t frames) override {
            std::lock_guard lock(device_.mutex_);
            device_.written_ += frames;
        }
        std::int64_t framesPlayed() const override {
            std::lock_guard lock(device_.mutex_);
            return device_.played_;
        }
        void wakeWhenWanted() override {}
        bool isDevice() const override { return true; }

        TestDevice& device_;
        const std::shared_ptr<DispatchQueue> queue_;
    };

    // What the device keeps ahead: a quarter second at 44.1 kHz.
    static constexpr std::int64_t kCapacity = 11025;

    MediaAudioSink::DeviceOpener opener() {
        return [this](const std::shared_ptr<DispatchQueue>& queue, int, int, NSErrorPtr*) {
            ++opened_;
            return std::make_unique<Sink>(*this, queue);
        };
    }

    // Plays up to `frames` of what it holds and wakes the item; then lets the item's work finish.
    void consume(std::int64_t frames) {
        {
            std::lock_guard lock(mutex_);
            played_ += std::clamp<std::int64_t>(written_ - played_, 0, frames);
            if (wake_) queue_->async(wake_);
        }
        Clock::advance(0);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // In device-sized steps, as a device plays.
    void play(std::int64_t frames) {
        for (; frames > 0; frames -= 2205) consume(std::min<std::int64_t>(frames, 2205));
    }
    std::int64_t held() const {
        std::lock_guard lock(mutex_);
        return written_ - played_;
    }
    void refuseStart() { refuseStart_ = true; }
    int opened() const { return opened_; }
    int runs() const {
        std::lock_guard lock(mutex_);
        return runs_;
    }

private:
    mutable std::mutex mutex_;
    std::function<void()> wake_;
    std::shared_ptr<DispatchQueue> queue_;
    std::int64_t written_ = 0, played_ = 0;
    int runs_ = 0;
    bool refuseStart_ = false;
    std::atomic<int> opened_{0};
};

class MediaAudioSinkTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(100'000); }
    void TearDown() override {
        player_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        MediaAudioSink::reset();
        Clock::setReal();
    }

    static void advance(double seconds) {
        Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    void openPlayer(const std::string& file) {
        player_ = AVPlayer::playerWithPlayerItem(AVPlayerItem::playerItemWithURL(NSURL::fileURLWithPath(file)));
        (void)player_->currentItem()->duration();  // loads it
        ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return player_->status() != AVPlayerStatus::Unknown; }, 20));
        ASSERT_EQ(player_->status(), AVPlayerStatus::ReadyToPlay);
    }
    double now() const { return CMTimeGetSeconds(player_->currentTime()); }

    std::shared_ptr<AVPlayer> player_;
};

TEST_F(MediaAudioSinkTest, TheSilentSinkWantsWhatTheClockPassedAndWakesAtEveryBlock) {
    auto queue = DispatchQueue::create("test.silent");
    auto sink = MediaAudioSink::makeSilent(queue, 1000, 2);
    EXPECT_FALSE(sink->isDevice());
    std::atomic<int> wakes{0};
    ASSERT_TRUE(sink->begin([&] { ++wakes; }, nullptr));
    EXPECT_EQ(sink->framesWanted(), 0);
    sink->wakeWhenWanted();
    advance(0.049);
    EXPECT_EQ(wakes.load(), 0) << "the first block ends 50 ms after the start";
    advance(0.001);
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(sink->framesWanted(), 50);
    sink->write(nullptr, 30);
    EXPECT_EQ(sink->framesPlayed(), 30) << "what the silent sink is handed counts as played at once";
    EXPECT_EQ(sink->framesWanted(), 20);
    sink->wakeWhenWanted();
    sink->end();
    advance(1.0);
    EXPECT_EQ(wakes.load(), 2) << "a wake-up asked for before the end still comes; the item drops it by its run";
    sink->wakeWhenWanted();
    advance(1.0);
    EXPECT_EQ(wakes.load(), 2) << "after the end nothing more is woken";
}

TEST_F(MediaAudioSinkTest, TheDeviceIsTriedOnlyWhenAskedForAndAFailureLeavesTheRestSilent) {
    auto queue = DispatchQueue::create("test.choice");
    int tries = 0;
    MediaAudioSink::setDeviceOpener([&](const std::shared_ptr<DispatchQueue>&, int, int, NSErrorPtr* error) {
        ++tries;
        if (error) *error = NSError::errorWithDomain(NSOSStatusErrorDomain, -9996);
        return std::unique_ptr<MediaAudioSink>();
    });
    MediaAudioSink::setPrefersDevice(false);
    EXPECT_FALSE(MediaAudioSink::make(queue, 44100, 2)->isDevice());
    EXPECT_EQ(tries, 0);

    MediaAudioSink::setPrefersDevice(true);
    EXPECT_TRUE(MediaAudioSink::prefersDevice());
    auto sink = MediaAudioSink::make(queue, 44100, 2);
    ASSERT_TRUE(sink);
    EXPECT_FALSE(sink->isDevice()) << "no device opened: the silent sink plays";
    EXPECT_NE(MediaAudioSink::describeState().find("failed"), std::string::npos);
    EXPECT_FALSE(MediaAudioSink::make(queue, 44100, 2)->isDevice());
    EXPECT_EQ(tries, 1) << "once no device opened, the run does not look again";

    TestDevice device;
    MediaAudioSink::setDeviceOpener(device.opener());
    EXPECT_TRUE(MediaAudioSink::make(queue, 44100, 2)->isDevice()) << "a new opener is tried afresh";
    EXPECT_EQ(device.opened(), 1);
}

TEST_F(MediaAudioSinkTest, ThePlayersTimeAndEndFollowWhatTheDeviceConsumedNotTheClock) {
    TestDevice device;
    MediaAudioSink::setPrefersDevice(true);
    MediaAudioSink::setDeviceOpener(device.opener());
    openPlayer(MediaTestFiles::phrases());
    EXPECT_FALSE(player_->currentItem()->playsOnDevice()) << "ready from its header, nothing opened";
    EXPECT_EQ(device.opened(), 0);
    int ends = 0;
    auto observer = NSNotificationCenter::defaultCenter()->addObserverForName(
        AVPlayerItemDidPlayToEndTimeNotification, player_->currentItem(), nullptr, [&](const NSNotification&) { ++ends; });
    std::vector<double> blockStarts;
    player_->currentItem()->setOutputTap([&](const AVAudioOutputBlock& block) { blockStarts.push_back(block.start); });

    player_->play();
    // The decoder and the device open on the item's queue, which a settle waits for.
    advance(0);
    ASSERT_TRUE(player_->currentItem()->playsOnDevice());
    device.consume(0);  // the device's first call fills it
    EXPECT_EQ(device.held(), TestDevice::kCapacity);
    advance(5.0);
    EXPECT_EQ(now(), 0.0) << "the clock does not play a device";
    EXPECT_EQ(player_->rate(), 1.0f);

    device.play(44100);
    EXPECT_NEAR(now(), 1.0, 1e-9);
    EXPECT_EQ(player_->currentItem()->outputFrames(), 44100 + TestDevice::kCapacity) << "decoding stays a device-full ahead";

    player_->pause();
    EXPECT_NEAR(now(), 1.0, 1e-9) << "pausing keeps what was played, not what was decoded";
    blockStarts.clear();
    player_->play();
    device.consume(0);
    ASSERT_FALSE(blockStarts.empty());
    EXPECT_NEAR(blockStarts.front(), 1.0, 1e-9) << "after a pause the device hears the music from where it stopped";
    EXPECT_EQ(device.runs(), 2);

    device.play(3 * 44100 - 44100 - 2205);
    EXPECT_EQ(ends, 0) << "decoded to the end, but the device still holds the last of it";
    EXPECT_EQ(player_->rate(), 1.0f);
    device.play(2205);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(player_->rate(), 0.0f);
    EXPECT_NEAR(now(), CMTimeGetSeconds(player_->currentItem()->duration()), 1e-3);
    NSNotificationCenter::defaultCenter()->removeObserver(observer);
}

TEST_F(MediaAudioSinkTest, ADeviceThatDoesNotStartHandsTheMusicToTheSilentSink) {
    TestDevice device;
    device.refuseStart();
    MediaAudioSink::setPrefersDevice(true);
    MediaAudioSink::setDeviceOpener(device.opener());
    openPlayer(MediaTestFiles::phrases());
    player_->play();
    advance(1.0);
    EXPECT_NEAR(now(), 1.0, 1e-9) << "the music goes on, on the clock";
    EXPECT_FALSE(player_->currentItem()->playsOnDevice());
    EXPECT_NE(MediaAudioSink::describeState().find("failed"), std::string::npos);
    auto queue = DispatchQueue::create("test.after");
    EXPECT_FALSE(MediaAudioSink::make(queue, 44100, 2)->isDevice());
    EXPECT_EQ(device.opened(), 1);
}

TEST_F(MediaAudioSinkTest, TheMachinesDeviceOpensOrSaysWhyWithoutALineOnStandardError) {
    auto queue = DispatchQueue::create("test.device");
    NSErrorPtr error;
    testing::internal::CaptureStderr();
    auto sink = openDefaultAudioDevice(queue, 44100, 2, &error);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "") << "the sound libraries' own complaints stay quiet";
    if (sink) {
        EXPECT_TRUE(sink->isDevice());
    } else {
        ASSERT_TRUE(error);
        EXPECT_FALSE(error->localizedDescription().empty());
    }
}

}  // namespace
