// The application: launch by class name, the life cycle with its delegate calls and
// notifications in order, the shutdown at the end of the process, background tasks and their expiry, the idle timer from threads,
// URL opening, remote-control events, rotation, device and screen profiles, the keyboard.
#include "demo/loopback/LoopbackServer.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserActivity.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/fixtures/net/HeldNameLookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

namespace {

std::vector<std::string> calls;

class Delegate : public UIResponder, public UIApplicationDelegate {
public:
    std::vector<UIEventSubtype> remote;
    bool applicationDidFinishLaunchingWithOptions(UIApplication& app, const Value::Dictionary&) override {
        calls.push_back("launch");
        EXPECT_EQ(app.applicationState(), UIApplicationState::Inactive);
        return true;
    }
    void applicationWillResignActive(UIApplication&) override { calls.push_back("resign"); }
    void applicationDidEnterBackground(UIApplication&) override { calls.push_back("background"); }
    void applicationWillEnterForeground(UIApplication&) override { calls.push_back("foreground"); }
    void applicationDidBecomeActive(UIApplication&) override { calls.push_back("active"); }
    void applicationWillTerminate(UIApplication&) override { calls.push_back("terminate"); }
    void remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& e) override { remote.push_back(e->subtype()); }
};

class Rotating : public UIViewController {
public:
    void viewWillTransitionToSize(CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& c) override {
        UIViewController::viewWillTransitionToSize(size, c);
        calls.push_back("size " + std::to_string(int(size.width)) + "x" + std::to_string(int(size.height)));
    }
    void willRotateToInterfaceOrientation(UIInterfaceOrientation, double) override { calls.push_back("willRotate"); }
    void didRotateFromInterfaceOrientation(UIInterfaceOrientation from) override {
        calls.push_back("didRotate from " + std::to_string(int(from)));
    }
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(100);
        app = UIApplication::sharedApplication();
        app->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        calls.clear();
        observer = std::make_shared<NSObject>();
        for (const auto& name : {UIApplicationDidFinishLaunchingNotification, UIApplicationWillResignActiveNotification,
                                 UIApplicationDidEnterBackgroundNotification, UIApplicationWillEnterForegroundNotification,
                                 UIApplicationDidBecomeActiveNotification, UIApplicationWillTerminateNotification})
            NSNotificationCenter::defaultCenter()->addObserver(
                observer, [](const NSNotification& n) { calls.push_back(n.name()); }, name);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer);
        NSRunLoop::mainRunLoop()->runUntilIdle();
        app->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        Clock::setReal();
    }
    std::shared_ptr<UIApplication> app;
    std::shared_ptr<NSObject> observer;
};

}  // namespace

TEST_F(ApplicationTest, LaunchesTheRegisteredDelegateAndRunsTheLifeCycleInOrder) {
    EXPECT_FALSE(app->launch("NoSuchDelegate"));
    ClassRegistry::registerClass("TestAppDelegate", [] { return std::make_shared<Delegate>(); });
    ASSERT_TRUE(app->launch("TestAppDelegate"));
    EXPECT_TRUE(std::dynamic_pointer_cast<Delegate>(app->delegateObject()));
    EXPECT_EQ(app->applicationState(), UIApplicationState::Active);
    EXPECT_TRUE(app->enterBackground());
    EXPECT_FALSE(app->enterBackground());
    EXPECT_EQ(app->applicationState(), UIApplicationState::Background);
    EXPECT_TRUE(app->enterForeground());
    app->terminate();
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "launch", UIApplicationDidFinishLaunchingNotification, "active",
                         UIApplicationDidBecomeActiveNotification, "resign", UIApplicationWillResignActiveNotification,
                         "background", UIApplicationDidEnterBackgroundNotification, "foreground",
                         UIApplicationWillEnterForegroundNotification, "active", UIApplicationDidBecomeActiveNotification,
                         "terminate", UIApplicationWillTerminateNotification}));
    ClassRegistry::unregisterClass("TestAppDelegate");
}

