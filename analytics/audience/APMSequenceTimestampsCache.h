// The evaluation times of one audience's sequence filters while events and user properties are
// evaluated: events append (one per whole second), a user property keeps its latest only.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class APMPBSequenceFilterResultTimestamp;

class APMSequenceTimestampsCache : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMSequenceTimestampsCache> initWithAudienceID(std::int32_t audienceID);

    std::int32_t audienceID() const { return audienceID_; }
    // A copy of the filter's times in the order added; nothing for an unknown filter.
    std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::int32_t filterID) const;
    // Appended unless the last time falls in the same whole second; an earlier time is logged
    // (42000) and still taken.
    void addEventFilterTimestamp(double timestamp, std::int32_t filterID);
    // The filter keeps this time alone; an earlier time is logged (42001) and still taken.
    void setUserPropertyTimestamp(double timestamp, std::int32_t filterID);
    // One message per filter, by ascending filter id, its times sorted and in whole seconds.
    std::vector<std::shared_ptr<APMPBSequenceFilterResultTimestamp>> sequenceFilterResultTimestamps() const;

    explicit APMSequenceTimestampsCache(std::int32_t audienceID) : audienceID_(audienceID) {}

private:
    std::int32_t audienceID_;
    std::map<std::int32_t, std::vector<double>> allSequenceTimestampsByFilterID_;
};
