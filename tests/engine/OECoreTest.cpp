// The engine's start-up over the demo bundle with all, some or none of its databases: the order
// and conditions of the steps, the start screen, the download offer at the second launch (cold
// and on a return to the foreground), the refused second run, the life-cycle table, the
// favourites posted as likes at every launch, and the process's file locator, reading settings,
// picture loader, count of present pictures and texts model that it uses.
#include "engine/OECore.h"
#include "config/AppConfig.h"
#include "config/FileSystem.h"

#include "content/Favorites_DataSource.h"
#include "content/Loader_DataSource.h"
#include "content/NewAppsChecker.h"
#include "content/OELikesManager.h"
#include "content/RemoteMessageManager.h"
#include "content/dbEntry.h"
#include "content/tempDataSource.h"
#include "demo/server/ContentServer.h"
#include "engine/OEDefaultMenuSectionsFactory.h"
#include "engine/OEMainMenu.h"
#include "engine/OEUnavailableViewController.h"
#include "demo/generator/DemoCatalogue.h"
#include "gallery/DownloadedImagesCount.h"
#include "gallery/ResourceLoader.h"
#include "gallery/UIDBViewController.h"
#include "uikit/OECoreStrings.h"
#include "config/OEConfigFactory.h"
#include "gallery/UIDBViewController_iPhone.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"
#include "tests/fixtures/AskedAtOnce.h"
#include "texts/TextEngineRoot.h"
#include "texts/TextServer.h"
#include "uikit/OEIdleTimerManager.h"
#include "uikit/MRater.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/RemindManager.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <fstream>

namespace {

const char* const kDownloadCountKey = "com.norvane.LaunchReminderManager.DwonloadImagesReminder";

// Stands in for the count of present pictures and records what the engine asks of it, with
// what the engine had already done when it was set up.
class RecordingCounter : public OECore::DownloadsCounter {
public:
    explicit RecordingCounter(bool allDownloaded) : allDownloaded(allDownloaded) {}

    void setup(const std::shared_ptr<DataSource>& source) override {
        auto loaderSource = std::dynamic_pointer_cast<Loader_DataSource>(source);
        setUpOver.push_back(loaderSource ? loaderSource->loader()->entry()->dbPath() : "?");
        auto engine = OECore::instance();
        stepsBefore = {engine->locale() != nullptr, engine->idleManager() != nullptr,
                       !NSUserDefaults::standardUserDefaults()->objectForKey("zoom").isNull(),
                       UIAppearance::appearance<UINavigationBar>()->hasValue("tintColor")};
        launchCountAtSetup = NSUserDefaults::standardUserDefaults()->integerForKey(kDownloadCountKey);
    }
    bool allFilesDownloaded() const override {
        ++asked;
        return allDownloaded;
    }
    void showDownloadAlertFromController(const std::shared_ptr<UIViewController>& controller) override {
        shownOver.push_back(controller);
    }
    // Held weakly: the menu holds the counter, and the screens shown over hold the menu.
    std::vector<std::shared_ptr<UIViewController>> alertsOver() const {
        std::vector<std::shared_ptr<UIViewController>> out;
        for (const auto& weak : shownOver) out.push_back(weak.lock());
        return out;
    }
    void checkDownloadedFiles() override { ++recounts; }
    void fileDownloaded() override { ++fetched; }
    void downloadAllImages() override { ++downloads; }

