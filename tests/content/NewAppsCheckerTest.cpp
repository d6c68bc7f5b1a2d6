// The new-applications check against the content server on 127.0.0.1: three new ones found
// over the start count of 12 and announced on the main thread, the reset, the stored start
// count winning over the configured one in a later launch, counts that change nothing (equal,
// unreachable, not a list), and the check repeated through its reminder.
#include "content/NewAppsChecker.h"

#include "demo/server/ContentServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "demo/loopback/LoopbackServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

class NewAppsTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearCounts();
        const std::string folder = Sandbox::tmp() + "/apps-server";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/fixtures.json") << R"({"applicationsCount": 15})";
        std::string error;
        server = ContentServer::start({folder, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
        listURL = server->host() + "/newappstest.plist";
        observer = std::make_shared<NSObject>();
        for (const char* name : {NewAppsChecker::kFoundMessage, NewAppsChecker::kResetMessage})
            NSNotificationCenter::defaultCenter()->addObserver(
                observer,
                [this](const NSNotification& note) {
                    heard.push_back(note.name());
                    onMain = onMain && NSThread::isMainThread();
                },
                name);
    }
    void TearDown() override {
        NSNotificationCenter::defaultCenter()->removeObserver(observer);
        NewAppsChecker::resetSharedNewAppsChecker();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        clearCounts();
    }
    static void clearCounts() {
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->removeObjectForKey(NewAppsChecker::kStartKey);
        defaults->removeObjectForKey(NewAppsChecker::kCountKey);
    }
    static long stored(const char* key) { return NSUserDefaults::standardUserDefaults()->integerForKey(key); }
    std::size_t listRequests() const {
        std::size_t n = 0;
        for (const auto& r : server->requests()) n += r.path == "/newappstest.plist";
        return n;
    }
    // Waits for `n` requests of the list and then for what they hand to the main queue.
    void answered(std::size_t n) {
        ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return listRequests() >= n; }, 20));
        (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    }
    static void restart() {
        NewAppsChecker::resetSharedNewAppsChecker();
        NSUserDefaults::resetStandardUserDefaults();
    }

    std::unique_ptr<ContentServer> server;
    std::string listURL;
    std::shared_ptr<NSObject> observer;
    std::vector<std::string> heard;
    bool onMain = true;
};

}  // namespace

TEST_F(NewAppsTest, AFirstLaunchFindsThreeOverTwelveAndTheResetTakesTheBadgeAway) {
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    checker->appStartedWithAppsUrl(listURL, 12);
    EXPECT_EQ(checker->startCount(), 12);
    EXPECT_EQ(checker->newApps(), 0) << "before the answer";
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return checker->newApps() == 3; }, 20));
    EXPECT_EQ(checker->appsCount(), 15);
    EXPECT_EQ(stored(NewAppsChecker::kCountKey), 15);
    EXPECT_EQ(heard, std::vector<std::string>{NewAppsChecker::kFoundMessage});
    EXPECT_TRUE(onMain);

    checker->resetApps();
    EXPECT_EQ(checker->newApps(), 0);
    EXPECT_EQ(stored(NewAppsChecker::kStartKey), 15);
    EXPECT_EQ(heard, (std::vector<std::string>{NewAppsChecker::kFoundMessage, NewAppsChecker::kFoundMessage,
                                               NewAppsChecker::kResetMessage}));

    // A later launch: the stored start count wins over the configured 12, and the same count
    // on the server is nothing new.
    restart();
    heard.clear();
    checker = NewAppsChecker::sharedNewAppsChecker();
    checker->appStartedWithAppsUrl(listURL, 12);
    EXPECT_EQ(checker->startCount(), 15);
    EXPECT_EQ(checker->appsCount(), 15);
    answered(2);
    EXPECT_TRUE(heard.empty());
    EXPECT_EQ(checker->newApps(), 0);
}

