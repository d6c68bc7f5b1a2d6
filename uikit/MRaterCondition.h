// One threshold triple of the rating prompt: days since tracking (re)started, launches and
// significant events counted; -1 asks for nothing.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>

class MRaterCondition : public NSObject {
public:
    static std::shared_ptr<MRaterCondition> make() { return std::make_shared<MRaterCondition>(); }
    static std::shared_ptr<MRaterCondition> withThresholds(std::int64_t days, std::int64_t launches,
                                                           std::int64_t events = -1, bool onlyNotRatedVersion = false) {
        auto condition = make();
        condition->daysUntilPrompt = days;
        condition->launchesUntilPrompt = launches;
        condition->significantEventsUntilPrompt = events;
        condition->onlyNotRatedVersion = onlyNotRatedVersion;
        return condition;
    }

    // Met when the days have passed, and the launches and the events have been counted.
    bool checkWithTimeSinceFirstLaunch(double elapsedSeconds, std::int64_t sigEvents, std::int64_t launchesCount) const {
        if (static_cast<double>(daysUntilPrompt * 86400) > elapsedSeconds) return false;
        if (launchesUntilPrompt > launchesCount) return false;
        return significantEventsUntilPrompt <= sigEvents;
    }

    std::int64_t daysUntilPrompt = -1;
    std::int64_t significantEventsUntilPrompt = -1;
    std::int64_t launchesUntilPrompt = -1;
    // Skipped while the current version is marked as rated.
    bool onlyNotRatedVersion = false;
};
