// Delegate-style loading: the order of delegate calls and where they run (the main run loop,
// another thread's run loop, a queue), failures, a cancel that silences everything after it, and
// bounds on what a body may hold.
#include "tests/platform/net/NetTestSupport.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLConnectionDelegate.h"
#include "platform/net/URLNetwork.h"
#include "tests/fixtures/HeldExecutor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

namespace {

// Keeps a journal of what it was told; `cancelOnData` cancels from inside the first data call.
class Recorder : public NSURLConnectionDelegate {
public:
    struct Entry {
        std::string what;
        std::thread::id thread;
        std::string queue;
    };

    void connectionDidReceiveResponse(const std::shared_ptr<NSURLConnection>&,
                                      const std::shared_ptr<NSHTTPURLResponse>& r) override {
        response = r;
        note("response");
    }
    void connectionDidReceiveData(const std::shared_ptr<NSURLConnection>& connection, const NSData& data) override {
        body.append(data.begin(), data.end());
        note("data");
        if (cancelOnData) connection->cancel();
    }
    void connectionDidFinishLoading(const std::shared_ptr<NSURLConnection>&) override { note("finish"); }
    void connectionDidFailWithError(const std::shared_ptr<NSURLConnection>&, const NSErrorPtr& e) override {
        error = e;
        note("fail");
    }

    bool ended() {
        std::lock_guard lock(mutex);
        return !journal.empty() && (journal.back().what == "finish" || journal.back().what == "fail");
    }
    std::vector<std::string> kinds() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& entry : journal) {
            if (out.empty() || out.back() != entry.what) out.push_back(entry.what);
        }
        return out;
    }
    std::vector<Entry> entries() {
        std::lock_guard lock(mutex);
        return journal;
    }

    std::shared_ptr<NSHTTPURLResponse> response;
    std::string body;
    NSErrorPtr error;
    bool cancelOnData = false;

private:
    void note(const char* what) {
        std::lock_guard lock(mutex);
        journal.push_back({what, std::this_thread::get_id(), DispatchQueue::currentQueueLabel()});
    }
    std::mutex mutex;
    std::vector<Entry> journal;
};

std::shared_ptr<NSURLRequest> requestFor(const std::string& url) {
    return NSURLRequest::requestWithURL(NSURL::URLWithString(url));
}

bool pumpMainUntil(const std::function<bool()>& done) {
    return NSRunLoop::mainRunLoop()->runUntil(done, kNetSafety);
}

// Until `done` holds, looked at again after each change the network makes (a transfer's start,
// answer, body bytes or end), bounded in real time by the safety net.
bool waitForNetworkUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kNetSafety);
    for (;;) {
        const std::uint64_t seen = URLNetwork::activityCount();
        if (done()) return true;
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || !URLNetwork::waitForActivity(seen, left)) return done();
    }
}

bool waitForNoLiveTransfer() {
    return waitForNetworkUntil([] { return URLNetwork::liveTransferCount() == 0; });
}

}  // namespace

using NSURLConnectionTest = NetTest;

