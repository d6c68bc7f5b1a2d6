// The likes client against the demo content server on 127.0.0.1: counts read, likes set and
// removed only when they change, the popular list (never longer than asked for), the server's
// error replies and replies of a shape or length the client cannot take; and the texts and URLs
// the requests are made of.
#include "content/OELikesManager.h"

#include "content/NSErrorOERequest.h"
#include "content/NSStringLikes.h"
#include "demo/loopback/LoopbackServer.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::shared_ptr<OEConfig> likesConfig(const std::string& host, const std::string& likesIdentifier) {
    return OEConfig::initWithAppConfig(
        OEAppConfig::initWithLikesIdentifer(likesIdentifier, "famous-test", "", 12, 0), nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr,
        OEURLFormatConfig::initWithDownloadFormat("", "", "", "", "", host + "/likes/likes.php?app_id=%@"));
}

struct Outcome {
    long count = -1;
    Value::Array identifiers;
    NSErrorPtr error;
    bool onMainThread = false;
};

// Runs one call of the manager and waits (in real time, bounded) for its closure.
template <class Start>
Outcome await(Start start) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    auto future = promise->get_future();
    const auto caller = std::this_thread::get_id();
    start(promise, caller);
    if (future.wait_for(20s) != std::future_status::ready) {
        ADD_FAILURE() << "the likes closure never ran";
        return {};
    }
    return future.get();
}

Outcome change(OELikesManager& manager, const Value::Array& identifiers, bool like) {
    return await([&](auto promise, auto caller) {
        manager.changeLikeStateForIdentifiers(identifiers, like, [promise, caller](const NSErrorPtr& error) {
            promise->set_value({0, {}, error, std::this_thread::get_id() == caller});
        });
    });
}

Outcome count(OELikesManager& manager, long identifier) {
    return await([&](auto promise, auto caller) {
        manager.getLikesForIdentifier(identifier, [promise, caller](long n, const NSErrorPtr& error) {
            promise->set_value({n, {}, error, std::this_thread::get_id() == caller});
        });
    });
}

Outcome popular(OELikesManager& manager) {
    return await([&](auto promise, auto caller) {
        manager.getPopular([promise, caller](const Value::Array& identifiers, const NSErrorPtr& error) {
            promise->set_value({0, identifiers, error, std::this_thread::get_id() == caller});
        });
    });
}

class LikesClient : public testing::Test {
protected:
    void SetUp() override {
        const std::string folder = Sandbox::tmp() + "/likes-server";
        std::filesystem::create_directories(folder);
        // Counts as numbers and as text; the popular list with an id as text, a null id and an
        // id no catalogue has.
        std::ofstream(folder + "/fixtures.json") << R"({
            "likesIdentifier": "likes-test",
            "likes": {"3": 40, "5": "12", "7": 0, "12": 1500},
            "popular": [12, "5", null, 99999, 3]
        })";
        std::string error;
        server_ = ContentServer::start({folder, "", 0, {}}, &error);
        ASSERT_TRUE(server_) << error;
        manager_ = OELikesManager::initWithConfig(likesConfig(server_->host(), "likes-test"));
    }

    // The method and query of the requests to the likes path, in order.
    std::vector<std::string> likesRequests() const {
        std::vector<std::string> lines;
        for (const auto& r : server_->requests())
            if (r.path == "/likes/likes.php") lines.push_back(r.method + " " + r.query);
        return lines;
    }

    std::unique_ptr<ContentServer> server_;
    std::shared_ptr<OELikesManager> manager_;
};

}  // namespace

TEST_F(LikesClient, ReadsCountsOffTheSessionQueueWhetherTheServerSendsNumbersOrText) {
    const Outcome number = count(*manager_, 3);
    EXPECT_EQ(number.count, 40);
    EXPECT_EQ(number.error, nullptr);
    EXPECT_FALSE(number.onMainThread);
    EXPECT_EQ(count(*manager_, 5).count, 12);
    // A picture without likes is left out of the reply: an empty list is a count of 0, no error.
    const Outcome none = count(*manager_, 77);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.error, nullptr);
    EXPECT_EQ(likesRequests(), (std::vector<std::string>{"GET app_id=likes-test&id=3", "GET app_id=likes-test&id=5",
                                                         "GET app_id=likes-test&id=77"}));
}

