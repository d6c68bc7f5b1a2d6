// The player controller over real compositions on the manual clock: the first launch's list, the
// repeat modes at the end of a track and of the list, next and previous, shuffle, the volume and
// position, the notifications, and its state across a restart.
#include "content/SQLiteEngine.h"
#include "demo/generator/DemoAudio.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/media/AVAudioSession.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/net/NSURL.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIAlertView.h"
#include "platform/dispatch/NSRunLoop.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/fixtures/WaveFile.h"
#include "tests/media/MediaFixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

class MediaPlayerControllerTest : public MediaFixture {
protected:
    void SetUp() override {
        MediaFixture::SetUp();
        Clock::setManual(300'000);
        for (const char* name : {MediaPlayerPlayStoppedNotification.c_str(), MediaPlayerPostionChangedNotification.c_str(),
                                 MediaPlayerItemChangedNotification.c_str()}) {
            const std::string key = name;
            observers_.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
                key, nullptr, nullptr, [this, key](const NSNotification&) { ++posted_[key]; }));
        }
    }
    void TearDown() override {
        for (const auto& observer : observers_) NSNotificationCenter::defaultCenter()->removeObserver(observer);
        controller_.reset();
        for (const char* key : {"kMediaPlayerRewindKey", "kMediaPlayerShuffleKey", "kMediaPlayerVolumeKey",
                                "kMediaPlayerLastPlayedIndex"})
            NSUserDefaults::standardUserDefaults()->removeObjectForKey(key);
        MediaFixture::TearDown();
    }
    // A new controller, as at a launch.
    void launch() {
        controller_.reset();
        source_ = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
        controller_ = MediaPlayerController::initWithSource(source_, context());
    }
    std::string current() { return controller_->currentMediaItem() ? controller_->currentMediaItem()->key() : "none"; }
    // The platform player has reported and the controller has heard it.
    bool ready() {
        const bool done = pump([&] {
            const auto& p = controller_->mediaPlayer()->player();
            return p && p->status() != AVPlayerStatus::Unknown;
        });
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return done;
    }
    // Plays the current track to its end (3 s compositions), once every byte of it has come.
    void playToTheEnd() {
        ASSERT_TRUE(ready());
        ASSERT_TRUE(pump([&] {
            const auto& p = controller_->mediaPlayer()->player();
            if (!p) return false;
            const auto ranges = p->currentItem()->loadedTimeRanges();
            return !ranges.empty() &&
                   CMTimeGetSeconds(ranges[0].duration) >= CMTimeGetSeconds(controller_->mediaPlayer()->getDuration());
        }));
        advance(3.2);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    MediaItems all() { return source_->allCompositions(); }

    std::shared_ptr<DB_CompositionsSource> source_;
    std::shared_ptr<MediaPlayerController> controller_;
    std::vector<std::shared_ptr<NSObject>> observers_;
    std::map<std::string, int> posted_;
};

TEST_F(MediaPlayerControllerTest, TheFirstLaunchListsEveryTrackLoadsTheFirstAndWritesTheVolume) {
    launch();
    EXPECT_EQ(controller_->itemsCount(), 8);
    EXPECT_EQ(controller_->curItem(), 1);
    EXPECT_EQ(current(), "1");
    EXPECT_FALSE(controller_->isPlaying());
    EXPECT_TRUE(controller_->mediaPlayer()->isReady()) << "loaded, not started";
    EXPECT_EQ(controller_->mediaPlayer()->currentItem(), controller_->currentMediaItem());
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey("kMediaPlayerLastPlayedIndex"), "bach/air.m4a");
    // The platform player reads the track's header and is ready with its length, which the
    // controller reports as the time left; a launch decodes nothing.
    advance(1.0);
    const auto& player = controller_->mediaPlayer()->player();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->status(), AVPlayerStatus::ReadyToPlay);
    const double length = CMTimeGetSeconds(controller_->mediaPlayer()->getDuration());
    EXPECT_NEAR(length, 3.0, 0.05) << "the fixture's compositions last 3 s";
    EXPECT_FLOAT_EQ(controller_->remainingTime(), static_cast<float>(length));
    EXPECT_EQ(controller_->currentTime(), 0.0f);
    EXPECT_EQ(controller_->position(), 0.0f);
    EXPECT_EQ(player->currentItem()->outputFrames(), 0);
    EXPECT_FALSE(player->currentItem()->playsOnDevice());
    EXPECT_FALSE(controller_->isPlaying());
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey("kMediaPlayerVolumeKey").floatValue(), 1.0f);
    EXPECT_EQ(AVAudioSession::sharedInstance()->category(), AVAudioSessionCategoryPlayback);
    EXPECT_TRUE(AVAudioSession::sharedInstance()->isActive());
    const Value saved = NSPropertyListSerialization::propertyListWithContentsOfFile(documents() + "/lastPlayedList");
    ASSERT_EQ(saved.count(), 8u);
    EXPECT_EQ(saved[0]["index"].string(), "1") << "every value as text";
    EXPECT_EQ(saved[0]["author_name_en"].string(), "Bach");
    EXPECT_TRUE(saved[0]["author_name_it"].isString());
}

