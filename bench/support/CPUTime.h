// The process's CPU time, for benchmarks that report it beside their wall time.
#pragma once

#include <time.h>

namespace bench {

// Seconds of CPU the whole process (every thread) has used.
inline double processCPUSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace bench
