// The process's and a thread's CPU time, for benchmarks that report it beside their wall time.
#pragma once

#include <time.h>

namespace bench {

inline double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Seconds of CPU the whole process (every thread) has used.
inline double processCPUSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// Seconds of CPU the calling thread has used.
inline double threadCPUSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

}  // namespace bench