// Opens every link it is handed; its launch succeeds as `launches` says.
class Linked : public Delegate {
public:
    explicit Linked(bool launches) : launches_(launches) {}
    bool applicationDidFinishLaunchingWithOptions(UIApplication& app, const Value::Dictionary& options) override {
        Delegate::applicationDidFinishLaunchingWithOptions(app, options);
        return launches_;
    }
    bool respondsToApplicationOpenURLOptions() const override { return true; }
    bool applicationOpenURLOptions(UIApplication&, const std::string& url, const Value::Dictionary&) override {
        calls.push_back("open " + url);
        return true;
    }

private:
    bool launches_;
};

TEST_F(ApplicationTest, ALaunchByALinkOpensTheLinkBeforeTheApplicationBecomesActive) {
    const Value::Dictionary options{{UIApplicationLaunchOptionsURLKey, Value("gallery://paintings?utm_source=mail")}};
    ASSERT_TRUE(app->launchWithDelegate(std::make_shared<Linked>(true), options));
    EXPECT_EQ(calls, (std::vector<std::string>{"launch", UIApplicationDidFinishLaunchingNotification,
                                               "open gallery://paintings?utm_source=mail", "active",
                                               UIApplicationDidBecomeActiveNotification}));

    // A launch the delegate refused opens nothing; one without a link neither.
    app->reset();
    calls.clear();
    ASSERT_TRUE(app->launchWithDelegate(std::make_shared<Linked>(false), options));
    app->reset();
    ASSERT_TRUE(app->launchWithDelegate(std::make_shared<Linked>(true)));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "launch"), 2);
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("open ", 0) == 0; }), 0);
}

// The end of the process: input stops and the delegate and observers hear of it while the
// network still runs; then work apart is cancelled and the network ends its transfers, and both
// the work apart and what the transfers' ends hand on have run by the time shutDown returns; the
// defaults are on disk.
TEST_F(ApplicationTest, ShutDownTerminatesThenEndsTheNetworkAndRunsWhatItsTransfersHandOn) {
    LoopbackServer server;
    LoopbackServer::Response hanging;
    hanging.body = "never all of it";
    LoopbackServer::Fault stall;
    stall.stallAfter = 0;
    hanging.fault = stall;
    server.serve("/hang", hanging);
    ClassRegistry::registerClass("TestAppDelegate", [] { return std::make_shared<Delegate>(); });
    ASSERT_TRUE(app->launch("TestAppDelegate"));
    app->beginReceivingRemoteControlEvents();
    auto watcher = std::make_shared<NSObject>();
    NSNotificationCenter::defaultCenter()->addObserver(
        watcher, [](const NSNotification&) { calls.push_back(URLNetwork::isShutDown() ? "network down" : "network up"); },
        UIApplicationWillTerminateNotification);
    const std::string suiteName = "test.shutdown";
    auto defaults = NSUserDefaults::initWithSuiteName(suiteName);
    ASSERT_TRUE(defaults->setObject(Value("kept"), "key"));

    std::mutex mutex;
    std::vector<long> ended;
    auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(),
                                                          DispatchQueue::create("test.shutdown.handlers"));
    auto task = session->dataTaskWithURL(NSURL::URLWithString(server.url("/hang")),
                                         [&](const NSData&, const std::shared_ptr<NSHTTPURLResponse>&, const NSErrorPtr& error) {
                                             std::lock_guard lock(mutex);
                                             ended.push_back(error ? error->code() : 0);
                                         });
    task->resume();
    ASSERT_TRUE(server.waitForStalls(1, 20));
    // Work apart that would go on for as long as its cancellation lets it.
    auto cancellation = DispatchCancellation::make();
    std::promise<void> apartStarted;
    std::atomic<bool> apartStopped{false};
    DispatchQueue::createApart("test.shutdown.apart")->async(
        [&] {
            apartStarted.set_value();
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!cancellation->isCancelled() && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
            apartStopped = cancellation->isCancelled();
        },
        cancellation);
    ASSERT_EQ(apartStarted.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    calls.clear();

    app->shutDown();
    EXPECT_TRUE(apartStopped);
    EXPECT_EQ(calls, (std::vector<std::string>{"terminate", UIApplicationWillTerminateNotification, "network up"}));
    EXPECT_FALSE(app->isReceivingRemoteControlEvents());
    EXPECT_TRUE(URLNetwork::isShutDown());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(ended, (std::vector<long>{NSURLErrorCancelled}));
    }
    const Value written =
        NSPropertyListSerialization::propertyListWithContentsOfFile(Sandbox::preferences() + "/" + suiteName + ".plist");
    EXPECT_EQ(written.dictionary().get("key"), Value("kept"));

    // Once per process; nothing ran on past it, so main may return.
    app->shutDown();
    EXPECT_EQ(calls.size(), 3u);
    app->endIfStillRunning(3);

    defaults->removePersistentDomainForName(suiteName);
    NSNotificationCenter::defaultCenter()->removeObserver(watcher);
    URLNetwork::restart();
    ClassRegistry::unregisterClass("TestAppDelegate");
}

