// Writes the message layer's diagnostics; each write is flushed so that interleaving with other output stays in order.
#include "analytics/proto/APMPBLog.h"

#include <cstdarg>
#include <cstdio>

void APMPBSystemLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void APMPBPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}
