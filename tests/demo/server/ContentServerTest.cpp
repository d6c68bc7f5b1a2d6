// The demo content server on 127.0.0.1 over the folder the generator writes, asked with libcurl:
// files and ranges, refused paths, the stores' answers, faults, the request log, the program.
#include "demo/generator/DemoCatalogue.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/CurlFetch.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/InteractiveProcess.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

using Fetched = CurlFetched;

// `range` is the Range field's value without "bytes="; with `asIs` the path is sent as written,
// dot segments and all.
Fetched fetch(const std::string& url, const std::string& method = "GET", const std::string& range = "",
              bool asIs = false) {
    CurlRequest request;
    request.method = method;
    request.range = range;
    request.asIs = asIs;
    return curlFetch(url, request);
}

// The demo's server folder, written once per test run and only read.
const std::string& folder() { return DemoBundle::serverFolder(); }

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const DemoPainting& serverOnlyPainting() {
    for (const auto& painting : DemoCatalogue::paintings())
        if (DemoCatalogue::isOnServerOnly(painting)) return painting;
    return DemoCatalogue::paintings().front();
}

class ContentServerTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        server_ = ContentServer::start({folder(), "", 0, {}}, &error);
        ASSERT_TRUE(server_) << error;
    }

    std::string url(const std::string& pathAndQuery) const { return server_->host() + pathAndQuery; }
    std::string picture() const { return "/pic/gallery/" + DemoCatalogue::imagePathOf(serverOnlyPainting()); }
    std::string pictureBytes() const { return bytesOf(folder() + picture()); }
    std::string likes(const std::string& query) const { return url("/likes/likes.php?app_id=ostrel_gallery" + query); }

    // What a test's request log touches, declared before the server: its threads call the log
    // until it has stopped.
    std::atomic<ContentServer*> running_{nullptr};
    std::mutex mutex_;
    std::vector<std::string> lines_;
    std::unique_ptr<ContentServer> server_;
};

TEST_F(ContentServerTest, ServesPicturesThumbnailsAndHighResolutionFilesUnderTheirURLs) {
    const auto& painting = serverOnlyPainting();
    ASSERT_GT(pictureBytes().size(), 1000u);
    auto fetched = fetch(url(picture()));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, pictureBytes());
    EXPECT_EQ(fetched.header("content-type"), "image/jpeg");
    EXPECT_EQ(fetched.header("content-length"), std::to_string(pictureBytes().size()));
    EXPECT_EQ(fetched.header("accept-ranges"), "bytes");

    const std::string thumbnail = "/data/gallery/thumbs/" + DemoCatalogue::serverThumbnailPathOf(DemoCatalogue::imagePathOf(painting));
    EXPECT_EQ(fetch(url(thumbnail)).body, bytesOf(folder() + thumbnail));
    // The upper-case JPEG's thumbnail, the PNG's (named as the picture) and a high-resolution file.
    EXPECT_EQ(fetch(url("/data/gallery/thumbs/p0007_thumb.jpg")).status, 200);
    fetched = fetch(url("/data/gallery/thumbs/p0013.png"));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.header("content-type"), "image/png");
    fetched = fetch(url("/data/gallery/" + DemoCatalogue::imagePathOf(painting)));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_GT(fetched.body.size(), pictureBytes().size());
    fetched = fetch(url(picture()), "HEAD");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_TRUE(fetched.body.empty());

    EXPECT_EQ(fetch(url("/pic/gallery/p9999.jpg")).status, 404);
    EXPECT_EQ(fetch(url("/pic/gallery")).status, 404);  // a folder
    EXPECT_EQ(fetch(url(picture()), "POST").status, 405);
}

// An empty file is served as one.
// Over a folder of the test's own: the demo's is shared, read by other tests and other processes.
TEST_F(ContentServerTest, AnEmptyFileIsServedAsOne) {
    const std::string own = Sandbox::home() + "/served", empty = "/pic/gallery/empty-for-the-test.jpg";
    fs::create_directories(own + "/pic/gallery");
    std::ofstream(own + empty, std::ios::binary).close();
    std::string error;
    auto server = ContentServer::start({own, "", 0, {}}, &error);
    ASSERT_TRUE(server) << error;
    const auto fetched = fetch(server->host() + empty);
    EXPECT_EQ(fetched.status, 200);
    EXPECT_TRUE(fetched.body.empty());
    EXPECT_EQ(fetched.header("content-length"), "0");
}

