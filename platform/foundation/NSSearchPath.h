// The platform's search-path lookup, answering from the sandbox home.
#pragma once

#include <string>
#include <vector>

enum NSSearchPathDirectory : unsigned long {
    NSLibraryDirectory = 5,
    NSDocumentDirectory = 9,
    NSCachesDirectory = 13,
    NSApplicationSupportDirectory = 14,
};

enum NSSearchPathDomainMask : unsigned long {
    NSUserDomainMask = 1,
    NSLocalDomainMask = 2,
    NSNetworkDomainMask = 4,
    NSSystemDomainMask = 8,
    NSAllDomainsMask = 0x0ffff,
};

// The user domain's folder for `directory` ("~/..." unless `expandTilde`); other domains
// have no folders on this system. Empty while lookups are made unavailable.
std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domainMask, bool expandTilde);

// Tests of callers that must cope with an empty answer turn lookups off and on again.
void NSSearchPathSetUnavailable(bool unavailable);
