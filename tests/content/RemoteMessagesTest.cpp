// Remote messages against the content server on 127.0.0.1: one message per check, the first
// never shown, remembered across restarts; buttons that open only web links, the last other
// button cancelling, an "Ok" for a message without buttons; replies of other shapes, numeric
// and missing identifiers, failures that still re-arm the periodic check; two checks at once
// showing a message once; and the server's address, configurable and harmless by default.
#include "content/RemoteMessageManager.h"

#include "content/iOS_RemoteMessage.h"
#include "demo/server/ContentServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "demo/loopback/LoopbackServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

const char* const kFixtures = R"json({
    "bundleIdentifier": "com.example.messages",
    "messages": [
        {"id": "m1", "title": "Welcome", "msg": "Seen before.", "buttons": [{"title": "Close", "action": "CLOSE", "url": ""}]},
        {"id": "m2", "title": "New paintings", "msg": "On the server.",
         "buttons": [{"title": "Open", "action": "OPEN_LINK", "url": "http://127.0.0.1:1/news"},
                     {"title": "Script", "action": "OPEN_LINK", "url": "javascript:alert(1)"},
                     {"title": "Close", "action": "CLOSE", "url": ""},
                     {"title": "Later", "action": "LATER", "url": ""}]},
        {"id": "m3", "title": "Music", "msg": "No buttons at all."}
    ]
})json";

class RemoteMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(5000);
        UIApplication::sharedApplication()->reset();
        NSLocale::setPreferredLanguages({"de-AT", "en"});
        defaults()->removeObjectForKey(RemoteMessageManager::key());
        const std::string folder = Sandbox::tmp() + "/messages-server";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/fixtures.json") << kFixtures;
        std::string error;
        server = ContentServer::start({folder, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
        url = server->host() + RemoteMessageManager::kMessagePath;
    }
    void TearDown() override {
        for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
        RemoteMessageManager::resetSharedManager();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        defaults()->removeObjectForKey(RemoteMessageManager::key());
        defaults()->removeObjectForKey(RemoteMessageManager::kHostDefaultsKey);
        NSLocale::resetPreferredLanguages();
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
    }
    static std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }
    static std::vector<std::string> shownIds() {
        std::vector<std::string> ids;
        for (const auto& id : defaults()->arrayForKey(RemoteMessageManager::key())) ids.push_back(id.stringValue());
        return ids;
    }
    static std::shared_ptr<UIAlertView> alert() {
        auto alerts = UIAlertView::visibleAlertViews();
        return alerts.empty() ? nullptr : alerts.back();
    }
    static std::vector<std::string> buttonTitles(const std::shared_ptr<UIAlertView>& view) {
        std::vector<std::string> titles;
        for (long i = 0; i < view->numberOfButtons(); ++i) titles.push_back(view->buttonTitleAtIndex(i));
        return titles;
    }
    // Runs a check to its end (bounded, real time); true when its completion ran.
    static bool check(const std::shared_ptr<RemoteMessageManager>& manager) {
        bool done = false;
        manager->checkNewMessage([&] { done = true; });
        return NSRunLoop::mainRunLoop()->runUntil([&] { return done; }, 20);
    }
    std::vector<std::string> queries() const {
        std::vector<std::string> out;
        for (const auto& r : server->requests())
            if (r.path == RemoteMessageManager::kMessagePath) out.push_back(r.query);
        return out;
    }
    // A new process: the manager and the defaults forgotten, their files kept.
    static void restart() {
        RemoteMessageManager::resetSharedManager();
        NSUserDefaults::resetStandardUserDefaults();
    }
    void launch() {
        RemoteMessageManager::appDidLaunched("ios.com.example.messages", "320", url, 0);
        EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return queries().size() > launches && alert() != nullptr; }, 20));
        ++launches;
    }

    std::unique_ptr<ContentServer> server;
    std::string url;
    std::size_t launches = 0;
};

}  // namespace

