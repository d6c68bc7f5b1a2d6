// The audio player over real compositions: shipped, downloaded and streamed tracks, refusals
// without the network or when skipping tracks that are not downloaded, the pause toggle, the
// resume rule of a loading stream, the volume, the end of a track and the screen lock.
#include "demo/generator/DemoGenerator.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayer.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/dispatch/NSRunLoop.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/RefusingPort.h"
#include "tests/media/MediaFixture.h"
#include "uikit/OEIdleTimerManager.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace {

// What the player told its delegate.
struct Reports : MediaPlayerDelegate {
    int ends = 0;
    std::vector<double> times;
    std::vector<std::string> itemsSet;
    void mediaPlayerDidEndPlay(MediaPlayer&) override { ++ends; }
    void mediaPlayerTimeChangedTo(MediaPlayer&, CMTime time) override { times.push_back(CMTimeGetSeconds(time)); }
    void mediaPlayerItemSet(MediaPlayer&, const std::shared_ptr<MediaPlayerItem>& item) override {
        itemsSet.push_back(item->key());
    }
};

class MediaPlayerTest : public MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        Clock::setManual(200'000);
        source_ = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
        player_ = MediaPlayer::make(context());
        player_->setDelegate(reports_);
        changes_ = NSNotificationCenter::defaultCenter()->addObserverForName(
            MediaPlayerItemChangedNotification, nullptr, nullptr, [this](const NSNotification&) { ++itemChanges_; });
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(changes_);
        player_.reset();
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        NSUserDefaults::standardUserDefaults()->removeObjectForKey("Media_SkipNotDownloaded");
        MediaFixture::TearDown();
    }
    std::shared_ptr<MediaPlayerItem> track(int index) { return source_->compositionForIndex(index); }
    // The platform player has reported and the player has heard it.
    bool ready() {
        const bool done =
            pump([&] { return player_->player() && player_->player()->status() != AVPlayerStatus::Unknown; });
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return done;
    }
    bool screenKeptAwake() { return context()->idle->isHeldBy(player_->idleHolder()); }
    // The platform opens a track set and not played once its duration is asked for.
    void loadWithoutPlaying() {
        ASSERT_TRUE(player_->player());
        (void)player_->player()->currentItem()->duration();
    }

    std::shared_ptr<DB_CompositionsSource> source_;
    std::shared_ptr<MediaPlayer> player_;
    std::shared_ptr<Reports> reports_ = std::make_shared<Reports>();
    std::shared_ptr<NSObject> changes_;
    int itemChanges_ = 0;
};

TEST_F(MediaPlayerTest, NoItemMakesNoPlayer) {
    EXPECT_FALSE(player_->setItem(nullptr));
    EXPECT_FALSE(player_->isReady());
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_EQ(CMTimeGetSeconds(player_->getDuration()), 0.0);
}

TEST_F(MediaPlayerTest, ATrackOnTheDevicePlaysWithoutTheNetworkAndKeepsTheScreenAwake) {
    setReachable(false);
    player_->playItem(track(2));
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_TRUE(screenKeptAwake());
    EXPECT_FALSE(track(2)->buffering());
    ASSERT_TRUE(ready());
    EXPECT_NEAR(CMTimeGetSeconds(player_->getDuration()), 3.0, 0.05);
    advance(2.0);
    EXPECT_NEAR(CMTimeGetSeconds(player_->player()->currentTime()), 2.0, 1e-9);
    EXPECT_EQ(reports_->times.back(), 2.0) << "the position once a second";
    // The toggle pauses and lets the screen sleep, then resumes.
    player_->pause();
    EXPECT_TRUE(player_->isPaused());
    EXPECT_FALSE(screenKeptAwake());
    advance(1.0);
    EXPECT_NEAR(CMTimeGetSeconds(player_->player()->currentTime()), 2.0, 1e-9);
    player_->pause();
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_TRUE(screenKeptAwake());
    player_->stop();
    EXPECT_FALSE(screenKeptAwake());
    EXPECT_FALSE(player_->isReady());
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
}

