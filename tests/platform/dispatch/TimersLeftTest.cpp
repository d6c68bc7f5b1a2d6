// Clock timers a test schedules and leaves pending are work it left running: the test main fails
// that test, naming each timer by its label, and cancels them, so that none fires into a later
// test, on a real clock or a manual one. A timer a suite keeps on purpose is allowed to its
// tests by its label, and only until the suite ends.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSourceTimer.h"
#include "platform/foundation/Clock.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/fixtures/ProcessState.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// What the timers below change: an instance made on first use, and a setting.
bool instanceMade = false;
std::string setting = "as set";

const ProcessState::MadeOnFirstUse instancePiece(
    "the timers' test instance", [] { return instanceMade; }, [] { instanceMade = false; });
const ProcessState::Registration settingPiece("the timers' test setting", [] {
    return ProcessStateSnapshot{setting, [value = setting] { setting = value; }};
});

const ProcessState::KeptTimer kept("TimersLeftChildKept", "a timer source on queue \"kept-by-its-suite\"");

bool pendingWithLabel(const std::string& label) {
    for (const auto& timer : Clock::pending())
        if (timer.label == label) return true;
    return false;
}

}  // namespace

// These run only in the child started below, in this order.
TEST(TimersLeftChild, DISABLED_MakesAnInstanceLater) {
    DispatchQueue::mainQueue()->after(10, [] { instanceMade = true; });
}

TEST(TimersLeftChild, DISABLED_ChangesASettingLaterOnAManualClock) {
    Clock::setManual(1'000'000);
    DispatchQueue::create("timers-left")->after(0.05, [] { setting = "changed"; });
}

TEST(TimersLeftChild, DISABLED_Follows) {
    // Put back to real time, the manual clock's timer would have been due at once.
    EXPECT_FALSE(pendingWithLabel("a block after a delay on queue \"main-thread\""));
    EXPECT_FALSE(pendingWithLabel("a block after a delay on queue \"timers-left\""));
}

TEST(TimersLeftChildKept, DISABLED_StartsTheSuitesTimer) {
    static auto heartbeat = [] {
        auto timer = DispatchSourceTimer::create(DispatchQueue::create("kept-by-its-suite"));
        timer->setTimer(Clock::now() + 3600, 3600);
        timer->resume();
        return timer;
    }();
    EXPECT_TRUE(heartbeat);
}

TEST(TimersLeftChildKept, DISABLED_FindsItStillPending) {
    EXPECT_TRUE(pendingWithLabel("a timer source on queue \"kept-by-its-suite\""));
}

TEST(TimersLeft, ATimerATestLeavesPendingFailsThatTestAndIsCancelledAndOnlyItsSuiteKeepsOne) {
    const ProcessRun child = runDisabledTestsInChild("TimersLeftChild.*:TimersLeftChildKept.*");
    EXPECT_NE(child.status, 0) << child.output;
    for (const char* test : {"TimersLeftChild.DISABLED_MakesAnInstanceLater (",
                             "TimersLeftChild.DISABLED_ChangesASettingLaterOnAManualClock ("}) {
        EXPECT_NE(child.output.find(std::string("[  FAILED  ] ") + test), std::string::npos) << test << "\n"
                                                                                            << child.output;
    }
    for (const char* test : {"TimersLeftChild.DISABLED_Follows", "TimersLeftChildKept.DISABLED_StartsTheSuitesTimer",
                             "TimersLeftChildKept.DISABLED_FindsItStillPending"}) {
        EXPECT_NE(child.output.find(std::string("[       OK ] ") + test), std::string::npos) << test << "\n"
                                                                                            << child.output;
    }
    const std::string reports[] = {
        "The test left timers pending past its end: a block after a delay on queue \"main-thread\" (due in ",
        "The test left timers pending past its end: a block after a delay on queue \"timers-left\" (due in 0.050 s of "
        "the manual clock). They were cancelled",
        "The suite TimersLeftChildKept left the timers it keeps pending past its end: a timer source on queue "
        "\"kept-by-its-suite\". They were cancelled.",
    };
    for (const auto& report : reports) {
        EXPECT_NE(child.output.find(report), std::string::npos) << report << "\n" << child.output;
    }
    // Neither timer fired after its test's end.
    EXPECT_EQ(child.output.find("left running changed process-wide state"), std::string::npos) << child.output;
}
