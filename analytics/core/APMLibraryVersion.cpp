// The measurement library's version number.
#include "analytics/core/APMLibraryVersion.h"

#include <cstdlib>

std::int64_t APMLibraryVersionNumber(const std::string& versionString) {
    if (versionString.size() < 4) return 0;
    const std::string head = versionString.substr(0, versionString.size() - 3);
    return std::strtoll(head.c_str(), nullptr, 10);
}

std::int64_t APMZevUzeviroredaLibraryVersion() { return APMLibraryVersionNumber(kAPMLibraryVersionString); }