// A streamed track shows as loading from the moment it is set, while the platform reads its
// header with range requests alone; once that made it ready the player reports the item again, no
// longer loading, with its length. Played, it loads its body and plays to its end.
TEST_F(MediaPlayerTest, AStreamedTrackBuffersWhileItsHeaderLoadsAndThenReportsItsItemAgain) {
    const std::string path = "/data/ostrelmedia/m4a/mozart/rondo alla turca.m4a";
    auto item = track(5);
    EXPECT_TRUE(player_->setItem(item));
    EXPECT_TRUE(item->buffering());
    EXPECT_EQ(reports_->itemsSet, (std::vector<std::string>{"5"}));
    ASSERT_TRUE(pump([&] { return !item->buffering(); }));
    EXPECT_EQ(player_->player()->status(), AVPlayerStatus::ReadyToPlay);
    EXPECT_EQ(reports_->itemsSet, (std::vector<std::string>{"5", "5"}));
    EXPECT_NEAR(CMTimeGetSeconds(player_->getDuration()), 3.0, 0.05);
    EXPECT_EQ(itemChanges_, 0) << "the delegate heard it; the player itself posts nothing";
    const auto header = server().requestsFor(path);
    ASSERT_FALSE(header.empty());
    for (const auto& request : header) EXPECT_FALSE(request.header("Range").empty()) << "the header alone";

    player_->startPlay();
    EXPECT_FALSE(item->buffering()) << "ready already";
    EXPECT_EQ(itemChanges_, 0);
    ASSERT_TRUE(pump([&] {
        const auto ranges = player_->player()->currentItem()->loadedTimeRanges();
        return !ranges.empty() && CMTimeGetSeconds(ranges[0].duration) >= CMTimeGetSeconds(player_->getDuration());
    }));
    advance(3.5);
    EXPECT_EQ(reports_->ends, 1);
    EXPECT_EQ(server().requestsFor(path).size(), header.size() + 1) << "the body, once";
}

// A streamed track whose header and body cannot be read (here the server fails them) shows as
// loading until the platform gives up on it, which it hears once, as a failure: the screens then
// hear it is not loading, and asked to play it says it cannot.
TEST_F(MediaPlayerTest, AStreamedTrackThatCannotBeReadStopsLoadingAndCannotPlay) {
    const std::string path = "/data/ostrelmedia/m4a/mozart/rondo alla turca.m4a";
    server().setFault(path, LoopbackServer::Fault::withStatus(503));
    auto item = track(5);
    EXPECT_TRUE(player_->setItem(item));
    EXPECT_TRUE(item->buffering());
    ASSERT_TRUE(pump([&] { return player_->failure() != nullptr; }));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(item->buffering());
    EXPECT_FALSE(player_->isReady());
    EXPECT_EQ(itemChanges_, 1) << "the screens hear it is not loading";
    EXPECT_EQ(reports_->times, (std::vector<double>{0.0, 0.0})) << "the first status, then the failure alone";
    EXPECT_EQ(reports_->itemsSet, (std::vector<std::string>{"5"}));
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty()) << "not asked to play yet";

    player_->startPlay();
    const auto alerts = UIAlertView::visibleAlertViews();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "Cannot play");
    EXPECT_EQ(alerts[0]->message(), "This composition cannot be played.") << "a server's error tells no reason";
    EXPECT_FALSE(item->buffering());
    EXPECT_EQ(itemChanges_, 2);
    EXPECT_FALSE(screenKeptAwake());
}

// Asked to play, a streamed track that cannot says why where its failure tells: what its server
// sends is no music (a text, whose header tells nothing, so that only the play finds out), or
// nothing listens where the bundle says the server is.
TEST_F(MediaPlayerTest, AStreamedTrackThatCannotPlaySaysWhyWhereItsFailureTells) {
    server().serve("/data/ostrelmedia/m4a/mozart/rondo alla turca.m4a",
                   LoopbackServer::Response::make(200, "A text about the rondo, not the rondo.\n"));
    const auto alertAfterPlaying = [&](MediaPlayer& player, const std::shared_ptr<MediaPlayerItem>& item) {
        player.playItem(item);
        EXPECT_TRUE(pump([] { return !UIAlertView::visibleAlertViews().empty(); }));
        const auto alerts = UIAlertView::visibleAlertViews();
        if (alerts.size() != 1u) return "alerts: " + std::to_string(alerts.size());
        alerts[0]->dismissWithClickedButtonIndex(0, false);
        return alerts[0]->title() + " / " + alerts[0]->message();
    };
    EXPECT_EQ(alertAfterPlaying(*player_, track(5)), "Cannot play / This file is not music that can be played.");

    RefusingPort closed;
    ASSERT_GT(closed.port(), 0);
    std::string error;
    ASSERT_TRUE(DemoGenerator::setServerHost(bundle(), closed.host(), &error)) << error;
    reloadConfiguration();
    auto player = MediaPlayer::make(context());
    auto source = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
    EXPECT_EQ(alertAfterPlaying(*player, source->compositionForIndex(5)),
              "Cannot play / The music server cannot be reached.");
}