TEST_F(RemoteMessagesTest, EachLaunchShowsTheFirstMessageNotShownBeforeAndRemembersItAcrossRestarts) {
    ASSERT_TRUE(defaults()->setObject(Value(Value::Array{Value("m1")}), RemoteMessageManager::key()));
    launch();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->title(), "New paintings");
    EXPECT_EQ(alert()->message(), "On the server.");
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"m1", "m2"})) << "recorded before it shows";
    EXPECT_EQ(queries(), std::vector<std::string>{"app=ios.com.example.messages&lng=de&version=320"});
    EXPECT_FALSE(RemoteMessageManager::sharedManager()->hasTimer()) << "interval 0: no periodic check";
    alert()->tapButtonAtIndex(2);
    EXPECT_FALSE(alert());

    restart();
    launch();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->title(), "Music");
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"m1", "m2", "m3"}));
    alert()->tapButtonAtIndex(0);

    // Everything shown: a check shows nothing and records nothing.
    restart();
    auto manager = RemoteMessageManager::sharedManager();
    manager->setUrl(url);
    manager->setAppID("ios.com.example.messages");
    ASSERT_TRUE(check(manager));
    EXPECT_FALSE(alert());
    EXPECT_EQ(shownIds().size(), 3u);
}

TEST_F(RemoteMessagesTest, ButtonsOpenOnlyWebLinksTheLastOtherButtonCancelsAndAMessageWithoutButtonsGetsOk) {
    ASSERT_TRUE(defaults()->setObject(Value(Value::Array{Value("m1")}), RemoteMessageManager::key()));
    launch();
    auto shown = alert();
    ASSERT_TRUE(shown);
    EXPECT_EQ(buttonTitles(shown), (std::vector<std::string>{"Open", "Script", "Close", "Later"}));
    EXPECT_EQ(shown->cancelButtonIndex(), 3);
    std::weak_ptr<RemoteMessage> message = RemoteMessageManager::sharedManager()->lastShownMessage();
    ASSERT_FALSE(message.expired()) << "the message keeps itself while its alert is up";
    shown->tapButtonAtIndex(1);  // a link that is no web address is not opened
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_TRUE(UIApplication::sharedApplication()->openedURLs().empty());
    EXPECT_TRUE(message.expired()) << "and lets go once answered";

    // The same message shown again: the web link opens.
    RemoteMessageManager::resetSharedManager();
    ASSERT_TRUE(defaults()->setObject(Value(Value::Array{Value("m1")}), RemoteMessageManager::key()));
    launch();
    ASSERT_TRUE(alert());
    alert()->tapButtonAtIndex(0);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    const auto opened = UIApplication::sharedApplication()->openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].url, "http://127.0.0.1:1/news");
    EXPECT_TRUE(opened[0].options.empty());

    // m3 has no buttons: it gets "Ok", which only closes it.
    launch();
    ASSERT_TRUE(alert());
    EXPECT_EQ(alert()->title(), "Music");
    ASSERT_EQ(alert()->numberOfButtons(), 1);
    EXPECT_EQ(alert()->buttonTitleAtIndex(0), "Ok");
    EXPECT_EQ(alert()->cancelButtonIndex(), 0);
    alert()->tapButtonAtIndex(0);
    EXPECT_FALSE(alert());
    EXPECT_EQ(UIApplication::sharedApplication()->openedURLs().size(), 1u);
}

TEST(RemoteMessageLinks, OnlyHttpAndHttpsAddressesWithAHostAreOpenable) {
    EXPECT_TRUE(iOS_RemoteMessage::isOpenableLink("http://example.invalid/a"));
    EXPECT_TRUE(iOS_RemoteMessage::isOpenableLink("HTTPS://example.invalid/a?b=c"));
    for (const char* url : {"javascript:alert(1)", "tel:+123", "file:///etc/passwd", "itms-apps://store.invalid/x",
                            "mailto:a@example.invalid", "http://", "", "not a url"})
        EXPECT_FALSE(iOS_RemoteMessage::isOpenableLink(url)) << url;
}

namespace {

// A message server answering what the test sets, with a log of its requests.
class OddRepliesTest : public RemoteMessagesTest {
protected:
    void SetUp() override {
        RemoteMessagesTest::SetUp();
        loopback.handle(RemoteMessageManager::kMessagePath, [this](const LoopbackServer::Request&) {
            LoopbackServer::Response response;
            response.status = status;
            response.body = body;
            response.contentType = "application/json";
            return response;
        });
        manager = RemoteMessageManager::sharedManager();
        manager->setAppID("ios.com.example.messages");
        manager->setUrl(loopback.url(RemoteMessageManager::kMessagePath));
    }
    // What the handler answers, declared before the server so that they outlive it.
    int status = 200;
    std::string body = "[]";
    LoopbackServer loopback;
    std::shared_ptr<RemoteMessageManager> manager;
};

}  // namespace

