// The simulator's log file in the application's home.
#include "simulator/SimLog.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/Sandbox.h"

#include <cstdio>

namespace SimLog {

std::string path() { return Sandbox::home() + "/diagnostics.log"; }

void start(bool verbose) {
    const std::string log = path();
    NSErrorPtr error;
    if (!Diagnostics::logToFile(log, verbose, &error)) {
        std::fprintf(stderr, "The log %s cannot be opened (%s); the application's diagnostics show here.\n",
                     log.c_str(), error ? error->localizedDescription().c_str() : "unknown error");
        return;
    }
    std::fprintf(stderr, "The application's diagnostics are written to %s%s.\n", log.c_str(),
                 verbose ? " and shown here" : " (--verbose shows them here)");
}

}  // namespace SimLog
