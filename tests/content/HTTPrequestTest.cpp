// The one-shot GET against servers on 127.0.0.1: bodies and status errors, files of its own in
// Caches and their removal, the idle time-out on the manual clock, cancels racing the end,
// certificate checks, resumes that append only a range starting where the file ends, whatever
// the range says, and bodies held to their bound.
#include "content/HTTPrequest.h"

#include "demo/generator/DemoCatalogue.h"
#include "demo/loopback/LoopbackServer.h"
#include "demo/server/ContentServer.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURLError.h"
#include "platform/net/URLTrustAnchors.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr double kSafety = 20.0;

// What the request told its delegate, in order.
class Recorder : public HTTPrequestDelegate {
public:
    void httpRequestError(const std::shared_ptr<HTTPrequest>&, const NSErrorPtr& e) override {
        calls.push_back("error");
        error = e;
    }
    void httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>&, const NSData& d) override {
        calls.push_back("data");
        body.assign(d.begin(), d.end());
    }
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>&, const std::string& p) override {
        calls.push_back("file");
        path = p;
    }
    void httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>& request, const NSData* d) override {
        ++portions;
        lastPortionSize = d ? static_cast<long>(d->size()) : -1;
        if (onPortion) onPortion(request);
    }
    bool ended() const {
        return !calls.empty() && (calls.back() == "error" || calls.back() == "data" || calls.back() == "file");
    }

    std::vector<std::string> calls;
    NSErrorPtr error;
    std::string body;
    std::string path;
    int portions = 0;
    long lastPortionSize = 0;
    std::function<void(const std::shared_ptr<HTTPrequest>&)> onPortion;
};

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string patternBody(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return body;
}

LoopbackServer::Response bodyResponse(std::string body, int status = 200) {
    return LoopbackServer::Response::make(status, std::move(body), "application/octet-stream");
}

// The content server's folder of the demo.
const std::string& serverFolder() { return DemoBundle::serverFolder(); }

const DemoPainting& serverOnlyPainting() {
    for (const auto& painting : DemoCatalogue::paintings())
        if (DemoCatalogue::isOnServerOnly(painting)) return painting;
    return DemoCatalogue::paintings().front();
}

class HTTPrequestTest : public testing::Test {
protected:
    void SetUp() override { fileSystem_ = std::make_shared<FileSystem>(); }
    void TearDown() override {
        URLTrustAnchors::reset();
        Clock::setReal();
    }

    std::shared_ptr<HTTPrequest> request(const std::shared_ptr<Recorder>& recorder, bool toFile = false) {
        auto request = HTTPrequest::make(fileSystem_);
        request->setDelegate(recorder);
        request->setDownloadToFile(toFile);
        return request;
    }
    static bool pumpUntil(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, kSafety); }
    // Sends and pumps the main run loop until the request ends.
    std::shared_ptr<Recorder> fetch(const std::string& url, bool toFile = false, const std::string& tmpFileName = "") {
        auto recorder = std::make_shared<Recorder>();
        auto sent = request(recorder, toFile);
        sent->setTmpFileName(tmpFileName);
        sent->sendRequest(url);
        last_ = sent;
        EXPECT_TRUE(pumpUntil([&] { return recorder->ended(); })) << url;
        return recorder;
    }
    // The download files of our own naming left in Caches.
    std::vector<std::string> leftoverDownloads() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(fileSystem_->cachesFolder(), ec))
            if (entry.path().extension() == ".tmp") names.push_back(entry.path().filename().string());
        return names;
    }

    std::shared_ptr<FileSystem> fileSystem_;
    std::shared_ptr<HTTPrequest> last_;
};

}  // namespace

