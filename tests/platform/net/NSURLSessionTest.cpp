// Session tasks against a loopback server: statuses, headers and framings; what reaches the
// server; failures reported once; the idle time-out on the manual clock; cancel racing the
// finish; the host rewrite; download files; where and when handlers run; bounds on the body;
// redirects not followed; answers through a tunnelling proxy.
#include "tests/platform/net/NetTestSupport.h"

#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ConnectProxy.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/RefusingPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

namespace {

std::vector<std::string> downloadFilesInTmp() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(Sandbox::tmp())) {
        if (entry.path().filename().string().rfind("URLDownload_", 0) == 0) found.push_back(entry.path());
    }
    return found;
}

// Keeps the processor this long without giving it up: yielding instead would hand it to every
// other busy process first, and on a loaded machine the delay would grow a thousandfold.
void busyFor(std::chrono::microseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

using NSURLSessionTest = NetTest;

TEST_F(NSURLSessionTest, StatusCodesHeadersAndBothFramingsArriveWhole) {
    LoopbackServer server;
    const std::string big = patternBody(300 * 1024);
    LoopbackServer::Response sized = textResponse(big);
    sized.headers = {{"X-Answer", "42"}, {"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}};
    server.serve("/sized", sized);
    LoopbackServer::Response chunked = textResponse(big);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/chunked", chunked);
    server.serve("/teapot", textResponse("short and stout", 418));
    server.serve("/busy", textResponse("later", 503));
    server.serve("/empty", textResponse("", 204));
    LoopbackServer::Response moved = textResponse("", 302);
    moved.headers = {{"Location", "/sized"}};
    server.serve("/moved", moved);

    TaskRunner runner;
    Completion got = runner.fetch(server.url("/sized"));
    ASSERT_EQ(got.calls, 1);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.response->statusCode(), 200);
    EXPECT_EQ(got.response->expectedContentLength(), static_cast<std::int64_t>(big.size()));
    EXPECT_EQ(got.response->MIMEType(), "text/plain");
    EXPECT_EQ(got.response->valueForHTTPHeaderField("x-ANSWER"), "42");
    EXPECT_EQ(got.response->allHeaderFields().get("X-Answer").string(), "42");
    EXPECT_EQ(got.response->valueForHTTPHeaderField("set-cookie"), "a=1, b=2");
    EXPECT_FALSE(got.response->valueForHTTPHeaderField("X-Missing"));
    EXPECT_TRUE(got.body() == big);

    got = runner.fetch(server.url("/chunked"));
    ASSERT_FALSE(got.error);
    EXPECT_EQ(got.response->expectedContentLength(), NSURLResponse::NSURLResponseUnknownLength);
    EXPECT_EQ(got.response->valueForHTTPHeaderField("Transfer-Encoding"), "chunked");
    EXPECT_TRUE(got.body() == big);

    // HTTP statuses are answers, not failures: the body comes with them.
    for (auto [path, status, body] : {std::tuple{"/teapot", 418, "short and stout"}, std::tuple{"/busy", 503, "later"},
                                      std::tuple{"/nowhere", 404, "Not Found"}, std::tuple{"/empty", 204, ""}}) {
        got = runner.fetch(server.url(path));
        ASSERT_FALSE(got.error) << path;
        EXPECT_EQ(got.response->statusCode(), status) << path;
        EXPECT_EQ(got.body(), body) << path;
    }

    got = runner.fetch(server.url("/moved"));
    ASSERT_FALSE(got.error);
    EXPECT_EQ(got.response->statusCode(), 200);
    EXPECT_EQ(got.response->URL()->path(), "/sized");
    EXPECT_EQ(got.data.size(), big.size());
}

TEST_F(NSURLSessionTest, MethodHeaderFieldsAndBodyReachTheServer) {
    LoopbackServer server;
    server.handle("/echo", [](const LoopbackServer::Request& request) {
        return textResponse(request.method + " " + request.body);
    });
    TaskRunner runner;

    auto post = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/echo?id=12,40&x=%20y")));
    post->setHTTPMethod("POST");
    post->setValue("application/x-protobuf", "Content-Type");
    post->setValue("7", "x-batch-count");
    post->addValue("two", "X-List");
    post->addValue("three", "x-list");
    post->setValue("", "Accept-Encoding");
    const std::string payload(200 * 1024, 'p');  // big enough that a 100-continue wait would show
    post->setHTTPBody(NSData(payload.begin(), payload.end()));
    EXPECT_EQ(post->valueForHTTPHeaderField("X-BATCH-COUNT"), "7");
    Completion got = runner.fetch(post);
    ASSERT_FALSE(got.error);
    EXPECT_TRUE(got.body() == "POST " + payload) << got.data.size();

    auto remove = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/echo")));
    remove->setHTTPMethod("DELETE");
    got = runner.fetch(remove);
    EXPECT_EQ(got.body(), "DELETE ");

    auto withoutBody = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/echo")));
    withoutBody->setHTTPMethod("POST");
    got = runner.fetch(withoutBody);
    EXPECT_EQ(got.body(), "POST ");

    const auto log = server.requestsFor("/echo");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].query, "id=12,40&x=%20y");
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-protobuf");
    EXPECT_EQ(log[0].header("X-Batch-Count"), "7");
    EXPECT_EQ(log[0].header("X-List"), "two, three");
    EXPECT_EQ(log[0].header("Expect"), "");
    EXPECT_EQ(log[1].method, "DELETE");
    EXPECT_EQ(log[1].body, "");
    EXPECT_EQ(log[2].header("Content-Length"), "0");
}

