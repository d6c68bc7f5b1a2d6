// The network object against an HTTPS server on loopback: completions run once on the given
// queue whatever happens, the in-progress flag, how far the last request has got, time-outs on
// clock time, reachability changes reaching the delegate, its log calls, and the
// background-session hand-off.
#include "platform/services/DIDEderazi.h"

#include "demo/loopback/LoopbackServer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/net/URLNetwork.h"
#include "platform/net/URLTrustAnchors.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string_view>

namespace {

constexpr double kSafety = 20.0;  // real seconds; a bound on waits for the network, not a timing

// What a completion was given, how often it ran, and what it saw of the network object. The
// record is shared with the completion, which may run after a failed test has returned.
class Recorder {
public:
    struct Outcome {
        int calls = 0;
        long status = 0;
        std::string body;
        Value::Dictionary headers;
        NSErrorPtr error;
        std::string queueLabel;
        bool uploadInProgressInside = true;
    };

    DIDEderazi::CompletionHandler handler(const std::shared_ptr<DIDEderazi>& network) {
        std::weak_ptr<DIDEderazi> weak = network;
        return [state = state_, weak](const std::shared_ptr<NSHTTPURLResponse>& response, const NSData& data,
                                      const NSErrorPtr& error) {
            std::lock_guard lock(state->mutex);
            Outcome& outcome = state->outcome;
            ++outcome.calls;
            outcome.status = response ? response->statusCode() : 0;
            outcome.headers = response ? response->allHeaderFields() : Value::Dictionary{};
            outcome.body.assign(data.begin(), data.end());
            outcome.error = error;
            outcome.queueLabel = DispatchQueue::currentQueueLabel();
            if (auto network = weak.lock()) outcome.uploadInProgressInside = network->hasUploadInProgress();
            state->changed.notify_all();
        };
    }
    Outcome wait() {
        std::unique_lock lock(state_->mutex);
        state_->changed.wait_for(lock, std::chrono::duration<double>(kSafety),
                                 [this] { return state_->outcome.calls > 0; });
        return state_->outcome;
    }
    // After the queue ran everything before this call.
    int callsAfterDraining(const std::shared_ptr<DispatchQueue>& queue) {
        queue->sync([] {});
        std::lock_guard lock(state_->mutex);
        return state_->outcome.calls;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        Outcome outcome;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class RecordingLogger : public DIDEderaziLoggerDelegate {
public:
    void DIDEderazi_logWithLevel(int level, std::int64_t messageCode, const std::string& message,
                                 const Value::Array& contexts) override {
        std::lock_guard lock(mutex);
        lines.push_back({level, messageCode, message, contexts});
    }
    struct Line {
        int level;
        std::int64_t code;
        std::string message;
        Value::Array contexts;
    };
    std::vector<Line> snapshot() {
        std::lock_guard lock(mutex);
        return lines;
    }
    std::mutex mutex;
    std::vector<Line> lines;
};

class CountingReachabilityDelegate : public DIDEderaziReachabilityDelegate {
public:
    void reachabilityDidChange() override {
        std::lock_guard lock(mutex);
        ++calls;
        changed.notify_all();
    }
    bool waitForCalls(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::duration<double>(kSafety), [&] { return calls >= count; });
    }
    int count() {
        std::lock_guard lock(mutex);
        return calls;
    }
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
};

LoopbackServer::Response answer(int status, std::string body = "", LoopbackServer::Headers headers = {}) {
    auto response = LoopbackServer::Response::make(status, std::move(body), "application/octet-stream");
    response.headers = std::move(headers);
    return response;
}

// A plain HTTP server on 127.0.0.1 whose answer the test writes itself, as slowly as it likes:
// the head a byte at a time, cut off wherever it wants.
class HandWrittenAnswers {
public:
    HandWrittenAnswers() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ >= 0 && ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(listener_, 4) == 0 && ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~HandWrittenAnswers() {
        hangUp();
        if (listener_ >= 0) ::close(listener_);
    }
    HandWrittenAnswers(const HandWrittenAnswers&) = delete;
    HandWrittenAnswers& operator=(const HandWrittenAnswers&) = delete;

