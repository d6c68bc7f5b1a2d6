// The rating prompt over the manual clock and simulated restarts: conditions as an OR of ANDs,
// days counted from the first launch, launches and events kept across restarts and started
// again by a new version, the prompt at the hundredth launch only when the network probe
// answers (without holding the main thread), and every answer: rated, "No, thanks" (later),
// wrote to support, declined to write, never again, and an unanswered banner.
#include "uikit/MRater.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/messageui/MFMailComposeViewController.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIWindow.h"
#include "demo/loopback/LoopbackServer.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>

namespace {

LoopbackServer::Response answer(int status, std::string body = "") {
    LoopbackServer::Response response;
    response.status = status;
    response.body = std::move(body);
    response.contentType = "text/plain";
    return response;
}

constexpr double kDay = 86400;
constexpr double kStart = 1'600'000'000;

const char* const kRaterKeys[] = {"kMRaterCurrentState", "kMRaterLaunchesCount", "kMRaterSignificanteventsCount",
                                  "kMRaterCurrentVerRated", "kMRaterCurrentTrackingVersion", "kMRaterRemindRequestDate",
                                  "kNotFirstRate", MRater::kProbeURLDefaultsKey};

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

class RaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(kStart);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        bundleFolder_ = Sandbox::tmp() + "/rater-bundle";
        writeVersion("3.2.0");
        mainBundle_.emplace(bundleFolder_);
        for (const char* key : kRaterKeys) defaults()->removeObjectForKey(key);
        ASSERT_TRUE(defaults()->synchronize());
        MRater::resetInstance();
        root = UIViewController::make();
        window = UIWindow::make();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        flags(kSCNetworkReachabilityFlagsReachable);
        server.serve("/", answer(200));
        ASSERT_TRUE(defaults()->setObject(Value(server.url("/")), MRater::kProbeURLDefaultsKey));
    }
    void TearDown() override {
        MRater::resetInstance();
        MFMailComposeViewController::setCanSendMail(true);
        SCNetworkReachability::setFlagsProvider(nullptr);
        Clock::advance(10);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        for (const char* key : kRaterKeys) defaults()->removeObjectForKey(key);
        window.reset();
        UIApplication::sharedApplication()->reset();
        mainBundle_.reset();
        Clock::setReal();
    }

    void writeVersion(const std::string& version) {
        std::filesystem::create_directories(bundleFolder_);
        Value::Dictionary info;
        info.set("CFBundleIdentifier", Value("com.example.rater"));
        info.set("CFBundleDisplayName", Value("Ostrel"));
        info.set("CFBundleShortVersionString", Value(version));
        info.set("CFBundleVersion", Value("7"));
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
            Value(info), bundleFolder_ + "/Info.plist", NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        NSBundle::resetCaches();
    }
    static void flags(std::optional<SCNetworkReachabilityFlags> given) {
        SCNetworkReachability::setFlagsProvider([given](const SCNetworkReachability&) { return given; });
    }
    // A new process: the rater and the defaults forgotten, the files kept.
    static void restart() {
        MRater::resetInstance();
        NSUserDefaults::resetStandardUserDefaults();
    }
    // The system's configuration (the engine's): 100 launches for states 0, 2 and 4.
    static std::shared_ptr<MRater> configured() {
        auto rater = MRater::instance();
        rater->setAppID("123");
        MRater::setDefaultConditions();
        auto hundred = MRaterCondition::withThresholds(-1, 100);
        rater->setNotRatedConditions({hundred});
        rater->setUserIgnoredConditions({hundred});
        rater->setUserNoEnjoyAndNotWriteToSupportConditions({hundred});
        return rater;
    }
    static void settle(double seconds = 0) {
        if (seconds > 0) Clock::advance(seconds);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // Waits (bounded, real time) for the probe and the prompt it may bring.
    bool bannerShows(const std::shared_ptr<MRater>& rater) {
        return NSRunLoop::mainRunLoop()->runUntil([&] { return rater->viewer()->isOnScreen(); }, 20);
    }
    // Waits until the probe has answered and nothing more is pending.
    void probeAnswered(std::size_t probes) {
        ASSERT_TRUE(server.waitForRequests("/", probes));
        (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    }
    static void tapLeft(const std::shared_ptr<MRater>& rater) {
        rater->viewer()->currentView()->leftButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
        settle(1);
    }
    static void tapRight(const std::shared_ptr<MRater>& rater) {
        rater->viewer()->currentView()->rightButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
        settle(1);
    }
    // Counts `n` launches that may prompt.
    static void launch(int n) {
        for (int i = 0; i < n; ++i) MRater::appLaunched(true);
    }

    std::string bundleFolder_;
    std::optional<ScopedMainBundle> mainBundle_;
    LoopbackServer server;
    std::shared_ptr<UIViewController> root;
    std::shared_ptr<UIWindow> window;
};

}  // namespace

