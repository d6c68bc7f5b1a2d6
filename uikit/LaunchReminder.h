// An action that runs once, on the counted launch (or return to the foreground) whose number
// reaches its launch count.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class LaunchReminder : public NSObject {
public:
    static std::shared_ptr<LaunchReminder> initWithIdentifer(const std::string& identifier, std::int32_t launchCount,
                                                             std::function<void()> remindAction);

    const std::string& identifier() const { return identifier_; }
    std::int32_t launchCount() const { return launchCount_; }
    // Runs the action.
    void show() const;

private:
    LaunchReminder(std::string identifier, std::int32_t launchCount, std::function<void()> action)
        : identifier_(std::move(identifier)), launchCount_(launchCount), action_(std::move(action)) {}

    const std::string identifier_;
    const std::int32_t launchCount_;
    const std::function<void()> action_;
};