    bool listening() const { return port_ > 0; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // Takes the next connection and reads its request whole: the head, then the body its
    // Content-Length announces. False when none came in time.
    bool takeRequest() {
        hangUp();
        if (!readable(listener_)) return false;
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection_ < 0) return false;
        std::string request;
        std::size_t headEnd = std::string::npos;
        std::size_t bodyLength = 0;
        while (headEnd == std::string::npos || request.size() < headEnd + 4 + bodyLength) {
            char buffer[4096];
            if (!readable(connection_)) return false;
            const ssize_t got = ::recv(connection_, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            request.append(buffer, static_cast<std::size_t>(got));
            if (headEnd == std::string::npos && (headEnd = request.find("\r\n\r\n")) != std::string::npos) {
                const std::size_t field = request.find("Content-Length: ");
                if (field != std::string::npos && field < headEnd) bodyLength = std::stoul(request.substr(field + 16));
            }
        }
        return true;
    }
    bool write(std::string_view bytes) {
        return connection_ >= 0 && ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                       static_cast<ssize_t>(bytes.size());
    }
    void hangUp() {
        if (connection_ >= 0) ::close(connection_);
        connection_ = -1;
    }

private:
    static bool readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(kSafety * 1000)) == 1;
    }

    int listener_ = -1;
    int connection_ = -1;
    int port_ = 0;
};

// Until `holds` is true, waking at each move of the network; false when it never was in time.
bool whenTheNetworkShows(const std::function<bool()>& holds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSafety);
    for (;;) {
        const std::uint64_t seen = URLNetwork::activityCount();
        if (holds()) return true;
        const std::chrono::duration<double> left = deadline - std::chrono::steady_clock::now();
        if (left.count() <= 0 || !URLNetwork::waitForActivity(seen, left.count())) return holds();
    }
}

class DIDEderaziTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
        network = DIDEderazi::initWithReachabilityHost("127.0.0.1");
        ASSERT_TRUE(network);
    }
    void TearDown() override {
        URLTrustAnchors::reset();
        SCNetworkReachability::setNetworkReachable(true);
        Clock::setReal();
    }

    LoopbackServer server{LoopbackServer::Scheme::Https};
    std::shared_ptr<DIDEderazi> network;
    std::shared_ptr<DispatchQueue> worker = DispatchQueue::create("test.didederazi.worker");
};

TEST_F(DIDEderaziTest, RequestsReachTheServerAndCompleteOnceOnTheGivenQueue) {
    server.serve("/a", answer(204));
    server.serve("/config/app/1", answer(304, "", {{"ETag", "\"v2\""}, {"Last-Modified", "Tue, 01 Oct 2024"}}));

    const NSData payload = {0x0a, 0x00, 0xff, 0x12, 0x00};
    Recorder posted;
    const std::string sessionID =
        network->postURL(NSURL::URLWithString(server.url("/a")), payload, worker, false, posted.handler(network));
    EXPECT_FALSE(sessionID.empty());
    EXPECT_TRUE(network->hasUploadInProgress());
    Recorder::Outcome got = posted.wait();
    ASSERT_EQ(got.calls, 1);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.status, kDIDEderaziHTTPStatusNoContent);
    EXPECT_EQ(got.queueLabel, "test.didederazi.worker");
    // A completion that starts the next request must find none in flight.
    EXPECT_FALSE(got.uploadInProgressInside);
    EXPECT_FALSE(network->hasUploadInProgress());
    ASSERT_EQ(server.requestsFor("/a").size(), 1u);
    EXPECT_EQ(server.requestsFor("/a")[0].method, "POST");
    EXPECT_EQ(server.requestsFor("/a")[0].body, std::string(payload.begin(), payload.end()));

    Recorder fetched;
    network->getURL(NSURL::URLWithString(server.url("/config/app/1?platform=ios")),
                    {{"If-None-Match", Value("\"v1\"")}, {"If-Modified-Since", Value("Mon, 30 Sep 2024")}}, worker,
                    false, fetched.handler(network));
    got = fetched.wait();
    ASSERT_EQ(got.calls, 1);
    EXPECT_EQ(got.status, kDIDEderaziHTTPStatusCodeNotModified);
    EXPECT_EQ(got.headers.get("ETag").string(), "\"v2\"");
    const LoopbackServer::Request request = server.requestsFor("/config/app/1").at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.query, "platform=ios");
    EXPECT_EQ(request.header("If-None-Match"), "\"v1\"");
    EXPECT_EQ(request.header("If-Modified-Since"), "Mon, 30 Sep 2024");

    // Every status comes through as it is, with its body.
    for (long status : {kDIDEderaziHTTPStatusOK, kDIDEderaziHTTPStatusCodeNotFound,
                        kDIDEderaziHTTPStatusCodeCannotAcceptTraffic, kDIDEderaziHTTPStatusCodeUnavailable}) {
        server.serve("/status", answer(static_cast<int>(status), "body " + std::to_string(status)));
        Recorder recorder;
        network->getURL(NSURL::URLWithString(server.url("/status")), {}, worker, false, recorder.handler(network));
        got = recorder.wait();
        EXPECT_EQ(got.calls, 1);
        EXPECT_EQ(got.status, status);
        EXPECT_EQ(got.body, "body " + std::to_string(status));
        EXPECT_EQ(recorder.callsAfterDraining(worker), 1);
    }
}

