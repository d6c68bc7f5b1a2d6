// What the start-up sequence adds around the gallery, against the content server on 127.0.0.1:
// a remote message at launch and at each return to the foreground, the new-applications count
// on the "More Apps" row and the menu buttons with its reset, the rating prompt's launch count,
// the "Support" row's mail, and the download queue keeping the screen awake through the
// engine's idle-timer manager.
#include "engine/OECore.h"

#include "content/FileDownloader.h"
#include "content/NewAppsChecker.h"
#include "content/RemoteMessageManager.h"
#include "demo/server/ContentServer.h"
#include "engine/OEDefaultMenuSectionsFactory.h"
#include "engine/OEMainMenu.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSURL.h"
#include "platform/messageui/MFMailComposeViewController.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIWindow.h"
#include "tests/engine/DemoLaunchFixture.h"
#include "config/AppInfo.h"
#include "uikit/MRater.h"
#include "gallery/MinibrowserViewController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEMakerContacts.h"
#include "uikit/OESideMenuContainerViewController.h"
#include "uikit/RemindManager.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <filesystem>
#include <fstream>

namespace {

const char* const kFixtures = R"json({
    "bundleIdentifier": "com.norvane.ostrelgallery",
    "applicationsCount": 15,
    "messages": [
        {"id": "m1", "title": "Welcome", "msg": "First.", "buttons": [{"title": "Close", "action": "CLOSE"}]},
        {"id": "m2", "title": "Again", "msg": "Second.", "buttons": [{"title": "Close", "action": "CLOSE"}]}
    ]
})json";

// Every picture on the device: no download offer comes between the tests and their screens.
class AllThere : public DownloadsCounter {
public:
    void setup(const std::shared_ptr<DataSource>&) override {}
    bool allFilesDownloaded() const override { return true; }
    void checkDownloadedFiles() override {}
    void fileDownloaded() override {}
    void downloadAllImages() override {}
    void showDownloadAlertFromController(const std::shared_ptr<UIViewController>&) override {}
};

class ServicesStart : public DemoLaunchFixture {
protected:
    void SetUp() override {
        const std::string folder = Sandbox::tmp() + "/services-server";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/fixtures.json") << kFixtures;
        std::string error;
        server = ContentServer::start({folder, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
    }
    void TearDown() override {
        // The launch's questions to the server are answered (a message may come up), then let go.
        EXPECT_TRUE(URLNetwork::waitUntilQuiet(0.2, 20));
        (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // serves what came in meanwhile
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        MFMailComposeViewController::setCanSendMail(true);
        window.reset();
        DemoLaunchFixture::TearDown();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        server.reset();
    }
    // The images-only demo bundle over the server; messages asked of it too when `messages`
    // (a message on screen holds back every presentation under it).
    std::shared_ptr<OECore> start(bool messages = false) {
        makeBundle(DemoDatabases::ImagesOnly);
        std::string error;
        EXPECT_TRUE(DemoGenerator::setServerHost(bundle, server->host(), &error)) << error;
        NSBundle::resetCaches();
        if (messages) {
            EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(server->host()),
                                                                          RemoteMessageManager::kHostDefaultsKey));
        }
        return launch();
    }
    std::shared_ptr<OECore> launch() {
        auto engine = OECore::instance();
        engine->setDownloadsCounter(std::make_shared<AllThere>());
        EXPECT_TRUE(OECore::setup());
        window = UIWindow::make();
        engine->showStartScreenInWindow(window);
        return engine;
    }
    std::shared_ptr<OEMainMenu> menu() const {
        auto container = std::dynamic_pointer_cast<OESideMenuContainerViewController>(window->rootViewController());
        return container ? std::dynamic_pointer_cast<OEMainMenu>(container->leftMenuViewController()) : nullptr;
    }
    std::shared_ptr<OEMenuSectionItem> moreRow(const std::string& key) const {
        for (const auto& section : menu()->sections())
            if (section->title() == OECoreString("More"))
                for (const auto& item : section->items())
                    if (item->title() == OECoreString(key)) return item;
        return nullptr;
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& r : server->requests()) out.push_back(r.path + (r.query.empty() ? "" : "?" + r.query));
        return out;
    }
    long asked(const std::string& pathAndQuery) const {
        const auto all = paths();
        return static_cast<long>(std::count(all.begin(), all.end(), pathAndQuery));
    }
    static std::shared_ptr<UIAlertView> shownMessage() {
        auto alerts = UIAlertView::visibleAlertViews();
        return alerts.empty() ? nullptr : alerts.back();
    }
    static bool waitFor(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, 20); }

    std::unique_ptr<ContentServer> server;
    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST_F(ServicesStart, TheLaunchShowsAMessageAndAReturnToTheForegroundTheNext) {
    auto engine = start(true);
    ASSERT_TRUE(waitFor([] { return shownMessage() != nullptr; }));
    EXPECT_EQ(shownMessage()->title(), "Welcome");
    const std::string ask = std::string(RemoteMessageManager::kMessagePath) + "?app=ios.com.norvane.ostrelgallery&lng=en&version=320";
    EXPECT_EQ(asked(ask), 1) << testing::PrintToString(paths());
    shownMessage()->tapButtonAtIndex(0);

    auto& app = *UIApplication::sharedApplication();
    engine->applicationDidEnterBackground(app);
    engine->applicationWillEnterForeground(app);
    ASSERT_TRUE(waitFor([] { return shownMessage() != nullptr; }));
    EXPECT_EQ(shownMessage()->title(), "Again");
    EXPECT_FALSE(RemoteMessageManager::sharedManager()->hasTimer()) << "checks at launch and foreground only";
    shownMessage()->tapButtonAtIndex(0);

    // Every message shown: the next launch asks and shows nothing.
    DemoLaunch::forgetProcess();
    launch();
    ASSERT_TRUE(waitFor([&] { return asked(ask) == 3; }));
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    EXPECT_EQ(shownMessage(), nullptr);
}

