// A transfer reports to its client without holding a lock of its own: a client that takes its
// own lock in a report cannot deadlock with a thread that holds that lock and cancels or
// resumes the transfer, and the completion still comes once, after the report under way.
#include "NetTestSupport.h"
#include "platform/net/URLTransfer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Keeps what it was told, in order; the test's hooks run inside the reports.
class Journal : public URLTransferClient {
public:
    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>&) override { note("response"); }
    NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
        if (onData) onData();
        std::lock_guard lock(mutex_);
        body_.append(bytes, size);
        noteLocked("data");
        return nullptr;
    }
    bool transferCanTakeData() override { return canTakeData ? canTakeData() : true; }
    void transferCompleted(NSErrorPtr error) override {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        noteLocked("completed");
    }

    // Until `what` was reported, bounded by the safety net.
    bool waitFor(const std::string& what) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kNetSafety), [&] {
            return std::find(events_.begin(), events_.end(), what) != events_.end();
        });
    }
    // Each kind once, in the order it first came, with how often it came.
    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::string body() {
        std::lock_guard lock(mutex_);
        return body_;
    }
    long errorCode() {
        std::lock_guard lock(mutex_);
        return error_ ? error_->code() : 0;
    }

    // Set before the transfer starts; run on the network thread, inside the report.
    std::function<void()> onData;
    std::function<bool()> canTakeData;

private:
    void note(const char* what) {
        std::lock_guard lock(mutex_);
        noteLocked(what);
    }
    void noteLocked(const char* what) {
        if (events_.empty() || events_.back() != what) events_.push_back(what);
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::string body_;
    NSErrorPtr error_;
};

std::shared_ptr<URLTransfer> transferOf(const std::string& url, std::shared_ptr<URLTransferClient> client) {
    return URLTransfer::make(*NSURLRequest::requestWithURL(NSURL::URLWithString(url)), 0, std::move(client));
}

using URLTransferTest = NetTest;

}  // namespace

TEST_F(URLTransferTest, ACancelFromAThreadHoldingTheLockAReportWaitsForReturnsAndTheEndComesAfterTheReport) {
    LoopbackServer server;
    server.serve("/stalls", textResponse(patternBody(64 * 1024)));
    LoopbackServer::Fault stall;
    stall.stallAfter = 1024;
    server.setFault("/stalls", stall);

    // The client's own lock, held by the test while the network thread's report waits for it.
    std::mutex clientLock;
    std::unique_lock held(clientLock);
    std::promise<void> inReport;
    auto journal = std::make_shared<Journal>();
    journal->onData = [&, first = true]() mutable {
        if (!first) return;
        first = false;
        inReport.set_value();
        std::lock_guard lock(clientLock);
    };
    auto transfer = transferOf(server.url("/stalls"), journal);
    transfer->start();
    ASSERT_EQ(inReport.get_future().wait_for(std::chrono::duration<double>(kNetSafety)), std::future_status::ready);

    auto cancelled = std::async(std::launch::async, [&] {
        return transfer->cancel(makeURLError(NSURLErrorCancelled, server.url("/stalls")));
    });
    const bool returned =
        cancelled.wait_for(std::chrono::duration<double>(kNetSafety)) == std::future_status::ready;
    // Nothing is told before the report under way has ended.
    const std::vector<std::string> whileHeld = journal->events();
    held.unlock();
    ASSERT_TRUE(returned) << "the cancel waited for the client's report";
    EXPECT_TRUE(cancelled.get());
    EXPECT_EQ(whileHeld, (std::vector<std::string>{"response"}));

    ASSERT_TRUE(journal->waitFor("completed"));
    EXPECT_EQ(journal->events(), (std::vector<std::string>{"response", "data", "completed"}));
    EXPECT_EQ(journal->errorCode(), NSURLErrorCancelled);
    // The portion of the report under way, and nothing after the end.
    const std::string got = journal->body();
    EXPECT_FALSE(got.empty());
    EXPECT_LE(got.size(), 1024u);
    EXPECT_EQ(got, patternBody(got.size()));
    server.releaseStalls();
}

TEST_F(URLTransferTest, AResumeAskedWhileTheClientDecidesToHoldAPortionBackIsNotLost) {
    LoopbackServer server;
    const std::string body = patternBody(256 * 1024);
    server.serve("/body", textResponse(body));

    // The first portion is held back, and the client's side asks to resume before the
    // transfer has heard so: the resume must still take effect.
    auto journal = std::make_shared<Journal>();
    std::shared_ptr<URLTransfer> transfer;
    std::future<void> resumed;
    bool resumedInTime = false;
    journal->canTakeData = [&, first = true]() mutable {
        if (!first) return true;
        first = false;
        resumed = std::async(std::launch::async, [&] { transfer->resumeReceiving(); });
        resumedInTime = resumed.wait_for(std::chrono::duration<double>(kNetSafety)) == std::future_status::ready;
        return false;
    };
    transfer = transferOf(server.url("/body"), journal);
    transfer->start();

    ASSERT_TRUE(journal->waitFor("completed"));
    EXPECT_TRUE(resumedInTime) << "the resume waited for the client's report";
    EXPECT_EQ(journal->errorCode(), 0);
    EXPECT_EQ(journal->events(), (std::vector<std::string>{"response", "data", "completed"}));
    EXPECT_TRUE(journal->body() == body);
}