TEST_F(ContentServerTest, RangesAreAnsweredWith206AndAnInterruptedDownloadResumes) {
    const std::string whole = pictureBytes();
    const std::string total = "/" + std::to_string(whole.size());
    auto fetched = fetch(url(picture()), "GET", "100-");
    EXPECT_EQ(fetched.status, 206);
    EXPECT_EQ(fetched.header("content-range"), "bytes 100-" + std::to_string(whole.size() - 1) + total);
    EXPECT_EQ(fetched.body, whole.substr(100));
    fetched = fetch(url(picture()), "GET", "10-19");
    EXPECT_EQ(fetched.header("content-range"), "bytes 10-19" + total);
    EXPECT_EQ(fetched.body, whole.substr(10, 10));
    fetched = fetch(url(picture()), "GET", "-10");
    EXPECT_EQ(fetched.body, whole.substr(whole.size() - 10));
    fetched = fetch(url(picture()), "GET", std::to_string(whole.size()) + "-");
    EXPECT_EQ(fetched.status, 416);
    EXPECT_EQ(fetched.header("content-range"), "bytes *" + total);
    // Several ranges at once are not served as such: the whole file comes.
    fetched = fetch(url(picture()), "GET", "0-1,5-6");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, whole);

    // Cut off after 300 bytes, then the rest asked from there.
    const auto reset = LoopbackServer::Fault::reset(300);
    server_->setFault(picture(), reset);
    const auto cut = fetch(url(picture()));
    EXPECT_EQ(cut.code, CURLE_PARTIAL_FILE);
    ASSERT_EQ(cut.body.size(), 300u);
    server_->removeFault(picture());
    const auto rest = fetch(url(picture()), "GET", "300-");
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(cut.body + rest.body, whole);
    EXPECT_EQ(server_->requests().back().header("Range"), "bytes=300-");
}

TEST_F(ContentServerTest, NothingOutsideTheFolderIsServed) {
    // A copy of the folder with a link out of it.
    const std::string served = Sandbox::home() + "/served";
    std::string error;
    ASSERT_TRUE(DemoBundle::copyServerFolderTo(served, &error)) << error;
    server_ = ContentServer::start({served, "", 0, {}}, &error);
    ASSERT_TRUE(server_) << error;
    std::ofstream(Sandbox::home() + "/secret.txt") << "secret";
    fs::create_symlink(Sandbox::home() + "/secret.txt", served + "/link.txt");
    for (const char* target : {"/../secret.txt", "/pic/gallery/../../../secret.txt", "/%2e%2e/secret.txt",
                               "/pic/.%2E/%2e./secret.txt", "/pic/%2e%2e%2f%2e%2e%2fsecret.txt", "/..%5csecret.txt",
                               "/pic/gallery/p0001.jpg%00.png", "/./fixtures.json"}) {
        const auto fetched = fetch(url(target), "GET", "", true);
        EXPECT_EQ(fetched.status, 400) << target;
        EXPECT_EQ(fetched.body.find("secret\n"), std::string::npos) << target;
    }
    EXPECT_EQ(fetch(url("/link.txt")).status, 404);
    EXPECT_EQ(fetch(url("/" + Sandbox::home() + "/secret.txt")).status, 404);
    EXPECT_EQ(fetch(url("/ostrelEngine/getFile.php?mail_to=a@b.c&fname=../../../secret.txt&dir_name=gallery")).status, 400);
}

