// Daily counters and their day-change rules.
#include "analytics/core/APMDailyCounts.h"

std::shared_ptr<APMDailyCounts> APMDailyCounts::initWithDay(std::int32_t day, std::int32_t conversionsCount,
                                                            std::int32_t allEventsCount,
                                                            std::int32_t publicEventsCount,
                                                            std::int32_t errorEventsCount, std::int32_t realtimeCount) {
    auto counts = std::make_shared<APMDailyCounts>();
    counts->day_ = day;
    counts->conversionsCount_ = conversionsCount;
    counts->allEventsCount_ = allEventsCount;
    counts->publicEventsCount_ = publicEventsCount;
    counts->errorEventsCount_ = errorEventsCount;
    counts->realtimeCount_ = realtimeCount;
    return counts;
}

void APMDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                                  std::int32_t effectiveEventCount) {
    if (day == day_) {
        if (isConversion) conversionsCount_ += 1;
        allEventsCount_ += effectiveEventCount;
        if (isPublicEvent) publicEventsCount_ += effectiveEventCount;
        return;
    }
    day_ = day;
    conversionsCount_ = isConversion ? 1 : 0;
    allEventsCount_ = effectiveEventCount;
    publicEventsCount_ = isPublicEvent ? effectiveEventCount : 0;
    errorEventsCount_ = 0;
    realtimeCount_ = 0;
}

void APMDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion) {
    incrementCountsForCurrentDay(day, isPublicEvent, isConversion, 1);
}

void APMDailyCounts::incrementErrorEventsCountForCurrentDay(std::int32_t day) {
    if (day == day_) {
        allEventsCount_ += 1;
        errorEventsCount_ += 1;
        return;
    }
    resetWithNewDay(day);
    allEventsCount_ = 1;
    errorEventsCount_ = 1;
}

void APMDailyCounts::incrementRealtimeCountsForCurrentDay(std::int32_t day) {
    if (day == day_) {
        realtimeCount_ += 1;
        return;
    }
    resetWithNewDay(day);
    realtimeCount_ = 1;
}

void APMDailyCounts::decrementAllEventsCount() {
    if (allEventsCount_ > 0) allEventsCount_ -= 1;
}

void APMDailyCounts::resetWithNewDay(std::int32_t day) {
    day_ = day;
    conversionsCount_ = 0;
    allEventsCount_ = 0;
    publicEventsCount_ = 0;
    errorEventsCount_ = 0;
    realtimeCount_ = 0;
}