namespace {

// Work queued by a class of its own that does not end before the process does.
struct EndlessWork {
    static void start() {
        DispatchQueue::create("test.endless")->async([] {
            static std::mutex mutex;
            static std::condition_variable never;
            std::unique_lock lock(mutex);
            never.wait_for(lock, std::chrono::minutes(2));
        });
    }
};

}  // namespace

// Runs only in the child started below: an observer of the termination takes two seconds (as
// the measurement engine may), queued work never ends and a transfer waits for the system's
// resolver, which never answers.
TEST_F(ApplicationTest, DISABLED_ShutDownCutShortChild) {
    ClassRegistry::registerClass("TestAppDelegate", [] { return std::make_shared<Delegate>(); });
    ASSERT_TRUE(app->launch("TestAppDelegate"));
    NSNotificationCenter::defaultCenter()->addObserver(
        observer, [](const NSNotification&) { (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 2); },
        UIApplicationWillTerminateNotification);
    EndlessWork::start();
    HeldNameLookup lookup;
    auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(),
                                                          DispatchQueue::create("test.lookup"));
    session->dataTaskWithURL(NSURL::URLWithString("http://" + lookup.name() + "/"), [](auto&&...) {})->resume();
    ASSERT_TRUE(lookup.waitForLookups(1));
    std::atexit([] { std::printf("the exit handlers ran\n"); });

    const auto start = std::chrono::steady_clock::now();
    app->shutDown();
    std::printf("shut down in %.3f s, %d lookup held\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), lookup.held());
    app->endIfStillRunning(3);
    std::printf("the process went on\n");
}

// Whatever the work, a transfer or a lookup does, the shutdown ends within its bound, counted
// from its start; what it left running ends with the process, which runs no exit handler then.
TEST_F(ApplicationTest, AShutDownCutShortByItsBoundEndsTheProcessAtOnceWithoutItsExitHandlers) {
    const ProcessRun child = runDisabledTestsInChild("ApplicationTest.DISABLED_ShutDownCutShortChild");
    EXPECT_EQ(child.status, 3) << child.output;
    double took = 0;
    int held = 0;
    const auto line = child.output.find("shut down in ");
    ASSERT_NE(line, std::string::npos) << child.output;
    ASSERT_EQ(std::sscanf(child.output.c_str() + line, "shut down in %lf s, %d lookup held", &took, &held), 2);
    EXPECT_LT(took, 5) << "the shutdown outlasted the quit's five seconds";
    EXPECT_EQ(held, 1) << "the shutdown waited for the lookup";
    EXPECT_NE(child.output.find("Work queued by the application was still running"), std::string::npos) << child.output;
    EXPECT_NE(child.output.find("A name lookup was still under way"), std::string::npos) << child.output;
    // The last line names what it cuts short: the block by its queue and by who queued it.
    const auto ends = child.output.find("The process ends at once, without its exit handlers, cutting short ");
    ASSERT_NE(ends, std::string::npos) << child.output;
    const std::string said = child.output.substr(ends, child.output.find('\n', ends) - ends);
    EXPECT_NE(said.find("a block of EndlessWork on queue \"test.endless\""), std::string::npos) << said;
    EXPECT_NE(said.find(" and a name lookup."), std::string::npos) << said;
    EXPECT_EQ(child.output.find("the exit handlers ran"), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("the process went on"), std::string::npos) << child.output;
}