// A streamed track whose length only its body can tell (here its server answers every range
// from elsewhere) shows as loading while its header is read, then, with no change of status, as
// waiting: nothing spins and nothing loads until it is played, when it shows as loading again
// until it is ready, and plays.
TEST_F(MediaPlayerTest, AStreamedTrackWhoseLengthOnlyItsBodyTellsWaitsUnspinningForItsPlay) {
    const std::string path = "/data/ostrelmedia/m4a/mozart/rondo alla turca.m4a";
    server().setFault(path, LoopbackServer::Fault::wrongRange(100));
    auto item = track(5);
    EXPECT_TRUE(player_->setItem(item));
    EXPECT_TRUE(item->buffering());
    ASSERT_TRUE(pump([&] { return !item->buffering(); }));
    advance(1.0);
    EXPECT_EQ(player_->player()->status(), AVPlayerStatus::Unknown);
    EXPECT_EQ(itemChanges_, 1) << "the screens hear it is not loading";
    EXPECT_EQ(reports_->times, (std::vector<double>{0.0})) << "the first status alone";
    const std::size_t header = server().requestsFor(path).size();

    // The body held back at first, so that it is seen loading.
    server().setFault(path, LoopbackServer::Fault::stall(0));
    player_->startPlay();
    ASSERT_TRUE(pump([&] { return item->buffering(); }));
    EXPECT_EQ(itemChanges_, 2) << "loading again";
    server().removeFault(path);
    // Ready: the delegate hears the item again, no longer loading.
    ASSERT_TRUE(pump([&] { return !item->buffering(); }));
    EXPECT_EQ(player_->player()->status(), AVPlayerStatus::ReadyToPlay);
    EXPECT_EQ(reports_->itemsSet, (std::vector<std::string>{"5", "5"}));
    // Ready once part of the body is in; a play goes no further than what has loaded.
    ASSERT_TRUE(pump([&] {
        const auto ranges = player_->player()->currentItem()->loadedTimeRanges();
        return !ranges.empty() && CMTimeGetSeconds(ranges[0].duration) >= 1.0;
    }));
    advance(1.0);
    EXPECT_NEAR(CMTimeGetSeconds(player_->player()->currentTime()), 1.0, 1e-9);
    EXPECT_EQ(server().requestsFor(path).size(), header + 1) << "the body, once, for the play";
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
}

TEST_F(MediaPlayerTest, WithoutTheNetworkAStreamedTrackIsRefusedWithOneAlertAndNoSpinnerOrScreenHold) {
    setReachable(false);
    auto item = track(5);
    player_->playItem(item);
    EXPECT_FALSE(player_->isReady());
    EXPECT_FALSE(item->buffering());
    EXPECT_EQ(player_->currentItem(), item);
    const auto alerts = UIAlertView::visibleAlertViews();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0]->title(), "No Internet");
    EXPECT_EQ(alerts[0]->message(), "Check your internetsettings");
    EXPECT_EQ(itemChanges_, 1);
    EXPECT_FALSE(screenKeptAwake());
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
}

TEST_F(MediaPlayerTest, SkippingTracksThatAreNotDownloadedRefusesThemSilently) {
    NSUserDefaults::standardUserDefaults()->setBool(true, "Media_SkipNotDownloaded");
    auto item = track(3);
    EXPECT_FALSE(player_->setItem(item));
    EXPECT_FALSE(item->buffering()) << "no spinner for a track that will not load";
    player_->startPlay();
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_FALSE(screenKeptAwake()) << "nothing plays, so the screen may sleep";
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    // A shipped track still plays.
    player_->playItem(track(1));
    EXPECT_TRUE(player_->isPlaying());
}

