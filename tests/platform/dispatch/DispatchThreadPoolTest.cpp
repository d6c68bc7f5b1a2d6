// The pool's surplus workers, started past its bound while others were blocked, leave once idle:
// each is joined by the next to leave and the last by the process's end, so that a process that
// ends while they leave exits with its status and frees all they held (no leak report under the
// sanitizers).
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/DispatchThreadPool.h"
#include "platform/foundation/PlatformThreads.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/platform/dispatch/DispatchTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace {

// Of `threads`, how many still run.
std::size_t stillRunning(const std::set<pid_t>& threads) {
    std::size_t count = 0;
    for (const pid_t thread : PlatformThreads::running()) count += threads.count(thread);
    return count;
}

}  // namespace

// Runs only in the child started below, whose process ends as the test returns: by then two
// surplus workers have left, the second joining the first, and the last may still be leaving.
TEST(DispatchThreadPoolChild, DISABLED_EndsWhileSurplusWorkersLeave) {
    constexpr std::size_t kSurplus = 8;
    const std::size_t units = DispatchThreadPool::shared().maxActive() + kSurplus;
    // Every unit blocks until all have started: each one blocked lets the pool start another
    // worker for the units still waiting, past its bound.
    auto started = std::make_shared<Latch>(static_cast<int>(units));
    auto release = DispatchSemaphore::create(0);
    for (std::size_t i = 0; i < units; ++i) {
        DispatchQueue::globalQueue()->async([started, release] {
            started->countDown();
            (void)release->wait();
        });
    }
    const bool allStarted = started->waitFor(childWaitBound().count());
    // The platform's threads now: the workers, and others that stay.
    const std::set<pid_t> workers = PlatformThreads::running();
    for (std::size_t i = 0; i < units; ++i) release->signal();
    ASSERT_TRUE(allStarted);
    ASSERT_GE(workers.size(), units);

    // Idle, the surplus leaves after the pool's own real-time wait.
    const auto deadline = std::chrono::steady_clock::now() + childWaitBound();
    while (stillRunning(workers) > workers.size() - 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_LE(stillRunning(workers), workers.size() - 2) << "no two surplus workers left";
}

TEST(DispatchThreadPool, AProcessEndingWhileSurplusWorkersLeaveEndsWithItsStatusAndLeaksNothing) {
    const ProcessRun child = runDisabledTestsInChild("DispatchThreadPoolChild.*");
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test."), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("LeakSanitizer"), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("ThreadSanitizer"), std::string::npos) << child.output;
}