    bool allDownloaded;
    std::vector<std::string> setUpOver;
    std::vector<bool> stepsBefore;
    long launchCountAtSetup = -1;
    mutable int asked = 0;
    int recounts = 0;
    int fetched = 0;
    int downloads = 0;
    std::vector<std::weak_ptr<UIViewController>> shownOver;
};

class EngineStart : public DemoLaunchFixture {
protected:
    // Starts the engine with the factory's configuration and, when asked, the start screen.
    std::shared_ptr<OECore> start(const std::shared_ptr<RecordingCounter>& counter, bool screen = true) {
        auto engine = OECore::instance();
        engine->setDownloadsCounter(counter);
        EXPECT_TRUE(OECore::setup());
        if (screen) {
            window = UIWindow::make();
            engine->showStartScreenInWindow(window);
        }
        return engine;
    }
    std::shared_ptr<OESideMenuContainerViewController> container() const {
        return std::dynamic_pointer_cast<OESideMenuContainerViewController>(window->rootViewController());
    }

    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST_F(EngineStart, WithAllDatabasesEveryStepRunsInOrderAndTheGalleryIsInTheCentre) {
    makeBundle(DemoDatabases::All);
    auto counter = std::make_shared<RecordingCounter>(true);
    int launches = 0;
    LaunchReminderManager::instance()->registerReminder(LaunchReminder::initWithIdentifer("Probe", 1, [&] { ++launches; }));
    auto engine = start(counter);

    ASSERT_TRUE(engine->isInitialized());
    EXPECT_EQ(engine->appId(), "1047320005");
    EXPECT_EQ(engine->config()->database()->imagesDBName(), "images.sqlite");
    EXPECT_EQ(engine->config()->database()->mediaDBName(), "media.sqlite");
    // What the layers below are handed: the localisations over the configuration's locale part.
    ASSERT_TRUE(engine->locale());
    EXPECT_EQ(engine->locale()->config(), engine->config()->locale());
    const GalleryContext handed = engine->galleryContext();
    EXPECT_EQ(handed.app.config, engine->config());
    EXPECT_EQ(handed.app.localizations, engine->locale());
    ASSERT_TRUE(handed.resources);
    EXPECT_EQ(handed.resources, engine->resourceLoader());
    EXPECT_EQ(handed.downloads, counter);
    EXPECT_EQ(handed.idle, engine->idleManager());
    EXPECT_EQ(engine->idleManager()->application(), UIApplication::sharedApplication());
    EXPECT_TRUE(engine->hasImages());
    // Appearance, defaults, locale and idle manager were in place when the counter was set
    // up (over the images list), and the launch was counted after that.
    EXPECT_EQ(counter->setUpOver, (std::vector<std::string>{"images.sqlite"}));
    EXPECT_EQ(counter->stepsBefore, (std::vector<bool>{true, true, true, true}));
    // Once for the reminder, once for the menu's download row.
    EXPECT_EQ(counter->asked, 2);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey("zoom"), 1);
    EXPECT_TRUE(UIAppearance::appearance<UINavigationBar>()->value("tintColor").objectAs<UIColor>()->isEqual(
        UIColor::labelColor().get()));
    // Everything done, no reminder was registered.
    EXPECT_TRUE(LaunchReminderManager::instance()->reminders().empty());