TEST_F(DIDEderaziTest, FailuresCompleteOnceWithAnErrorAndNoResponse) {
    // No URL: no session, and the completion still runs.
    Recorder noURL;
    EXPECT_EQ(network->postURL(nullptr, {1, 2}, worker, false, noURL.handler(network)), "");
    Recorder::Outcome got = noURL.wait();
    EXPECT_EQ(got.calls, 1);
    ASSERT_TRUE(got.error);
    EXPECT_EQ(got.error->code(), NSURLErrorBadURL);
    EXPECT_EQ(got.queueLabel, "test.didederazi.worker");

    // A connection reset in the middle of the body.
    server.serve("/reset", answer(200, std::string(64 * 1024, 'x')));
    LoopbackServer::Fault reset;
    reset.resetAfter = 1024;
    server.setFault("/reset", reset);
    Recorder resetRecorder;
    network->getURL(NSURL::URLWithString(server.url("/reset")), {}, worker, false, resetRecorder.handler(network));
    got = resetRecorder.wait();
    EXPECT_EQ(got.calls, 1);
    EXPECT_TRUE(got.error);
    EXPECT_EQ(got.status, 0);
    EXPECT_TRUE(got.body.empty());

    // An answer longer than the request takes: refused from its declared length, or as it passes.
    server.serve("/long", answer(200, std::string(64 * 1024, 'x')));
    auto chunked = answer(200, std::string(64 * 1024, 'x'));
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve("/long-chunked", chunked);
    for (const char* path : {"/long", "/long-chunked"}) {
        Recorder tooLong;
        network->getURL(NSURL::URLWithString(server.url(path)), {}, 4096, worker, false, tooLong.handler(network));
        got = tooLong.wait();
        EXPECT_EQ(got.calls, 1) << path;
        ASSERT_TRUE(got.error) << path;
        EXPECT_EQ(got.error->code(), NSURLErrorDataLengthExceedsMaximum) << path;
        EXPECT_TRUE(got.body.empty()) << path;
    }
    Recorder fits;
    network->getURL(NSURL::URLWithString(server.url("/long")), {}, 64 * 1024, worker, false, fits.handler(network));
    EXPECT_EQ(fits.wait().body.size(), 64u * 1024);
    // A POST answer is bounded the same way.
    Recorder postTooLong;
    network->postURL(NSURL::URLWithString(server.url("/long")), {1}, 4096, worker, false, postTooLong.handler(network));
    got = postTooLong.wait();
    ASSERT_TRUE(got.error);
    EXPECT_EQ(got.error->code(), NSURLErrorDataLengthExceedsMaximum);
    EXPECT_TRUE(got.body.empty());
    Recorder postFits;
    network->postURL(NSURL::URLWithString(server.url("/long")), {1}, 64 * 1024, worker, false, postFits.handler(network));
    EXPECT_EQ(postFits.wait().body.size(), 64u * 1024);

    // Nothing listens on port 1 of loopback.
    Recorder refused;
    network->postURL(NSURL::URLWithString("https://127.0.0.1:1/a"), {1}, worker, false, refused.handler(network));
    got = refused.wait();
    EXPECT_EQ(got.calls, 1);
    EXPECT_TRUE(got.error);
    EXPECT_FALSE(network->hasUploadInProgress());
    EXPECT_EQ(refused.callsAfterDraining(worker), 1);
}

