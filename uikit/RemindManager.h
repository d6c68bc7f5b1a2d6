// Holds the running time reminders and pauses and resumes them together (application state,
// activity overlay).
#pragma once

#include "platform/foundation/ThreadAnnotations.h"
#include "uikit/TimeReminder.h"

#include <memory>
#include <vector>

class RemindManager : public NSObject {
public:
    static std::shared_ptr<RemindManager> sharedRemindManager();
    static std::shared_ptr<RemindManager> make() { return std::shared_ptr<RemindManager>(new RemindManager()); }

    void add(const std::shared_ptr<TimeReminder>& reminder);
    void remove(const std::shared_ptr<TimeReminder>& reminder);
    // Each listed reminder in list order.
    void suspend();
    void resume();

    std::vector<std::shared_ptr<TimeReminder>> reminders() const;

private:
    RemindManager() = default;

    mutable Mutex mutex_;
    std::vector<std::shared_ptr<TimeReminder>> reminders_ GUARDED_BY(mutex_);
};
