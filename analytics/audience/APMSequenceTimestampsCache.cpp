// Sequence filter times of one audience.
#include "analytics/audience/APMSequenceTimestampsCache.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"

#include <algorithm>

std::shared_ptr<APMSequenceTimestampsCache> APMSequenceTimestampsCache::initWithAudienceID(std::int32_t audienceID) {
    return std::make_shared<APMSequenceTimestampsCache>(audienceID);
}

std::optional<std::vector<double>> APMSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::int32_t filterID) const {
    const auto found = allSequenceTimestampsByFilterID_.find(filterID);
    if (found == allSequenceTimestampsByFilterID_.end()) return std::nullopt;
    return found->second;
}

void APMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::int32_t filterID) {
    auto& times = allSequenceTimestampsByFilterID_[filterID];
    if (!times.empty() && times.back() > timestamp) {
        APMMeasurementMonitor()->logWithLevel(5, 42000, "Adding a sequence timestamp less than the last added timestamp");
    }
    // One time per whole second is enough to order a sequence.
    if (!times.empty() && static_cast<std::int64_t>(times.back()) == static_cast<std::int64_t>(timestamp)) return;
    times.push_back(timestamp);
}

void APMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::int32_t filterID) {
    auto& times = allSequenceTimestampsByFilterID_[filterID];
    if (!times.empty() && times.back() > timestamp) {
        APMMeasurementMonitor()->logWithLevel(5, 42001, "Setting a sequence timestamp less than the last set timestamp");
    }
    times.assign(1, timestamp);
}

std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>>
APMSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
    std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>> messages;
    for (const auto& [filterID, times] : allSequenceTimestampsByFilterID_) {
        auto message = APMPBSequenceFilterResultTimestamp::make();
        APMPBMessageSetInt32(message, APMPBSequenceFilterResultTimestamp::kFilterId, filterID);
        if (!times.empty()) {
            std::vector<double> sorted = times;
            std::sort(sorted.begin(), sorted.end());
            Value::Array seconds;
            seconds.reserve(sorted.size());
            for (double time : sorted) seconds.push_back(Value(static_cast<long long>(time)));
            APMPBMessageSetArray(message, APMPBSequenceFilterResultTimestamp::kEvalTimestamps, seconds);
        }
        messages.push_back(std::move(message));
    }
    return messages;
}