TEST_F(ServicesStart, NewApplicationsBadgeTheMoreAppsRowUntilItIsChosen) {
    auto engine = start();
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    EXPECT_EQ(checker->plistUrl(), server->host() + "/newappstest.plist");
    ASSERT_TRUE(waitFor([&] { return checker->newApps() == 3; }));
    auto row = moreRow("More Apps");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->badge(), "3") << "the menu reloaded on the message";
    EXPECT_EQ(row->imageName(), "other_apps");
    EXPECT_TRUE(hasNewAppsCountProvider()) << "the menu buttons read the checker";
    bool repeats = false;
    for (const auto& reminder : RemindManager::sharedRemindManager()->reminders())
        repeats = repeats || (reminder->key() == "NewAppsChecker" && reminder->timeInterval() == 600);
    EXPECT_TRUE(repeats);

    // Chosen: the browser shows the page, the count is reset, the menu reloads.
    const std::string page = OECore::instance()->config()->app()->webSite() + "/moreen.html";
    auto browsed = [&]() -> std::string {
        auto navigation = std::dynamic_pointer_cast<UINavigationController>(topController(window->rootViewController()));
        auto browser =
            navigation ? std::dynamic_pointer_cast<MinibrowserViewController>(navigation->topViewController()) : nullptr;
        return browser && browser->url() ? browser->url()->absoluteString() : "";
    };
    moreRow("More Apps")->action()(menu());
    EXPECT_EQ(browsed(), page);
    EXPECT_EQ(checker->newApps(), 0);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey(NewAppsChecker::kStartKey), 15);
    EXPECT_EQ(moreRow("More Apps")->badge(), "");
    window->rootViewController()->dismissViewControllerAnimated(false, nullptr);
    ASSERT_EQ(browsed(), "");
    moreRow("More Apps")->action()(menu());
    EXPECT_EQ(browsed(), page) << "without a badge the row only opens the page";
    EXPECT_EQ(checker->newApps(), 0);
    window->rootViewController()->dismissViewControllerAnimated(false, nullptr);
    NSRunLoop::mainRunLoop()->runUntilIdle();

    // The next launch knows the fifteen: no badge.
    DemoLaunch::forgetProcess();
    launch();
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.5);  // runs what comes in meanwhile
    EXPECT_EQ(NewAppsChecker::sharedNewAppsChecker()->newApps(), 0);
    EXPECT_EQ(moreRow("More Apps")->badge(), "");
}