TEST_F(LikesClient, SetsAndRemovesOnlyLikesWhoseStoredStateDiffers) {
    EXPECT_FALSE(manager_->storage()->isLikeSetForIdentifier(Value(7)));
    EXPECT_EQ(change(*manager_, {Value(7)}, true).error, nullptr);
    EXPECT_TRUE(manager_->storage()->isLikeSetForIdentifier(Value(7)));
    EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey("like_set_for_image_7"));
    EXPECT_EQ(count(*manager_, 7).count, 1);

    // Liked already: the closure runs at once, on the caller's thread, and nothing is sent.
    const Outcome again = change(*manager_, {Value("7")}, true);
    EXPECT_EQ(again.error, nullptr);
    EXPECT_TRUE(again.onMainThread);

    // The number 3 and the text "3" are the same picture, sent twice in one request.
    EXPECT_EQ(change(*manager_, {Value(3), Value("3"), Value(7)}, true).error, nullptr);
    EXPECT_EQ(count(*manager_, 3).count, 42);

    EXPECT_EQ(change(*manager_, {Value(7), Value(5)}, false).error, nullptr);
    EXPECT_FALSE(manager_->storage()->isLikeSetForIdentifier(Value(7)));
    EXPECT_EQ(count(*manager_, 7).count, 0);
    EXPECT_EQ(count(*manager_, 5).count, 12);

    EXPECT_EQ(likesRequests(), (std::vector<std::string>{
                                   "POST app_id=likes-test&id=7", "GET app_id=likes-test&id=7",
                                   "POST app_id=likes-test&id=3,3", "GET app_id=likes-test&id=3",
                                   "DELETE app_id=likes-test&id=7", "GET app_id=likes-test&id=7",
                                   "GET app_id=likes-test&id=5"}));
}

TEST_F(LikesClient, ThePopularListSkipsNullIdsAndKeepsTheServersOrder) {
    const Outcome list = popular(*manager_);
    EXPECT_EQ(list.error, nullptr);
    EXPECT_EQ(list.identifiers, (Value::Array{Value(12), Value(5), Value(99999), Value(3)}));
    EXPECT_EQ(likesRequests(), std::vector<std::string>{"GET app_id=likes-test&sort=desc&count=100"});
}

TEST_F(LikesClient, TheServersErrorTextIsACodeOneErrorAndLeavesTheFlagsAsTheyWere) {
    auto stranger = OELikesManager::initWithConfig(likesConfig(server_->host(), "unknown-app"));
    const Outcome refused = change(*stranger, {Value(3)}, true);
    ASSERT_NE(refused.error, nullptr);
    EXPECT_EQ(refused.error->domain(), "com.norvane.ostrelEngine/likesrequest");
    EXPECT_EQ(refused.error->code(), OERequestErrorServer);
    EXPECT_EQ(refused.error->localizedDescription(), "Unknown application");
    EXPECT_FALSE(stranger->storage()->isLikeSetForIdentifier(Value(3)));

    const Outcome noCount = count(*stranger, 3);
    EXPECT_EQ(noCount.count, 0);
    ASSERT_NE(noCount.error, nullptr);
    EXPECT_EQ(noCount.error->code(), OERequestErrorServer);
    const Outcome noList = popular(*stranger);
    EXPECT_TRUE(noList.identifiers.empty());
    ASSERT_NE(noList.error, nullptr);
    EXPECT_EQ(noList.error->localizedDescription(), "Unknown application");

    // The same change is sent again next time, and now taken.
    EXPECT_EQ(change(*manager_, {Value(3)}, true).error, nullptr);
    EXPECT_TRUE(manager_->storage()->isLikeSetForIdentifier(Value(3)));
}

