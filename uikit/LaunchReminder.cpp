// A counted-launch action.
#include "uikit/LaunchReminder.h"

std::shared_ptr<LaunchReminder> LaunchReminder::initWithIdentifer(const std::string& identifier,
                                                                  std::int32_t launchCount,
                                                                  std::function<void()> remindAction) {
    return std::shared_ptr<LaunchReminder>(new LaunchReminder(identifier, launchCount, std::move(remindAction)));
}

void LaunchReminder::show() const {
    if (action_) action_();
}