TEST_F(NSURLSessionTest, AConnectionClosedMidBodyFailsOnceWithTheConnectionLost) {
    LoopbackServer server;
    const std::string big = patternBody(200 * 1024);
    server.serve("/sized", textResponse(big));
    LoopbackServer::Response chunked = textResponse(big);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/chunked", chunked);
    LoopbackServer::Fault reset;
    reset.resetAfter = 50 * 1024;
    server.setFault("/sized", reset);
    server.setFault("/chunked", reset);

    TaskRunner runner;
    for (const char* path : {"/sized", "/chunked"}) {
        auto run = runner.start(server.url(path));
        Completion got = runner.wait(run);
        ASSERT_EQ(got.calls, 1) << path;
        EXPECT_EQ(got.errorCode(), NSURLErrorNetworkConnectionLost) << path;
        EXPECT_EQ(got.error->domain(), NSURLErrorDomain);
        EXPECT_EQ(got.error->userInfo().get(NSURLErrorFailingURLStringErrorKey).string(), server.url(path));
        EXPECT_TRUE(got.data.empty());
        EXPECT_FALSE(got.response);
        // The task keeps the answer that came before the failure.
        ASSERT_TRUE(run.task->response());
        EXPECT_EQ(run.task->response()->statusCode(), 200);
        EXPECT_EQ(run.task->state(), NSURLSessionTaskStateCompleted);
        EXPECT_EQ(runner.callsAfterDrain(run), 1);
    }
}

