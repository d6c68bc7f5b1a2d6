// The six counters of the current day that the engine's daily event limits read.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>

class APMDailyCounts : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMDailyCounts> initWithDay(std::int32_t day, std::int32_t conversionsCount,
                                                                     std::int32_t allEventsCount,
                                                                     std::int32_t publicEventsCount,
                                                                     std::int32_t errorEventsCount,
                                                                     std::int32_t realtimeCount);

    std::int32_t day() const { return day_; }
    std::int32_t conversionsCount() const { return conversionsCount_; }
    std::int32_t allEventsCount() const { return allEventsCount_; }
    std::int32_t publicEventsCount() const { return publicEventsCount_; }
    std::int32_t errorEventsCount() const { return errorEventsCount_; }
    std::int32_t realtimeCount() const { return realtimeCount_; }

    // On another day than the record's, the counters start again from this event.
    void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                      std::int32_t effectiveEventCount);
    void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion);
    void incrementErrorEventsCountForCurrentDay(std::int32_t day);
    void incrementRealtimeCountsForCurrentDay(std::int32_t day);
    // Never below 0.
    void decrementAllEventsCount();
    void resetWithNewDay(std::int32_t day);

    APMDailyCounts() = default;

private:
    std::int32_t day_ = 0;
    std::int32_t conversionsCount_ = 0;
    std::int32_t allEventsCount_ = 0;
    std::int32_t publicEventsCount_ = 0;
    std::int32_t errorEventsCount_ = 0;
    std::int32_t realtimeCount_ = 0;
};