TEST(LikesClientReplies, RepliesOfTheWrongShapeAreFormatErrorsNeverMadeUpValues) {
    std::string reply;
    LoopbackServer server;
    server.handle("/likes/likes.php", [&reply](const LoopbackServer::Request&) {
        return LoopbackServer::Response::make(200, reply, "application/json");
    });
    auto manager = OELikesManager::initWithConfig(likesConfig(server.url(""), "likes-test"));
    auto expectFormatError = [](const NSErrorPtr& error, const std::string& what) {
        ASSERT_NE(error, nullptr) << what;
        EXPECT_EQ(error->domain(), "com.norvane.ostrelEngine/likesrequest") << what;
        EXPECT_EQ(error->code(), OERequestErrorWrongResultFormat) << what;
        EXPECT_EQ(error->localizedDescription(), "Wrong result format") << what;
    };

    for (const char* body : {R"([5, 6])", R"([{"likes": 3}])", R"([{"id": 1.5}])", R"([{"id": "5x"}])",
                             R"([{"id": [5]}])", R"({"result": []})", R"({"error": 17})"}) {
        reply = body;
        const Outcome list = popular(*manager);
        EXPECT_TRUE(list.identifiers.empty()) << body;
        expectFormatError(list.error, body);
    }
    for (const char* body : {R"([{"id": 5, "likes": "many"}])", R"([{"id": 5}])", R"(["12"])",
                             R"([{"id": 5, "likes": 2.5}])"}) {
        reply = body;
        const Outcome number = count(*manager, 5);
        EXPECT_EQ(number.count, 0) << body;
        expectFormatError(number.error, body);
    }
    reply = R"({"status": "ok"})";
    expectFormatError(change(*manager, {Value(9)}, true).error, reply);
    EXPECT_FALSE(manager->storage()->isLikeSetForIdentifier(Value(9)));

    // Not JSON at all (an HTML page): the JSON reader's own error.
    reply = "<html><body>Error</body></html>";
    const Outcome page = count(*manager, 5);
    ASSERT_NE(page.error, nullptr);
    EXPECT_EQ(page.error->domain(), NSCocoaErrorDomain);

    // Only the last element counts.
    reply = R"([{"id": 5, "likes": 3}, {"id": 5, "likes": "-2"}])";
    EXPECT_EQ(count(*manager, 5).count, -2);
}

TEST(LikesClientReplies, ABareJSONValueTakesAChangeButIsNoCountAndNoList) {
    std::string reply;
    LoopbackServer server;
    server.handle("/likes/likes.php", [&reply](const LoopbackServer::Request&) {
        return LoopbackServer::Response::make(200, reply, "application/json");
    });
    auto manager = OELikesManager::initWithConfig(likesConfig(server.url(""), "likes-test"));
    long identifier = 20;
    for (const char* body : {R"("ok")", "1", "true", "null"}) {
        reply = body;
        ++identifier;
        EXPECT_EQ(change(*manager, {Value(identifier)}, true).error, nullptr) << body;
        EXPECT_TRUE(manager->storage()->isLikeSetForIdentifier(Value(identifier))) << body;
        EXPECT_EQ(change(*manager, {Value(identifier)}, false).error, nullptr) << body;
        EXPECT_FALSE(manager->storage()->isLikeSetForIdentifier(Value(identifier))) << body;

        const Outcome number = count(*manager, identifier);
        EXPECT_EQ(number.count, 0) << body;
        ASSERT_NE(number.error, nullptr) << body;
        EXPECT_EQ(number.error->code(), OERequestErrorWrongResultFormat) << body;
        const Outcome list = popular(*manager);
        EXPECT_TRUE(list.identifiers.empty()) << body;
        ASSERT_NE(list.error, nullptr) << body;
        EXPECT_EQ(list.error->code(), OERequestErrorWrongResultFormat) << body;
    }
}

