// Search paths over the sandbox home.
#include "platform/foundation/NSSearchPath.h"

#include "platform/foundation/Sandbox.h"

#include <atomic>

namespace {
std::atomic<bool> searchPathsUnavailable{false};
}

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask, bool expandTilde) {
    if (searchPathsUnavailable.load() || !(domainMask & NSUserDomainMask)) return {};
    const char* relative = nullptr;
    switch (directory) {
    case NSLibraryDirectory: relative = "Library"; break;
    case NSDocumentDirectory: relative = "Documents"; break;
    case NSCachesDirectory: relative = "Library/Caches"; break;
    case NSApplicationSupportDirectory: relative = "Library/Application Support"; break;
    }
    if (!relative) return {};
    return {(expandTilde ? Sandbox::home() : std::string("~")) + "/" + relative};
}

void NSSearchPathSetUnavailable(bool unavailable) { searchPathsUnavailable.store(unavailable); }