TEST(RaterConditionTest, AConditionNeedsAllItsThresholdsAndASetNeedsOneCondition) {
    auto condition = MRaterCondition::withThresholds(3, 5, 10);
    EXPECT_FALSE(condition->checkWithTimeSinceFirstLaunch(3 * kDay - 1, 10, 5));
    EXPECT_FALSE(condition->checkWithTimeSinceFirstLaunch(3 * kDay, 10, 4));
    EXPECT_FALSE(condition->checkWithTimeSinceFirstLaunch(3 * kDay, 9, 5));
    EXPECT_TRUE(condition->checkWithTimeSinceFirstLaunch(3 * kDay, 10, 5));
    auto none = MRaterCondition::make();
    EXPECT_TRUE(none->checkWithTimeSinceFirstLaunch(0, 0, 0)) << "-1 asks for nothing";
    EXPECT_FALSE(none->onlyNotRatedVersion);
}

TEST_F(RaterTest, DaysCountFromTheFirstLaunchNotFrom1970) {
    auto rater = MRater::instance();
    EXPECT_EQ(rater->trackingVersion(), "3.2.0");
    EXPECT_EQ(rater->timeSinceReminderRequest(), 0);
    rater->setNotRatedConditions({MRaterCondition::withThresholds(3, -1)});
    EXPECT_FALSE(rater->conditionsHaveBeenMet());
    Clock::advance(3 * kDay - 60);
    restart();
    rater = MRater::instance();
    rater->setNotRatedConditions({MRaterCondition::withThresholds(3, -1)});
    EXPECT_FALSE(rater->conditionsHaveBeenMet()) << "a restart does not start tracking again";
    Clock::advance(60);
    EXPECT_TRUE(rater->conditionsHaveBeenMet());
}

TEST_F(RaterTest, LaunchesAndEventsAreKeptAcrossRestartsUntilANewVersionStartsAgain) {
    for (int i = 0; i < 3; ++i) {
        MRater::appLaunched(false);
        MRater::userDidSignificantEvent(false);
        restart();
    }
    auto rater = MRater::instance();
    EXPECT_EQ(rater->launchesCount(), 3);
    EXPECT_EQ(rater->sigEventsCount(), 3);
    rater->setCurrentVersionRated(true);
    Clock::advance(10 * kDay);
    EXPECT_EQ(rater->timeSinceReminderRequest(), 10 * kDay);

    writeVersion("3.3.0");
    restart();
    MRater::appLaunched(false);
    rater = MRater::instance();
    EXPECT_EQ(rater->trackingVersion(), "3.3.0");
    EXPECT_EQ(rater->launchesCount(), 1);
    EXPECT_EQ(rater->sigEventsCount(), 0);
    EXPECT_FALSE(rater->currentVersionRated());
    EXPECT_EQ(rater->timeSinceReminderRequest(), 0);
    writeVersion("3.4.0");
    MRater::userDidSignificantEvent(false);
    EXPECT_EQ(rater->sigEventsCount(), 1);
    EXPECT_EQ(rater->launchesCount(), 0);
}