TEST(LikesClientReplies, AFailingStatusIsAFailureWhateverTheBodySays) {
    int status = 500;
    std::string reply;
    LoopbackServer server;
    server.handle("/likes/likes.php", [&](const LoopbackServer::Request&) {
        return LoopbackServer::Response::make(status, reply, "application/json");
    });
    auto manager = OELikesManager::initWithConfig(likesConfig(server.url(""), "likes-test"));
    const std::string domain = "com.norvane.ostrelEngine/likesrequest";

    // A list that reads as success, sent with 500: not stored as sent, so it goes again later.
    reply = "[]";
    const Outcome refused = change(*manager, {Value(9)}, true);
    ASSERT_NE(refused.error, nullptr);
    EXPECT_EQ(refused.error->domain(), domain);
    EXPECT_EQ(refused.error->code(), OERequestErrorHTTPStatus);
    EXPECT_EQ(refused.error->localizedDescription(), "The server answered with status 500.");
    EXPECT_FALSE(manager->storage()->isLikeSetForIdentifier(Value(9)));
    for (const char* body : {R"("ok")", "<html>Bad gateway</html>", ""}) {
        reply = body;
        status = 502;
        const Outcome failed = change(*manager, {Value(9)}, true);
        ASSERT_NE(failed.error, nullptr) << body;
        EXPECT_EQ(failed.error->code(), OERequestErrorHTTPStatus) << body;
        EXPECT_FALSE(manager->storage()->isLikeSetForIdentifier(Value(9))) << body;
    }
    // The server's own text is kept when it sent one.
    status = 403;
    reply = R"({"error": "Too many likes"})";
    const Outcome told = change(*manager, {Value(9)}, true);
    ASSERT_NE(told.error, nullptr);
    EXPECT_EQ(told.error->code(), OERequestErrorServer);
    EXPECT_EQ(told.error->localizedDescription(), "Too many likes");

    // Counts and the popular list fail alike, even with a reply of the right shape.
    status = 404;
    reply = R"([{"id": 5, "likes": 3}])";
    const Outcome number = count(*manager, 5);
    EXPECT_EQ(number.count, 0);
    ASSERT_NE(number.error, nullptr);
    EXPECT_EQ(number.error->code(), OERequestErrorHTTPStatus);
    const Outcome list = popular(*manager);
    EXPECT_TRUE(list.identifiers.empty());
    ASSERT_NE(list.error, nullptr);
    EXPECT_EQ(list.error->localizedDescription(), "The server answered with status 404.");

    // Below 400 the body decides.
    status = 200;
    reply = "[]";
    EXPECT_EQ(change(*manager, {Value(9)}, true).error, nullptr);
    EXPECT_TRUE(manager->storage()->isLikeSetForIdentifier(Value(9)));
    reply = R"([{"id": 5, "likes": 3}])";
    EXPECT_EQ(count(*manager, 5).count, 3);
}

TEST(LikesClientReplies, ATransportFailureReachesTheClosureUnchanged) {
    int port = 0;
    {
        LoopbackServer gone;
        port = gone.port();
    }
    auto manager = OELikesManager::initWithConfig(likesConfig("http://127.0.0.1:" + std::to_string(port), "x"));
    const Outcome list = popular(*manager);
    ASSERT_NE(list.error, nullptr);
    EXPECT_EQ(list.error->domain(), NSURLErrorDomain);
    const Outcome changed = change(*manager, {Value(1)}, true);
    ASSERT_NE(changed.error, nullptr);
    EXPECT_EQ(changed.error->domain(), NSURLErrorDomain);
    EXPECT_FALSE(manager->storage()->isLikeSetForIdentifier(Value(1)));
    // A configuration without a likes address makes no request and says so.
    auto unconfigured = OELikesManager::initWithConfig(likesConfig("", "x"));
    const Outcome nowhere = count(*unconfigured, 1);
    ASSERT_NE(nowhere.error, nullptr);
    EXPECT_EQ(nowhere.error->code(), NSURLErrorBadURL);
}