TEST_F(NSURLSessionTest, AStalledBodyTimesOutAfterTheIdleIntervalOfClockTime) {
    Clock::setManual(1'000'000);
    LoopbackServer server;
    std::promise<void> answer;
    std::shared_future<void> answerNow = answer.get_future().share();
    server.handle("/slow", [answerNow](const LoopbackServer::Request&) {
        answerNow.wait();
        return textResponse(patternBody(64 * 1024));
    });
    // The header goes out, then the body stalls before its first byte.
    LoopbackServer::Fault stall;
    stall.stallAfter = 0;
    server.setFault("/slow", stall);
    server.serve("/after", textResponse("after"));

    TaskRunner runner;
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/slow")));
    request->setTimeoutInterval(90);
    auto run = runner.start(request);
    ASSERT_TRUE(server.waitForRequests("/slow"));

    // Nothing arrives for 80 s; then the header, then nothing again.
    Clock::advance(80);
    EXPECT_EQ(runner.callsAfterDrain(run), 0);
    answer.set_value();
    ASSERT_TRUE(server.waitForStalls(1));
    // The header waits in the socket. The one network thread serves every transfer on each
    // turn, so by the time a later exchange has been answered it has read that header too.
    ASSERT_FALSE(runner.fetch(server.url("/after")).error);
    ASSERT_TRUE(run.task->response());
    // The interval counts from the last progress, not from the start.
    Clock::advance(89);
    EXPECT_EQ(runner.callsAfterDrain(run), 0);
    Clock::advance(1);
    Completion got = runner.wait(run);
    EXPECT_EQ(got.calls, 1);
    EXPECT_EQ(got.errorCode(), NSURLErrorTimedOut);
    server.releaseStalls();
    Clock::advance(600);
    EXPECT_EQ(runner.callsAfterDrain(run), 1);
}

TEST_F(NSURLSessionTest, ACancelRacingTheFinishIsReportedExactlyOnce) {
    LoopbackServer server;
    server.serve("/small", textResponse(patternBody(512)));
    TaskRunner runner;
    int finished = 0;
    int cancelled = 0;
    for (int i = 0; i < 150; ++i) {
        auto run = runner.start(server.url("/small"));
        // Cancel from another thread at a varying point of the load, while this one cancels too.
        std::thread other([&run, i] {
            busyFor(std::chrono::microseconds((i % 15) * 60));
            run.task->cancel();
        });
        busyFor(std::chrono::microseconds((i % 7) * 60));
        run.task->cancel();
        other.join();
        Completion got = runner.wait(run);
        ASSERT_EQ(runner.callsAfterDrain(run), 1) << i;
        if (got.error) {
            ASSERT_EQ(got.errorCode(), NSURLErrorCancelled) << i;
            ++cancelled;
        } else {
            ASSERT_EQ(got.data.size(), 512u) << i;
            ++finished;
        }
        EXPECT_EQ(run.task->state(), NSURLSessionTaskStateCompleted);
    }
    std::printf("cancel race: %d finished, %d cancelled\n", finished, cancelled);
    EXPECT_EQ(finished + cancelled, 150);
}

TEST_F(NSURLSessionTest, TheHostRewriteSendsFixedEndpointsToLoopbackKeepingTheirNames) {
    LoopbackServer content;
    LoopbackServer messages;
    content.handle("/api", [](const LoopbackServer::Request& request) { return textResponse("content " + request.query); });
    messages.handle("/get_msg.php", [](const LoopbackServer::Request&) { return textResponse("[]"); });
    URLHostRewrite::map("content.server.example", 80, content.port());
    URLHostRewrite::map("Messages.Server.Example", 0, messages.port());
    EXPECT_FALSE(URLHostRewrite::isEmpty());

    TaskRunner runner;
    Completion got = runner.fetch("http://content.server.example/api?likes=1");
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.body(), "content likes=1");
    ASSERT_EQ(content.requests().size(), 1u);
    EXPECT_EQ(content.requests()[0].header("Host"), "content.server.example");

    // A rule without a port takes every port of its host.
    for (const char* url : {"http://messages.server.example/get_msg.php", "http://MESSAGES.server.example:8080/get_msg.php"}) {
        got = runner.fetch(url);
        ASSERT_FALSE(got.error) << url;
        EXPECT_EQ(got.body(), "[]");
    }
    EXPECT_EQ(messages.requests().size(), 2u);
    EXPECT_EQ(messages.requests()[1].header("Host"), "MESSAGES.server.example:8080");

    URLHostRewrite::reset();
    EXPECT_TRUE(URLHostRewrite::isEmpty());
}