TEST_F(MediaPlayerControllerTest, AnAudioSessionFailureIsLoggedAndSetUpGoesOn) {
    AVAudioSession::sharedInstance()->setCategoryFailure(NSError::errorWithDomain("NSOSStatusErrorDomain", 1));
    AVAudioSession::sharedInstance()->setActivationFailure(NSError::errorWithDomain("NSOSStatusErrorDomain", 2));
    testing::internal::CaptureStderr();
    launch();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Audiosession Error:"), std::string::npos);
    EXPECT_EQ(controller_->itemsCount(), 8);
}

TEST_F(MediaPlayerControllerTest, PlayToggles) {
    launch();
    controller_->play();
    EXPECT_TRUE(controller_->isPlaying());
    controller_->play();
    EXPECT_FALSE(controller_->isPlaying());
    controller_->stop();
    controller_->play();  // no player any more: starts the current track
    EXPECT_TRUE(controller_->isPlaying());
}

TEST_F(MediaPlayerControllerTest, TracksFollowEachOtherAndTheListStopsAtItsEndWithoutRepeat) {
    launch();
    const auto list = all();
    controller_->playList({list[6], list[7]}, 0);
    EXPECT_EQ(controller_->itemsCount(), 2);
    EXPECT_TRUE(controller_->isPlaying());
    playToTheEnd();
    EXPECT_EQ(controller_->curItem(), 2);
    EXPECT_TRUE(controller_->isPlaying());
    EXPECT_GT(posted_[MediaPlayerPostionChangedNotification], 3);
    playToTheEnd();
    EXPECT_EQ(controller_->curItem(), 1) << "the first track loaded";
    EXPECT_FALSE(controller_->isPlaying());
    EXPECT_TRUE(controller_->mediaPlayer()->isReady());
    EXPECT_EQ(posted_[MediaPlayerPlayStoppedNotification], 1);
}

TEST_F(MediaPlayerControllerTest, RepeatingTheListStartsItAgainAndRepeatingTheTrackReplaysIt) {
    launch();
    const auto list = all();
    controller_->setRewind(1);
    controller_->playList({list[6], list[7]}, 1);
    playToTheEnd();
    EXPECT_EQ(controller_->curItem(), 1);
    EXPECT_TRUE(controller_->isPlaying());
    EXPECT_EQ(posted_[MediaPlayerPlayStoppedNotification], 0);

    controller_->setRewind(2);
    playToTheEnd();
    EXPECT_EQ(controller_->curItem(), 1);
    EXPECT_TRUE(controller_->isPlaying());
    // next still moves on in repeat mode 2.
    controller_->next();
    EXPECT_EQ(controller_->curItem(), 2);
}

TEST_F(MediaPlayerControllerTest, NextAndPrevWrapAndPlayOnlyWhenSomethingPlayed) {
    launch();
    controller_->prev();
    EXPECT_EQ(controller_->curItem(), 8) << "wraps to the last";
    EXPECT_FALSE(controller_->isPlaying());
    controller_->next();
    EXPECT_EQ(controller_->curItem(), 1) << "wraps to the first, whatever the repeat mode";
    controller_->play();
    controller_->next();
    EXPECT_EQ(controller_->curItem(), 2);
    EXPECT_TRUE(controller_->isPlaying());
}

TEST_F(MediaPlayerControllerTest, ShuffleKeepsTheTrackAndPutsItFirst) {
    launch();
    controller_->playList(all(), 6);
    EXPECT_EQ(controller_->curItem(), 7);
    const auto playing = controller_->currentMediaItem();
    controller_->setShuffle(true);
    controller_->checkItemIndex();
    EXPECT_EQ(controller_->curItem(), 1);
    EXPECT_EQ(controller_->currentMediaItem(), playing);
    controller_->setShuffle(false);
    controller_->checkItemIndex();
    EXPECT_EQ(controller_->curItem(), 7);
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->objectForKey("kMediaPlayerShuffleKey").isBool());
}