    auto shell = container();
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(engine->viewController(), shell);
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(shell->panMode(), OESideMenuPanModeNone);
    auto menu = std::dynamic_pointer_cast<OEMainMenu>(shell->leftMenuViewController());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(shell->rightMenuViewController(), nullptr);
    ASSERT_FALSE(menu->sections().empty());
    EXPECT_EQ(menu->sections().front()->title(), "Ostrel Gallery");
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(shell->centerViewController());
    ASSERT_NE(navigation, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIDBViewController_iPhone>(navigation->topViewController()), nullptr);
}

// Each step is told as it ends, with what the engine has done by then: every effect of the steps
// before it and of itself, none of the steps after it. A swap of two steps fails here.
TEST_F(EngineStart, EveryStartUpStepRunsAtItsOwnPlaceAndDoesItsWorkThere) {
    makeBundle(DemoDatabases::All);
    auto counter = std::make_shared<RecordingCounter>(false);
    int launches = 0;
    LaunchReminderManager::instance()->registerReminder(LaunchReminder::initWithIdentifer("Probe", 1, [&] { ++launches; }));
    auto engine = OECore::instance();
    engine->setDownloadsCounter(counter);
    const std::vector<std::string> order{"customizeInterface", "loadDefaults",           "setupRemoteNotifications",
                                         "setupLocale",        "setupIdleManager",       "setupDownlloadsCounter",
                                         "setupReminders",     "setupNewsChecker",       "setupMediaPlayer",
                                         "setupLikesManager",  "setupRaterWithAppId",    "sendFavorites"};
    // What each step leaves behind, in the order above; the favourites upload runs on a queue
    // of its own and is seen only through its place.
    auto done = [&] {
        return std::vector<bool>{
            UIAppearance::appearance<UINavigationBar>()->hasValue("tintColor"),
            !NSUserDefaults::standardUserDefaults()->objectForKey("zoom").isNull(),
            RemoteMessageManager::hasSharedManager(),
            engine->locale() != nullptr,
            engine->idleManager() != nullptr,
            !counter->setUpOver.empty(),
            launches == 1,
            NewAppsChecker::hasSharedNewAppsChecker(),
            engine->mediaPlayer() != nullptr,
            engine->likesManager() != nullptr,
            MRater::hasInstance() && MRater::instance()->appID() == "1047320005",
        };
    };
    std::vector<std::string> steps;
    engine->setStepObserver([&](const std::string& step) {
        const auto position = steps.size();
        steps.push_back(step);
        std::vector<bool> expected(order.size() - 1, false);
        for (std::size_t i = 0; i <= position && i < expected.size(); ++i) expected[i] = true;
        EXPECT_EQ(done(), expected) << "after " << step;
    });
    ASSERT_TRUE(OECore::setup());
    EXPECT_EQ(steps, order);

    // The life-cycle changes, in the order of their table (nothing plays: no background task).
    steps.clear();
    engine->setStepObserver([&](const std::string& step) { steps.push_back(step); });
    auto& app = *UIApplication::sharedApplication();
    engine->applicationDidEnterBackground(app);
    engine->applicationWillEnterForeground(app);
    engine->applicationDidBecomeActive(app);
    engine->applicationWillResignActive(app);
    engine->applicationWillTerminate(app);
    EXPECT_EQ(steps, (std::vector<std::string>{"remoteMessagesEnterBackground", "raterAppLaunched", "launchRemindersEnterForeground",
                                               "remoteMessagesEnterForeground", "resumeReminders",
                                               "stopPlayerBackgroundTask", "suspendReminders", "suspendReminders"}));
    engine->setStepObserver(nullptr);
}

TEST_F(EngineStart, ItsFileLocatorAndReadingSettingsAreTheProcesssOnesWithItsTextDefaults) {
    makeBundle(DemoDatabases::ImagesOnly);
    auto engine = start(nullptr, false);
    EXPECT_EQ(engine->fileSystem(), FileSystem::sharedFileSystem());
    EXPECT_EQ(engine->appContext().fileSystem, FileSystem::sharedFileSystem());
    // The font sizes nobody has chosen yet are the engine configuration's.
    auto settings = AppConfig::sharedAppConfig();
    EXPECT_EQ(settings->intValue(kFontSizeTextsKey), engine->config()->text()->textDefFontSize());
    engine->config()->text()->setDefFontSize(13);
    EXPECT_EQ(settings->intValue(kFontSizeKey), 13);
}

// The picture loader is made once, whichever thread asks first, over the process's file
// locator; the engine and every picture and text screen it builds are handed that one.
TEST_F(EngineStart, ItsPictureLoaderIsTheProcesssOneMadeOnceAndHandedToEveryScreen) {
    makeBundle(DemoDatabases::All);
    const auto asked = askedAtOnce([] { return ResourceLoader::sharedResourceLoader(); });
    ASSERT_TRUE(asked[0]);
    for (const auto& loader : asked) EXPECT_EQ(loader, asked[0]);
    auto engine = start(std::make_shared<RecordingCounter>(true));
    EXPECT_EQ(engine->resourceLoader(), asked[0]);
    EXPECT_EQ(engine->galleryContext().resources, asked[0]);
    EXPECT_EQ(engine->textsContext().gallery.resources, asked[0]);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(container()->centerViewController());
    ASSERT_NE(navigation, nullptr);
    auto gallery = std::dynamic_pointer_cast<UIDBViewController>(navigation->topViewController());
    ASSERT_NE(gallery, nullptr);
    EXPECT_EQ(gallery->galleryContext().resources, asked[0]);

    // A new launch has a new one.
    DemoLaunch::forgetProcess();
    EXPECT_FALSE(ResourceLoader::hasSharedResourceLoader());
    auto next = start(std::make_shared<RecordingCounter>(true), false);
    ASSERT_TRUE(next->resourceLoader());
    EXPECT_NE(next->resourceLoader(), asked[0]);
    EXPECT_EQ(next->resourceLoader(), ResourceLoader::sharedResourceLoader());
}

// The count of present pictures is there once the engine has handed it its context, and then
// it is the one the engine, the menu's download row and the picture screens use; threads that
// ask at once after a new context was handed in all get one new counter.
TEST_F(EngineStart, ItsCountOfPresentPicturesIsTheProcesssOneMadeOnceOverTheEnginesContext) {
    makeBundle(DemoDatabases::All);
    for (const auto& none : askedAtOnce([] { return DownloadedImagesCount::instance(); })) EXPECT_EQ(none, nullptr);
    auto engine = start(nullptr);
    auto counter = std::dynamic_pointer_cast<DownloadedImagesCount>(engine->downloadsCounter());
    ASSERT_NE(counter, nullptr);
    for (const auto& seen : askedAtOnce([] { return DownloadedImagesCount::instance(); })) EXPECT_EQ(seen, counter);
    EXPECT_EQ(engine->galleryContext().downloads, counter);
    auto menu = std::dynamic_pointer_cast<OEMainMenu>(container()->leftMenuViewController());
    ASSERT_NE(menu, nullptr);
    auto sections = std::dynamic_pointer_cast<OEDefaultMenuSectionsFactory>(menu->itemsFactory());
    ASSERT_NE(sections, nullptr);
    EXPECT_EQ(sections->downloadsCounter(), counter);
    EXPECT_EQ(counter->totalFiles(), static_cast<std::int64_t>(kDemoPaintingCount));

    DownloadedImagesCount::resetInstance();
    EXPECT_EQ(DownloadedImagesCount::instance(), nullptr);
    DownloadedImagesCount::setSharedContext(engine->galleryContext());
    const auto made = askedAtOnce([] { return DownloadedImagesCount::instance(); });
    ASSERT_TRUE(made[0]);
    EXPECT_NE(made[0], counter);
    for (const auto& seen : made) EXPECT_EQ(seen, made[0]);
    made[0]->setup(tempDataSource::tempImagesDataSource(engine->appContext()));
    EXPECT_EQ(made[0]->totalFiles(), static_cast<std::int64_t>(kDemoPaintingCount));
}

// The texts model is made once, on first use from whichever thread, over the engine's context;
// the engine and the texts screen it builds use that one, and none is made before start-up or
// without a texts database.
TEST_F(EngineStart, ItsTextsModelIsTheProcesssOneMadeOnceOnFirstUseAndTheTextsScreenIsHandedIt) {
    makeBundle(DemoDatabases::All);
    for (const auto& none : askedAtOnce([] { return TextServer::sharedTextServer(); })) EXPECT_EQ(none, nullptr);
    auto engine = start(std::make_shared<RecordingCounter>(true));
    EXPECT_FALSE(TextServer::hasSharedTextServer());
    const auto asked = askedAtOnce([] { return TextServer::sharedTextServer(); });
    ASSERT_TRUE(asked[0]);
    for (const auto& server : asked) EXPECT_EQ(server, asked[0]);
    EXPECT_FALSE(asked[0]->catList().empty());
    EXPECT_EQ(engine->textServer(), asked[0]);
    EXPECT_EQ(engine->textsContext().textServer, asked[0]);
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(
        ViewControllersConstructor::constructTextsController());
    ASSERT_NE(navigation, nullptr);
    auto texts = std::dynamic_pointer_cast<TextEngineRoot>(navigation->topViewController());
    ASSERT_NE(texts, nullptr);
    EXPECT_EQ(texts->textsContext().textServer, asked[0]);

    makeBundle(DemoDatabases::ImagesOnly);
    auto withoutTexts = start(std::make_shared<RecordingCounter>(true), false);
    EXPECT_EQ(withoutTexts->textServer(), nullptr);
    EXPECT_EQ(TextServer::sharedTextServer(), nullptr);
}

TEST_F(EngineStart, WithOnlyTheImagesDatabaseTheCounterUsesTheImagesList) {
    makeBundle(DemoDatabases::ImagesOnly);
    auto counter = std::make_shared<RecordingCounter>(true);
    auto engine = start(counter);
    EXPECT_EQ(engine->config()->database()->mediaDBName(), "");
    EXPECT_TRUE(engine->hasImages());
    EXPECT_EQ(counter->setUpOver, (std::vector<std::string>{"images.sqlite"}));
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(container()->centerViewController());
    ASSERT_NE(navigation, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<UIDBViewController_iPhone>(navigation->topViewController()), nullptr);
}

TEST_F(EngineStart, WithNoDatabaseTheCounterUsesTheMediaListAndOnlyTheArticlesRowIsLeft) {
    makeBundle(DemoDatabases::None);
    auto counter = std::make_shared<RecordingCounter>(true);
    auto engine = start(counter);
    EXPECT_FALSE(engine->hasImages());
    EXPECT_EQ(engine->config()->database()->imagesDBName(), "");
    EXPECT_EQ(counter->setUpOver, (std::vector<std::string>{""}));  // the media name, empty here
    auto shell = container();
    ASSERT_NE(shell, nullptr);
    auto menu = std::dynamic_pointer_cast<OEMainMenu>(shell->leftMenuViewController());
    ASSERT_NE(menu, nullptr);
    ASSERT_FALSE(menu->sections().empty());
    // The bundle's articles style asks for the articles, whatever their database: that row alone
    // is left, and the screen in the centre says that the articles cannot be opened.
    ASSERT_EQ(menu->sections().front()->items().size(), 1u);
    EXPECT_EQ(menu->sections().front()->items()[0]->title(), OECoreString("Articles"));
    auto navigation = std::dynamic_pointer_cast<UINavigationController>(shell->centerViewController());
    ASSERT_NE(navigation, nullptr);
    const auto unavailable = std::dynamic_pointer_cast<OEUnavailableViewController>(navigation->topViewController());
    ASSERT_NE(unavailable, nullptr);
    EXPECT_EQ(unavailable->message(), OECoreString("Articles") + " cannot be opened.");
}

TEST_F(EngineStart, WithoutAnInstalledCounterTheEngineCountsThePicturesOnTheDevice) {
    makeBundle(DemoDatabases::All);  // databases only: every picture is still to be downloaded
    auto engine = start(nullptr);
    auto counter = std::dynamic_pointer_cast<DownloadedImagesCount>(engine->downloadsCounter());
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->totalFiles(), static_cast<std::int64_t>(kDemoPaintingCount));
    EXPECT_EQ(counter->downloadedCount(), 0);
    EXPECT_TRUE(engine->isNeedDownloadReminder());
    EXPECT_EQ(LaunchReminderManager::instance()->reminders().size(), 1u);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey(kDownloadCountKey), 1);

    auto menu = std::dynamic_pointer_cast<OEMainMenu>(container()->leftMenuViewController());
    ASSERT_NE(menu, nullptr);
    const auto& sections = menu->sections();
    ASSERT_EQ(sections.size(), 4u);
    EXPECT_EQ(sections[1]->title(), OECoreString("Additional"));
    ASSERT_EQ(sections[1]->items().size(), 1u);
    EXPECT_EQ(sections[1]->items()[0]->title(), OECoreString("Download All Images"));
    EXPECT_EQ(sections[1]->items()[0]->imageName(), "download");
    EXPECT_EQ(sections[2]->title(), OECoreString("Settings"));
    EXPECT_EQ(sections[3]->title(), OECoreString("More"));
}