TEST_F(NSURLSessionTest, DownloadTasksWriteTheBodyToATemporaryFileThatIsGoneAfterTheHandler) {
    LoopbackServer server;
    const std::string big = patternBody(700 * 1024);
    server.serve("/file", textResponse(big));
    server.serve("/broken", textResponse(big));
    LoopbackServer::Fault reset;
    reset.resetAfter = 100 * 1024;
    server.setFault("/broken", reset);
    server.serve("/empty", textResponse(""));

    auto queue = DispatchQueue::create("test.net.downloads");
    auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(), queue);
    struct Result {
        int calls = 0;
        std::string path;
        bool existed = false;
        std::string contents;
        long status = 0;
        NSErrorPtr error;
    };
    auto download = [&](const std::string& path) {
        auto result = std::make_shared<Result>();
        std::promise<void> done;
        auto task = session->downloadTaskWithRequest(
            NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(path))),
            [result, &done](const std::shared_ptr<NSURL>& location, const std::shared_ptr<NSHTTPURLResponse>& response,
                            const NSErrorPtr& error) {
                ++result->calls;
                result->error = error;
                if (response) result->status = response->statusCode();
                if (location) {
                    result->path = location->path();
                    result->existed = std::filesystem::exists(result->path);
                    result->contents = readFile(result->path);
                }
                done.set_value();
            });
        task->resume();
        EXPECT_EQ(done.get_future().wait_for(std::chrono::duration<double>(kNetSafety)), std::future_status::ready);
        queue->sync([] {});
        return result;
    };

    auto file = download("/file");
    ASSERT_FALSE(file->error);
    EXPECT_EQ(file->calls, 1);
    EXPECT_EQ(file->status, 200);
    EXPECT_EQ(file->path.rfind(Sandbox::tmp() + "/", 0), 0u) << file->path;
    EXPECT_TRUE(file->existed);
    EXPECT_TRUE(file->contents == big);
    EXPECT_FALSE(std::filesystem::exists(file->path));

    auto empty = download("/empty");
    ASSERT_FALSE(empty->error);
    EXPECT_TRUE(empty->existed);
    EXPECT_EQ(empty->contents, "");

    auto broken = download("/broken");
    EXPECT_EQ(broken->calls, 1);
    ASSERT_TRUE(broken->error);
    EXPECT_EQ(broken->error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_TRUE(broken->path.empty());
    EXPECT_TRUE(downloadFilesInTmp().empty());
}

// The download file goes through the file system like every other writer: a disk that fails
// ends the task with the file error, once, and leaves no file behind.
TEST_F(NSURLSessionTest, ADownloadThatCannotBeWrittenFailsAndLeavesNothing) {
    LoopbackServer server;
    server.serve("/file", textResponse(patternBody(300 * 1024)));
    server.serve("/empty", textResponse(""));
    auto queue = DispatchQueue::create("test.net.downloads");
    auto session = NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(), queue);
    const std::string files = Sandbox::tmp() + "/URLDownload_*";
    struct Case {
        const char* fault;
        const char* path;
        FaultyFileIO::Operation operation;
        int err;
        long code;
    } cases[] = {
        {"no space", "/file", FaultyFileIO::Operation::Write, ENOSPC, NSURLErrorCannotWriteToFile},
        {"write error", "/file", FaultyFileIO::Operation::Write, EIO, NSURLErrorCannotWriteToFile},
        {"failed close", "/file", FaultyFileIO::Operation::Close, EIO, NSURLErrorCannotWriteToFile},
        {"no file", "/file", FaultyFileIO::Operation::Open, EACCES, NSURLErrorCannotCreateFile},
        {"no file for an empty body", "/empty", FaultyFileIO::Operation::Open, EROFS, NSURLErrorCannotCreateFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        FaultInjection io;
        io->inject(c.operation, files, c.err);
        std::atomic<int> calls{0};
        std::promise<std::pair<bool, NSErrorPtr>> done;
        auto task = session->downloadTaskWithRequest(
            NSURLRequest::requestWithURL(NSURL::URLWithString(server.url(c.path))),
            [&](const std::shared_ptr<NSURL>& location, const std::shared_ptr<NSHTTPURLResponse>& response,
                const NSErrorPtr& error) {
                if (++calls == 1) done.set_value({location || response, error});
            });
        task->resume();
        auto future = done.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::duration<double>(kNetSafety)), std::future_status::ready);
        queue->sync([] {});
        const auto [gotLocationOrResponse, error] = future.get();
        EXPECT_EQ(calls.load(), 1);
        EXPECT_FALSE(gotLocationOrResponse);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), c.code);
        EXPECT_GT(io->injected(), 0);
        EXPECT_TRUE(downloadFilesInTmp().empty()) << downloadFilesInTmp().front();
    }
}