TEST_F(MediaPlayerControllerTest, ThePositionSeeksInWholeSecondsAndReportsFigures) {
    launch();
    controller_->play();
    ASSERT_TRUE(ready());
    controller_->setPosition(0.5f);  // 3 s track: 1 s
    advance(1.0);
    EXPECT_NEAR(controller_->currentTime(), 2.0f, 1e-4);
    EXPECT_NEAR(controller_->remainingTime(), 1.0f, 0.05);
    EXPECT_NEAR(controller_->position(), 2.0f / 3.0f, 0.02);
    controller_->setVolume(0.5f);
    EXPECT_EQ(controller_->volume(), 0.5f);
    EXPECT_EQ(controller_->mediaPlayer()->volume(), 0.5f);
}

TEST_F(MediaPlayerControllerTest, ModesVolumeListAndTrackSurviveARestart) {
    launch();
    const auto list = all();
    controller_->setRewind(2);
    controller_->setVolume(0.3f);
    controller_->playList({list[4], list[5], list[6]}, 1);
    EXPECT_EQ(current(), "6");
    // A launch reads the saved list and leaves its file alone: every write replaces the file.
    const std::string saved = documents() + "/lastPlayedList";
    struct stat before {};
    ASSERT_EQ(::stat(saved.c_str(), &before), 0);
    launch();
    struct stat after {};
    ASSERT_EQ(::stat(saved.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "not written again";
    EXPECT_EQ(controller_->rewind(), 2);
    EXPECT_FLOAT_EQ(controller_->volume(), 0.3f);
    EXPECT_EQ(controller_->mediaPlayer()->volume(), 0.3f);
    EXPECT_EQ(controller_->itemsCount(), 3);
    EXPECT_EQ(current(), "6");
    EXPECT_EQ(controller_->curItem(), 2);
    EXPECT_FALSE(controller_->isPlaying());
    // The data replaced: the saved list goes, every track comes back.
    controller_->updateList();
    EXPECT_EQ(controller_->itemsCount(), 8);
}

// At the next launch the same list is loaded with the same track current, handed to the audio
// player and not playing; the first play plays it, next moves on from it.
TEST_F(MediaPlayerControllerTest, ARestartLoadsTheLastListWithTheLastTrackCurrentAndNotPlaying) {
    launch();
    const auto list = all();
    controller_->playList({list[4], list[5], list[6]}, 1);
    controller_->stop();
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->synchronize());
    const std::string saved = documents() + "/lastPlayedList";

    for (const bool byNext : {false, true}) {
        SCOPED_TRACE(byNext ? "next first" : "play first");
        testing::internal::CaptureStderr();
        launch();
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("Setting item: mozart/requiem.m4a"), std::string::npos) << log;
        EXPECT_EQ(current(), "6");
        EXPECT_EQ(controller_->curItem(), 2);
        EXPECT_EQ(controller_->itemsCount(), 3);
        ASSERT_TRUE(controller_->mediaPlayer()->currentItem());
        EXPECT_EQ(controller_->mediaPlayer()->currentItem()->key(), "6");
        EXPECT_TRUE(controller_->mediaPlayer()->isReady());
        EXPECT_FALSE(controller_->isPlaying());
        // Read at set-up: damaging the file now changes nothing of this launch.
        const std::string contents = [&] {
            std::ifstream in(saved);
            return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }();
        std::ofstream(saved, std::ios::trunc) << "not a list";
        EXPECT_EQ(controller_->itemsCount(), 3);
        ASSERT_TRUE(std::ofstream(saved, std::ios::trunc) << contents);

        const auto loaded = controller_->mediaPlayer()->player();
        if (byNext) {
            controller_->next();
            EXPECT_EQ(current(), list[6]->key());
            EXPECT_FALSE(controller_->isPlaying());
            EXPECT_TRUE(controller_->mediaPlayer()->isReady()) << "the next track loaded, not started";
            controller_->prev();
        }
        controller_->play();
        EXPECT_TRUE(controller_->isPlaying());
        EXPECT_EQ(current(), "6");
        EXPECT_EQ(controller_->curItem(), 2);
        ASSERT_TRUE(controller_->mediaPlayer()->currentItem());
        EXPECT_EQ(controller_->mediaPlayer()->currentItem()->key(), "6");
        if (!byNext) {
            EXPECT_EQ(controller_->mediaPlayer()->player(), loaded) << "the track set-up loaded plays";
        }
        ASSERT_TRUE(ready());
        EXPECT_EQ(controller_->mediaPlayer()->player()->status(), AVPlayerStatus::ReadyToPlay);
        controller_->stop();
    }
}

