// Writes the message layer's diagnostics; each write is flushed so that interleaving with other output stays in order.
#include "analytics/proto/APMPBLog.h"

#include "platform/foundation/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void APMPBSystemLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> line(n > 0 ? static_cast<std::size_t>(n) + 1 : 1, '\0');
    if (n > 0) std::vsnprintf(line.data(), line.size(), format, args);
    va_end(args);
    Diagnostics::note(line.data());
}

void APMPBPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}
