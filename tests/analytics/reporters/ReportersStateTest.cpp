// The purchase reporter's product cache is checked state: made within a test it is only
// forgotten after it; made again after the test's end, by work it left running, it fails what
// follows, naming that test. Work a test leaves running fails that test as it ends, and what
// it makes later is reported where it lands, naming the test that left it. A piece of state that
// describes nothing stops the binary.
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/fixtures/ProcessState.h"
#include "tests/fixtures/DisabledTestsChild.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace {

// Stands for work a test left running: it asks for the cache once each suite has ended and
// its instances were forgotten (the listeners hear of a suite's end after the test's).
class AskingAfterTheEnd : public testing::EmptyTestEventListener {
public:
    void OnTestSuiteEnd(const testing::TestSuite&) override { (void)APMInAppPurchaseProductCache::sharedInstance(); }
};

}  // namespace

// These two run only in the child started below, in this order.
TEST(ReportersStateChildFirst, DISABLED_LeavesWorkThatAsksAfterItsEnd) {
    EXPECT_TRUE(APMInAppPurchaseProductCache::sharedInstance()) << "made within the test, which is no leak";
    testing::UnitTest::GetInstance()->listeners().Append(new AskingAfterTheEnd);
}

TEST(ReportersStateChildSecond, DISABLED_Follows) {}

TEST(ReportersState, AProductCacheMadeAfterATestEndedIsReportedNamingThatTest) {
    const ProcessRun child = runDisabledTestsInChild("ReportersStateChildFirst.*:ReportersStateChildSecond.*");
    EXPECT_NE(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  FAILED  ] ReportersStateChildSecond.DISABLED_Follows"), std::string::npos)
        << child.output;
    // Made again after the first test's end, and after the second's, the binary's last.
    const std::pair<const char*, const char*> reports[] = {
        {"ReportersStateChildFirst.DISABLED_LeavesWorkThatAsksAfterItsEnd", "as this test starts."},
        {"ReportersStateChildSecond.DISABLED_Follows", "after the last test."},
    };
    for (const auto& [test, when] : reports) {
        EXPECT_NE(child.output.find("Work that " + std::string(test) +
                                    " left running changed process-wide state after that test ended: "
                                    "APMInAppPurchaseProductCache::sharedInstance() was none as it ended and is made " +
                                    when),
                  std::string::npos)
            << test << "\n"
            << child.output;
    }
}

namespace {

// What the second of the children below leaves waiting, and the third releases.
struct LeftWaiting {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int finished = 0;
};

LeftWaiting& leftWaiting() {
    static auto* left = new LeftWaiting;  // the thread may outlive the tests
    return *left;
}

void waitForTheNextTest() {
    auto& left = leftWaiting();
    std::unique_lock lock(left.mutex);
    left.changed.wait(lock, [&] { return left.released; });
}

void finishedWaiting() {
    auto& left = leftWaiting();
    std::lock_guard lock(left.mutex);
    ++left.finished;
    left.changed.notify_all();
}

}  // namespace

// These three run only in the child started below, in this order.
TEST(ReportersStateChildLeaving, DISABLED_MakesTheCacheOnTheMainQueueAfterItsEnd) {
    DispatchQueue::mainQueue()->async([] { (void)APMInAppPurchaseProductCache::sharedInstance(); });
}

TEST(ReportersStateChildLeaving, DISABLED_LeavesAThreadAndAQueuedBlockWaitingForTheNextTest) {
    std::thread([] {
        waitForTheNextTest();
        (void)APMInAppPurchaseProductCache::sharedInstance();
        finishedWaiting();
    }).detach();
    DispatchQueue::create("left-waiting")->async([] {
        waitForTheNextTest();
        finishedWaiting();
    });
}

TEST(ReportersStateChildLeaving, DISABLED_ReleasesWhatTheTestBeforeLeft) {
    auto& left = leftWaiting();
    std::unique_lock lock(left.mutex);
    left.released = true;
    left.changed.notify_all();
    ASSERT_TRUE(left.changed.wait_for(lock, childWaitBound(), [&] { return left.finished == 2; }));
}

TEST(ReportersState, WorkATestLeavesRunningFailsItAndWhatItMakesLaterNamesIt) {
    const ProcessRun child = runDisabledTestsInChild("ReportersStateChildLeaving.*");
    EXPECT_NE(child.status, 0) << child.output;
    const std::string leaving = "ReportersStateChildLeaving.DISABLED_LeavesAThreadAndAQueuedBlockWaitingForTheNextTest";
    for (const char* test : {"MakesTheCacheOnTheMainQueueAfterItsEnd",
                             "LeavesAThreadAndAQueuedBlockWaitingForTheNextTest", "ReleasesWhatTheTestBeforeLeft"}) {
        EXPECT_NE(child.output.find("[  FAILED  ] ReportersStateChildLeaving.DISABLED_" + std::string(test) + " ("),
                  std::string::npos)
            << test << "\n"
            << child.output;
    }
    const std::string reports[] = {
        // Made by the block the test left on the main queue, which the end of the test runs.
        "Work the test left running changed process-wide state after the test ended: "
        "APMInAppPurchaseProductCache::sharedInstance() was none as it ended and is made once that work had run.",
        "The test left work running past its end: thread ",
        "and queue \"left-waiting\" (running). What a test starts must end, or be waited for, before the test does.",
        // Made by the thread once the next test released it.
        "APMInAppPurchaseProductCache::sharedInstance() was none as this test started and is made as it ended, while "
        "work that " + leaving + " left running still ran: that work may have changed it.",
    };
    for (const auto& report : reports) {
        EXPECT_NE(child.output.find(report), std::string::npos) << report << "\n" << child.output;
    }
}

TEST(ProcessStateDeathTest, APieceThatDescribesNothingStopsTheBinary) {
    EXPECT_DEATH(
        {
            ProcessState::add("nothing told", [] { return ProcessStateSnapshot{"", [] {}}; });
            (void)ProcessState::pieces().back().capture();
        },
        "\"nothing told\" describes nothing");
}