TEST_F(HTTPrequestTest, BodiesArriveWholeAndStatusesFromFourHundredAreErrors) {
    LoopbackServer server;
    const std::string body = patternBody(300 * 1024);
    server.serve("/sized", bodyResponse(body));
    auto chunked = bodyResponse(body);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/chunked", chunked);
    server.serve("/missing", bodyResponse("<html>gone</html>", 404));
    server.serve("/broken", bodyResponse("oops", 500));
    server.serve("/suspended", bodyResponse("<html><h1>This Account Has Been Suspended</h1></html>"));

    auto sized = fetch(server.url("/sized"));
    EXPECT_EQ(sized->calls, std::vector<std::string>{"data"});
    EXPECT_TRUE(sized->body == body);
    EXPECT_GE(sized->portions, 2);  // each portion, and once more before the end
    EXPECT_EQ(sized->lastPortionSize, static_cast<long>(body.size()));
    EXPECT_EQ(last_->expectedContentLength(), static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(last_->downloadedBytes(), static_cast<std::int64_t>(body.size()));
    EXPECT_TRUE(last_->stoped());
    EXPECT_FALSE(last_->context);
    EXPECT_EQ(server.requestsFor("/sized").back().method, "GET");

    auto unsized = fetch(server.url("/chunked"));
    EXPECT_EQ(unsized->calls, std::vector<std::string>{"data"});
    EXPECT_TRUE(unsized->body == body);
    EXPECT_EQ(last_->expectedContentLength(), 0);

    for (const auto& [path, status] : std::vector<std::pair<std::string, long>>{{"/missing", 404}, {"/broken", 500}}) {
        auto failed = fetch(server.url(path));
        EXPECT_EQ(failed->calls, std::vector<std::string>{"error"}) << path;
        ASSERT_TRUE(failed->error);
        EXPECT_EQ(failed->error->domain(), NSOSStatusErrorDomain);
        EXPECT_EQ(failed->error->code(), status);
        EXPECT_EQ(failed->error->localizedDescription(), "Server returned status code " + std::to_string(status));
    }

    auto suspended = fetch(server.url("/suspended"));
    EXPECT_EQ(suspended->calls, std::vector<std::string>{"error"});
    EXPECT_FALSE(suspended->error);

    // A URL that is no URL fails without an error, and not inside the call.
    auto recorder = std::make_shared<Recorder>();
    auto bad = request(recorder);
    bad->sendRequest("no url at all");
    EXPECT_TRUE(recorder->calls.empty());
    ASSERT_TRUE(pumpUntil([&] { return recorder->ended(); }));
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"error"});
    EXPECT_FALSE(recorder->error);
}

TEST_F(HTTPrequestTest, URLsAreCompletedNotEncodedTwice) {
    EXPECT_EQ(HTTPrequest::checkUrlAlreadyEncoded("http://h:1/data/thumbs/a%20b.jpg?x=1&y=%C3%A9"),
              "http://h:1/data/thumbs/a%20b.jpg?x=1&y=%C3%A9");
    // One escape already there does not leave the rest raw.
    EXPECT_EQ(HTTPrequest::checkUrlAlreadyEncoded("http://h/a%20b c/\xC3\xA9\"<>%zz%"),
              "http://h/a%20b%20c/%C3%A9%22%3C%3E%25zz%25");

    LoopbackServer server;
    server.handlePrefix("/", [](const LoopbackServer::Request& asked) { return bodyResponse(asked.path); });
    auto fetched = fetch(server.url("/folder with space/caf\xC3\xA9.jpg"));
    EXPECT_EQ(fetched->calls, std::vector<std::string>{"data"});
    // It reached the server as a valid URL, and means what was written.
    EXPECT_EQ(server.requests().back().path, "/folder with space/caf\xC3\xA9.jpg");
}