TEST_F(EngineStart, TheDownloadRowFetchesTheListItsCountIsAbout) {
    makeBundle(DemoDatabases::None);  // the count is over the media list here
    Clock::setManual(2'000'000.0);
    auto counter = std::make_shared<RecordingCounter>(false);
    start(counter);
    auto menu = std::dynamic_pointer_cast<OEMainMenu>(container()->leftMenuViewController());
    ASSERT_NE(menu, nullptr);
    ASSERT_GE(menu->sections().size(), 2u);
    ASSERT_EQ(menu->sections()[1]->items().size(), 1u);
    const auto row = menu->sections()[1]->items()[0];
    ASSERT_EQ(row->title(), OECoreString("Download All Images"));
    row->action()(menu);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    auto question = std::dynamic_pointer_cast<UIAlertController>(topController(window->rootViewController()));
    ASSERT_TRUE(question);
    ASSERT_EQ(question->actions().size(), 2u);
    EXPECT_EQ(counter->downloads, 0) << "nothing before the answer";
    ASSERT_TRUE(question->tapActionAtIndex(0));
    EXPECT_EQ(counter->downloads, 1);
    Clock::advance(5);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    window.reset();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    Clock::setReal();
}

TEST_F(EngineStart, TheZoomDefaultNeedsASharpScreenAndNeverReplacesAValue) {
    makeBundle(DemoDatabases::ImagesOnly);
    UIScreen::mainScreen()->setScale(1.0);
    auto engine = start(nullptr, false);
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->objectForKey("zoom").isNull());

    DemoLaunch::forgetProcess();  // back to scale 2
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value("big"), "zoom"));
    start(nullptr, false);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->objectForKey("zoom"), Value("big"));
}

