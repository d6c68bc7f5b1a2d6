// Diagnostics of the content layer: one plain sentence per line on standard error.
#include "content/ContentLog.h"

#include <cstdio>
#include <mutex>

namespace ContentLog {

void log(const std::string& sentence) {
    static std::mutex mutex;
    std::lock_guard guard(mutex);
    std::fprintf(stderr, "%s\n", sentence.c_str());
    std::fflush(stderr);
}

}  // namespace ContentLog