TEST_F(HTTPrequestTest, FileModeHandsOverAFileOfItsOwnAndRemovesItWhenTheLoadFails) {
    LoopbackServer server;
    const std::string body = patternBody(200 * 1024);
    server.serve("/file", bodyResponse(body));
    server.serve("/reset", bodyResponse(body));
    LoopbackServer::Fault reset;
    reset.resetAfter = 50 * 1024;
    server.setFault("/reset", reset);

    auto loaded = fetch(server.url("/file"), true);
    ASSERT_EQ(loaded->calls, std::vector<std::string>{"file"});
    EXPECT_EQ(fs::path(loaded->path).parent_path(), fs::path(fileSystem_->cachesFolder()));
    EXPECT_TRUE(bytesOf(loaded->path) == body);
    EXPECT_EQ(loaded->lastPortionSize, -1);  // no memory body in file mode
    fs::remove(loaded->path);

    auto cut = fetch(server.url("/reset"), true);
    EXPECT_EQ(cut->calls, std::vector<std::string>{"error"});
    ASSERT_TRUE(cut->error);
    EXPECT_EQ(cut->error->domain(), NSURLErrorDomain);
    EXPECT_TRUE(leftoverDownloads().empty());

    auto missing = fetch(server.url("/nothing-here"), true);
    EXPECT_EQ(missing->calls, std::vector<std::string>{"error"});
    EXPECT_TRUE(leftoverDownloads().empty());

    // A full disk: the stream's error, and the half-written file goes.
    auto faulty = std::make_shared<FaultyFileIO>();
    ScopedFileIO installed(faulty);
    faulty->noSpace("*.tmp");
    auto full = fetch(server.url("/file"), true);
    EXPECT_EQ(full->calls, std::vector<std::string>{"error"});
    ASSERT_TRUE(full->error);
    EXPECT_EQ(full->error->code(), NSFileWriteOutOfSpaceError);
    EXPECT_GT(faulty->injected(), 0);
    EXPECT_TRUE(leftoverDownloads().empty());
}

TEST_F(HTTPrequestTest, AStalledBodyTimesOutAfterNinetyIdleSecondsOfClockTimeAndIsCancelled) {
    Clock::setManual();
    LoopbackServer server;
    server.serve("/stall", bodyResponse(patternBody(64 * 1024)));
    LoopbackServer::Fault stall;
    stall.stallAfter = 16 * 1024;
    server.setFault("/stall", stall);

    auto recorder = std::make_shared<Recorder>();
    auto stalled = request(recorder, true);
    stalled->sendRequest(server.url("/stall"));
    ASSERT_TRUE(server.waitForStalls(1));
    ASSERT_TRUE(pumpUntil([&] { return stalled->downloadedBytes() == 16 * 1024; }));
    ASSERT_EQ(leftoverDownloads().size(), 1u);

    Clock::advance(HTTPrequest::kIdleTimeout - 1);
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_FALSE(stalled->stoped());
    Clock::advance(1);
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"error"});
    EXPECT_FALSE(recorder->error);
    EXPECT_TRUE(stalled->stoped());
    EXPECT_TRUE(leftoverDownloads().empty());

    // The connection let go at once: nothing holds the request but the test.
    std::weak_ptr<HTTPrequest> weak = stalled;
    stalled.reset();
    EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }));
    // What the server sends after that is heard by no one.
    server.releaseStalls();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"error"});
}

// The idle time counts from the last activity, not from the start: here the answer comes 60
// clock seconds after the request and then stalls.
TEST_F(HTTPrequestTest, TheIdleTimeCountsFromTheLastDataNotFromTheStart) {
    Clock::setManual();
    std::mutex mutex;
    std::condition_variable answer;
    bool mayAnswer = false;
    LoopbackServer server;
    server.handle("/late-stall", [&](const LoopbackServer::Request&) {
        std::unique_lock lock(mutex);
        // Bounded: a test that stops early still lets the server end.
        answer.wait_for(lock, std::chrono::duration<double>(kSafety), [&] { return mayAnswer; });
        return bodyResponse(patternBody(64 * 1024));
    });
    server.setFault("/late-stall", LoopbackServer::Fault::stall(16 * 1024));

    auto recorder = std::make_shared<Recorder>();
    auto stalled = request(recorder, false);
    stalled->sendRequest(server.url("/late-stall"));
    ASSERT_TRUE(server.waitForRequests("/late-stall"));
    Clock::advance(60);
    EXPECT_TRUE(recorder->calls.empty());
    {
        std::lock_guard lock(mutex);
        mayAnswer = true;
    }
    answer.notify_all();
    ASSERT_TRUE(server.waitForStalls(1));
    ASSERT_TRUE(pumpUntil([&] { return stalled->downloadedBytes() == 16 * 1024; }));

    // 149 seconds after the start, 89 after the data: still waiting.
    Clock::advance(HTTPrequest::kIdleTimeout - 1);
    EXPECT_TRUE(recorder->calls.empty());
    EXPECT_FALSE(stalled->stoped());
    Clock::advance(1);
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"error"});
    EXPECT_TRUE(stalled->stoped());
    server.releaseStalls();
}