TEST_F(ContentServerTest, LikesAreCountedPerPictureAndMistakesAnswerAnError) {
    // Seeded as a number and as a text; the answer keeps the form.
    EXPECT_EQ(Json::parse(fetch(likes("&id=6")).body), Json::parse(R"([{"id":6,"likes":2300000}])"));
    EXPECT_EQ(Json::parse(fetch(likes("&id=91")).body), Json::parse(R"([{"id":91,"likes":"1480"}])"));
    EXPECT_EQ(fetch(likes("&id=1")).body, "[]");

    EXPECT_EQ(Json::parse(fetch(likes("&id=1,6"), "POST").body),
              Json::parse(R"([{"id":1,"likes":1},{"id":6,"likes":2300001}])"));
    EXPECT_EQ(Json::parse(fetch(likes("&id=1,6")).body), Json::parse(R"([{"id":1,"likes":1},{"id":6,"likes":2300001}])"));
    fetch(likes("&id=1"), "DELETE");
    EXPECT_EQ(Json::parse(fetch(likes("&id=1"), "DELETE").body), Json::parse(R"([{"id":1,"likes":0}])"));

    for (const std::string& wrong : {url("/likes/likes.php?app_id=other&id=6"), likes(""), likes("&id=6,x")}) {
        const auto answer = Json::parse(fetch(wrong).body, nullptr, false);
        EXPECT_TRUE(answer.is_object() && answer.contains("error")) << wrong;
    }
    EXPECT_EQ(server_->requests().size(), 10u);
}

TEST_F(ContentServerTest, PopularFamousPostsMessagesAndTheApplicationsCount) {
    const auto popular = Json::parse(fetch(likes("&sort=desc&count=100")).body);
    ASSERT_EQ(popular.size(), 8u);
    EXPECT_EQ(popular[0], Json::parse(R"({"id":6,"likes":2300000})"));
    EXPECT_EQ(popular[1], Json::parse(R"({"id":"91","likes":"1480"})"));
    EXPECT_TRUE(popular[2]["id"].is_null());
    EXPECT_EQ(popular[4]["id"], 99999);
    EXPECT_EQ(Json::parse(fetch(likes("&sort=desc&count=3")).body).size(), 3u);

    const auto famous = Json::parse(
        fetch(url("/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php?app_id=ostrel_gallery_famous")).body);
    ASSERT_EQ(famous["texts"].size(), 5u);
    EXPECT_EQ(famous["texts"][0]["text_id"], 7);
    const std::string page = famous["texts"][0]["lng"]["en"]["url"];
    EXPECT_EQ(page.rfind(server_->host() + "/pages/", 0), 0u) << page;
    EXPECT_EQ(fetch(page).status, 200);
    EXPECT_FALSE(famous["texts"][3]["lng"].contains("en"));
    // The demo web site: "/" is its front page; a folder without one has no page.
    const auto front = fetch(url("/"));
    EXPECT_EQ(front.status, 200);
    EXPECT_NE(front.body.find("<title>Ostrel</title>"), std::string::npos);
    EXPECT_EQ(fetch(url("/moreen.html")).status, 200);
    EXPECT_EQ(fetch(url("/pages/")).status, 404);
    EXPECT_TRUE(
        Json::parse(fetch(url("/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php?app_id=x")).body).contains("error"));

    const auto messages =
        Json::parse(fetch(url("/app_msg_manager/get_msg.php?app=ios.com.norvane.ostrelgallery&lng=de&version=320")).body);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0]["id"], "m1");
    EXPECT_EQ(messages[0]["buttons"][0]["action"], "OPEN_LINK");
    EXPECT_EQ(fetch(url("/app_msg_manager/get_msg.php?app=ios.other&lng=de")).body, "[]");

    const auto list = fetch(url("/newappstest.plist"));
    const Value plist = NSPropertyListSerialization::propertyListWithData(NSData(list.body.begin(), list.body.end()));
    EXPECT_EQ(plist["count"].integerValue(), 15);

    EXPECT_EQ(fetch(url("/ostrelEngine/getFile.php?mail_to=a%40b.c&fname=p0001.jpg&dir_name=gallery&show_fname=A%20-%20B"))
                  .status,
              200);
    EXPECT_EQ(fetch(url("/ostrelEngine/getFile.php?mail_to=nobody&fname=p0001.jpg&dir_name=gallery")).status, 400);
    EXPECT_EQ(fetch(url("/ostrelEngine/getFile.php?mail_to=a@b.c&fname=p9999.jpg&dir_name=gallery")).status, 404);
}