TEST_F(MediaPlayerTest, PauseWhileAStreamWaitsStartsIt) {
    auto item = track(4);
    ASSERT_TRUE(player_->setItem(item));
    loadWithoutPlaying();
    ASSERT_TRUE(ready());
    EXPECT_EQ(player_->player()->rate(), 0.0f);
    player_->pause();  // from the set-up state: starts
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_EQ(player_->player()->rate(), 1.0f);
}

TEST_F(MediaPlayerTest, AStalledStreamResumesOnlyWhenMoreThanFiveSecondsAheadOrTheEndHaveLoaded) {
    const std::string path = "/data/ostrelmedia/m4a/mozart/serenade.m4a";
    server().setFault(path, LoopbackServer::Fault::stall(12000));  // the index and about a second of audio
    auto item = track(7);
    player_->playItem(item);
    ASSERT_TRUE(server().waitForStalls(1, 20));
    ASSERT_TRUE(ready());
    advance(3.0);
    const double stalledAt = CMTimeGetSeconds(player_->player()->currentTime());
    EXPECT_LT(stalledAt, 2.9);
    EXPECT_EQ(player_->player()->rate(), 0.0f);
    EXPECT_FALSE(player_->isPaused()) << "stalled, not paused";
    // The rest arrives: the range reaches the end, so playback resumes by the player's rule.
    server().releaseStalls();
    ASSERT_TRUE(pump([&] { return player_->player()->rate() == 1.0f; }));
    advance(4.0);
    EXPECT_EQ(reports_->ends, 1);
}

TEST_F(MediaPlayerTest, APausedStreamIsNotRestartedByLoading) {
    const std::string path = "/data/ostrelmedia/m4a/mozart/serenade.m4a";
    server().setFault(path, LoopbackServer::Fault::stall(12000));
    player_->playItem(track(7));
    ASSERT_TRUE(server().waitForStalls(1, 20));
    ASSERT_TRUE(ready());
    advance(3.0);
    player_->pause();  // rate 0 already: the toggle starts it (the platform's own stalled state)...
    player_->pause();  // ...and this one pauses it for good
    EXPECT_TRUE(player_->isPaused());
    server().releaseStalls();
    ASSERT_TRUE(pump([&] { return CMTimeGetSeconds(player_->player()->currentItem()->loadedTimeRanges().at(0).duration) > 2.9; }));
    advance(1.0);
    EXPECT_EQ(player_->player()->rate(), 0.0f);
}

TEST_F(MediaPlayerTest, TheVolumeGoesToEveryAudioTrackAtOnce) {
    player_->setVolume(0.25f);
    player_->playItem(track(1));
    ASSERT_TRUE(ready());
    // The player hears the ready status through the main run loop, which may get it after the pump.
    ASSERT_TRUE(pump([&] { return player_->player()->currentItem()->audioMix() != nullptr; }));
    auto mix = player_->player()->currentItem()->audioMix();
    ASSERT_EQ(mix->inputParameters().size(), 1u);
    EXPECT_EQ(mix->inputParameters()[0]->volumeAtTime(kCMTimeZero), 0.25f);
    std::vector<float> gains;
    player_->player()->currentItem()->setOutputTap([&](const AVAudioOutputBlock& block) { gains.push_back(block.gain); });
    advance(0.1);
    player_->setVolume(0.75f);
    advance(0.1);
    player_->player()->currentItem()->setOutputTap(nullptr);
    EXPECT_EQ(gains, (std::vector<float>{0.25f, 0.25f, 0.75f, 0.75f}));
}

TEST_F(MediaPlayerTest, AFailedTrackDropsItsPlayerAndReportsZero) {
    std::filesystem::create_directories(documents() + "/mozart");
    {
        std::ofstream out(documents() + "/mozart/minuet.m4a");
        out << "not audio";
    }
    player_->playItem(track(4));
    ASSERT_TRUE(pump([&] { return !player_->isReady(); }));
    EXPECT_EQ(reports_->times.back(), 0.0);
    EXPECT_FALSE(screenKeptAwake());
}