TEST_F(RaterTest, TheBannerComesAtTheHundredthLaunchOnceTheProbeAnswersWithoutHoldingTheMainThread) {
    auto rater = configured();
    launch(99);
    settle(1);
    EXPECT_TRUE(server.requestsFor("/").empty()) << "no probe before the conditions are met";
    EXPECT_FALSE(rater->presented());

    // The server holds its answer until the test lets it go.
    auto gate = std::make_shared<std::promise<void>>();
    std::shared_future<void> open = gate->get_future().share();
    server.handle("/", [open](const LoopbackServer::Request&) {
        open.wait_for(std::chrono::seconds(20));
        return answer(200);
    });
    MRater::appLaunched(true);
    // The call has returned while the server still holds the answer.
    ASSERT_TRUE(server.waitForRequests("/", 1));
    EXPECT_TRUE(rater->presented()) << "a prompt is on its way";
    EXPECT_FALSE(rater->viewer()->isOnScreen());
    MRater::appLaunched(true);  // a count while the probe runs does not probe again
    gate->set_value();
    ASSERT_TRUE(bannerShows(rater));
    ASSERT_EQ(server.requestsFor("/").size(), 1u);
    EXPECT_EQ(server.requestsFor("/")[0].method, "HEAD");
    EXPECT_EQ(rater->currentState(), MRater::UserIgnored) << "a banner left unanswered counts as ignored";
    EXPECT_EQ(rater->viewer()->presentingController(), root);
    EXPECT_EQ(rater->launchesCount(), 101);
}

TEST_F(RaterTest, WithoutAnAnsweringNetworkThereIsNoPromptAndTheNextCountTriesAgain) {
    auto rater = configured();
    launch(99);
    server.serve("/", answer(503, "busy"));
    MRater::appLaunched(true);
    probeAnswered(1);
    EXPECT_FALSE(rater->viewer()->isOnScreen());
    EXPECT_FALSE(rater->presented());
    EXPECT_EQ(rater->currentState(), MRater::NotRated);

    // Reachable flags that need a connection first: the probe's answer is not enough.
    server.serve("/", answer(200));
    flags(kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsConnectionRequired);
    MRater::appLaunched(true);
    probeAnswered(2);
    EXPECT_FALSE(rater->viewer()->isOnScreen());
    // Unreadable flags: no request at all.
    flags(std::nullopt);
    MRater::appLaunched(true);
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    EXPECT_EQ(server.requestsFor("/").size(), 2u);
    EXPECT_FALSE(rater->presented());

    // A transient connection counts as connected.
    flags(kSCNetworkReachabilityFlagsTransientConnection);
    MRater::appLaunched(true);
    ASSERT_TRUE(bannerShows(rater));
}

TEST_F(RaterTest, RatingOpensTheStorePageAndOnlyTheNinetyDayConditionRemainsForTheRatedVersion) {
    auto rater = configured();
    launch(100);
    ASSERT_TRUE(bannerShows(rater));
    settle(2);
    tapLeft(rater);  // Yes
    EXPECT_EQ(rater->viewer()->currentView()->title(), MRaterViewer::localized("Please rate us!"));
    tapLeft(rater);  // OK
    EXPECT_EQ(rater->currentState(), MRater::UserEnjoyApp);
    EXPECT_TRUE(rater->currentVersionRated());
    EXPECT_FALSE(rater->presented());
    EXPECT_EQ(rater->launchesCount(), 0);
    const auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].url, "itms-apps://store.invalid/app/id123?action=write-review");
    settle(1);
    EXPECT_FALSE(rater->viewer()->isOnScreen());

    // A later process: 30 days are not enough for the rated version, 90 are.
    restart();
    rater = configured();
    Clock::advance(31 * kDay);
    launch(1);
    probeAnswered(0);
    EXPECT_FALSE(rater->presented());
    Clock::advance(59 * kDay);
    launch(1);
    ASSERT_TRUE(bannerShows(rater));
}

TEST_F(RaterTest, NoThanksIsAskedAgainLaterAndAnUnansweredBannerAgainInTheNextProcess) {
    auto rater = configured();
    launch(100);
    ASSERT_TRUE(bannerShows(rater));
    settle(2);
    tapLeft(rater);   // Yes
    tapRight(rater);  // No, thanks
    EXPECT_EQ(rater->currentState(), MRater::UserIgnored);
    EXPECT_FALSE(rater->presented());
    EXPECT_EQ(rater->launchesCount(), 0);
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
    launch(99);
    settle(1);
    EXPECT_FALSE(rater->viewer()->isOnScreen());
    launch(1);
    ASSERT_TRUE(bannerShows(rater));

    // Left unanswered; the next process asks at its first count.
    restart();
    rater = configured();
    EXPECT_EQ(rater->currentState(), MRater::UserIgnored);
    launch(1);
    ASSERT_TRUE(bannerShows(rater));
}

