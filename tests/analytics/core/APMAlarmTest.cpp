// Named one-shot alarms over the manual clock: firing, re-arming from the handler, cancelling,
// replacing, and their log lines. An alarm lives on its queue, so the tests arm and read it there.
#include "analytics/core/APMAlarm.h"

#include "LogCapture.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

class APMAlarmTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(1000);
        queue = DispatchQueue::create("alarm queue");
    }
    void TearDown() override { Clock::setReal(); }
    // Moves the clock and lets the queue run what fell due.
    void advance(double seconds) {
        Clock::advance(seconds);
        queue->sync([] {});
    }
    void onQueue(const std::function<void()>& block) { queue->sync(block); }
    std::shared_ptr<DispatchQueue> queue;
};

TEST_F(APMAlarmTest, RearmsItselfFromItsOwnHandler) {
    LogCapture capture;
    auto alarm = APMAlarm::initWithDispatchQueue(queue, "Measurement timer");
    std::atomic<int> fired{0};
    std::function<void()> handler = [&] {
        ++fired;
        EXPECT_FALSE(alarm->scheduledTimestamp());  // cleared before the block runs
        if (fired < 3) alarm->runAfterDelay(600, handler);
    };
    onQueue([&] {
        alarm->runAfterDelay(600, handler);
        EXPECT_TRUE(alarm->hasActiveTimer());
        EXPECT_EQ(alarm->scheduledTimestamp()->timeIntervalSince1970, 1600);
    });
    advance(599);
    EXPECT_EQ(fired.load(), 0);
    advance(1);
    EXPECT_EQ(fired.load(), 1);
    onQueue([&] { EXPECT_EQ(alarm->scheduledTimestamp()->timeIntervalSince1970, 2200); });
    advance(600);
    advance(600);
    EXPECT_EQ(fired.load(), 3);
    onQueue([&] {
        EXPECT_FALSE(alarm->scheduledTimestamp());
        EXPECT_FALSE(alarm->hasActiveTimer());
    });
    advance(6000);
    EXPECT_EQ(fired.load(), 3);

    auto lines = capture.matching("Measurement timer");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "<ZevUzeviroreda>[I-ACS002002] Measurement timer scheduled to fire in approx. (s): 600");
    EXPECT_EQ(lines[1], "<ZevUzeviroreda>[I-ACS002001] Measurement timer fired");
    EXPECT_EQ(lines[2], "<ZevUzeviroreda>[I-ACS002003] Measurement timer canceled");
    EXPECT_EQ(lines[3], "<ZevUzeviroreda>[I-ACS002002] Measurement timer scheduled to fire in approx. (s): 600");
}

TEST_F(APMAlarmTest, ReplacingAndCancelling) {
    LogCapture capture;
    auto alarm = APMAlarm::initWithDispatchQueue(queue, "");
    onQueue([&] { alarm->cancel(); });  // never armed: nothing logged
    EXPECT_TRUE(capture.matching("Timer").empty());
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    onQueue([&] {
        alarm->runAfterDelay(10, [&] { ++first; });
        alarm->runAfterDelay(20, [&] { ++second; });
    });
    advance(30);
    EXPECT_EQ(first.load(), 0);
    EXPECT_EQ(second.load(), 1);
    auto lines = capture.matching("Timer");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[1].find("[I-ACS002003] Timer canceled"), std::string::npos);
    EXPECT_NE(lines[2].find("[I-ACS002002] Timer scheduled"), std::string::npos);
    EXPECT_TRUE(capture.contains("[I-ACS002001] Timer fired"));

    capture.clear();
    onQueue([&] {
        alarm->cancel();  // after firing: nothing pending, nothing logged
        alarm->runAfterDelay(5, nullptr);
    });
    EXPECT_TRUE(capture.contains("[I-ACS002000] Timer tried to schedule an empty block"));
    EXPECT_EQ(capture.matching("canceled").size(), 0u);

    std::atomic<int> third{0};
    onQueue([&] {
        EXPECT_FALSE(alarm->hasActiveTimer());
        alarm->runAfterDelay(5, [&] { ++third; });
        alarm->cancel();
        EXPECT_FALSE(alarm->scheduledTimestamp());
    });
    advance(10);
    EXPECT_EQ(third.load(), 0);
}

TEST_F(APMAlarmTest, DestroyingAnArmedAlarmCancelsIt) {
    std::atomic<int> fired{0};
    {
        // Armed on its queue, let go of on this thread.
        auto alarm = APMAlarm::initWithDispatchQueue(queue, "Engagement timer");
        onQueue([&] { alarm->runAfterDelay(1, [&] { ++fired; }); });
    }
    advance(5);
    EXPECT_EQ(fired.load(), 0);
}

#if !defined(NDEBUG) || defined(OSTREL_SEQUENCE_CHECKS)
using APMAlarmDeathTest = APMAlarmTest;

TEST_F(APMAlarmDeathTest, UseFromAnotherSequenceAborts) {
    auto alarm = APMAlarm::initWithDispatchQueue(queue, "Measurement timer");
    onQueue([&] { alarm->runAfterDelay(600, [] {}); });
    EXPECT_DEATH(alarm->cancel(), "APMAlarm::cancel called from .*lives on another sequence");
}
#endif

}  // namespace
