// The list of time reminders.
#include "uikit/RemindManager.h"

#include <algorithm>

std::shared_ptr<RemindManager> RemindManager::sharedRemindManager() {
    static const std::shared_ptr<RemindManager> manager = make();
    return manager;
}

void RemindManager::add(const std::shared_ptr<TimeReminder>& reminder) {
    if (!reminder) return;
    MutexLock lock(mutex_);
    reminders_.push_back(reminder);
}

void RemindManager::remove(const std::shared_ptr<TimeReminder>& reminder) {
    MutexLock lock(mutex_);
    std::erase(reminders_, reminder);
}

std::vector<std::shared_ptr<TimeReminder>> RemindManager::reminders() const {
    MutexLock lock(mutex_);
    return reminders_;
}

void RemindManager::suspend() {
    // Outside the lock: a reminder's work may add or remove reminders.
    for (const auto& reminder : reminders()) reminder->suspend();
}

void RemindManager::resume() {
    for (const auto& reminder : reminders()) reminder->resume();
}