TEST_F(RaterTest, NotEnjoyingLeadsToTheSupportMailOrToTheAlertWhenMailCannotBeSent) {
    auto rater = configured();
    launch(100);
    ASSERT_TRUE(bannerShows(rater));
    settle(2);
    tapRight(rater);  // No
    EXPECT_EQ(rater->viewer()->currentView()->title(), MRaterViewer::localized("Please tell us what you don't like in the app?"));

    MFMailComposeViewController::setCanSendMail(false);
    tapLeft(rater);  // OK without a mail account
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), NSBundle::mainBundle()->localizedStringForKey("Mail not configured", "", ""));
    EXPECT_TRUE(rater->viewer()->isOnScreen()) << "the banner stays";
    EXPECT_TRUE(rater->presented());
    EXPECT_EQ(rater->currentState(), MRater::UserIgnored);
    alert->tapActionAtIndex(0);
    settle(1);

    MFMailComposeViewController::setCanSendMail(true);
    tapLeft(rater);  // OK with a mail account
    auto composer = std::dynamic_pointer_cast<MFMailComposeViewController>(root->presentedViewController());
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->subject(), "Support Ostrel (version 3.2.0 (7), " + UIDevice::currentDevice()->localizedModel() +
                                       " " + UIDevice::currentDevice()->systemVersion() + ")");
    EXPECT_EQ(composer->toRecipients().size(), 1u);
    EXPECT_EQ(rater->currentState(), MRater::UserNoEnjoyAndWriteToSupport);
    composer->finishWithResult(MFMailComposeResult::Failed, NSError::errorWithDomain("Mail", 3, {{"NSLocalizedDescription", Value("Outbox full")}}));
    settle(1);
    alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert) << "a failed mail is told";
    EXPECT_EQ(alert->message(), "Outbox full");
    alert->tapActionAtIndex(0);
    settle(1);

    // Declining to write: state 4, which asks again after 100 launches.
    restart();
    rater = configured();
    EXPECT_EQ(rater->currentState(), MRater::UserNoEnjoyAndWriteToSupport);
    rater->updateStateWithState(MRater::UserIgnored);
    rater->setLaunchesCount(99);
    launch(1);
    ASSERT_TRUE(bannerShows(rater));
    settle(2);
    tapRight(rater);  // No
    tapRight(rater);  // No, thanks
    EXPECT_EQ(rater->currentState(), MRater::UserNoEnjoyAndNotWriteToSupport);
}

TEST_F(RaterTest, NeverAgainIsKeptForGoodUnlessDebugging) {
    auto rater = configured();
    rater->setForceOldStyle(true);
    rater->shouldShowDoNotShowAgainButton = [] { return true; };
    launch(100);
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return root->presentedViewController() != nullptr; }, 20));
    auto alert = std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController());
    ASSERT_TRUE(alert);
    ASSERT_EQ(alert->actions().size(), 3u);
    EXPECT_EQ(alert->actions()[0]->title(), MRaterViewer::localized("No, thanks"));
    EXPECT_EQ(alert->actions()[1]->title(), MRaterViewer::localized("Write review"));
    EXPECT_EQ(alert->actions()[2]->title(), MRaterViewer::localized("DoNotShowAgain"));
    alert->tapActionAtIndex(2);
    settle(1);
    EXPECT_EQ(rater->currentState(), MRater::NeverAsk);

    restart();
    rater = configured();
    rater->setForceOldStyle(true);
    launch(150);
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(server.requestsFor("/").size(), 1u) << "state 5 does not even probe";

    rater->setDebug(true);
    launch(1);
    settle(1);
    EXPECT_TRUE(std::dynamic_pointer_cast<UIAlertController>(root->presentedViewController())) << "debug asks anyway";
    EXPECT_EQ(server.requestsFor("/").size(), 1u) << "without the probe";
}
