// The network as a whole: its shutdown ends every live transfer once and joins its thread, and
// a transfer started afterwards fails at once saying why; neither it nor a cancel waits for a
// name lookup; the live count and the activity a front end follows, and the quiet wait that
// hands on what has arrived.
#include "NetTestSupport.h"
#include "platform/net/URLNetwork.h"
#include "platform/net/URLTransfer.h"
#include "tests/fixtures/ProcessState.h"
#include "tests/fixtures/net/HeldNameLookup.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A network left shut down would fail every later transfer of the binary.
const ProcessState::Registration network("network", [] {
    return ProcessStateSnapshot{URLNetwork::isShutDown() ? "shut down" : "running", [] { URLNetwork::restart(); }};
});

// Tells on which thread the transfer's reports came: the network thread's.
class ThreadRecorder : public URLTransferClient {
public:
    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>&) override { record(); }
    NSErrorPtr transferReceivedData(const char*, std::size_t) override {
        record();
        return nullptr;
    }
    void transferCompleted(NSErrorPtr error) override {
        std::lock_guard lock(mutex_);
        ++completions_;
        error_ = std::move(error);
        changed_.notify_all();
    }
    // The network thread's id, once a report came from it.
    pid_t waitForThread() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::duration<double>(kNetSafety), [&] { return thread_ != 0; });
        return thread_;
    }
    int completions() {
        std::lock_guard lock(mutex_);
        return completions_;
    }
    long errorCode() {
        std::lock_guard lock(mutex_);
        return error_ ? error_->code() : 0;
    }

private:
    void record() {
        std::lock_guard lock(mutex_);
        thread_ = static_cast<pid_t>(syscall(SYS_gettid));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    pid_t thread_ = 0;
    int completions_ = 0;
    NSErrorPtr error_;
};