// How far the last request has got shows each byte as it comes, the answer's head as much as its
// body, and the status of its status line as soon as that line is in, before the rest of the head
// and after the answer is cut off; the next request starts afresh.
TEST_F(DIDEderaziTest, TheLastRequestShowsEachByteOfItsAnswerAndItsStatusLineAsSoonAsItIsRead) {
    HandWrittenAnswers answers;
    ASSERT_TRUE(answers.listening());
    EXPECT_EQ(network->countOfBytesTransferred(), 0u);
    EXPECT_EQ(network->receivedStatusCode(), 0);

    Recorder cut;
    network->postURL(NSURL::URLWithString(answers.url("/a")), {1, 2, 3}, worker, false, cut.handler(network));
    ASSERT_TRUE(answers.takeRequest());
    const std::string statusLine = "HTTP/1.1 200 OK\r\n";
    for (std::size_t i = 0; i < statusLine.size(); ++i) {
        const std::uint64_t before = network->countOfBytesTransferred();
        ASSERT_TRUE(answers.write(statusLine.substr(i, 1)));
        ASSERT_TRUE(whenTheNetworkShows([&] { return network->countOfBytesTransferred() > before; }))
            << "byte " << i << " of the status line never counted";
        if (i + 1 < statusLine.size()) {
            EXPECT_EQ(network->receivedStatusCode(), 0) << "byte " << i;
        }
    }
    ASSERT_TRUE(whenTheNetworkShows([&] { return network->receivedStatusCode() == 200; }));
    EXPECT_TRUE(network->hasUploadInProgress()) << "the head has not ended";

    // Cut in its body: a failure without a response, whose status line stays known.
    ASSERT_TRUE(answers.write("Content-Length: 100\r\n\r\nabc"));
    answers.hangUp();
    Recorder::Outcome got = cut.wait();
    ASSERT_EQ(got.calls, 1);
    EXPECT_TRUE(got.error);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(network->receivedStatusCode(), 200);
    const std::uint64_t moved = network->countOfBytesTransferred();
    EXPECT_GE(moved, statusLine.size());

    // The next request knows nothing of its own answer yet.
    Recorder next;
    network->postURL(NSURL::URLWithString(answers.url("/a")), {4}, worker, false, next.handler(network));
    ASSERT_TRUE(answers.takeRequest());
    EXPECT_EQ(network->receivedStatusCode(), 0);
    ASSERT_TRUE(answers.write("HTTP/1.1 204 No Content\r\n\r\n"));
    got = next.wait();
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.status, 204);
    EXPECT_EQ(network->receivedStatusCode(), 204);
}

TEST_F(DIDEderaziTest, TheTimeoutOfTheNextRequestsRunsOnClockTime) {
    Clock::setManual(2'000'000);
    // The server holds its answer back: once the request is in, nothing moves but the clock.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server.handle("/slow", [released](const LoopbackServer::Request&) {
        released.wait();
        return answer(200, "late");
    });

    network->setTimeoutInterval(30);
    Recorder recorder;
    network->getURL(NSURL::URLWithString(server.url("/slow")), {}, worker, false, recorder.handler(network));
    ASSERT_TRUE(server.waitForRequests("/slow"));
    Clock::advance(29);
    EXPECT_EQ(recorder.callsAfterDraining(worker), 0);
    EXPECT_TRUE(network->hasUploadInProgress());
    Clock::advance(2);
    Recorder::Outcome got = recorder.wait();
    release.set_value();
    ASSERT_EQ(got.calls, 1);
    ASSERT_TRUE(got.error);
    EXPECT_EQ(got.error->code(), NSURLErrorTimedOut);
    Clock::advance(600);
    EXPECT_EQ(recorder.callsAfterDraining(worker), 1);
    EXPECT_FALSE(network->hasUploadInProgress());
}