TEST_F(EngineStart, AnOfferDueAtAColdLaunchWaitsForTheStartScreen) {
    makeBundle(DemoDatabases::All);
    NSUserDefaults::standardUserDefaults()->setInteger(1, kDownloadCountKey);  // the first launch was counted
    auto counter = std::make_shared<RecordingCounter>(false);
    auto engine = start(counter, false);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey(kDownloadCountKey), 2);
    EXPECT_TRUE(engine->isDownloadAlertPending());
    EXPECT_TRUE(counter->alertsOver().empty());

    window = UIWindow::make();
    engine->showStartScreenInWindow(window);
    EXPECT_TRUE(counter->alertsOver().empty()) << "offered only once the launch is over";
    EXPECT_FALSE(engine->isDownloadAlertPending());
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return !counter->alertsOver().empty(); }, 10));
    EXPECT_EQ(counter->alertsOver(), (std::vector<std::shared_ptr<UIViewController>>{container()}));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(counter->alertsOver().size(), 1u);

    // The reminder is spent: the next launch counts on without offering again.
    DemoLaunch::forgetProcess();
    auto again = std::make_shared<RecordingCounter>(false);
    start(again);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(again->alertsOver().empty());
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey(kDownloadCountKey), 3);
}

TEST_F(EngineStart, AnOfferDueOnAReturnToTheForegroundShowsOverTheTopMostScreen) {
    makeBundle(DemoDatabases::All);
    auto counter = std::make_shared<RecordingCounter>(false);
    auto engine = start(counter);
    EXPECT_EQ(LaunchReminderManager::instance()->reminders().size(), 1u);
    auto modal = UIViewController::make();
    container()->presentViewController(modal, false, nullptr);
    engine->applicationWillEnterForeground(*UIApplication::sharedApplication());
    EXPECT_EQ(counter->alertsOver(), (std::vector<std::shared_ptr<UIViewController>>{modal}));
    EXPECT_TRUE(LaunchReminderManager::instance()->reminders().empty());
}

