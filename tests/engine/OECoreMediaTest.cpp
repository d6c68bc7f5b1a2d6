// The engine's music: the player made at start-up only with a media database, the play requests
// of the music screens, remote commands, playback kept going in the background, and the player
// screen built for the menu with the author's paintings as its content.
#include "demo/generator/DemoAudio.h"
#include "demo/generator/DemoCatalogue.h"
#include "engine/ViewControllersConstructor.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoPageViewController.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "media/MediaPlayerItem.h"
#include "media/MediaPlayerViewController_iPad.h"
#include "media/MediaPlayerViewController_iPhone.h"
#include "media/OECompositionsTableViewController.h"
#include "media/PlayList.h"
#include "media/UICompositionCatsViewController.h"
#include "media/UICompositionsListViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVAudioSession.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"

namespace {

class EngineMusic : public DemoLaunchFixture {
protected:
    void SetUp() override { Clock::setManual(500'000); }
    void TearDown() override {
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        DemoLaunchFixture::TearDown();
        AVAudioSession::sharedInstance()->reset();
        Clock::setReal();
    }
    std::shared_ptr<OECore> start(DemoDatabases databases, bool withPictures = false) {
        makeBundle(databases, {}, withPictures);
        auto engine = OECore::instance();
        EXPECT_TRUE(OECore::setup());
        return engine;
    }
    // Tracks of the player's list whose files are made in Documents, so that they play here.
    MediaItems localTracks(const std::shared_ptr<OECore>& engine, std::size_t count) {
        MediaItems items;
        for (const auto& item : engine->mediaPlayer()->compositionsSource()->allCompositions()) {
            if (items.size() == count) break;
            std::string error;
            EXPECT_TRUE(DemoAudio::writeM4A(Sandbox::documents() + "/" + item->path(), {3.0, 1, 22050, 1, 0}, &error))
                << error;
            items.push_back(item);
        }
        return items;
    }
    static void remote(const std::shared_ptr<OECore>& engine, int subtype) {
        engine->remoteControlReceivedWithEvent(UIEvent::remoteControlEvent(static_cast<UIEventSubtype>(subtype)));
    }
    std::shared_ptr<UIWindow> window_;
};

TEST_F(EngineMusic, WithoutAMediaDatabaseThereIsNoPlayerAndNothingAnswersTheMusic) {
    auto engine = start(DemoDatabases::ImagesOnly);
    EXPECT_EQ(engine->mediaPlayer(), nullptr);
    EXPECT_FALSE(UIApplication::sharedApplication()->isReceivingRemoteControlEvents());
    EXPECT_EQ(ViewControllersConstructor::constructMediaPLayerController(), nullptr);
    remote(engine, 103);
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionsPlayList, nullptr);
    engine->applicationDidEnterBackground(*UIApplication::sharedApplication());
    EXPECT_TRUE(UIApplication::sharedApplication()->openBackgroundTasks().empty());
}

TEST_F(EngineMusic, ThePlayerIsMadeAtStartUpOverTheAuthorsAndTheScreensPlayRequestsReachIt) {
    auto engine = start(DemoDatabases::All);
    ASSERT_NE(engine->mediaPlayer(), nullptr);
    EXPECT_TRUE(UIApplication::sharedApplication()->isReceivingRemoteControlEvents());
    auto player = engine->mediaPlayer();
    EXPECT_EQ(player->itemsCount(), 28);
    auto tracks = localTracks(engine, 3);

    Value::Array list;
    for (const auto& t : tracks) list.push_back(Value(t));
    NSNotificationCenter::defaultCenter()->postNotificationName(
        CompositionsPlayList, nullptr, Value::Dictionary{{"list", Value(list)}, {"index", Value(2)}});
    EXPECT_EQ(player->itemsCount(), 3);
    EXPECT_EQ(player->curItem(), 3);
    EXPECT_TRUE(player->isPlaying());
    // Without an index the list plays from its start.
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionsPlayList, nullptr,
                                                                Value::Dictionary{{"list", Value(list)}});
    EXPECT_EQ(player->curItem(), 1);
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionSelectedMessage, tracks[1]);
    EXPECT_EQ(player->itemsCount(), 1);
    EXPECT_EQ(player->currentMediaItem(), tracks[1]);
    auto playlist = PlayList::make("p.mplist", "p");
    playlist->items = {tracks[0], tracks[2]};
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionPlayPlaylistMessage, playlist);
    EXPECT_EQ(player->itemsCount(), 2);
    EXPECT_EQ(player->currentMediaItem(), tracks[0]);
}