TEST_F(ApplicationTest, BackgroundTasksGetDistinctIdsAndExpiryRunsEachHandlerOnce) {
    int expired = 0;
    UIBackgroundTaskIdentifier first = UIBackgroundTaskInvalid;
    first = app->beginBackgroundTaskWithName("player", [&] {
        ++expired;
        app->endBackgroundTask(first);
    });
    const auto second = app->beginBackgroundTaskWithExpirationHandler([&] { ++expired; });  // never ends itself
    EXPECT_GT(first, UIBackgroundTaskInvalid);
    EXPECT_NE(first, second);
    EXPECT_EQ(app->backgroundTaskName(first), "player");
    app->expireBackgroundTasks();
    EXPECT_EQ(expired, 2);
    EXPECT_EQ(app->openBackgroundTasks(), std::vector<UIBackgroundTaskIdentifier>{second});
    app->expireBackgroundTasks();
    EXPECT_EQ(expired, 2);
    app->endBackgroundTask(second);
    app->endBackgroundTask(UIBackgroundTaskInvalid);
    EXPECT_TRUE(app->openBackgroundTasks().empty());
}

TEST_F(ApplicationTest, IdleTimerIsSafeFromManyThreadsAndEveryChangeIsObserved) {
    std::atomic<int> told{0};
    app->addIdleTimerObserver([&](bool) { ++told; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) app->setIdleTimerDisabled((i + t) % 2 == 0);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(told.load(), 1600);
    EXPECT_EQ(app->idleTimerDisabledLog().size(), 1600u);
    app->setIdleTimerDisabled(false);
    EXPECT_FALSE(app->isIdleTimerDisabled());
    EXPECT_FALSE(app->idleTimerDisabledLog().back());
}

TEST_F(ApplicationTest, OpenURLIsRecordedWithThePolicysAnswerAndCompletesLater) {
    app->setOpenURLPolicy([](const std::string& url) { return url.rfind("itms-apps:", 0) == 0; });
    EXPECT_TRUE(app->canOpenURL("itms-apps://itunes.apple.com/app/id42?action=write-review"));
    EXPECT_FALSE(app->canOpenURL("mailto:x@y"));
    int answers = 0;
    bool opened = true;
    app->openURL("mailto:x@y", {}, [&](bool ok) {
        ++answers;
        opened = ok;
    });
    EXPECT_EQ(answers, 0);  // never inside the call
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(opened);
    ASSERT_EQ(app->openedURLs().size(), 1u);
    EXPECT_EQ(app->openedURLs()[0].url, "mailto:x@y");
}

TEST_F(ApplicationTest, RemoteControlEventsReachTheResponderChainOnlyWhileReceiving) {
    auto delegate = std::make_shared<Delegate>();
    app->setDelegate(delegate);
    EXPECT_FALSE(app->sendRemoteControlEvent(UIEventSubtype::RemoteControlPlay));
    app->beginReceivingRemoteControlEvents();
    EXPECT_TRUE(app->sendRemoteControlEvent(UIEventSubtype::RemoteControlNextTrack));
    EXPECT_TRUE(app->sendRemoteControlEvent(static_cast<UIEventSubtype>(105)));
    EXPECT_EQ(delegate->remote, (std::vector<UIEventSubtype>{UIEventSubtype::RemoteControlNextTrack,
                                                             UIEventSubtype::RemoteControlPreviousTrack}));
}

TEST_F(ApplicationTest, RotationTurnsScreenWindowAndDeviceAndTellsTheRoot) {
    auto device = UIDevice::currentDevice();
    device->beginGeneratingDeviceOrientationNotifications();
    int orientationNotes = 0;
    NSNotificationCenter::defaultCenter()->addObserver(observer, [&](const NSNotification&) { ++orientationNotes; },
                                                       UIDeviceOrientationDidChangeNotification);
    auto root = std::make_shared<Rotating>();
    auto window = UIWindow::make();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    calls.clear();
    app->rotateTo(UIInterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(window->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(root->view()->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(device->orientation(), UIDeviceOrientation::LandscapeRight);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(orientationNotes, 1);
    EXPECT_EQ(calls, (std::vector<std::string>{"size 667x375", "willRotate", "didRotate from 1"}));
    device->endGeneratingDeviceOrientationNotifications();
    app->rotateTo(UIInterfaceOrientation::Portrait);
    EXPECT_EQ(orientationNotes, 1);
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 375, 667));
}

TEST_F(ApplicationTest, DeviceProfilesAndTheIdiomThatCannotBeReported) {
    auto device = UIDevice::currentDevice();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(device->userInterfaceIdiom(), UIUserInterfaceIdiom::Pad);
    EXPECT_EQ(device->model(), "iPad");
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 768, 1024));
    EXPECT_EQ(UIScreen::mainScreen()->scale(), 2.0);
    device->setCanReportUserInterfaceIdiom(false);
    EXPECT_FALSE(device->canReportUserInterfaceIdiom());
    EXPECT_EQ(device->userInterfaceIdiom(), UIUserInterfaceIdiom::Unspecified);
    EXPECT_EQ(std::make_shared<UIViewController>()->supportedInterfaceOrientations(),
              UIInterfaceOrientationMaskAllButUpsideDown);
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    EXPECT_EQ(device->model(), "iPhone");
    EXPECT_EQ(device->systemVersion(), "15.0");
    device->setSystemVersion("13.7");
    EXPECT_EQ(device->systemVersion(), "13.7");
    device->setSystemVersion("");
    auto external = UIScreen::make({1920, 1080}, 1);
    int connected = 0;
    NSNotificationCenter::defaultCenter()->addObserver(observer, [&](const NSNotification& n) {
        if (n.object() == external) ++connected;
    }, UIScreenDidConnectNotification);
    UIScreen::connectScreen(external);
    UIScreen::connectScreen(external);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(UIScreen::screens().size(), 2u);
    UIScreen::disconnectScreen(external);
    EXPECT_EQ(UIScreen::screens().size(), 1u);
}