TEST_F(HTTPrequestTest, ACancelSilencesTheRequestEvenWhenItsEndIsAlreadyOnItsWay) {
    LoopbackServer server;
    server.serve("/small", bodyResponse("a small body"));

    // From the portion call that precedes the end: the end is being handled right then.
    for (const int cancelAt : {1, 2}) {
        auto recorder = std::make_shared<Recorder>();
        auto racing = request(recorder, cancelAt == 2);
        recorder->onPortion = [&, cancelAt](const std::shared_ptr<HTTPrequest>& r) {
            if (recorder->portions == cancelAt) r->cancel();
        };
        std::weak_ptr<HTTPrequest> weak = racing;
        racing->sendRequest(server.url("/small"));
        racing.reset();
        ASSERT_TRUE(pumpUntil([&] { return recorder->portions >= cancelAt; }));
        EXPECT_TRUE(pumpUntil([&] { return weak.expired(); }));
        NSRunLoop::mainRunLoop()->runUntilIdle();
        EXPECT_TRUE(recorder->calls.empty()) << cancelAt;
        EXPECT_EQ(recorder->portions, cancelAt);
    }
    EXPECT_TRUE(leftoverDownloads().empty());

    // Before anything came.
    auto recorder = std::make_shared<Recorder>();
    auto early = request(recorder);
    early->sendRequest(server.url("/small"));
    ASSERT_TRUE(server.waitForRequests("/small", 3));
    early->cancel();
    EXPECT_TRUE(early->stoped());
    // Sent again, it runs to the end as a new request.
    early->sendRequest(server.url("/small"));
    ASSERT_TRUE(pumpUntil([&] { return recorder->ended(); }));
    EXPECT_EQ(recorder->calls, std::vector<std::string>{"data"});
    EXPECT_EQ(recorder->body, "a small body");
}

TEST_F(HTTPrequestTest, AServerWhoseCertificateDoesNotVerifyIsRefused) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.serve("/secret", bodyResponse("over TLS"));

    auto refused = fetch(server.url("/secret"));
    EXPECT_EQ(refused->calls, std::vector<std::string>{"error"});
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->domain(), NSURLErrorDomain);
    EXPECT_EQ(refused->error->code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_TRUE(server.requestsFor("/secret").empty());

    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    auto trusted = fetch(server.url("/secret"));
    EXPECT_EQ(trusted->calls, std::vector<std::string>{"data"});
    EXPECT_EQ(trusted->body, "over TLS");
}

