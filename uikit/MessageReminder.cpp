// A delayable time reminder.
#include "uikit/MessageReminder.h"

#include "uikit/RemindManager.h"

std::shared_ptr<MessageReminder> MessageReminder::initWithIdentifer(const std::string& identifier, double timeInterval,
                                                                    std::function<void()> remindAction) {
    auto reminder = std::shared_ptr<MessageReminder>(new MessageReminder());
    reminder->interval_ = timeInterval;
    reminder->reminder_ = TimeReminder::initWithInterval(timeInterval, identifier, [action = std::move(remindAction)] {
        if (action) action();
    });
    RemindManager::sharedRemindManager()->add(reminder->reminder_);
    return reminder;
}

void MessageReminder::delay() {
    reminder_->reRunReminder(interval_ * 2);
}

void MessageReminder::remove() {
    RemindManager::sharedRemindManager()->remove(reminder_);
}