TEST_F(ContentServerTest, EachFaultShapesTheAnswersOfItsPathOnly) {
    const std::string whole = pictureBytes();
    auto withFault = [&](const char* spec) {
        const auto set = fetch(url("/__fault?path=" + picture() + "&" + spec), "POST");
        EXPECT_EQ(set.status, 200) << spec << ": " << set.body;
        return fetch(url(picture()), "GET", "100-");
    };
    auto fetched = withFault("status=503");
    EXPECT_EQ(fetched.status, 503);
    EXPECT_EQ(fetch(likes("&id=6")).status, 200);
    EXPECT_EQ(fetch(url("/pic/gallery/p0001.jpg")).status, 200);

    fetched = withFault("page=html");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(fetched.body.find("<html>"), std::string::npos);
    fetched = withFault("page=suspended");
    EXPECT_NE(fetched.body.find("This Account Has Been Suspended"), std::string::npos);

    fetched = withFault("range-from=0");
    EXPECT_EQ(fetched.status, 206);
    EXPECT_EQ(fetched.header("content-range"), "bytes 0-" + std::to_string(whole.size() - 1) + "/" + std::to_string(whole.size()));
    EXPECT_EQ(fetched.body, whole);

    fetched = withFault("chunked");
    EXPECT_EQ(fetched.header("transfer-encoding"), "chunked");
    EXPECT_EQ(fetched.header("content-length"), "");
    EXPECT_EQ(fetched.body, whole.substr(100));

    // A slow body takes at least its pauses; how the client's reads group the pieces depends on
    // the machine's load, so only the lower bound on time is certain.
    const auto before = std::chrono::steady_clock::now();
    fetched = withFault("slow=5&piece=500");
    EXPECT_EQ(fetched.body, whole.substr(100));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(5 * ((whole.size() - 100) / 500 - 1)));

    fetched = withFault("reset");
    EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetched.body, whole.substr(100, (whole.size() - 100) / 2));

    EXPECT_EQ(fetch(url("/__fault?path=" + picture() + "&melt=1"), "POST").status, 400);
    EXPECT_EQ(fetch(url("/__fault?path=" + picture() + "&status=999"), "POST").status, 400);
    EXPECT_EQ(fetch(url("/__fault?page=html"), "POST").status, 400);
    EXPECT_EQ(fetch(url("/__fault?path=" + picture()), "DELETE").status, 200);
    EXPECT_EQ(fetch(url(picture())).body, whole);
}

TEST_F(ContentServerTest, AStalledBodyWaitsUntilReleased) {
    const auto stall = LoopbackServer::Fault::stall(200);
    server_->setFault(picture(), stall);
    Fetched fetched;
    std::thread client([&] { fetched = fetch(url(picture())); });
    ASSERT_TRUE(server_->waitForStalls(1, 20));
    server_->releaseStalls();
    client.join();
    EXPECT_EQ(fetched.code, CURLE_OK);
    EXPECT_EQ(fetched.body, pictureBytes());

    // Stopping the server breaks a stalled body off.
    std::thread late([&] { fetched = fetch(url(picture())); });
    ASSERT_TRUE(server_->waitForStalls(1, 20));
    server_.reset();
    late.join();
    EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetched.body, pictureBytes().substr(0, 200));
}

TEST_F(ContentServerTest, AFaultTakenAwayWhileItsRequestIsOnItsWayLetsTheBodyGo) {
    // The request meets the stall; the fault goes (with its release) before the body reaches
    // the stall: the body must not wait for a release that already came.
    server_.reset();
    std::string error;
    server_ = ContentServer::start({folder(), "", 0,
                                    [this](const std::string& line) {
                                        if (line.find(picture()) == std::string::npos) return;
                                        if (ContentServer* server = running_.load()) server->removeFault(picture());
                                    }},
                                   &error);
    ASSERT_TRUE(server_) << error;
    running_ = server_.get();
    server_->setFault(picture(), LoopbackServer::Fault::stall(200));
    const auto fetched = fetch(url(picture()));
    EXPECT_EQ(fetched.code, CURLE_OK);
    EXPECT_EQ(fetched.body.size(), pictureBytes().size());
    EXPECT_TRUE(fetched.body == pictureBytes());
    running_ = nullptr;
}