TEST_F(HTTPrequestTest, AResumeAppendsOnlyARangeThatStartsWhereTheFileEnds) {
    std::string error;
    auto server = ContentServer::start({serverFolder(), "", 0, {}}, &error);
    ASSERT_TRUE(server) << error;
    const std::string path = "/pic/gallery/" + DemoCatalogue::imagePathOf(serverOnlyPainting());
    const std::string whole = bytesOf(serverFolder() + path);
    ASSERT_GT(whole.size(), 2000u);
    const std::string partial = Sandbox::home() + "/partial/picture.jpg";
    auto ranges = [&] {
        std::vector<std::string> asked;
        for (const auto& logged : server->requests()) asked.push_back(logged.header("Range"));
        server->clearRequests();
        return asked;
    };

    writeBytes(partial, whole.substr(0, 1000));
    auto resumed = fetch(server->host() + path, true, partial);
    ASSERT_EQ(resumed->calls, std::vector<std::string>{"file"});
    EXPECT_EQ(resumed->path, partial);
    EXPECT_TRUE(bytesOf(partial) == whole);
    EXPECT_EQ(ranges(), std::vector<std::string>{"bytes=1000-"});
    EXPECT_EQ(last_->partialDownloadedSize(), 1000);
    EXPECT_EQ(last_->expectedContentLength(), static_cast<std::int64_t>(whole.size()));
    EXPECT_EQ(last_->downloadedBytes(), static_cast<std::int64_t>(whole.size()));

    // An empty file is no start: no range is asked.
    writeBytes(partial, "");
    fetch(server->host() + path, true, partial);
    EXPECT_TRUE(bytesOf(partial) == whole);
    EXPECT_EQ(ranges(), std::vector<std::string>{""});

    // A whole file answers 416: it is fetched again from the start.
    fetch(server->host() + path, true, partial);
    EXPECT_TRUE(bytesOf(partial) == whole);
    EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes=" + std::to_string(whole.size()) + "-", ""}));

    // A range from elsewhere is not appended: the transfer starts again from 0.
    server->setFault(path, LoopbackServer::Fault::wrongRange(0));
    writeBytes(partial, whole.substr(0, 1000));
    auto restarted = fetch(server->host() + path, true, partial);
    EXPECT_EQ(restarted->calls, std::vector<std::string>{"file"});
    EXPECT_TRUE(bytesOf(partial) == whole);
    EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes=1000-", ""}));

    // When even the fresh start comes as a range from elsewhere, the load fails cleanly.
    server->setFault(path, LoopbackServer::Fault::wrongRange(500));
    writeBytes(partial, whole.substr(0, 1000));
    auto refused = fetch(server->host() + path, true, partial);
    EXPECT_EQ(refused->calls, std::vector<std::string>{"error"});
    ASSERT_TRUE(refused->error);
    EXPECT_EQ(refused->error->code(), NSURLErrorBadServerResponse);
    EXPECT_EQ(ranges(), (std::vector<std::string>{"bytes=1000-", ""}));
    EXPECT_FALSE(fs::exists(partial));

    // A whole answer to a range replaces the file instead of following it.
    LoopbackServer plain;
    plain.serve("/picture.jpg", bodyResponse(whole));
    writeBytes(partial, whole.substr(0, 1000));
    fetch(plain.url("/picture.jpg"), true, partial);
    EXPECT_TRUE(bytesOf(partial) == whole);
    EXPECT_EQ(plain.requestsFor("/picture.jpg").back().header("Range"), "bytes=1000-");
}