TEST(LikesClientReplies, APopularListTakesNoMoreThanWasAskedForAndAnOverlongReplyFails) {
    std::string reply;
    LoopbackServer server;
    server.handle("/likes/likes.php", [&reply](const LoopbackServer::Request&) {
        LoopbackServer::Response answer;
        answer.body = reply;
        answer.contentType = "application/json";
        return answer;
    });
    auto manager = OELikesManager::initWithConfig(likesConfig(server.url(""), "likes-test"));
    const auto listOf = [](int count) {
        std::string list = "[";
        for (int id = 1; id <= count; ++id) list += (id > 1 ? "," : "") + std::string("{\"id\":") + std::to_string(id) + "}";
        return list + "]";
    };

    // Three times what was asked for: the first hundred, in the server's order.
    reply = listOf(3 * OERequestFactory::kPopularCount);
    ASSERT_LT(reply.size(), OERequest::kMaximumReplyLength);
    const Outcome list = popular(*manager);
    ASSERT_EQ(list.error, nullptr);
    ASSERT_EQ(list.identifiers.size(), static_cast<std::size_t>(OERequestFactory::kPopularCount));
    EXPECT_EQ(list.identifiers.front().integerValue(), 1);
    EXPECT_EQ(list.identifiers.back().integerValue(), OERequestFactory::kPopularCount);
    EXPECT_NE(server.requests().back().query.find("count=" + std::to_string(OERequestFactory::kPopularCount)),
              std::string::npos);

    // A reply longer than any the server sends is not read to its end.
    reply = listOf(300'000);
    ASSERT_GT(reply.size(), OERequest::kMaximumReplyLength);
    const Outcome flood = popular(*manager);
    EXPECT_TRUE(flood.identifiers.empty());
    ASSERT_NE(flood.error, nullptr);
    EXPECT_EQ(flood.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(flood.error->code(), NSURLErrorDataLengthExceedsMaximum);
}

TEST(LikesRequests, FactoryURLsAndMethods) {
    auto factory = OERequestFactory::initWithConfig(likesConfig("http://127.0.0.1:9", "app7"));
    EXPECT_EQ(factory->likesApi(), "http://127.0.0.1:9/likes/likes.php?app_id=app7");
    auto post = factory->postLikesForIdentifiers({Value(12), Value(40)});
    ASSERT_NE(post, nullptr);
    EXPECT_EQ(post->url()->absoluteString(), "http://127.0.0.1:9/likes/likes.php?app_id=app7&id=12,40");
    EXPECT_EQ(post->methodName(), "POST");
    EXPECT_EQ(factory->deleteLikesForIdentifiers({Value(1)})->methodName(), "DELETE");
    EXPECT_EQ(factory->getLikesForIdentifier("5")->url()->absoluteString(),
              "http://127.0.0.1:9/likes/likes.php?app_id=app7&id=5");
    EXPECT_EQ(factory->getPopularRequest()->url()->absoluteString(),
              "http://127.0.0.1:9/likes/likes.php?app_id=app7&sort=desc&count=100");
    EXPECT_EQ(OERequest::initWithString("http://127.0.0.1:9/", 7)->methodName(), "GET");
    // The famous server is the maker's: a name that leaves nothing until a deployment sets one.
    EXPECT_EQ(factory->famousApiURL(), "https://famous.ostrel.invalid/ostrelEngine/gallery_popular_pictures/api/"
                                       "get_app_texts.php?app_id=famous-test");
    factory->config()->app()->setFamousServer("http://127.0.0.1:9");
    EXPECT_EQ(factory->famousApiURL(),
              "http://127.0.0.1:9/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php?app_id=famous-test");
    EXPECT_EQ(NSErrorOERequest::famousWrongResultFormatError()->domain(), "com.norvane.ostrelEngine/famousrquest");
}

TEST(LikesRequests, ShortCountTextAndStrictPercentEncoding) {
    const std::pair<long, const char*> cases[] = {
        {-5, ""},          {0, ""},          {1, " 1"},          {999, " 999"},           {1000, " 1k"},
        {1500, " 1.5k"},   {1999, " 1.9k"},  {999999, " 999.9k"}, {1000000, " 1kk"},      {2300000, " 2.3kk"},
        {999999999, " 999.9kk"}, {1000000000, " 1kkk"}, {1250000000000, " 1.2kkkk"}};
    for (const auto& [n, text] : cases) EXPECT_EQ(NSStringLikes::likesStringForLikesNumber(n), text) << n;
    EXPECT_EQ(NSStringLikes::percentEncode("a b!*'();:@&=+$,/?%#[]\\~-._é"),
              "a%20b%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D%5C~-._%C3%A9");
}
