// The phone's player screen over the player controller: the buttons' images and presses, the
// progress texts on the manual clock, the title, full screen, the content area, and which data
// announcements touch the music.
#include "content/FileDownloader.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/MediaPlayerViewController_iPhone.h"
#include "media/MediaPlayerViews.h"
#include "media/OECompositionsTableViewController.h"
#include "media/OEControlsHandler.h"
#include "media/OEProgressHandler.h"
#include "media/PlayList.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIWindow.h"
#include "platform/media/AVPlayer.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UIWindow.h"
#include "tests/media/MusicScreenFixture.h"

namespace {

class PlayerScreenTest : public MusicScreenFixture {
protected:
    void SetUp() override {
        MusicScreenFixture::SetUp();
        screen_ = MediaPlayerViewController_iPhone::initWithMediaPlayerController(music_.player, music_);
        navigation_ = show(screen_);
    }
    void TearDown() override {
        screen_.reset();
        navigation_.reset();
        MusicScreenFixture::TearDown();
    }
    static std::string image(const std::shared_ptr<UIButton>& button) {
        auto shown = button->imageForState(UIControlStateNormal);
        return shown ? shown->name() : "";
    }
    // What a person who does not see the button hears of it: its name, then its state (a mode,
    // else on or off).
    static std::string said(const std::shared_ptr<UIButton>& button) {
        std::string state = accessibilityValue(*button);
        if (state.empty() && (accessibilityTraits(*button) & UIAccessibilityTraitToggleButton))
            state = accessibilityTraits(*button) & UIAccessibilityTraitSelected ? "on" : "off";
        return accessibilityLabel(*button) + (state.empty() ? "" : " " + state);
    }
    bool ready() {
        const bool done = pump([&] {
            const auto& p = music_.player->mediaPlayer()->player();
            return p && p->status() != AVPlayerStatus::Unknown;
        });
        NSRunLoop::mainRunLoop()->runUntilIdle();
        return done;
    }
    std::shared_ptr<MediaPlayerViewController_iPhone> screen_;
    std::shared_ptr<UINavigationController> navigation_;
};

TEST_F(PlayerScreenTest, TimesAreMinutesAndSecondsWithoutHours) {
    EXPECT_EQ(OEProgressHandler::makeTimeString(125.7f, ""), "02:05");
    EXPECT_EQ(OEProgressHandler::makeTimeString(125.7f, "-"), "-02:05");
    EXPECT_EQ(OEProgressHandler::makeTimeString(3725, ""), "62:05");
    EXPECT_EQ(OEProgressHandler::makeTimeString(59.9f, ""), "00:59");
    EXPECT_EQ(OEProgressHandler::makeTimeString(0, "-"), "-00:00");
}

TEST_F(PlayerScreenTest, TheControlsShowAndChangeThePlayersState) {
    auto controls = screen_->controlsView();
    EXPECT_EQ(image(controls->playButton()), "play");
    EXPECT_EQ(image(controls->loopButton()), "r");
    EXPECT_EQ(image(controls->shuffleButton()), "s");
    // Repeat and shuffle keep their names; the mode their images show is their state.
    EXPECT_EQ(said(controls->loopButton()), "repeat off");
    EXPECT_EQ(said(controls->shuffleButton()), "shuffle off");
    controls->loopButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(image(controls->loopButton()), "r_up");
    EXPECT_EQ(said(controls->loopButton()), "repeat all");
    controls->loopButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(image(controls->loopButton()), "r.1");
    EXPECT_EQ(said(controls->loopButton()), "repeat one");
    controls->loopButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(image(controls->loopButton()), "r");
    EXPECT_EQ(said(controls->loopButton()), "repeat off");
    EXPECT_EQ(music_.player->rewind(), 0);
    controls->shuffleButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(image(controls->shuffleButton()), "s_up");
    EXPECT_EQ(said(controls->shuffleButton()), "shuffle on");
    EXPECT_TRUE(music_.player->shuffle());
    controls->playButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_TRUE(music_.player->isPlaying());
    EXPECT_EQ(image(controls->playButton()), "paused");
    controls->forwardButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(music_.player->curItem(), 2);
    controls->rewindButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(music_.player->curItem(), 1);
}

// Before anything plays, the track set up at launch is ready from its file's header: the screen
// shows its whole length as the time left, and nothing has played.
TEST_F(PlayerScreenTest, BeforeAnythingPlaysTheTimeLeftIsTheTracksLength) {
    advance(1.0);
    auto progress = screen_->progressView();
    EXPECT_EQ(music_.player->mediaPlayer()->player()->status(), AVPlayerStatus::ReadyToPlay);
    EXPECT_EQ(progress->elapsedTimeLabel()->text(), "00:00");
    EXPECT_EQ(progress->remainingTimeLabel()->text(), "-00:03");
    EXPECT_EQ(progress->progressSlider()->value(), 0.0f);
    EXPECT_EQ(image(screen_->controlsView()->playButton()), "play");
}

TEST_F(PlayerScreenTest, ProgressFollowsPlaybackAndTheSliderSeeksWhileDraggingStopsItsUpdates) {
    auto progress = screen_->progressView();
    EXPECT_EQ(progress->playListProgressLabel()->text(), "1 of 8");
    music_.player->play();
    ASSERT_TRUE(ready());
    advance(2.0);
    EXPECT_EQ(progress->elapsedTimeLabel()->text(), "00:02");
    EXPECT_EQ(progress->remainingTimeLabel()->text(), "-00:01");
    EXPECT_NEAR(progress->progressSlider()->value(), 2.0 / 3.0, 0.02);
    // A drag back to the start: it seeks, and position reports leave the slider where the finger is.
    progress->progressSlider()->simulateDrag(0.0f);
    EXPECT_NEAR(CMTimeGetSeconds(music_.player->mediaPlayer()->player()->currentTime()), 0.0, 1e-9);
    progress->progressSlider()->sendActionsForControlEvents(UIControlEventTouchDown);
    EXPECT_TRUE(screen_->progressHandler()->sliding());
    advance(1.0);
    EXPECT_EQ(progress->progressSlider()->value(), 0.0f);
    EXPECT_EQ(progress->elapsedTimeLabel()->text(), "00:01") << "the times go on";
    progress->progressSlider()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    advance(1.0);
    EXPECT_NEAR(progress->progressSlider()->value(), 2.0 / 3.0, 0.02);
    // The end of the list: the play button says play again.
    music_.player->setRewind(0);
    advance(2.0);
    EXPECT_EQ(image(screen_->controlsView()->playButton()), "paused") << "the next track plays";
}

TEST_F(PlayerScreenTest, TheTitleIsTheAuthorOverTheComposition) {
    EXPECT_EQ(screen_->titleView()->titleLabel()->text(), "Bach");
    EXPECT_EQ(screen_->titleView()->subtitleLabel()->text(), "Air");
    Value::Dictionary row = source_->compositionForIndex(5)->data();
    row.set("author_name", Value(""));
    row.set("author_name_en", Value(""));
    auto anonymous = MediaPlayerItem::mediaPlayerItemWithDictionary(row, context());
    screen_->changeTitleFrom(anonymous);
    EXPECT_EQ(screen_->titleView()->titleLabel()->text(), "");
    EXPECT_EQ(screen_->titleView()->subtitleLabel()->text(), "Rondo");
}

TEST_F(PlayerScreenTest, FullScreenSlidesTheBarsAwayAndHidesThemWhenTheAnimationEnds) {
    ASSERT_TRUE(screen_->visibleConstraints()[0]->isActive());
    // A tap on the player where its controls leave room is what takes it to full screen.
    EXPECT_EQ(accessibilityLabel(*screen_->view()), "full screen");
    EXPECT_EQ(accessibilityTraits(*screen_->view()), UIAccessibilityTraitButton);
    screen_->toggleFullscreen();
    EXPECT_TRUE(screen_->prefersStatusBarHidden());
    EXPECT_TRUE(navigation_->isNavigationBarHidden());
    EXPECT_TRUE(screen_->hiddenConstraints()[0]->isActive());
    EXPECT_FALSE(screen_->visibleConstraints()[0]->isActive());
    EXPECT_FALSE(screen_->controlsView()->isHidden()) << "hidden only once the animation ends";
    advance(0.31);
    EXPECT_TRUE(screen_->controlsView()->isHidden());
    EXPECT_TRUE(screen_->progressView()->isHidden());
    screen_->toggleFullscreen();
    advance(0.31);
    EXPECT_FALSE(screen_->controlsView()->isHidden());
    EXPECT_FALSE(navigation_->isNavigationBarHidden());
}

TEST_F(PlayerScreenTest, TheContentHoldsTheRoomBetweenTheBarsAndAllOfItInFullScreen) {
    auto layout = [&] {
        screen_->view()->window()->layoutAndDisplayIfNeeded();
        return std::vector<CGRect>{screen_->view()->bounds(), screen_->progressView()->frame(),
                                   screen_->contentViewHolder()->frame(), screen_->controlsView()->frame()};
    };
    auto shown = layout();
    EXPECT_EQ(CGRectGetMinY(shown[2]), CGRectGetMaxY(shown[1]));
    EXPECT_EQ(CGRectGetMaxY(shown[2]), CGRectGetMinY(shown[3]));
    EXPECT_EQ(CGRectGetMaxY(shown[3]), CGRectGetMaxY(shown[0]));
    EXPECT_GT(shown[2].size.height, shown[0].size.height / 2);
    screen_->toggleFullscreen();
    advance(0.31);
    auto full = layout();
    EXPECT_EQ(CGRectGetMaxY(full[2]), CGRectGetMaxY(full[0]));
    EXPECT_GT(full[2].size.height, shown[2].size.height);
}

// Counts what it is told of its appearance.
class AppearanceCounter : public UIViewController {
public:
    void viewWillAppear(bool animated) override {
        UIViewController::viewWillAppear(animated);
        ++willAppear;
    }
    void viewDidDisappear(bool animated) override {
        UIViewController::viewDidDisappear(animated);
        ++didDisappear;
    }
    int willAppear = 0, didDisappear = 0;
};

TEST_F(PlayerScreenTest, ContentSetWhileTheScreenIsShownIsToldItAppearsAndItsChildrenToo) {
    auto content = std::make_shared<AppearanceCounter>();
    auto child = std::make_shared<AppearanceCounter>();
    content->addChildViewController(child);
    content->view()->addSubview(child->view());
    screen_->setContentViewController(content);
    EXPECT_EQ(content->willAppear, 1);
    EXPECT_EQ(child->willAppear, 1) << "the slideshow's pages read their pictures when told";
    EXPECT_TRUE(content->hasAppeared());
    screen_->setContentViewController(nullptr);
    EXPECT_EQ(content->didDisappear, 1);
    EXPECT_EQ(child->didDisappear, 1);
}

TEST_F(PlayerScreenTest, ContentSetWhileTheScreenComesBackAppearsWithIt) {
    auto before = std::make_shared<AppearanceCounter>();
    screen_->setContentViewController(before);
    navigation_->pushViewController(UIViewController::make(), false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_FALSE(screen_->isVisible());
    EXPECT_EQ(before->didDisappear, 1);
    // A playlist started from the catalogue: the player comes back animated, and its new content
    // arrives before the way back has ended.
    navigation_->popViewControllerAnimated(true);
    ASSERT_TRUE(screen_->isVisible());
    ASSERT_FALSE(screen_->hasAppeared()) << "still on the way back";
    auto content = std::make_shared<AppearanceCounter>();
    auto child = std::make_shared<AppearanceCounter>();
    content->addChildViewController(child);
    content->view()->addSubview(child->view());
    screen_->setContentViewController(content);
    EXPECT_EQ(before->didDisappear, 2) << "the one it replaced goes, having come back with the player";
    EXPECT_EQ(content->willAppear, 1);
    EXPECT_EQ(child->willAppear, 1) << "the slideshow's pages read their pictures when told";
    advance(1.0);
    ASSERT_TRUE(screen_->hasAppeared());
    EXPECT_TRUE(content->hasAppeared());
    EXPECT_TRUE(child->hasAppeared());
    EXPECT_EQ(content->willAppear, 1);
}

TEST_F(PlayerScreenTest, ReplacingTheContentLeavesOnlyTheLastScreenAndTheOldOneDisappears) {
    auto first = UIViewController::make();
    auto second = UIViewController::make();
    screen_->setContentViewController(first);
    screen_->setContentViewController(second);
    EXPECT_EQ(screen_->contentViewHolder()->subviews().size(), 1u);
    EXPECT_EQ(screen_->contentViewHolder()->subviews()[0], second->view());
    EXPECT_EQ(first->view()->superview(), nullptr);
}

TEST_F(PlayerScreenTest, PictureFavouritesLeaveTheMusicAloneAndNewMediaDataReloadIt) {
    music_.player->playList({source_->compositionForIndex(7), source_->compositionForIndex(8)}, 0);
    ASSERT_TRUE(music_.player->isPlaying());
    queue_->addFile("mozart/requiem.m4a");
    // A picture favourite announces "MessageDataUpdated" without an object.
    NSNotificationCenter::defaultCenter()->postNotificationName(kMediaDataUpdated, nullptr);
    EXPECT_TRUE(music_.player->isPlaying());
    EXPECT_EQ(music_.player->itemsCount(), 2);
    EXPECT_EQ(queue_->queuedFiles(), 1);
    // New media data: the music stops, downloads end, every track is the list again.
    NSNotificationCenter::defaultCenter()->postNotificationName(kMediaDataUpdated, source_);
    EXPECT_FALSE(music_.player->isPlaying());
    EXPECT_EQ(queue_->queuedFiles(), 0);
    EXPECT_EQ(music_.player->itemsCount(), 8);
}

TEST_F(PlayerScreenTest, APlaylistStartedOverThePlayerBringsThePlayerBack) {
    navigation_->pushViewController(UIViewController::make(), false);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(navigation_->viewControllers().size(), 2u);
    auto list = PlayList::make("x.mplist", "x");
    list->items = {source_->compositionForIndex(1)};
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionPlayPlaylistMessage, list);
    advance(1.0);
    EXPECT_EQ(navigation_->viewControllers().size(), 1u);
}

TEST_F(PlayerScreenTest, ThePadHeaderBindsAllThreeHandlersAndHasNoSubtitleOrCounter) {
    auto header = MediaPlayerViews::loadPadHeader();
    screen_->controlsHandler()->setControlsView(header);
    screen_->progressHandler()->setProgressView(header);
    screen_->progressHandler()->updateProgress();
    EXPECT_EQ(header->elapsedTimeLabel()->text(), "00:00");
    EXPECT_EQ(header->remainingTimeLabel()->text().substr(0, 4), "-00:");
    header->playButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_TRUE(music_.player->isPlaying());
    EXPECT_EQ(image(header->playButton()), "paused");
    EXPECT_EQ(header->playListProgressLabel(), nullptr);
    EXPECT_EQ(header->subtitleLabel(), nullptr);
}

}  // namespace