TEST_F(ApplicationTest, KeyboardShowsForTextFieldsWithItsEndFrameAndHidesWhenTheyResign) {
    auto window = UIWindow::make();
    window->makeKeyAndVisible();
    auto field = UITextField::initWithFrame(CGRectMake(10, 100, 200, 30));
    window->addSubview(field);
    std::vector<std::string> names;
    std::vector<CGRect> ends;
    std::vector<double> durations;
    for (const auto& name : {UIKeyboardWillShowNotification, UIKeyboardWillHideNotification})
        NSNotificationCenter::defaultCenter()->addObserver(observer, [&](const NSNotification& n) {
            names.push_back(n.name());
            ends.push_back(UIKeyboard::rectFromUserInfo(n.userInfo(), UIKeyboardFrameEndUserInfoKey));
            durations.push_back(n.userInfo()[UIKeyboardAnimationDurationUserInfoKey].doubleValue());
        }, name);
    ASSERT_TRUE(field->becomeFirstResponder());
    EXPECT_TRUE(UIKeyboard::isVisible());
    ASSERT_TRUE(field->resignFirstResponder());
    EXPECT_FALSE(UIKeyboard::isVisible());
    EXPECT_EQ(names, (std::vector<std::string>{UIKeyboardWillShowNotification, UIKeyboardWillHideNotification}));
    EXPECT_EQ(ends[0], CGRectMake(0, 451, 375, 216));
    EXPECT_EQ(ends[1], CGRectMake(0, 667, 375, 216));
    EXPECT_EQ(durations[0], 0.25);
}

