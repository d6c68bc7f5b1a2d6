// Helpers of the network tests: the process-wide rules and clock put back after each test, and
// data tasks run to their completion handler on a queue of the test.
#pragma once

#include "demo/loopback/LoopbackServer.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/URLHostRewrite.h"
#include "platform/net/URLTrustAnchors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

// A bound, in real seconds, on waits for the network: a safety net, not a timing.
constexpr double kNetSafety = 20.0;

class NetTest : public ::testing::Test {
protected:
    void TearDown() override {
        URLHostRewrite::reset();
        URLTrustAnchors::reset();
        Clock::setReal();
    }
};

// What a data task's completion handler was given, and how often it ran.
struct Completion {
    int calls = 0;
    NSData data;
    std::shared_ptr<NSHTTPURLResponse> response;
    NSErrorPtr error;
    std::string queueLabel;

    std::string body() const { return std::string(data.begin(), data.end()); }
    long errorCode() const { return error ? error->code() : 0; }
};

// Data tasks of one session whose handlers run on a serial queue of the test.
class TaskRunner {
public:
    TaskRunner()
        : queue_(DispatchQueue::create("test.net.handlers")),
          session_(NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(),
                                                          queue_)) {}

    struct Run {
        std::shared_ptr<NSURLSessionDataTask> task;
        std::shared_ptr<Completion> completion;
    };

    // Made and resumed.
    Run start(std::shared_ptr<NSURLRequest> request) {
        auto completion = std::make_shared<Completion>();
        auto task = session_->dataTaskWithRequest(
            std::move(request), [this, completion](const NSData& data, const std::shared_ptr<NSHTTPURLResponse>& response,
                                                   const NSErrorPtr& error) {
                std::lock_guard lock(mutex_);
                ++completion->calls;
                completion->data = data;
                completion->response = response;
                completion->error = error;
                completion->queueLabel = DispatchQueue::currentQueueLabel();
                changed_.notify_all();
            });
        task->resume();
        return {task, completion};
    }
    Run start(const std::string& url) { return start(NSURLRequest::requestWithURL(NSURL::URLWithString(url))); }

    // Waits for the handler; a copy of what it got.
    Completion wait(const Run& run) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(kNetSafety), [&] { return run.completion->calls > 0; });
        return *run.completion;
    }
    Completion fetch(std::shared_ptr<NSURLRequest> request) { return wait(start(std::move(request))); }
    Completion fetch(const std::string& url) { return wait(start(url)); }

    // Runs what the handler queue holds, then reads the count.
    int callsAfterDrain(const Run& run) {
        queue_->sync([] {});
        std::lock_guard lock(mutex_);
        return run.completion->calls;
    }

    const std::shared_ptr<NSURLSession>& session() const { return session_; }
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

private:
    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<NSURLSession> session_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

inline LoopbackServer::Response textResponse(std::string body, int status = 200) {
    return LoopbackServer::Response::make(status, std::move(body));
}

// Bytes that differ from position to position, so a lost or repeated piece shows.
inline std::string patternBody(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return body;
}

// `body` at `path` with its length declared, and at `path` + "-chunked" without.
inline void serveBothFramings(LoopbackServer& server, const std::string& path, const std::string& body) {
    server.serve(path, textResponse(body));
    LoopbackServer::Response chunked = textResponse(body);
    chunked.framing = LoopbackServer::Framing::Chunked;
    server.serve(path + "-chunked", chunked);
}

// A GET of `url` that takes at most `bound` body bytes.
inline std::shared_ptr<NSMutableURLRequest> boundedRequest(const std::string& url, std::uint64_t bound) {
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
    request->setMaximumBodyLength(bound);
    return request;
}