TEST_F(ContentServerTest, EveryRequestIsLoggedOnArrival) {
    server_.reset();
    std::string error;
    server_ = ContentServer::start({folder(), "", 0,
                                    [this](const std::string& line) {
                                        std::lock_guard lock(mutex_);
                                        lines_.push_back(line);
                                    }},
                                   &error);
    ASSERT_TRUE(server_) << error;
    fetch(url(picture()), "GET", "5-");
    fetch(likes("&id=6,91"), "POST");
    fetch(url("/nothing%20here"));
    const auto logged = server_->requests();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0].method, "GET");
    EXPECT_EQ(logged[0].path, picture());
    EXPECT_EQ(logged[0].header("Range"), "bytes=5-");
    EXPECT_EQ(logged[1].method, "POST");
    EXPECT_EQ(logged[1].query, "app_id=ostrel_gallery&id=6,91");
    EXPECT_EQ(logged[2].path, "/nothing here");
    {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(lines_, (std::vector<std::string>{"GET " + picture() + " Range: bytes=5-",
                                                   "POST /likes/likes.php?app_id=ostrel_gallery&id=6,91",
                                                   "GET /nothing%20here"}));
    }

    // The same over HTTP; the admin requests are not logged.
    const auto list = Json::parse(fetch(url("/__log")).body);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1], Json::parse(R"({"method":"POST","path":"/likes/likes.php","query":"app_id=ostrel_gallery&id=6,91","range":""})"));
    fetch(url("/__log"), "DELETE");
    EXPECT_TRUE(server_->requests().empty());
}

TEST_F(ContentServerTest, StartingFailsOnATakenPortOrBadFixtures) {
    std::string error;
    EXPECT_FALSE(ContentServer::start({folder(), "", server_->port(), {}}, &error));
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(server_->port())), std::string::npos) << error;
    const std::string broken = Sandbox::home() + "/broken.json";
    std::ofstream(broken) << R"({"likes": {"six": 1}})";
    EXPECT_FALSE(ContentServer::start({folder(), broken, 0, {}}, &error));
    EXPECT_NE(error.find("six"), std::string::npos) << error;
    EXPECT_FALSE(ContentServer::start({folder(), Sandbox::home() + "/missing.json", 0, {}}, &error));
    EXPECT_FALSE(ContentServer::start({Sandbox::home() + "/no-such-folder", "", 0, {}}, &error));
    // A folder without fixtures has empty stores.
    fs::create_directories(Sandbox::home() + "/bare");
    auto bare = ContentServer::start({Sandbox::home() + "/bare", "", 0, {}}, &error);
    ASSERT_TRUE(bare) << error;
    EXPECT_TRUE(Json::parse(fetch(bare->host() + "/likes/likes.php?app_id=&id=1").body).contains("error"));
}

// The program: its first line names the port, faults come from the command line, requests are
// logged to standard output, and it stops cleanly when terminated.
TEST(ContentServerProgram, PrintsItsPortLogsAndStopsOnTerm) {
    const std::string served = Sandbox::home() + "/served";
    fs::create_directories(served + "/pic");
    std::ofstream(served + "/pic/a.jpg") << "0123456789";
    InteractiveProcess program({OSTREL_CONTENT_SERVER, "--port", "0", "--fault", "path=/pic/a.jpg&status=410", served});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForOutput("\n"));
    int port = 0;
    ASSERT_EQ(std::sscanf(program.output().c_str(), "listening on 127.0.0.1:%d", &port), 1) << program.output();
    EXPECT_EQ(fetch("http://127.0.0.1:" + std::to_string(port) + "/pic/a.jpg").status, 410);
    EXPECT_TRUE(program.waitForOutput("GET /pic/a.jpg\n"));
    EXPECT_TRUE(program.signal(SIGTERM));
    EXPECT_EQ(program.finish(), 0);
    EXPECT_EQ(program.output(), "listening on 127.0.0.1:" + std::to_string(port) +
                                    "\nfault /pic/a.jpg: status 410\nGET /pic/a.jpg\n");
}

}  // namespace