// A composition streamed past the 16 MiB a stream keeps in memory, whose overflow cannot go into
// the sandbox's temporary folder: it plays what came, then the person who asked for it is told it
// cannot be played and the log says why; it is never taken for the end of the composition, so
// the next one does not start.
TEST_F(MediaPlayerControllerTest, AStreamPastTheMemoryBoundWithAReadOnlyTemporaryFolderFailsAloudAndDoesNotMoveOn) {
    launch();
    // 100 s of CD audio in a wave file: 17.6 MB.
    auto suite = MediaPlayerItem::mediaPlayerItemWithDictionary(
        Value::Dictionary{{"index", Value("90")}, {"filepath", Value("long/suite.wav")}, {"name", Value("Suite")}},
        context());
    const auto url = suite->itemUrl();
    ASSERT_TRUE(url);
    const auto bytes = waveFileBytes(DemoAudio::synthesise({100.0, 5, 44100, 2, 0}), 44100, 2);
    server().serve(url->path(), LoopbackServer::Response::make(200, std::string(bytes.begin(), bytes.end()), "audio/wav"));
    FaultInjection faults;
    faults->readOnly(Sandbox::tmp() + "/*");

    testing::internal::CaptureStderr();
    controller_->playList({suite, all()[0]}, 0);
    ASSERT_TRUE(ready());
    // Time moves only once what will come has come (the transfer ends as the temporary file
    // fails): a clock ahead of the bytes would stall the stream short of them instead.
    ASSERT_TRUE(settleWithNetworkUntil([] { return URLNetwork::liveTransferCount() == 0; }, 60));
    float played = 0;
    for (int second = 0; second < 110 && UIAlertView::visibleAlertViews().empty(); ++second) {
        advance(1.0);
        played = std::max(played, controller_->currentTime());
    }
    const std::string log = testing::internal::GetCapturedStderr();
    const auto alerts = UIAlertView::visibleAlertViews();
    ASSERT_EQ(alerts.size(), 1u) << log;
    EXPECT_EQ(alerts[0]->title(), "Cannot play");
    alerts[0]->dismissWithClickedButtonIndex(0, false);
    EXPECT_NE(log.find("The composition long/suite.wav cannot be played: "), std::string::npos) << log;
    EXPECT_NE(log.find("Read-only file system"), std::string::npos) << log;
    EXPECT_EQ(log.find("Setting item: bach/air.m4a"), std::string::npos) << "the next composition did not start";
    EXPECT_EQ(controller_->currentMediaItem(), suite);
    EXPECT_EQ(controller_->curItem(), 1);
    EXPECT_FALSE(controller_->isPlaying());
    EXPECT_GT(played, 60.0f) << "what came was played";
    EXPECT_GT(faults->injected(), 0);
}

TEST_F(MediaPlayerControllerTest, AnUnreadableListFallsBackToAllTracksAndAMissingTrackToTheFirst) {
    {
        std::ofstream out(documents() + "/lastPlayedList");
        out << "<plist><array><dict><key>index";
    }
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value("gone.m4a"), "kMediaPlayerLastPlayedIndex"));
    launch();
    EXPECT_EQ(controller_->itemsCount(), 8);
    EXPECT_EQ(current(), "1");
}

TEST_F(MediaPlayerControllerTest, AnEmptyCatalogueLeavesNoListAndNothingBreaks) {
    auto db = openMedia();
    ASSERT_TRUE(db->execRequest("delete from compositions"));
    db->endRequest();
    launch();
    EXPECT_EQ(controller_->itemsCount(), 0);
    EXPECT_EQ(controller_->currentMediaItem(), nullptr);
    controller_->play();
    controller_->next();
    controller_->prev();
    controller_->playList({}, 3);
    controller_->setShuffle(true);
    EXPECT_FALSE(controller_->isPlaying());
    // A list started past its end starts at its last track.
    launch();
    EXPECT_EQ(controller_->itemsCount(), 0);
}

TEST_F(MediaPlayerControllerTest, AnIndexOutsideTheListIsClamped) {
    launch();
    const auto list = all();
    controller_->playList({list[0], list[1]}, 7);
    EXPECT_EQ(controller_->curItem(), 2);
    controller_->playList({list[0], list[1]}, -3);
    EXPECT_EQ(controller_->curItem(), 1);
}

}  // namespace