TEST_F(NSURLSessionTest, HandlersRunOnTheSessionQueueNeverInsideTheCallThatCausedThem) {
    LoopbackServer server;
    server.serve("/ok", textResponse("ok"));
    TaskRunner runner;
    Completion got = runner.fetch(server.url("/ok"));
    EXPECT_EQ(got.queueLabel, "test.net.handlers");

    // A task cancelled before it ever ran still completes once, later, with the cancel.
    auto task = runner.session()->dataTaskWithURL(NSURL::URLWithString(server.url("/ok")), nullptr);
    std::atomic<bool> inCancel{false};
    std::atomic<int> calls{0};
    std::atomic<bool> ranInside{false};
    std::promise<long> code;
    auto never = runner.session()->dataTaskWithRequest(
        NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/ok"))),
        [&](const NSData&, const std::shared_ptr<NSHTTPURLResponse>&, const NSErrorPtr& error) {
            if (inCancel) ranInside = true;
            ++calls;
            code.set_value(error ? error->code() : 0);
        });
    EXPECT_EQ(never->state(), NSURLSessionTaskStateSuspended);
    runner.queue()->sync([&] {
        // On the handler queue itself, so a handler run inline would show.
        inCancel = true;
        never->cancel();
        inCancel = false;
    });
    EXPECT_EQ(code.get_future().get(), NSURLErrorCancelled);
    never->resume();  // a cancelled task does not start
    never->cancel();
    runner.queue()->sync([] {});
    EXPECT_FALSE(ranInside);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(never->state(), NSURLSessionTaskStateCompleted);
    EXPECT_TRUE(server.requestsFor("/ok").size() == 1);
    EXPECT_NE(task->taskIdentifier(), never->taskIdentifier());

    // The shared session's handlers run off the main thread, on its own queue.
    std::promise<bool> onMain;
    auto shared = NSURLSession::sharedSession()->dataTaskWithURL(
        NSURL::URLWithString(server.url("/ok")),
        [&](const NSData& data, const std::shared_ptr<NSHTTPURLResponse>&, const NSErrorPtr&) {
            EXPECT_EQ(std::string(data.begin(), data.end()), "ok");
            onMain.set_value(NSThread::isMainThread());
        });
    shared->resume();
    EXPECT_FALSE(onMain.get_future().get());
}

TEST_F(NSURLSessionTest, ATaskTakesNoMoreThanItsRequestsBoundAndFailsClearlyPastIt) {
    LoopbackServer server;
    const std::string body = patternBody(8 * 1024 * 1024);
    serveBothFramings(server, "/long", body);
    const std::uint64_t bound = 1024 * 1024;
    server.serve("/exact", textResponse(body.substr(0, bound)));

    TaskRunner runner;
    // A declared length over the bound is refused before the body; an undeclared one as it passes.
    for (const char* path : {"/long", "/long-chunked"}) {
        auto run = runner.start(boundedRequest(server.url(path), bound));
        Completion got = runner.wait(run);
        ASSERT_EQ(got.calls, 1) << path;
        EXPECT_EQ(got.errorCode(), NSURLErrorDataLengthExceedsMaximum) << path;
        EXPECT_EQ(got.error->localizedDescription(), "resource exceeds maximum size");
        EXPECT_EQ(got.error->userInfo().get(NSURLErrorFailingURLStringErrorKey).string(), server.url(path));
        EXPECT_TRUE(got.data.empty());
        EXPECT_LE(run.task->countOfBytesReceived(), static_cast<std::int64_t>(bound)) << path;
    }
    auto exact = runner.start(boundedRequest(server.url("/exact"), bound));
    Completion got = runner.wait(exact);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.data.size(), bound);
    EXPECT_EQ(exact.task->countOfBytesReceived(), static_cast<std::int64_t>(bound));
}

