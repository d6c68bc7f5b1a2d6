// Media times as rational numbers of seconds.
#include "platform/media/CMTime.h"

#include <cmath>
#include <limits>

CMTime CMTimeMake(std::int64_t value, std::int32_t timescale) {
    if (timescale <= 0) return kCMTimeInvalid;
    return CMTime{value, timescale, kCMTimeFlags_Valid};
}

CMTime CMTimeMakeWithSeconds(double seconds, std::int32_t preferredTimescale) {
    if (preferredTimescale <= 0 || !std::isfinite(seconds)) return kCMTimeInvalid;
    return CMTimeMake(static_cast<std::int64_t>(std::llround(seconds * preferredTimescale)), preferredTimescale);
}

double CMTimeGetSeconds(CMTime time) {
    if (!time.isValid()) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(time.value) / time.timescale;
}

int CMTimeCompare(CMTime a, CMTime b) {
    if (!a.isValid() || !b.isValid()) return a.isValid() == b.isValid() ? 0 : (a.isValid() ? 1 : -1);
    // Cross-multiplied in 128 bits, so large values of different timescales compare exactly.
    const __int128 left = static_cast<__int128>(a.value) * b.timescale;
    const __int128 right = static_cast<__int128>(b.value) * a.timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

CMTimeRange CMTimeRangeMake(CMTime start, CMTime duration) { return CMTimeRange{start, duration}; }