TEST_F(OddRepliesTest, RepliesOfOtherShapesShowNothingAndStillEndTheCheck) {
    for (const char* reply : {R"({"id": "x", "title": "an object"})", "not json", "", "[1, \"two\", null]",
                              R"([{"title": "no id", "msg": "cannot be recorded"}])"}) {
        SCOPED_TRACE(reply);
        body = reply;
        EXPECT_TRUE(check(manager)) << "the completion runs whatever came back";
        EXPECT_FALSE(alert());
    }
    EXPECT_TRUE(shownIds().empty());
    status = 500;
    body = R"([{"id": "e1", "title": "An error page that is JSON"}])";
    EXPECT_TRUE(check(manager));
    EXPECT_TRUE(alert()) << "the status is not judged, only the body";
    alert()->tapButtonAtIndex(0);

    // A number as the identifier is recorded as its text, and known the next time.
    status = 200;
    body = R"([{"id": 7, "title": "Seven", "buttons": [{"title": "OK", "action": "CLOSE"}]}])";
    EXPECT_TRUE(check(manager));
    ASSERT_TRUE(alert());
    alert()->tapButtonAtIndex(0);
    EXPECT_TRUE(check(manager));
    EXPECT_FALSE(alert());
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"e1", "7"}));

    // No server: the check ends too.
    manager->setUrl("http://127.0.0.1:1/app_msg_manager/get_msg.php");
    EXPECT_TRUE(check(manager));
}

TEST_F(OddRepliesTest, ThePeriodicCheckIsReArmedAfterEveryCheckAndStopsInTheBackground) {
    manager->setUpdateInterval(30);
    body = "{}";  // a reply that is no list still re-arms the timer
    bool armed = false;
    manager->checkWithTimerRestart();
    armed = NSRunLoop::mainRunLoop()->runUntil([&] { return manager->hasTimer(); }, 20);
    ASSERT_TRUE(armed);
    EXPECT_EQ(loopback.requestsFor(RemoteMessageManager::kMessagePath).size(), 1u);
    Clock::advance(30);
    ASSERT_TRUE(loopback.waitForRequests(RemoteMessageManager::kMessagePath, 2));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return manager->hasTimer(); }, 20));

    RemoteMessageManager::appWillEnterBackground();
    EXPECT_FALSE(manager->hasTimer());
    Clock::advance(120);
    (void)NSRunLoop::mainRunLoop()->runUntil([] { return false; }, 0.2);  // runs what comes in meanwhile
    EXPECT_EQ(loopback.requestsFor(RemoteMessageManager::kMessagePath).size(), 2u);
    RemoteMessageManager::appWillEnterForeground();
    ASSERT_TRUE(loopback.waitForRequests(RemoteMessageManager::kMessagePath, 3));
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return manager->hasTimer(); }, 20));
}

TEST_F(OddRepliesTest, TwoChecksAtOnceShowAMessageOnce) {
    body = R"([{"id": "only", "title": "Once", "buttons": [{"title": "OK", "action": "CLOSE"}]}])";
    int done = 0;
    bool onMain = true;
    // The replies, the identifiers and the completions are all the main thread's.
    auto finished = [&] {
        onMain = onMain && NSThread::isMainThread();
        ++done;
    };
    manager->checkNewMessage(finished);
    manager->checkNewMessage(finished);
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return done == 2; }, 20));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    EXPECT_EQ(shownIds(), std::vector<std::string>{"only"});
}

TEST_F(RemoteMessagesTest, TheServerIsAConfiguredHostOrANameThatCannotLeaveTheMachine) {
    EXPECT_EQ(RemoteMessageManager::defaultServerUrl(), "http://messages.ostrel.invalid/app_msg_manager/get_msg.php");
    ASSERT_TRUE(defaults()->setObject(Value(server->host() + "/"), RemoteMessageManager::kHostDefaultsKey));
    EXPECT_EQ(RemoteMessageManager::defaultServerUrl(), url);
    auto manager = RemoteMessageManager::sharedManager();
    manager->setAppID("ios.com.example.messages");
    manager->setVersion("3 2");
    manager->setUrl(RemoteMessageManager::defaultServerUrl());
    EXPECT_EQ(manager->requestURL(), url + "?app=ios.com.example.messages&lng=de&version=3%202");
    NSLocale::setPreferredLanguages({});
    EXPECT_EQ(manager->requestURL(), url + "?app=ios.com.example.messages&lng=&version=3%202");
}