TEST_F(MediaPlayerTest, ATrackThatIsNoAudioSaysSoOnScreenAndInTheLogWhenAskedToPlay) {
    std::filesystem::create_directories(documents() + "/mozart");
    // Random bytes from a fixed seed, so a failure can be met again.
    constexpr unsigned kSeed = 20261207;
    std::mt19937 random(kSeed);
    std::string noise(64 * 1024, '\0');
    for (char& byte : noise) byte = static_cast<char>(random() & 0xFF);
    const std::vector<std::pair<std::string, std::string>> files{
        {"empty", ""}, {"text", "not audio at all"}, {"random bytes, seed " + std::to_string(kSeed), noise}};
    for (const auto& [kind, bytes] : files) {
        SCOPED_TRACE(kind);
        {
            std::ofstream out(documents() + "/mozart/minuet.m4a", std::ios::binary | std::ios::trunc);
            out << bytes;
        }
        // Made ready only, and opened (as when its duration is asked for): the log says why,
        // nothing pops up.
        testing::internal::CaptureStderr();
        (void)player_->setItem(track(4));
        loadWithoutPlaying();
        const bool failed = pump([&] { return player_->failure() != nullptr; });
        const std::string logged = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(failed);
        EXPECT_FALSE(player_->isReady());
        EXPECT_NE(logged.find("The composition mozart/minuet.m4a cannot be played: "), std::string::npos) << logged;
        EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
        // Asked to play, it says it cannot, and why.
        const int changes = itemChanges_;
        player_->startPlay();
        auto alerts = UIAlertView::visibleAlertViews();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0]->title(), "Cannot play");
        EXPECT_EQ(alerts[0]->message(), "This file is not music that can be played.");
        alerts[0]->dismissWithClickedButtonIndex(0, false);
        EXPECT_EQ(itemChanges_, changes + 1);
        EXPECT_FALSE(player_->isPlaying());
        EXPECT_FALSE(screenKeptAwake());
        // Played at once, while another plays: one alert, whenever the track fails.
        player_->playItem(track(1));
        ASSERT_TRUE(ready());
        ASSERT_TRUE(player_->isPlaying());
        player_->playItem(track(4));
        ASSERT_TRUE(pump([&] { return !UIAlertView::visibleAlertViews().empty(); }));
        NSRunLoop::mainRunLoop()->runUntilIdle();
        EXPECT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
        UIAlertView::visibleAlertViews()[0]->dismissWithClickedButtonIndex(0, false);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // A track that plays has no failure.
    player_->playItem(track(1));
    ASSERT_TRUE(ready());
    EXPECT_EQ(player_->failure(), nullptr);
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
}

// A FIFO where a track's file belongs (a home left so) is a track on the device that cannot be
// played: nothing waits on it, neither its header read once it is set nor its play, which says
// it cannot.
TEST_F(MediaPlayerTest, AFifoWhereATracksFileBelongsCannotPlayAndHoldsNothing) {
    std::filesystem::create_directories(documents() + "/mozart");
    const std::string fifo = documents() + "/mozart/minuet.m4a";
    ASSERT_TRUE(Fifo::make(fifo));
    Fifo::Guard guard(fifo);
    auto item = track(4);
    ASSERT_TRUE(item->exists());
    EXPECT_TRUE(player_->setItem(item));
    EXPECT_FALSE(item->buffering());
    // A settle waits for the platform's queues: the header read is over.
    advance(1.0);
    EXPECT_EQ(player_->failure(), nullptr) << "set, not yet asked to play";
    player_->startPlay();
    ASSERT_TRUE(pump([&] { return !UIAlertView::visibleAlertViews().empty(); }));
    EXPECT_EQ(UIAlertView::visibleAlertViews()[0]->title(), "Cannot play");
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_FALSE(screenKeptAwake());
    EXPECT_TRUE(guard.finish()) << "waited on the FIFO";
}

TEST_F(MediaPlayerTest, OldObservationsEndWithTheirPlayer) {
    player_->playItem(track(1));
    ASSERT_TRUE(ready());
    auto first = player_->player();
    player_->seek(CMTimeMakeWithSeconds(2.5, 600));
    // Another track replaces it; the first one's end must not reach the delegate.
    player_->playItem(track(2));
    ASSERT_TRUE(ready());
    first->play();
    advance(1.0);
    EXPECT_EQ(reports_->ends, 0);
    reports_->times.clear();
    advance(1.0);
    EXPECT_EQ(reports_->times, (std::vector<double>{2.0})) << "one time observer";
}

}  // namespace