TEST_F(NSURLConnectionTest, TheDelegateHearsResponseThenPortionsThenFinishOnlyWhereItIsScheduled) {
    LoopbackServer server;
    const std::string big = patternBody(400 * 1024);
    LoopbackServer::Response chunked = textResponse(big);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/big", chunked);

    // The main run loop: nothing arrives until it runs, even once the server has answered.
    auto onMain = std::make_shared<Recorder>();
    auto connection = NSURLConnection::connectionWithRequest(requestFor(server.url("/big")), onMain);
    ASSERT_TRUE(server.waitForRequests("/big"));
    EXPECT_TRUE(onMain->entries().empty());
    ASSERT_TRUE(pumpMainUntil([&] { return onMain->ended(); }));
    EXPECT_EQ(onMain->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_GT(onMain->entries().size(), 3u);  // the body came in several portions
    EXPECT_TRUE(onMain->body == big);
    EXPECT_EQ(onMain->response->statusCode(), 200);
    EXPECT_EQ(onMain->response->expectedContentLength(), -1);
    for (const auto& entry : onMain->entries()) EXPECT_EQ(entry.thread, NSThread::mainThreadId());

    // Another thread's run loop.
    std::promise<std::shared_ptr<NSRunLoop>> loopOf;
    std::thread worker([&] {
        auto loop = NSRunLoop::currentRunLoop();
        loopOf.set_value(loop);
        loop->run();
    });
    auto workerLoop = loopOf.get_future().get();
    auto onWorker = std::make_shared<Recorder>();
    auto scheduled = NSURLConnection::initWithRequest(requestFor(server.url("/big")), onWorker, false);
    scheduled->scheduleInRunLoop(workerLoop);
    scheduled->start();
    ASSERT_TRUE(pumpMainUntil([&] { return onWorker->ended(); }));
    workerLoop->performBlock([workerLoop] { workerLoop->stop(); });
    worker.join();
    EXPECT_EQ(onWorker->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_TRUE(onWorker->body == big);
    for (const auto& entry : onWorker->entries()) EXPECT_NE(entry.thread, NSThread::mainThreadId());

    // A queue.
    auto onQueue = std::make_shared<Recorder>();
    auto queued = NSURLConnection::initWithRequest(requestFor(server.url("/big")), onQueue, false);
    queued->setDelegateQueue(DispatchQueue::create("test.net.connection"));
    queued->start();
    ASSERT_TRUE(pumpMainUntil([&] { return onQueue->ended(); }));
    EXPECT_TRUE(onQueue->body == big);
    for (const auto& entry : onQueue->entries()) EXPECT_EQ(entry.queue, "test.net.connection");
}

TEST_F(NSURLConnectionTest, AWholeAnswerThatCameWhileTheDelegatesSideWasBusyCostsItOneTask) {
    LoopbackServer server;
    const std::string big = patternBody(400 * 1024);
    LoopbackServer::Response chunked = textResponse(big);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/big", chunked);

    auto queue = std::make_shared<HeldExecutor>();
    auto recorder = std::make_shared<Recorder>();
    auto connection = NSURLConnection::initWithRequest(requestFor(server.url("/big")), recorder, false);
    connection->setDelegateQueue(queue);
    connection->start();
    // The transfer ends on the network side while nothing runs on the delegate's.
    ASSERT_TRUE(waitForNoLiveTransfer());
    EXPECT_EQ(connection->bufferedByteCount(), big.size());
    EXPECT_TRUE(recorder->entries().empty());
    EXPECT_EQ(queue->postCount(), 1u);

    queue->runAll();
    EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_GT(recorder->entries().size(), 3u);  // the portions stay portions
    EXPECT_TRUE(recorder->body == big);
    EXPECT_EQ(connection->bufferedByteCount(), 0u);
    EXPECT_EQ(queue->postCount(), 1u);
}

TEST_F(NSURLConnectionTest, StatusErrorsAreAnswersWhileTransportFailuresEndInOneFailure) {
    LoopbackServer server;
    const std::string big = patternBody(300 * 1024);
    server.serve("/broken", textResponse(big));
    LoopbackServer::Fault reset;
    reset.resetAfter = 120 * 1024;
    server.setFault("/broken", reset);

    auto missing = std::make_shared<Recorder>();
    NSURLConnection::connectionWithRequest(requestFor(server.url("/missing")), missing);
    ASSERT_TRUE(pumpMainUntil([&] { return missing->ended(); }));
    EXPECT_EQ(missing->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_EQ(missing->response->statusCode(), 404);

    auto broken = std::make_shared<Recorder>();
    NSURLConnection::connectionWithRequest(requestFor(server.url("/broken")), broken);
    ASSERT_TRUE(pumpMainUntil([&] { return broken->ended(); }));
    EXPECT_EQ(broken->kinds(), (std::vector<std::string>{"response", "data", "fail"}));
    EXPECT_EQ(broken->error->code(), NSURLErrorNetworkConnectionLost);
    EXPECT_LE(broken->body.size(), 120u * 1024);

    // A port bound on 127.0.0.1 but not listening refuses the connection.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    auto refused = std::make_shared<Recorder>();
    NSURLConnection::connectionWithRequest(
        requestFor("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/"), refused);
    ASSERT_TRUE(pumpMainUntil([&] { return refused->ended(); }));
    close(fd);
    EXPECT_EQ(refused->kinds(), (std::vector<std::string>{"fail"}));
    EXPECT_EQ(refused->error->code(), NSURLErrorCannotConnectToHost);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(broken->kinds().size(), 3u);
}

TEST_F(NSURLConnectionTest, ACancelSilencesTheDelegateEvenForPortionsAlreadyOnTheirWay) {
    LoopbackServer server;
    server.serve("/stalls", textResponse(patternBody(600 * 1024)));
    LoopbackServer::Fault stall;
    stall.stallAfter = 200 * 1024;
    stall.pieceSize = 8 * 1024;
    server.setFault("/stalls", stall);

    auto recorder = std::make_shared<Recorder>();
    recorder->cancelOnData = true;
    std::weak_ptr<NSURLConnection> weak = NSURLConnection::connectionWithRequest(requestFor(server.url("/stalls")), recorder);
    // Many portions are queued for the run loop before it first runs.
    ASSERT_TRUE(server.waitForStalls(1));
    ASSERT_TRUE(pumpMainUntil([&] { return !recorder->entries().empty() && recorder->entries().back().what == "data"; }));
    server.releaseStalls();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"response", "data"}));
    EXPECT_EQ(recorder->entries().size(), 2u);
    // The connection let go of itself and its delegate.
    EXPECT_TRUE(pumpMainUntil([&] { return weak.expired(); }));
    EXPECT_EQ(recorder.use_count(), 1);
}

