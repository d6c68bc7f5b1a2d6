// The famous-paintings client against the demo content server on 127.0.0.1, and against a
// loopback server for replies of other shapes: the posts fetched and kept with their date, the
// copy served only while it is fresh, errors that keep the copy, and read marks across restarts.
#include "content/OEFamousPaintingsManager.h"

#include "content/NSErrorOERequest.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURLError.h"
#include "demo/loopback/LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::shared_ptr<OEConfig> famousConfig(const std::string& server, const std::string& identifier) {
    auto app = OEAppConfig::initWithLikesIdentifer("", identifier, "", 12, 2);
    if (!server.empty()) app->setFamousServer(server);
    return OEConfig::initWithAppConfig(app, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

struct FamousOutcome {
    std::optional<Value::Array> posts;
    NSErrorPtr error;
    bool onCallersThread = false;
};

FamousOutcome loadPosts(OEFamousPaintingsManager& manager) {
    auto promise = std::make_shared<std::promise<FamousOutcome>>();
    auto future = promise->get_future();
    const auto caller = std::this_thread::get_id();
    manager.loadList([promise, caller](const std::optional<Value::Array>& posts, const NSErrorPtr& error) {
        promise->set_value({posts, error, std::this_thread::get_id() == caller});
    });
    if (future.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the famous-paintings closure never ran";
        return {};
    }
    return future.get();
}

class FamousClient : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(1'700'000'000);
        const std::string folder = Sandbox::tmp() + "/famous-server";
        std::filesystem::create_directories(folder);
        // Three posts: the second about a picture no catalogue has, the third without English.
        std::ofstream(folder + "/fixtures.json") << R"({
            "famousIdentifier": "famous-test",
            "famous": [
              {"text_id": 7, "picture_id": 12, "lng": {"en": {"title": "Seven", "url": "{host}/pages/7.html"}}},
              {"text_id": 8, "picture_id": 99999, "lng": {"en": {"title": "Eight", "url": "{host}/pages/8.html"}}},
              {"text_id": "9", "picture_id": 3, "lng": {"de": {"title": "Neun", "url": "{host}/pages/9.html"}}}
            ]
        })";
        std::string error;
        server_ = ContentServer::start({folder, "", 0, {}}, &error);
        ASSERT_TRUE(server_) << error;
        manager_ = OEFamousPaintingsManager::initWithConfig(famousConfig(server_->host(), "famous-test"), nullptr);
    }
    void TearDown() override { Clock::setReal(); }

    long famousRequests() const {
        long n = 0;
        for (const auto& r : server_->requests())
            if (r.path == OERequestFactory::kFamousPath) ++n;
        return n;
    }

    std::unique_ptr<ContentServer> server_;
    std::shared_ptr<OEFamousPaintingsManager> manager_;
};

}  // namespace

TEST_F(FamousClient, ThePostsComeFromTheServerAndAreKeptWithTheirDate) {
    EXPECT_FALSE(manager_->isActual());
    const FamousOutcome outcome = loadPosts(*manager_);
    ASSERT_EQ(outcome.error, nullptr);
    ASSERT_TRUE(outcome.posts);
    ASSERT_EQ(outcome.posts->size(), 3u);
    EXPECT_FALSE(outcome.onCallersThread);
    EXPECT_EQ((*outcome.posts)[0]["lng"]["en"]["url"].stringValue(), server_->host() + "/pages/7.html");
    EXPECT_EQ(server_->requests().back().query, "app_id=famous-test");
    // The copy and the time of the fetch.
    const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(manager_->storage()->pathForStoredList());
    ASSERT_TRUE(stored.isArray());
    EXPECT_EQ(stored.array().size(), 3u);
    ASSERT_TRUE(manager_->lastUpdateDate());
    EXPECT_DOUBLE_EQ(manager_->lastUpdateDate()->timeIntervalSince1970, 1'700'000'000);
    EXPECT_TRUE(manager_->isActual());
}

TEST_F(FamousClient, TheCopyIsServedWhileFreshAndNeverOnceStale) {
    ASSERT_TRUE(loadPosts(*manager_).posts);
    EXPECT_EQ(famousRequests(), 1);
    // Within the day: at once, on the caller's thread, without asking the server.
    Clock::advance(3600);
    const FamousOutcome fresh = loadPosts(*manager_);
    EXPECT_TRUE(fresh.onCallersThread);
    ASSERT_TRUE(fresh.posts);
    EXPECT_EQ(fresh.posts->size(), 3u);
    EXPECT_EQ(famousRequests(), 1);
    // A new start within the day serves the copy on the device.
    NSUserDefaults::resetStandardUserDefaults();
    auto restarted = OEFamousPaintingsManager::initWithConfig(famousConfig(server_->host(), "famous-test"), nullptr);
    EXPECT_TRUE(loadPosts(*restarted).onCallersThread);
    EXPECT_EQ(famousRequests(), 1);
    // A day later the server is asked again.
    Clock::advance(86400);
    EXPECT_FALSE(restarted->isActual());
    const FamousOutcome stale = loadPosts(*restarted);
    EXPECT_FALSE(stale.onCallersThread);
    EXPECT_EQ(famousRequests(), 2);
    // A date after now (the clock set back) is no fresh copy either.
    restarted->setLastUpdateDate(NSDate::dateWithTimeIntervalSinceNow(600));
    EXPECT_FALSE(restarted->isActual());
}

TEST_F(FamousClient, AServerErrorKeepsTheCopyAndItsDate) {
    ASSERT_TRUE(loadPosts(*manager_).posts);
    Clock::advance(90000);
    auto wrong = OEFamousPaintingsManager::initWithConfig(famousConfig(server_->host(), "someone-else"), nullptr);
    const FamousOutcome outcome = loadPosts(*wrong);
    EXPECT_FALSE(outcome.posts);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), "com.norvane.ostrelEngine/famousrquest");
    EXPECT_EQ(outcome.error->code(), OERequestErrorServer);
    EXPECT_EQ(outcome.error->localizedDescription(), "Unknown application");
    EXPECT_DOUBLE_EQ(wrong->lastUpdateDate()->timeIntervalSince1970, 1'700'000'000);
    const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(wrong->storage()->pathForStoredList());
    ASSERT_TRUE(stored.isArray());
    EXPECT_EQ(stored.array().size(), 3u);
}