TEST_F(EngineStart, AnOfferDueWhenNothingIsMissingAnyMoreIsNotMade) {
    makeBundle(DemoDatabases::All);
    auto counter = std::make_shared<RecordingCounter>(false);
    auto engine = start(counter);
    ASSERT_EQ(LaunchReminderManager::instance()->reminders().size(), 1u);
    // Every picture came after the reminder was registered.
    counter->allDownloaded = true;
    engine->applicationWillEnterForeground(*UIApplication::sharedApplication());
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(counter->alertsOver().empty());
    EXPECT_TRUE(LaunchReminderManager::instance()->reminders().empty()) << "the reminder is spent all the same";

    // Due at a cold launch and everything there by the time the start screen stands: silent too.
    DemoLaunch::forgetProcess();
    NSUserDefaults::standardUserDefaults()->setInteger(1, kDownloadCountKey);
    auto later = std::make_shared<RecordingCounter>(false);
    auto second = start(later, false);
    ASSERT_TRUE(second->isDownloadAlertPending());
    later->allDownloaded = true;
    window = UIWindow::make();
    second->showStartScreenInWindow(window);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(later->alertsOver().empty());
    EXPECT_FALSE(second->isDownloadAlertPending());
}

TEST_F(EngineStart, ASecondRunOfTheSequenceAndOfTheStartScreenIsRefused) {
    makeBundle(DemoDatabases::All);
    auto counter = std::make_shared<RecordingCounter>(false);
    auto engine = start(counter);
    auto config = engine->config();
    auto idle = engine->idleManager();
    auto shell = engine->viewController();

    EXPECT_FALSE(engine->initializeWithConfig(OEConfigFactory::defaultFactory()->makeConfig(), "other"));
    EXPECT_FALSE(OECore::setup());
    EXPECT_EQ(engine->config(), config);
    EXPECT_EQ(engine->idleManager(), idle);
    EXPECT_EQ(engine->appId(), "1047320005");
    EXPECT_EQ(counter->setUpOver.size(), 1u);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey(kDownloadCountKey), 1);
    EXPECT_EQ(LaunchReminderManager::instance()->reminders().size(), 1u);

    auto otherWindow = UIWindow::make();
    engine->showStartScreenInWindow(otherWindow);
    EXPECT_EQ(otherWindow->rootViewController(), nullptr);
    EXPECT_EQ(engine->viewController(), shell);
    EXPECT_FALSE(OECore::instance()->initializeWithConfig(nullptr, ""));
}