// A request told not to follow takes the redirect itself for its answer, its address and body
// included, whatever the method and status; the address it names is never asked.
TEST_F(NSURLSessionTest, ARequestThatFollowsNoRedirectTakesTheRedirectForItsAnswer) {
    LoopbackServer server;
    server.serve("/target", textResponse("the target"));
    TaskRunner runner;
    for (const auto& [method, status] : {std::pair{"POST", 302}, std::pair{"POST", 307}, std::pair{"GET", 301}}) {
        LoopbackServer::Fault fault = LoopbackServer::Fault::redirect("/target");
        fault.status = status;
        server.setFault("/moved", fault);
        auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(server.url("/moved")));
        request->setHTTPMethod(method);
        if (std::string(method) == "POST") request->setHTTPBody(NSData{'b', 'a', 't', 'c', 'h'});
        request->setFollowsRedirects(false);
        auto run = runner.start(request);
        const Completion got = runner.wait(run);
        ASSERT_EQ(got.calls, 1) << status;
        ASSERT_FALSE(got.error) << got.error->description();
        EXPECT_EQ(got.response->statusCode(), status);
        EXPECT_EQ(got.response->URL()->path(), "/moved");
        EXPECT_EQ(got.response->valueForHTTPHeaderField("Location"), "/target");
        EXPECT_EQ(got.body(), "Redirected\n");
        EXPECT_EQ(run.task->receivedStatusCode(), status);
    }
    EXPECT_TRUE(server.requestsFor("/target").empty());
    EXPECT_EQ(server.requestsFor("/moved").size(), 3u);
}

// Through a tunnelling proxy an HTTPS answer is the server's: its status, fields and body, and
// its status line the one read, never the proxy's "200 Connection established" or its refusal.
TEST_F(NSURLSessionTest, ThroughATunnellingProxyAnHTTPSAnswerIsTheServersOwn) {
    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    LoopbackServer server(LoopbackServer::Scheme::Https);
    LoopbackServer::Response missing = textResponse("no such page", 404);
    missing.headers = {{"X-Served-By", "the server"}};
    server.serve("/missing", missing);
    server.serve("/page", textResponse("over TLS"));
    ConnectProxy proxy;
    ScopedHTTPSProxy routed(proxy);
    TaskRunner runner;

    auto run = runner.start(server.url("/missing"));
    Completion got = runner.wait(run);
    ASSERT_EQ(got.calls, 1);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.response->statusCode(), 404);
    EXPECT_EQ(got.response->valueForHTTPHeaderField("X-Served-By"), "the server");
    EXPECT_EQ(got.body(), "no such page");
    EXPECT_EQ(run.task->receivedStatusCode(), 404);

    got = runner.fetch(server.url("/page"));
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.response->statusCode(), 200);
    EXPECT_EQ(got.response->expectedContentLength(), 8);
    EXPECT_EQ(got.body(), "over TLS");
    EXPECT_GE(proxy.tunnelCount(), 1u) << "the transfers went by the proxy";
    EXPECT_EQ(server.requests().size(), 2u);

    // The proxy's refusal to open a tunnel fails the load; it is no answer of the server's.
    RefusingPort closed;
    run = runner.start("https://127.0.0.1:" + std::to_string(closed.port()) + "/page");
    got = runner.wait(run);
    ASSERT_EQ(got.calls, 1);
    EXPECT_TRUE(got.error);
    EXPECT_FALSE(run.task->response()) << run.task->response()->statusCode();
    EXPECT_EQ(run.task->receivedStatusCode(), 0);
}