TEST_F(NSURLConnectionTest, ADelegateSlowerThanTheNetworkHoldsTheServerBackInsteadOfBufferingTheBody) {
    LoopbackServer server;
    // Far more than the bound and than the sockets hold between server and client (a few MiB).
    const std::string big = patternBody(24 * 1024 * 1024);
    server.serve("/big", textResponse(big));

    // The delegate's queue is busy until the test lets it go.
    auto queue = DispatchQueue::create("test.net.busy");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    queue->async([released] { released.wait(); });

    auto recorder = std::make_shared<Recorder>();
    auto connection = NSURLConnection::initWithRequest(requestFor(server.url("/big")), recorder, false);
    connection->setDelegateQueue(queue);
    connection->start();
    ASSERT_TRUE(waitForNetworkUntil(
        [&] { return connection->bufferedByteCount() >= NSURLConnection::kMaximumBufferedBytes; }));
    // The network goes quiet with the transfer still live, and a pass of the network thread
    // then finds nothing more to hand on: reading stopped at the bound. Had it gone on, the
    // megabytes waiting in the sockets would have come in those passes.
    ASSERT_TRUE(URLNetwork::waitUntilQuiet(0.05, kNetSafety));
    EXPECT_EQ(URLNetwork::liveTransferCount(), 1u);
    EXPECT_LE(connection->bufferedByteCount(), NSURLConnection::kMaximumBufferedBytes + 64 * 1024);
    EXPECT_TRUE(recorder->entries().empty());

    release.set_value();
    // The whole body then goes through the delegate, a long way on a loaded, sanitized machine.
    ASSERT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return recorder->ended(); }, 3 * kNetSafety));
    EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_TRUE(recorder->body == big);
    EXPECT_EQ(connection->bufferedByteCount(), 0u);
}

TEST_F(NSURLConnectionTest, ABodyOverTheRequestsBoundFailsBeforeAnythingPastItIsDelivered) {
    LoopbackServer server;
    const std::string body = patternBody(3 * 1024 * 1024);
    serveBothFramings(server, "/long", body);
    server.serve("/fits", textResponse(body.substr(0, 1000)));

    const std::uint64_t bound = 1000;
    for (const char* path : {"/long", "/long-chunked", "/fits"}) {
        auto recorder = std::make_shared<Recorder>();
        NSURLConnection::connectionWithRequest(boundedRequest(server.url(path), bound), recorder);
        ASSERT_TRUE(pumpMainUntil([&] { return recorder->ended(); })) << path;
        if (std::string(path) == "/fits") {
            EXPECT_EQ(recorder->kinds(), (std::vector<std::string>{"response", "data", "finish"}));
            EXPECT_EQ(recorder->body.size(), bound);
            continue;
        }
        EXPECT_EQ(recorder->kinds().back(), "fail") << path;
        ASSERT_TRUE(recorder->error) << path;
        EXPECT_EQ(recorder->error->domain(), NSURLErrorDomain);
        EXPECT_EQ(recorder->error->code(), NSURLErrorDataLengthExceedsMaximum) << path;
        EXPECT_EQ(recorder->error->localizedDescription(), "resource exceeds maximum size");
        EXPECT_EQ(recorder->error->userInfo().get(NSDebugDescriptionErrorKey).stringValue(),
                  "The answer is longer than the 1000 bytes its request allows.");
        EXPECT_LE(recorder->body.size(), bound) << path;
    }
}