TEST_F(FamousClient, ReadMarksOutliveARestart) {
    EXPECT_TRUE(manager_->isPostNew(7));
    manager_->markPostDidRead(7);
    EXPECT_FALSE(manager_->isPostNew(7));
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey("famous_post_status_7"));
    NSUserDefaults::resetStandardUserDefaults();
    auto restarted = OEFamousPaintingsManager::initWithConfig(famousConfig(server_->host(), "famous-test"), nullptr);
    EXPECT_FALSE(restarted->isPostNew(7));
    EXPECT_TRUE(restarted->isPostNew(8));
}

TEST(FamousReplies, RepliesOfEveryShapeAreReadWithTheirTypesChecked) {
    LoopbackServer::Response reply;
    reply.contentType = "application/json";
    LoopbackServer server;
    server.handle(OERequestFactory::kFamousPath, [&reply](const LoopbackServer::Request&) { return reply; });
    auto manager = OEFamousPaintingsManager::initWithConfig(famousConfig(server.url(""), "x"), nullptr);
    auto fetch = [&](int status, const std::string& body) {
        reply.status = status;
        reply.body = body;
        auto promise = std::make_shared<std::promise<FamousOutcome>>();
        auto future = promise->get_future();
        manager->updatePaintingsList([promise](const std::optional<Value::Array>& posts, const NSErrorPtr& error) {
            promise->set_value({posts, error, false});
        });
        EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
        return future.get();
    };
    // Posts that are not objects are dropped.
    FamousOutcome o = fetch(200, R"({"texts": [{"text_id": 1}, 5, "x", null, {"text_id": 2}]})");
    ASSERT_TRUE(o.posts);
    EXPECT_EQ(o.posts->size(), 2u);
    EXPECT_FALSE(o.error);
    // A list, or an object with neither entry: nothing, and no error.
    for (const char* body : {"[1, 2]", "{}", "5", "{\"texts\": null}"}) {
        o = fetch(200, body);
        EXPECT_FALSE(o.posts) << body;
        EXPECT_FALSE(o.error) << body;
    }
    o = fetch(200, R"({"texts": {"text_id": 1}})");
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), OERequestErrorWrongResultFormat);
    o = fetch(200, R"({"error": 5})");
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), OERequestErrorServer);
    EXPECT_EQ(o.error->localizedDescription(), "5");
    o = fetch(200, "<html>not json</html>");
    ASSERT_TRUE(o.error);
    EXPECT_NE(o.error->domain(), "com.norvane.ostrelEngine/famousrquest");
    // A failing status: the server's own text when it sent one, else the status.
    o = fetch(503, R"({"error": "down for maintenance"})");
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->localizedDescription(), "down for maintenance");
    o = fetch(500, R"({"texts": [{"text_id": 1}]})");
    EXPECT_FALSE(o.posts);
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code(), OERequestErrorHTTPStatus);
    EXPECT_FALSE(manager->lastUpdateDate());
}

TEST(FamousReplies, TheShippedServerNameLeavesNothingTheMachine) {
    auto manager = OEFamousPaintingsManager::initWithConfig(famousConfig("", "x"), nullptr);
    EXPECT_EQ(manager->factory()->famousApiURL().rfind("https://famous.ostrel.invalid/", 0), 0u);
    const FamousOutcome outcome = loadPosts(*manager);
    EXPECT_FALSE(outcome.posts);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(outcome.error->code(), NSURLErrorCannotFindHost);
}