TEST_F(EngineStart, TheLifeCycleSuspendsAndResumesTheRemindersAndCountsForegroundEntries) {
    makeBundle(DemoDatabases::ImagesOnly);
    Clock::setManual(3'000'000.0);
    auto engine = start(nullptr);
    auto& app = *UIApplication::sharedApplication();
    auto reminder = TimeReminder::initWithInterval(10'000, "LifeCycleProbe", [] {});
    RemindManager::sharedRemindManager()->add(reminder);
    int shown = 0;
    LaunchReminderManager::instance()->registerReminder(LaunchReminder::initWithIdentifer("Cycle", 2, [&] { ++shown; }));
    auto stored = [] { return NSUserDefaults::standardUserDefaults()->doubleForKey("LifeCycleProbe"); };

    Clock::advance(30);
    engine->applicationWillResignActive(app);
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(stored(), 30);
    engine->applicationDidEnterBackground(app);
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(shown, 0);
    engine->applicationWillEnterForeground(app);  // counted launch 1
    EXPECT_EQ(shown, 0);
    Clock::advance(20);
    engine->applicationDidBecomeActive(app);
    EXPECT_TRUE(reminder->isTicking());
    EXPECT_EQ(reminder->currentTime(), 50);
    engine->applicationWillEnterForeground(app);  // counted launch 2
    EXPECT_EQ(shown, 1);
    Clock::advance(10);
    engine->applicationWillTerminate(app);
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(stored(), 60);

    RemindManager::sharedRemindManager()->remove(reminder);
    Clock::setReal();
}

TEST_F(EngineStart, EveryLaunchPostsTheFavouritesNotYetLikedFromABackgroundQueue) {
    makeBundle(DemoDatabases::ImagesOnly, {6, 30});
    const std::string served = Sandbox::tmp() + "/likes-server";
    std::filesystem::create_directories(served);
    std::ofstream(served + "/fixtures.json") << R"({"likesIdentifier": "ostrel_gallery", "likes": {"6": 4}})";
    std::string error;
    auto server = ContentServer::start({served, "", 0, {}}, &error);
    ASSERT_TRUE(server) << error;
    ASSERT_TRUE(DemoGenerator::setServerHost(bundle, server->host(), &error)) << error;
    NSBundle::resetCaches();
    auto likesPosts = [&] {
        std::vector<std::string> posts;
        for (const auto& request : server->requests())
            if (request.path == "/likes/likes.php") posts.push_back(request.method + " " + request.query);
        return posts;
    };
    auto engine = start(std::make_shared<RecordingCounter>(true), false);
    ASSERT_TRUE(engine->likesManager());
    EXPECT_EQ(engine->galleryContext().likes, engine->likesManager());
    auto storage = engine->likesManager()->storage();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil(
        [&] { return storage->isLikeSetForIdentifier(Value(6)) && storage->isLikeSetForIdentifier(Value(30)); }, 20));
    EXPECT_EQ(likesPosts(), std::vector<std::string>{"POST app_id=ostrel_gallery&id=6,30"});

    // The next launch sends only the favourite added since.
    auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(engine->config()->database()), engine->appContext());
    ASSERT_TRUE(Favorites_DataSource::initWithLoader(loader)->addToFavorites({{"index", Value(91)}}));
    loader.reset();
    engine.reset();
    DemoLaunch::forgetProcess();
    engine = start(std::make_shared<RecordingCounter>(true), false);
    storage = engine->likesManager()->storage();
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return storage->isLikeSetForIdentifier(Value(91)); }, 20));
    EXPECT_EQ(likesPosts(), (std::vector<std::string>{"POST app_id=ostrel_gallery&id=6,30",
                                                      "POST app_id=ostrel_gallery&id=91"}));
}
