// Deadlines of the dispatch layer: clock seconds since 1970, as Clock::now() reads them.
#pragma once

#include "platform/foundation/Clock.h"

#include <limits>

struct DispatchTime {
    static constexpr double forever = std::numeric_limits<double>::infinity();
    static double now() { return Clock::now(); }
    // The deadline `seconds` from now.
    static double after(double seconds) { return Clock::now() + seconds; }
};