// Holds the network thread in its report of the answer's head until released.
class HeldReport : public URLTransferClient {
public:
    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>&) override {
        std::unique_lock lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, std::chrono::duration<double>(kNetSafety), [&] { return released_; });
    }
    NSErrorPtr transferReceivedData(const char*, std::size_t) override { return nullptr; }
    void transferCompleted(NSErrorPtr) override {}
    [[nodiscard]] bool waitUntilHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kNetSafety), [&] { return entered_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

bool threadAlive(pid_t thread) { return std::filesystem::exists("/proc/self/task/" + std::to_string(thread)); }

// A joined thread has returned, but the kernel may list it for a moment longer while it reaps it.
bool threadGone(pid_t thread) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (threadAlive(thread)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

class URLNetworkTest : public NetTest {
protected:
    void TearDown() override {
        URLNetwork::restart();
        NetTest::TearDown();
    }

    // A path whose body stalls after `sent` bytes.
    void serveStalled(const std::string& path, std::size_t sent = 0) {
        server.serve(path, textResponse(patternBody(64)));
        LoopbackServer::Fault stall;
        stall.stallAfter = sent;
        server.setFault(path, stall);
    }

    LoopbackServer server;
};

}  // namespace

TEST_F(URLNetworkTest, ShutdownEndsEveryLiveTransferOnceAndJoinsTheNetworkThread) {
    serveStalled("/hang");
    serveStalled("/half", 32);
    TaskRunner runner;
    const std::vector<TaskRunner::Run> runs = {runner.start(server.url("/hang")), runner.start(server.url("/half"))};
    auto recorder = std::make_shared<ThreadRecorder>();
    auto transfer = URLTransfer::make(*NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/half"))), 0, recorder);
    transfer->start();
    ASSERT_TRUE(server.waitForStalls(3, kNetSafety));
    EXPECT_EQ(URLNetwork::liveTransferCount(), 3u);
    const pid_t networkThread = recorder->waitForThread();
    ASSERT_NE(networkThread, 0);
    EXPECT_TRUE(threadAlive(networkThread));

    URLNetwork::shutdown();
    EXPECT_TRUE(URLNetwork::isShutDown());
    EXPECT_EQ(URLNetwork::liveTransferCount(), 0u);
    EXPECT_TRUE(threadGone(networkThread)) << "the network thread still runs";
    EXPECT_EQ(recorder->completions(), 1);
    EXPECT_EQ(recorder->errorCode(), NSURLErrorCancelled);
    for (const auto& run : runs) {
        const Completion done = runner.wait(run);
        EXPECT_EQ(done.errorCode(), NSURLErrorCancelled);
        EXPECT_EQ(runner.callsAfterDrain(run), 1);
    }
    // Once is enough: a second shutdown changes nothing.
    URLNetwork::shutdown();
    for (const auto& run : runs) EXPECT_EQ(runner.callsAfterDrain(run), 1);
}

TEST_F(URLNetworkTest, ATransferStartedAfterTheShutdownFailsAtOnceSayingWhyAndARestartServesAgain) {
    server.serve("/hello", textResponse("hello"));
    URLNetwork::shutdown();
    TaskRunner runner;
    const Completion refused = runner.fetch(server.url("/hello"));
    EXPECT_EQ(refused.calls, 1);
    EXPECT_EQ(refused.errorCode(), NSURLErrorCancelled);
    ASSERT_TRUE(refused.error);
    EXPECT_NE(refused.error->userInfo().get(NSDebugDescriptionErrorKey).stringValue().find("the network is shut down"),
              std::string::npos);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(URLNetwork::liveTransferCount(), 0u);

    URLNetwork::restart();
    EXPECT_FALSE(URLNetwork::isShutDown());
    const Completion served = runner.fetch(server.url("/hello"));
    EXPECT_FALSE(served.error);
    EXPECT_EQ(served.body(), "hello");
}

TEST_F(URLNetworkTest, AShutdownRacingTransfersThatFinishEndsEachOfThemExactlyOnce) {
    server.serve("/quick", textResponse(patternBody(4096)));
    serveStalled("/hang");
    TaskRunner runner;
    std::vector<TaskRunner::Run> runs;
    for (int i = 0; i < 24; ++i) runs.push_back(runner.start(server.url(i % 3 == 0 ? "/hang" : "/quick")));
    URLNetwork::shutdown();
    // Started later: refused, also exactly once.
    for (int i = 0; i < 4; ++i) runs.push_back(runner.start(server.url("/quick")));
    int cancelled = 0;
    for (const auto& run : runs) {
        const Completion done = runner.wait(run);
        EXPECT_EQ(runner.callsAfterDrain(run), 1);
        if (done.error) {
            EXPECT_EQ(done.errorCode(), NSURLErrorCancelled);
            ++cancelled;
        } else {
            EXPECT_EQ(done.body(), patternBody(4096));
        }
    }
    EXPECT_GE(cancelled, 8 + 4) << "every stalled transfer and every later one is cancelled";
    EXPECT_EQ(URLNetwork::liveTransferCount(), 0u);
}

// The system's resolver holds the name: the transfers taken out during their lookups, by a
// cancel and by the shutdown, leave the lookups to end by themselves, and hold nothing else.
TEST_F(URLNetworkTest, NeitherACancelNorTheShutdownWaitsForANameLookupWhichEndsByItselfOnceAnswered) {
    server.serve("/hello", textResponse("hello"));
    HeldNameLookup lookup;
    const std::string held = "http://" + lookup.name() + ":" + std::to_string(server.port()) + "/hello";
    TaskRunner runner;
    const auto cancelled = runner.start(held);
    ASSERT_TRUE(lookup.waitForLookups(1));
    cancelled.task->cancel();
    EXPECT_EQ(runner.wait(cancelled).errorCode(), NSURLErrorCancelled);
    // The network thread has taken the cancelled transfer out, and serves the next.
    EXPECT_EQ(runner.fetch(server.url("/hello")).body(), "hello");

    const auto shutDown = runner.start(held);
    ASSERT_TRUE(lookup.waitForLookups(2));
    URLNetwork::shutdown();
    EXPECT_EQ(runner.wait(shutDown).errorCode(), NSURLErrorCancelled);
    EXPECT_EQ(lookup.held(), 2) << "a cancel or the shutdown waited for the system's resolver";
    EXPECT_FALSE(URLNetwork::waitForLookupThreads(0)) << "the lookups are under way";
    EXPECT_EQ(server.requests().size(), 1u);
    lookup.release();
    EXPECT_TRUE(URLNetwork::waitForLookupThreads(kNetSafety));
    EXPECT_EQ(lookup.held(), 0);
}

TEST_F(URLNetworkTest, AQuietWaitFollowsABodyComingInAndStopsForAStalledOne) {
    // Ten pieces, one every 20 ms: never quiet for long until the end.
    server.serve("/slow", textResponse(patternBody(40)));
    LoopbackServer::Fault slow;
    slow.pieceSize = 4;
    slow.pieceDelay = std::chrono::milliseconds(20);
    server.setFault("/slow", slow);
    TaskRunner runner;
    const std::uint64_t before = URLNetwork::activityCount();
    const auto run = runner.start(server.url("/slow"));
    EXPECT_GT(URLNetwork::activityCount(), before) << "a start counts as activity";
    EXPECT_TRUE(URLNetwork::waitUntilQuiet(2, kNetSafety));
    EXPECT_EQ(URLNetwork::liveTransferCount(), 0u);
    EXPECT_EQ(runner.callsAfterDrain(run), 1) << "the end was handed on before the wait returned";
    EXPECT_EQ(runner.wait(run).body(), patternBody(40));
    EXPECT_GE(URLNetwork::activityCount(), before + 10);

    // The stalled body's first half arrives; then nothing does, and the wait ends although the
    // transfer lives on.
    serveStalled("/half", 32);
    const auto stalled = runner.start(server.url("/half"));
    ASSERT_TRUE(server.waitForStalls(1, kNetSafety));
    EXPECT_TRUE(URLNetwork::waitUntilQuiet(0.05, kNetSafety));
    EXPECT_EQ(URLNetwork::liveTransferCount(), 1u);
    const std::uint64_t quiet = URLNetwork::activityCount();
    EXPECT_FALSE(URLNetwork::waitForActivity(quiet, 0.05));
    server.releaseStalls();
    EXPECT_TRUE(URLNetwork::waitForActivity(quiet, kNetSafety));
    EXPECT_EQ(runner.wait(stalled).body(), patternBody(64));
}

// A quiet wait whose hand-on cannot end, the network thread being held in a report, says so by
// its own time-out rather than after a bound of its own, and holds once the thread is free.
TEST_F(URLNetworkTest, AQuietWaitThatCannotHandOnWhatArrivedSaysSoByItsTimeOut) {
    serveStalled("/held");
    auto client = std::make_shared<HeldReport>();
    auto transfer = URLTransfer::make(*NSURLRequest::requestWithURL(NSURL::URLWithString(server.url("/held"))), 0, client);
    transfer->start();
    ASSERT_TRUE(client->waitUntilHeld());
    EXPECT_FALSE(URLNetwork::waitUntilQuiet(0, 0.1));
    client->release();
    EXPECT_TRUE(URLNetwork::waitUntilQuiet(0, kNetSafety));
    EXPECT_TRUE(transfer->cancel(makeURLError(NSURLErrorCancelled, server.url("/held"))));
    server.releaseStalls();
}
