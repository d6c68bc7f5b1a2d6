// Media times as rational numbers of seconds (value / timescale), and ranges of them.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kCMTimeFlags_Valid = 1;

struct CMTime {
    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;

    bool isValid() const { return (flags & kCMTimeFlags_Valid) != 0; }
};

struct CMTimeRange {
    CMTime start;
    CMTime duration;
};

// A valid time of value / timescale seconds; a timescale of 0 or below gives an invalid time.
CMTime CMTimeMake(std::int64_t value, std::int32_t timescale);
// The nearest time of the given timescale to `seconds`.
CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale);
// The seconds of a valid time; NaN for an invalid one.
double CMTimeGetSeconds(CMTime time);
// -1, 0 or 1; an invalid time is less than every valid one.
int CMTimeCompare(CMTime a, CMTime b);
CMTimeRange CMTimeRangeMake(CMTime start, CMTime duration);

inline constexpr CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid};
inline constexpr CMTime kCMTimeInvalid{0, 0, 0};
