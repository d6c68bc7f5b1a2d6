// Launch counting per reminder over the standard user defaults.
#include "uikit/LaunchReminderManager.h"

#include "platform/foundation/NSUserDefaults.h"

#include <algorithm>

namespace {

std::shared_ptr<LaunchReminderManager>& shared() {
    static std::shared_ptr<LaunchReminderManager> manager;
    return manager;
}

}  // namespace

std::shared_ptr<LaunchReminderManager> LaunchReminderManager::instance() {
    auto& manager = shared();
    if (!manager) manager = make();
    return manager;
}

void LaunchReminderManager::resetInstance() {
    shared().reset();
}

std::string LaunchReminderManager::key(const std::shared_ptr<LaunchReminder>& reminder) const {
    return "com.norvane.LaunchReminderManager." + (reminder ? reminder->identifier() : std::string());
}

void LaunchReminderManager::registerReminder(const std::shared_ptr<LaunchReminder>& reminder) {
    if (!reminder) return;
    const std::string k = key(reminder);
    counts_[k] = NSUserDefaults::standardUserDefaults()->integerForKey(k);
    reminders_.push_back(reminder);
}

void LaunchReminderManager::checkAppLaunch() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    // A reminder's action may register or drop reminders: walk a copy.
    const auto reminders = reminders_;
    for (const auto& reminder : reminders) {
        const std::string k = key(reminder);
        const long count = counts_[k] + 1;
        counts_[k] = count;
        defaults->setInteger(count, k);
        if (checkReminder(reminder, count)) std::erase(reminders_, reminder);
    }
    // Not synchronized here: the defaults' writer thread starts writing the counts at once, as
    // a write here would, without holding the launch up for it, and the application's end
    // waits for every pending write.
}

bool LaunchReminderManager::checkReminder(const std::shared_ptr<LaunchReminder>& reminder, long launchCount) {
    if (reminder->launchCount() == launchCount) {
        reminder->show();
        return true;
    }
    return reminder->launchCount() < launchCount;
}
