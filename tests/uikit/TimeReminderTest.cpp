// Time reminders over the manual clock: ticks, partial and suspended stretches, the stored
// count across a reloaded defaults file, re-runs; the remind manager and message reminders.
#include "uikit/MessageReminder.h"
#include "uikit/RemindManager.h"
#include "uikit/TimeReminder.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"

#include <gtest/gtest.h>

namespace {

class TimeReminders : public ::testing::Test {
protected:
    static constexpr double start = 2'000'000.0;
    void SetUp() override { Clock::setManual(start); }
    void TearDown() override {
        Clock::advance(0);
        Clock::setReal();
    }
    static double stored(const std::string& key) { return NSUserDefaults::standardUserDefaults()->doubleForKey(key); }
};

}  // namespace

TEST_F(TimeReminders, RunAtTheFirstTickThatReachesTheIntervalFromTheStoredTime) {
    NSUserDefaults::standardUserDefaults()->setDouble(550, "Stored550");
    std::vector<double> runs;
    auto reminder = TimeReminder::initWithInterval(600, "Stored550", [&] { runs.push_back(Clock::now()); });
    EXPECT_EQ(reminder->currentTime(), 550);
    EXPECT_TRUE(reminder->isTicking());
    Clock::advance(59);
    EXPECT_TRUE(runs.empty());
    Clock::advance(1);
    EXPECT_EQ(runs, (std::vector<double>{start + 60}));
    EXPECT_EQ(reminder->currentTime(), 610);  // not exactly 600
    EXPECT_TRUE(reminder->isStopped());
    EXPECT_FALSE(reminder->isTicking());
    Clock::advance(600);
    EXPECT_EQ(runs.size(), 1u);
    // The next resume starts the ticks again, and the block runs again a tick later.
    reminder->resume();
    Clock::advance(60);
    EXPECT_EQ(runs.size(), 2u);
}

TEST_F(TimeReminders, SuspensionsCountTheirStretchesAndTheCountSurvivesARestart) {
    int runs = 0;
    auto reminder = TimeReminder::initWithInterval(1000, "Suspended", [&] { ++runs; });
    Clock::advance(90);  // one tick (60) and a partial 30
    EXPECT_EQ(reminder->currentTime(), 60);
    reminder->suspend();
    EXPECT_EQ(reminder->currentTime(), 90);
    EXPECT_FALSE(reminder->isTicking());
    EXPECT_EQ(stored("Suspended"), 90);
    Clock::advance(100);  // suspended, no ticks
    EXPECT_EQ(reminder->currentTime(), 90);
    reminder->suspend();  // while stopped: the time is stored again, nothing added
    EXPECT_EQ(reminder->currentTime(), 90);
    reminder->resume();  // the suspended stretch counts
    EXPECT_EQ(reminder->currentTime(), 190);
    reminder->resume();  // while ticking: nothing
    EXPECT_EQ(reminder->currentTime(), 190);
    Clock::advance(60);
    EXPECT_EQ(reminder->currentTime(), 250);
    reminder->suspend();
    reminder.reset();

    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(stored("Suspended"), 250);
    auto again = TimeReminder::initWithInterval(300, "Suspended", [&] { ++runs; });
    EXPECT_EQ(again->currentTime(), 250);
    Clock::advance(60);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimeReminders, ASuspensionSoonAfterAResumeCountsTheSuspendedStretchOnce) {
    auto reminder = TimeReminder::initWithInterval(1000, "ResumedBriefly", [] {});
    Clock::advance(30);
    reminder->suspend();
    Clock::advance(20);
    reminder->resume();
    EXPECT_EQ(reminder->currentTime(), 50);
    EXPECT_EQ(reminder->lastTickDate().timeIntervalSince1970, start + 50);
    Clock::advance(10);
    reminder->suspend();
    EXPECT_EQ(reminder->currentTime(), 60);
    EXPECT_EQ(stored("ResumedBriefly"), 60);
}

TEST_F(TimeReminders, ARerunCountsFromZeroButTheStoredValueWaitsForTheNextSuspension) {
    int runs = 0;
    auto reminder = TimeReminder::initWithInterval(600, "Rerun", [&] { ++runs; });
    Clock::advance(120);
    reminder->suspend();
    EXPECT_EQ(stored("Rerun"), 120);
    reminder->resume();
    reminder->reRunReminder(120);
    EXPECT_EQ(reminder->currentTime(), 0);
    EXPECT_EQ(reminder->timeInterval(), 120);
    EXPECT_EQ(stored("Rerun"), 120);
    Clock::advance(60);
    EXPECT_EQ(runs, 0);
    Clock::advance(60);
    EXPECT_EQ(runs, 1);
}

TEST_F(TimeReminders, ABlockThatRerunsItsReminderKeepsItTicking) {
    std::vector<double> runs;
    std::shared_ptr<TimeReminder> reminder;
    reminder = TimeReminder::initWithInterval(600, "Repeating", [&] {
        runs.push_back(Clock::now() - start);
        reminder->reRunReminder(600);
    });
    Clock::advance(1800);
    EXPECT_EQ(runs, (std::vector<double>{600, 1200, 1800}));
    EXPECT_TRUE(reminder->isTicking());
}

TEST_F(TimeReminders, DestructionStopsTheTicks) {
    int runs = 0;
    auto reminder = TimeReminder::initWithInterval(60, "Destroyed", [&] { ++runs; });
    std::weak_ptr<TimeReminder> weak = reminder;
    reminder.reset();
    EXPECT_TRUE(weak.expired()) << "the timer must not keep its reminder alive";
    Clock::advance(300);
    EXPECT_EQ(runs, 0);
}

TEST_F(TimeReminders, TheRemindManagerSuspendsAndResumesEveryListedReminder) {
    auto manager = RemindManager::make();
    auto a = TimeReminder::initWithInterval(1000, "ManagedA", [] {});
    auto b = TimeReminder::initWithInterval(1000, "ManagedB", [] {});
    auto outside = TimeReminder::initWithInterval(1000, "Outside", [] {});
    manager->add(a);
    manager->add(b);
    manager->add(nullptr);
    EXPECT_EQ(manager->reminders(), (std::vector<std::shared_ptr<TimeReminder>>{a, b}));
    Clock::advance(30);
    manager->suspend();
    EXPECT_FALSE(a->isTicking());
    EXPECT_FALSE(b->isTicking());
    EXPECT_TRUE(outside->isTicking());
    EXPECT_EQ(stored("ManagedA"), 30);
    EXPECT_EQ(stored("ManagedB"), 30);
    manager->remove(b);
    Clock::advance(10);
    manager->resume();
    EXPECT_TRUE(a->isTicking());
    EXPECT_FALSE(b->isTicking());
    EXPECT_EQ(a->currentTime(), 40);
}

TEST_F(TimeReminders, AMessageReminderDelaysByTwiceItsFirstIntervalEveryTime) {
    int runs = 0;
    auto message = MessageReminder::initWithIdentifer("Message", 100, [&] { ++runs; });
    auto shared = RemindManager::sharedRemindManager();
    const auto listed = shared->reminders();
    EXPECT_NE(std::find(listed.begin(), listed.end(), message->reminder()), listed.end());
    message->delay();
    message->delay();
    EXPECT_EQ(message->reminder()->timeInterval(), 200);
    EXPECT_EQ(message->interval(), 100);
    Clock::advance(180);
    EXPECT_EQ(runs, 0);
    Clock::advance(60);
    EXPECT_EQ(runs, 1);
    message->remove();
    const auto after = shared->reminders();
    EXPECT_EQ(std::find(after.begin(), after.end(), message->reminder()), after.end());
}