TEST_F(ServicesStart, EachLaunchAndReturnToTheForegroundCountsForTheRatingPrompt) {
    auto engine = start();
    auto rater = MRater::instance();
    EXPECT_EQ(rater->appID(), "1047320005");
    EXPECT_EQ(rater->launchesCount(), 1);
    EXPECT_EQ(rater->firstScreenTitle(), OECoreString("Do you like our app?"));
    ASSERT_EQ(rater->notRatedConditions().size(), 1u);
    EXPECT_EQ(rater->notRatedConditions()[0]->launchesUntilPrompt, 100);
    EXPECT_EQ(rater->userIgnoredConditions()[0], rater->notRatedConditions()[0]);
    EXPECT_EQ(rater->userNoEnjoyAndNotWriteToSupportConditions()[0], rater->notRatedConditions()[0]);
    EXPECT_EQ(rater->userEnjoyAppConditions().size(), 2u) << "the standard sets for the other states";
    engine->applicationWillEnterForeground(*UIApplication::sharedApplication());
    EXPECT_EQ(rater->launchesCount(), 2);
    DemoLaunch::forgetProcess();
    launch();
    EXPECT_EQ(MRater::instance()->launchesCount(), 3);
    EXPECT_FALSE(MRater::instance()->presented());
}

TEST_F(ServicesStart, TheSupportRowWritesToTheMakerAboutThisApplication) {
    start();
    auto row = moreRow("Support");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->imageName(), "support");
    auto top = [&] { return topController(window->rootViewController()); };
    row->action()(menu());
    auto composer = std::dynamic_pointer_cast<MFMailComposeViewController>(top());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->subject(), AppInfo::appInfoString());
    EXPECT_EQ(composer->toRecipients(), std::vector<std::string>{OEMakerContacts::supportEmail()});
    composer->finishWithResult(MFMailComposeResult::Sent);
    ASSERT_TRUE(waitFor([&] { return top() == window->rootViewController(); }));

    MFMailComposeViewController::setCanSendMail(false);
    row->action()(menu());
    auto alert = std::dynamic_pointer_cast<UIAlertController>(top());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), OECoreString("Cannot send email"));
    alert->tapActionAtIndex(0);
    ASSERT_TRUE(waitFor([&] { return top() == window->rootViewController(); }));
    // The alert's way out takes its time on the clock.
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 1.0);  // runs what comes in meanwhile
}

TEST_F(ServicesStart, TheDownloadQueueHoldsTheScreenAwakeThroughTheEngine) {
    auto engine = start();
    auto app = UIApplication::sharedApplication();
    auto queue = FileDownloader::sharedDownloader();
    EXPECT_FALSE(app->isIdleTimerDisabled());
    queue->addFile("bach/air.m4a");  // not on this server: it fails
    EXPECT_TRUE(app->isIdleTimerDisabled());
    EXPECT_TRUE(engine->idleManager()->isHeldBy(queue));
    ASSERT_TRUE(waitFor([&] { return queue->filesCount() == 0; }));
    EXPECT_TRUE(queue->didFileFail("bach/air.m4a"));
    EXPECT_FALSE(app->isIdleTimerDisabled()) << "released through the manager once nothing waits";
    EXPECT_FALSE(engine->idleManager()->isHeldBy(queue));

    // Another holder keeps the screen awake after the queue lets go.
    auto player = std::make_shared<NSObject>();
    engine->idleManager()->setIdleTimerDisabled(true, player);
    queue->addFile("bach/other.m4a");
    queue->cancelAll();
    EXPECT_TRUE(app->isIdleTimerDisabled());
    engine->idleManager()->setIdleTimerDisabled(false, player);
    EXPECT_FALSE(app->isIdleTimerDisabled());
}
