// Counted launches across restarts (a reloaded defaults file and a new manager each time),
// returns to the foreground, and reminders changed from inside an action.
#include "uikit/LaunchReminderManager.h"

#include "platform/foundation/NSUserDefaults.h"

#include <gtest/gtest.h>

namespace {

// A new process: pending defaults written and read back from the file, a new manager.
std::shared_ptr<LaunchReminderManager> restart() {
    NSUserDefaults::resetStandardUserDefaults();
    LaunchReminderManager::resetInstance();
    return LaunchReminderManager::instance();
}

}  // namespace

TEST(LaunchReminders, RunOnTheirLaunchOnceAcrossRestarts) {
    int shown = 0;
    auto launch = [&] {
        auto manager = restart();
        auto reminder = LaunchReminder::initWithIdentifer("Download", 2, [&] { ++shown; });
        manager->registerReminder(reminder);
        EXPECT_EQ(manager->key(reminder), "com.norvane.LaunchReminderManager.Download");
        manager->appLaunched();
        return manager;
    };
    auto first = launch();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(first->reminders().size(), 1u);
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey("com.norvane.LaunchReminderManager.Download"), 1);

    auto second = launch();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(second->reminders().empty());
    // Further launches count on and drop the reminder without running it.
    launch();
    auto fourth = launch();
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(fourth->reminders().empty());
    restart();
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey("com.norvane.LaunchReminderManager.Download"), 4);
}

TEST(LaunchReminders, AReturnToTheForegroundCountsLikeALaunch) {
    auto manager = restart();
    int shown = 0;
    manager->registerReminder(LaunchReminder::initWithIdentifer("Foreground", 3, [&] { ++shown; }));
    manager->appLaunched();
    manager->appEnterForeground();
    EXPECT_EQ(shown, 0);
    manager->appEnterForeground();
    EXPECT_EQ(shown, 1);
    manager->appEnterForeground();
    EXPECT_EQ(shown, 1);
}

TEST(LaunchReminders, EachReminderKeepsItsOwnCountAndAnActionMayRegisterAnother) {
    auto manager = restart();
    std::vector<std::string> shown;
    auto late = LaunchReminder::initWithIdentifer("Late", 2, [&] { shown.push_back("late"); });
    manager->registerReminder(LaunchReminder::initWithIdentifer("Early", 1, [&] {
        shown.push_back("early");
        manager->registerReminder(late);
    }));
    manager->appLaunched();
    EXPECT_EQ(shown, (std::vector<std::string>{"early"}));
    ASSERT_EQ(manager->reminders().size(), 1u);
    EXPECT_EQ(manager->reminders().front(), late);
    manager->appLaunched();
    manager->appLaunched();
    EXPECT_EQ(shown, (std::vector<std::string>{"early", "late"}));
    EXPECT_TRUE(manager->reminders().empty());
}

TEST(LaunchReminders, ACheckAnswersWhetherTheReminderIsDoneWith) {
    auto manager = LaunchReminderManager::make();
    int shown = 0;
    auto reminder = LaunchReminder::initWithIdentifer("Check", 5, [&] { ++shown; });
    EXPECT_FALSE(manager->checkReminder(reminder, 4));
    EXPECT_TRUE(manager->checkReminder(reminder, 6));
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(manager->checkReminder(reminder, 5));
    EXPECT_EQ(shown, 1);
}
