// Counts the application's launches and returns to the foreground per registered reminder,
// in the user defaults so that the count survives restarts, and runs each reminder on its launch.
#pragma once

#include "uikit/LaunchReminder.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class LaunchReminderManager : public NSObject {
public:
    // The application's manager, made on first use (main thread).
    static std::shared_ptr<LaunchReminderManager> instance();
    // Forgets the application's manager, as a new process would start without one (tests).
    static void resetInstance();
    static std::shared_ptr<LaunchReminderManager> make() { return std::shared_ptr<LaunchReminderManager>(new LaunchReminderManager()); }

    // "com.norvane.LaunchReminderManager.<identifier>".
    std::string key(const std::shared_ptr<LaunchReminder>& reminder) const;
    // Reads the reminder's stored count (0 when none) and keeps the reminder until its launch.
    void registerReminder(const std::shared_ptr<LaunchReminder>& reminder);

    // A launch and a return to the foreground count alike.
    void appLaunched() { checkAppLaunch(); }
    void appEnterForeground() { checkAppLaunch(); }
    void checkAppLaunch();
    // Runs the reminder when `launchCount` is its launch; true when it is done with (run now
    // or its launch has passed).
    bool checkReminder(const std::shared_ptr<LaunchReminder>& reminder, long launchCount);

    const std::vector<std::shared_ptr<LaunchReminder>>& reminders() const { return reminders_; }

private:
    LaunchReminderManager() = default;

    std::vector<std::shared_ptr<LaunchReminder>> reminders_;
    std::map<std::string, long> counts_;
};