TEST_F(DIDEderaziTest, TheReachabilityDelegateHearsChangesOnlyWhileSet) {
    EXPECT_EQ(DIDEderazi::initWithReachabilityHost(""), nullptr);
    EXPECT_TRUE(network->isNetworkConnected());
    auto delegate = std::make_shared<CountingReachabilityDelegate>();
    network->setReachabilityDelegate(delegate);

    SCNetworkReachability::setNetworkReachable(false);
    ASSERT_TRUE(delegate->waitForCalls(1));
    EXPECT_FALSE(network->isNetworkConnected());
    // No change, no call.
    SCNetworkReachability::setNetworkReachable(false);

    network->setReachabilityDelegate({});
    SCNetworkReachability::setNetworkReachable(true);
    EXPECT_TRUE(network->isNetworkConnected());
    network->setReachabilityDelegate(delegate);
    SCNetworkReachability::setNetworkReachable(false);
    ASSERT_TRUE(delegate->waitForCalls(2));
    // Calls arrive in order on one queue: a stray one would have come before the second.
    EXPECT_EQ(delegate->count(), 2);

    // A delegate that went away is not called, and nothing breaks.
    delegate.reset();
    SCNetworkReachability::setNetworkReachable(true);
    EXPECT_TRUE(network->isNetworkConnected());
}

TEST_F(DIDEderaziTest, TheLoggerHearsFailuresAlwaysAndRequestsInDebugMode) {
    server.serve("/ok", answer(200, "fine"));
    auto logger = std::make_shared<RecordingLogger>();
    network->setLoggerDelegate(logger);

    Recorder quiet;
    network->getURL(NSURL::URLWithString(server.url("/ok")), {}, worker, false, quiet.handler(network));
    quiet.wait();
    EXPECT_TRUE(logger->snapshot().empty());

    network->setIsDebugModeEnabled(true);
    Recorder loud;
    network->getURL(NSURL::URLWithString(server.url("/ok")), {}, worker, false, loud.handler(network));
    loud.wait();
    std::vector<RecordingLogger::Line> lines = logger->snapshot();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].code, kDIDEderaziMessageRequestStarted);
    EXPECT_EQ(lines[0].contexts.at(1).string(), server.url("/ok"));
    EXPECT_EQ(lines[1].code, kDIDEderaziMessageRequestCompleted);
    EXPECT_EQ(lines[1].contexts.at(1).longLongValue(), 200);

    network->setIsDebugModeEnabled(false);
    Recorder failed;
    network->getURL(nullptr, {}, worker, false, failed.handler(network));
    failed.wait();
    lines = logger->snapshot();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].code, kDIDEderaziMessageInvalidURL);
    EXPECT_EQ(lines[2].level, 3);
}

TEST_F(DIDEderaziTest, ABackgroundSessionHandOffCompletesAfterItsRequests) {
    server.serve("/a", answer(200, "stalled"));
    LoopbackServer::Fault stall;
    stall.stallAfter = 0;
    server.setFault("/a", stall);
    server.serve("/b", answer(200, "body"));

    Recorder upload;
    const std::string sessionID =
        network->postURL(NSURL::URLWithString(server.url("/a")), {1}, worker, true, upload.handler(network));
    EXPECT_EQ(sessionID.rfind("com.vizudi.DIDEderazi.background.", 0), 0u);
    bool handedBack = false;
    network->handleEventsForBackgroundURLSessionID(sessionID, [&handedBack] { handedBack = true; });
    ASSERT_TRUE(server.waitForStalls(1));
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_FALSE(handedBack);

    server.releaseStalls();
    EXPECT_EQ(upload.wait().calls, 1);
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return handedBack; }, kSafety));

    // A session this object does not know (or no longer runs) is handed back at once.
    bool unknown = false;
    network->handleEventsForBackgroundURLSessionID("com.vizudi.DIDEderazi.background.999", [&unknown] { unknown = true; });
    EXPECT_FALSE(unknown);
    EXPECT_TRUE(NSRunLoop::mainRunLoop()->runUntil([&] { return unknown; }, kSafety));

    // An ordinary request gets an identifier of its own too.
    Recorder plain;
    const std::string plainID =
        network->getURL(NSURL::URLWithString(server.url("/b")), {}, worker, false, plain.handler(network));
    EXPECT_FALSE(plainID.empty());
    EXPECT_NE(plainID, sessionID);
    EXPECT_EQ(plain.wait().body, "body");
}

}  // namespace