TEST_F(NewAppsTest, TheKnownCountOfAnEarlierLaunchShowsAtOnceAndAStartAboveTheStoredOnesWins) {
    NSUserDefaults::standardUserDefaults()->setInteger(13, NewAppsChecker::kStartKey);
    NSUserDefaults::standardUserDefaults()->setInteger(14, NewAppsChecker::kCountKey);
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    checker->appStartedWithAppsUrl("http://127.0.0.1:1/newappstest.plist", 12);
    EXPECT_EQ(checker->startCount(), 13);
    EXPECT_EQ(checker->newApps(), 1);
    restart();
    checker = NewAppsChecker::sharedNewAppsChecker();
    checker->appStartedWithAppsUrl("http://127.0.0.1:1/newappstest.plist", 20);
    EXPECT_EQ(checker->startCount(), 20);
    EXPECT_EQ(checker->appsCount(), 20);
    EXPECT_EQ(checker->newApps(), 0);
}

TEST_F(NewAppsTest, AnUnreachableServerOrAnythingButACountChangesNothing) {
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    checker->appStartedWithAppsUrl("http://127.0.0.1:1/newappstest.plist", 12);
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.5);  // runs what comes in meanwhile
    EXPECT_EQ(checker->appsCount(), 12);
    EXPECT_TRUE(heard.empty());

    std::string body;
    int status = 200;
    LoopbackServer loopback;
    loopback.handle("/list", [&](const LoopbackServer::Request&) {
        LoopbackServer::Response response;
        response.status = status;
        response.body = body;
        return response;
    });
    const NSData plist40 = NSPropertyListSerialization::dataWithPropertyList(
        Value(Value::Dictionary{{"count", Value(40)}}), NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0);
    struct Case {
        int status;
        std::string body;
    } cases[] = {{200, "<html>not a list</html>"},
                 {200, "<plist><dict><key>other</key><integer>40</integer></dict></plist>"},
                 {200, "<plist><array><integer>40</integer></array></plist>"},
                 {404, std::string(plist40.begin(), plist40.end())}};
    std::size_t asked = 0;
    for (const auto& c : cases) {
        status = c.status;
        body = c.body;
        checker->appStartedWithAppsUrl(loopback.url("/list"), 12);
        ASSERT_TRUE(loopback.waitForRequests("/list", ++asked));
        (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.2);  // runs what comes in meanwhile
        EXPECT_EQ(checker->appsCount(), 12) << c.body;
    }
    EXPECT_TRUE(heard.empty());

    EXPECT_EQ(NewAppsChecker::countFromPropertyList(plist40), 40);
    const NSData huge = NSPropertyListSerialization::dataWithPropertyList(
        Value(Value::Dictionary{{"count", Value(static_cast<long long>(1) << 32 | 7)}}),
        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0);
    EXPECT_EQ(NewAppsChecker::countFromPropertyList(huge), 7) << "read as a 32-bit number";
}

TEST_F(NewAppsTest, TheReminderRepeatsTheCheckEveryTenMinutes) {
    auto checker = NewAppsChecker::sharedNewAppsChecker();
    double interval = 0;
    std::string key;
    std::function<void()> repeat;
    auto made = std::make_shared<NSObject>();
    checker->setReminderMaker([&](double seconds, const std::string& name, std::function<void()> check) {
        interval = seconds;
        key = name;
        repeat = std::move(check);
        return made;
    });
    checker->appStartedWithAppsUrl(listURL, 12);
    EXPECT_EQ(interval, 600);
    EXPECT_EQ(key, "NewAppsChecker");
    EXPECT_EQ(checker->reminder(), made);
    answered(1);
    ASSERT_TRUE(repeat);
    repeat();
    answered(2);
    EXPECT_EQ(checker->newApps(), 3);
    EXPECT_EQ(heard.size(), 2u) << "each check that finds more than the start count announces it";

    // The reminder holds the checker weakly: a checker gone is not checked.
    NewAppsChecker::resetSharedNewAppsChecker();
    checker.reset();
    repeat();
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.3);  // runs what comes in meanwhile
    EXPECT_EQ(listRequests(), 2u);
}
