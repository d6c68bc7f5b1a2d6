// A time reminder that can be put off (to twice its first interval) or dropped.
#pragma once

#include "uikit/TimeReminder.h"

#include <functional>
#include <memory>
#include <string>

class MessageReminder : public NSObject {
public:
    // Starts a time reminder keyed by the identifier and adds it to the shared remind manager.
    static std::shared_ptr<MessageReminder> initWithIdentifer(const std::string& identifier, double timeInterval,
                                                              std::function<void()> remindAction);

    // Counts again from 0 towards twice the interval given at creation.
    void delay();
    // Takes the time reminder off the remind manager.
    void remove();

    const std::shared_ptr<TimeReminder>& reminder() const { return reminder_; }
    double interval() const { return interval_; }

private:
    MessageReminder() = default;

    std::shared_ptr<TimeReminder> reminder_;
    double interval_ = 0;
};