TEST_F(EngineMusic, RemotePlayStartsOnlyPausePausesOnlyToggleTogglesAndTheArrowsStep) {
    auto engine = start(DemoDatabases::All);
    auto player = engine->mediaPlayer();
    player->setPlayList(localTracks(engine, 3));
    ASSERT_FALSE(player->isPlaying());
    remote(engine, 101);  // pause while nothing plays
    EXPECT_FALSE(player->isPlaying());
    remote(engine, 100);
    EXPECT_TRUE(player->isPlaying());
    remote(engine, 100);  // play while playing
    EXPECT_TRUE(player->isPlaying());
    remote(engine, 101);
    EXPECT_FALSE(player->isPlaying());
    remote(engine, 103);
    EXPECT_TRUE(player->isPlaying());
    remote(engine, 103);
    EXPECT_FALSE(player->isPlaying());
    remote(engine, 104);
    EXPECT_EQ(player->curItem(), 2);
    remote(engine, 105);
    remote(engine, 105);
    EXPECT_EQ(player->curItem(), 3) << "wraps to the last";
    remote(engine, 102);  // stop: nothing
    engine->remoteControlReceivedWithEvent(UIEvent::make(UIEventType::Touches, UIEventSubtype::None, 0));
    EXPECT_EQ(player->curItem(), 3);
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(EngineMusic, PlayingInTheBackgroundKeepsOneTaskRenewedAsItExpiresUntilTheApplicationIsActive) {
    auto engine = start(DemoDatabases::All);
    auto app = UIApplication::sharedApplication();
    engine->applicationDidEnterBackground(*app);
    EXPECT_TRUE(app->openBackgroundTasks().empty()) << "nothing plays";
    auto player = engine->mediaPlayer();
    player->playList(localTracks(engine, 2));
    ASSERT_TRUE(player->isPlaying());
    // The music is kept going first, then the messages' timer stops.
    std::vector<std::string> steps;
    engine->setStepObserver([&](const std::string& step) { steps.push_back(step); });
    engine->applicationDidEnterBackground(*app);
    engine->setStepObserver(nullptr);
    EXPECT_EQ(steps, (std::vector<std::string>{"startPlayerBackgroundTask", "remoteMessagesEnterBackground"}));
    engine->applicationDidEnterBackground(*app);
    ASSERT_EQ(app->openBackgroundTasks().size(), 1u);
    const auto first = engine->playerTask();
    app->expireBackgroundTasks();
    ASSERT_EQ(app->openBackgroundTasks().size(), 1u);
    EXPECT_NE(engine->playerTask(), first);
    EXPECT_EQ(app->openBackgroundTasks()[0], engine->playerTask());
    engine->applicationDidBecomeActive(*app);
    EXPECT_TRUE(app->openBackgroundTasks().empty());
    EXPECT_EQ(engine->playerTask(), UIBackgroundTaskInvalid);
}

TEST_F(EngineMusic, TheMenusPlayerScreenShowsTheAuthorsPaintingsAndOpensTheCatalogue) {
    auto engine = start(DemoDatabases::All);
    auto root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    auto screen = std::dynamic_pointer_cast<MediaPlayerViewController_iPhone>(root->topViewController());
    ASSERT_TRUE(screen);
    EXPECT_EQ(engine->mediaPlayerVC(), screen);
    EXPECT_EQ(screen->delegate(), engine);
    window_ = UIWindow::make();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(screen->contentViewController());
    ASSERT_TRUE(pager) << "the first track's author has paintings";
    EXPECT_TRUE(pager->slideShow());
    EXPECT_TRUE(pager->hideControlls());
    EXPECT_FALSE(pager->view()->isUserInteractionEnabled());
    const auto author = engine->mediaPlayer()->currentMediaItem()->data().get("author").intValue();
    ASSERT_TRUE(pager->imagesData());
    EXPECT_FALSE(pager->imagesData()->empty());
    for (const auto& row : *pager->imagesData()) EXPECT_EQ(row.get("author").intValue(), author);

    // Another track: the slideshow is rebuilt for its author.
    engine->mediaPlayer()->next();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_NE(screen->contentViewController(), pager);

    screen->showCompositions();
    Clock::advance(1.0);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(std::dynamic_pointer_cast<UICompositionCatsViewController>(root->topViewController()));
}

TEST_F(EngineMusic, TheAuthorsPaintingsTurnAsASlideshowWhileTheMusicPlays) {
    auto engine = start(DemoDatabases::All, true);
    auto player = engine->mediaPlayer();
    // One composition of the first author, longer than a few slides (the demo's are shorter than
    // one: each next track starts its author's slideshow again), played here from Documents.
    auto track = player->compositionsSource()->allCompositions().front();
    std::string error;
    ASSERT_TRUE(DemoAudio::writeM4A(Sandbox::documents() + "/" + track->path(), {60.0, 1, 22050, 1, 0}, &error)) << error;
    player->setPlayList(MediaItems{track});
    auto root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    auto screen = std::dynamic_pointer_cast<MediaPlayerViewController_iPhone>(root->topViewController());
    window_ = UIWindow::make();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    player->play();
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(screen->contentViewController());
    ASSERT_TRUE(pager);
    ASSERT_GE(pager->imagesData()->size(), 2u) << "an author with several paintings";
    std::vector<std::int64_t> shown{pager->currentImageIndex()};
    for (int step = 0; step < 30; ++step) {
        Clock::advance(1.0);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        window_->layoutAndDisplayIfNeeded();
        if (pager->currentImageIndex() != shown.back()) shown.push_back(pager->currentImageIndex());
    }
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(screen->contentViewController(), pager) << "the same composition: the slideshow goes on";
    EXPECT_GE(shown.size(), 4u) << "the paintings turn, and after the last comes the first";
}

TEST_F(EngineMusic, APlaylistPlayedFromTheCatalogueShowsItsAuthorsPaintingAsThePlayerComesBack) {
    auto engine = start(DemoDatabases::All, true);
    auto player = engine->mediaPlayer();
    auto root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    auto screen = std::dynamic_pointer_cast<MediaPlayerViewController_iPhone>(root->topViewController());
    ASSERT_TRUE(screen);
    window_ = UIWindow::make();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    const auto first = screen->contentViewController();
    ASSERT_TRUE(first);
    const int current = player->currentMediaItem()->data().get("author").intValue();

    // A track of another composer with paintings, played from here.
    std::shared_ptr<MediaPlayerItem> track;
    for (const auto& item : player->compositionsSource()->allCompositions()) {
        const int author = item->data().get("author").intValue();
        bool paintings = false;
        for (const auto& composer : DemoCatalogue::composers())
            if (composer.index == author && composer.pictures > 0) paintings = true;
        if (author != current && paintings) {
            track = item;
            break;
        }
    }
    ASSERT_TRUE(track);
    std::string error;
    ASSERT_TRUE(DemoAudio::writeM4A(Sandbox::documents() + "/" + track->path(), {3.0, 1, 22050, 1, 0}, &error)) << error;

    screen->showCompositions();
    Clock::advance(1.0);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_NE(root->topViewController(), screen);
    auto list = PlayList::make("evening.mplist", "Evening");
    list->items = {track};
    NSNotificationCenter::defaultCenter()->postNotificationName(CompositionPlayPlaylistMessage, list);
    for (int step = 0; step < 3; ++step) {
        Clock::advance(0.5);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    window_->layoutAndDisplayIfNeeded();
    ASSERT_EQ(root->topViewController(), screen);
    ASSERT_EQ(player->currentMediaItem()->key(), track->key());
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(screen->contentViewController());
    ASSERT_TRUE(pager);
    ASSERT_NE(pager, first);
    EXPECT_TRUE(pager->hasAppeared());
    auto page = pager->currentImageViewController();
    ASSERT_TRUE(page);
    EXPECT_TRUE(page->image()) << "the painting is on screen at once";
}

}  // namespace

TEST_F(EngineMusic, ThePadGetsItsPlayerScreenWhoseSongsPlayThroughTheEngine) {
    auto engine = start(DemoDatabases::All);
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    auto screen = std::dynamic_pointer_cast<MediaPlayerViewController_iPad>(root->topViewController());
    ASSERT_TRUE(screen);
    EXPECT_EQ(engine->mediaPlayerVC(), screen);
    EXPECT_EQ(screen->delegate(), engine);
    EXPECT_TRUE(screen->sql());
    window_ = UIWindow::make();
    window_->setRootViewController(root);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    auto songs = std::dynamic_pointer_cast<UICompositionsListViewController>(screen->mainViewController());
    ASSERT_TRUE(songs);
    const auto list = songs->compositionsList();
    ASSERT_GT(list.size(), 3u);
    songs->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_TRUE(engine->mediaPlayer()->currentMediaItem());
    EXPECT_EQ(engine->mediaPlayer()->currentMediaItem()->key(), list[2]->key());
    EXPECT_EQ(engine->mediaPlayer()->itemsCount(), static_cast<long>(list.size()));

    // Any idiom but the phone's gets the pad's screen; the phone, and a device that cannot tell,
    // the phone's.
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    UIDevice::currentDevice()->setUserInterfaceIdiom(UIUserInterfaceIdiom::Unspecified);
    root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    EXPECT_TRUE(std::dynamic_pointer_cast<MediaPlayerViewController_iPad>(root->topViewController()));
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    UIDevice::currentDevice()->setCanReportUserInterfaceIdiom(false);
    root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    EXPECT_TRUE(std::dynamic_pointer_cast<MediaPlayerViewController_iPhone>(root->topViewController()));
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    root = std::dynamic_pointer_cast<UINavigationController>(ViewControllersConstructor::constructMediaPLayerController());
    ASSERT_TRUE(root);
    EXPECT_TRUE(std::dynamic_pointer_cast<MediaPlayerViewController_iPhone>(root->topViewController()));
}