namespace {

// Records what the system hands it; answers the URL calls with `answer`.
class Handed : public NSObject, public UIApplicationDelegate {
public:
    explicit Handed(bool answer, std::string name) : answer_(answer), name_(std::move(name)) {}
    bool respondsToApplicationOpenURLOptions() const override { return true; }
    bool applicationOpenURLOptions(UIApplication&, const std::string& url, const Value::Dictionary&) override {
        calls.push_back(name_ + " open " + url);
        return answer_;
    }
    bool respondsToApplicationOpenURLSourceApplication() const override { return true; }
    bool applicationOpenURLSourceApplication(UIApplication&, const std::string& url, const std::string& source,
                                             const Value&) override {
        calls.push_back(name_ + " open " + url + " from " + source);
        return answer_;
    }
    bool respondsToApplicationContinueUserActivity() const override { return true; }
    bool applicationContinueUserActivity(UIApplication&, const std::shared_ptr<NSUserActivity>& activity,
                                         std::function<void(const Value::Array&)>) override {
        calls.push_back(name_ + " continue " + activity->webpageURL().value_or(""));
        return answer_;
    }
    bool respondsToApplicationHandleEventsForBackgroundURLSession() const override { return true; }
    void applicationHandleEventsForBackgroundURLSession(UIApplication&, const std::string& identifier,
                                                        std::function<void()>) override {
        calls.push_back(name_ + " session " + identifier);
    }

private:
    bool answer_;
    std::string name_;
};

}  // namespace

TEST_F(ApplicationTest, WhatTheSystemHandsTheApplicationReachesTheProxysInterceptorsFirst) {
    auto delegate = std::make_shared<Handed>(true, "delegate");
    auto interceptor = std::make_shared<Handed>(false, "interceptor");
    app->setDelegate(delegate);
    // Before the proxy is installed the interceptor hears nothing.
    app->addDelegateInterceptor(interceptor);
    EXPECT_TRUE(app->openURLInApplication("gallery://a", Value::Dictionary{}));
    EXPECT_EQ(calls, (std::vector<std::string>{"delegate open gallery://a"}));
    calls.clear();

    app->installDelegateProxy();
    app->addDelegateInterceptor(interceptor);  // once only
    EXPECT_TRUE(app->openURLInApplication("gallery://b", Value::Dictionary{}));
    EXPECT_TRUE(app->openURLInApplication("gallery://c", "com.example.mail", Value()));
    auto activity = NSUserActivity::initWithActivityType(NSUserActivityTypeBrowsingWeb);
    activity->setWebpageURL("https://example.com/p");
    EXPECT_TRUE(app->continueUserActivity(activity));
    app->handleEventsForBackgroundURLSession("session-1", [] {});
    EXPECT_EQ(calls, (std::vector<std::string>{"interceptor open gallery://b", "delegate open gallery://b",
                                               "interceptor open gallery://c from com.example.mail",
                                               "delegate open gallery://c from com.example.mail",
                                               "interceptor continue https://example.com/p",
                                               "delegate continue https://example.com/p", "interceptor session session-1",
                                               "delegate session session-1"}));

    // A delegate without the call answers NO; the interceptor still hears it.
    calls.clear();
    app->setDelegate(std::make_shared<Delegate>());
    EXPECT_FALSE(app->openURLInApplication("gallery://d", Value::Dictionary{}));
    EXPECT_EQ(calls, (std::vector<std::string>{"interceptor open gallery://d"}));
    app->reset();
    EXPECT_FALSE(app->isDelegateProxyInstalled());
    EXPECT_TRUE(app->delegateInterceptors().empty());
}