TEST_F(HTTPrequestTest, ABodyPastItsBoundFailsAsItArrivesAndLeavesNoFileBehind) {
    const std::string body = patternBody(3 * 1024 * 1024);
    LoopbackServer server;
    server.serve("/sized", bodyResponse(body));
    auto chunked = bodyResponse(body);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/chunked", chunked);
    const auto expectTooLong = [](const std::shared_ptr<Recorder>& recorder, std::int64_t bound, const char* what) {
        EXPECT_EQ(recorder->calls, std::vector<std::string>{"error"}) << what;
        ASSERT_TRUE(recorder->error) << what;
        EXPECT_EQ(recorder->error->domain(), NSURLErrorDomain);
        EXPECT_EQ(recorder->error->code(), NSURLErrorDataLengthExceedsMaximum) << what;
        EXPECT_EQ(recorder->error->localizedDescription(), "resource exceeds maximum size");
        EXPECT_EQ(recorder->error->userInfo().get(NSDebugDescriptionErrorKey).stringValue(),
                  "The answer is longer than the " + std::to_string(bound) + " bytes its request allows.");
    };

    // Memory mode has a bound of its own; the declared length and the counted one both hold.
    for (const char* path : {"/sized", "/chunked"}) {
        auto memory = fetch(server.url(path));
        expectTooLong(memory, HTTPrequest::kMaximumMemoryBodyLength, path);
        EXPECT_TRUE(memory->body.empty());
        EXPECT_LE(last_->downloadedBytes(), HTTPrequest::kMaximumMemoryBodyLength) << path;
        EXPECT_TRUE(last_->stoped());
    }
    // A bound of the caller's, in both modes.
    for (const bool toFile : {false, true}) {
        auto recorder = std::make_shared<Recorder>();
        auto sent = request(recorder, toFile);
        sent->setMaximumBodyLength(256 * 1024);
        sent->sendRequest(server.url("/chunked"));
        ASSERT_TRUE(pumpUntil([&] { return recorder->ended(); }));
        expectTooLong(recorder, 256 * 1024, toFile ? "file" : "memory");
        EXPECT_LE(sent->downloadedBytes(), 256 * 1024);
    }
    EXPECT_TRUE(leftoverDownloads().empty());
    // File mode alone takes any length, to disk.
    auto whole = fetch(server.url("/chunked"), true);
    ASSERT_EQ(whole->calls, std::vector<std::string>{"file"});
    EXPECT_EQ(fs::file_size(whole->path), body.size());
    fs::remove(whole->path);

    // A resumed file counts: a range whose total passes the bound ends the file it would grow.
    const std::string partial = Sandbox::home() + "/partial/picture.jpg";
    server.handle("/ranged", [&](const LoopbackServer::Request& asked) {
        auto answer = bodyResponse(body.substr(1000));
        answer.status = 206;
        answer.headers = {{"Content-Range", "bytes 1000-" + std::to_string(body.size() - 1) + "/" +
                                                 std::to_string(body.size())}};
        return asked.header("Range").empty() ? bodyResponse(body) : answer;
    });
    writeBytes(partial, body.substr(0, 1000));
    auto recorder = std::make_shared<Recorder>();
    auto resumed = request(recorder, true);
    resumed->setTmpFileName(partial);
    resumed->setMaximumBodyLength(1024 * 1024);
    resumed->sendRequest(server.url("/ranged"));
    ASSERT_TRUE(pumpUntil([&] { return recorder->ended(); }));
    expectTooLong(recorder, 1024 * 1024, "range");
    EXPECT_EQ(server.requestsFor("/ranged").back().header("Range"), "bytes=1000-");
    EXPECT_FALSE(fs::exists(partial));
}

TEST_F(HTTPrequestTest, AContentRangeOfAnyShapeIsReadWithoutHarmAndOnlyAnExactOneIsAppended) {
    const std::string body = patternBody(4000);
    std::string contentRange;
    LoopbackServer server;
    server.handle("/picture.jpg", [&](const LoopbackServer::Request& asked) {
        if (asked.header("Range").empty()) return bodyResponse(body);
        auto answer = bodyResponse(body.substr(1000));
        answer.status = 206;
        answer.headers = {{"Content-Range", contentRange}};
        return answer;
    });
    const std::string partial = Sandbox::home() + "/partial/picture.jpg";
    const std::string digits(90'000, '7');
    const std::vector<std::pair<std::string, bool>> ranges = {
        {"bytes 1000-3999/4000", true},
        {"BYTES 1000-3999/4000; more", true},
        {"bytes " + digits + "-3999/4000", false},
        {"bytes 1000-" + digits + "/4000", false},
        {"bytes 1000-3999/" + digits, false},
        {"bytes 1000-3999/*", false},
        {"bytes 01000-3999/4000", true},
        {"bytes  1000-3999/4000", false},
        {"bytes -1000-3999/4000", false},
        {"items 1000-3999/4000", false},
        {"", false},
    };
    for (const auto& [range, appended] : ranges) {
        contentRange = range;
        const std::size_t before = server.requestsFor("/picture.jpg").size();
        writeBytes(partial, body.substr(0, 1000));
        auto loaded = fetch(server.url("/picture.jpg"), true, partial);
        const std::string shown = range.substr(0, 40);
        ASSERT_EQ(loaded->calls, std::vector<std::string>{"file"}) << shown;
        EXPECT_TRUE(bytesOf(partial) == body) << shown;
        // A range that cannot be read is not appended: the whole file is asked for again.
        EXPECT_EQ(server.requestsFor("/picture.jpg").size() - before, appended ? 1u : 2u) << shown;
        if (appended) {
            EXPECT_EQ(last_->expectedContentLength(), 4000) << shown;
        }
    }
}
