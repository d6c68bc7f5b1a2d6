// The running process: its arguments (set by main), environment, name, identifier and the
// platform version the code branches on.
#pragma once

#include "platform/foundation/NSObject.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

struct NSOperatingSystemVersion {
    long majorVersion = 0;
    long minorVersion = 0;
    long patchVersion = 0;
};

class NSProcessInfo : public NSObject {
public:
    static std::shared_ptr<NSProcessInfo> processInfo();

    // Called once from main; tests may call it again to fake launch arguments.
    static void setArguments(int argc, const char* const* argv);
    static void setArguments(std::vector<std::string> arguments);
    // The version reported to the code; 15.0.0 unless a test or the simulator chooses another.
    static void setOperatingSystemVersion(NSOperatingSystemVersion version);

    std::vector<std::string> arguments() const;
    // A snapshot of the environment at the time of the call.
    std::map<std::string, std::string> environment() const;
    // The last path component of the first argument, else the kernel's name for the process.
    std::string processName() const;
    int processIdentifier() const;
    NSOperatingSystemVersion operatingSystemVersion() const;
    bool isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version) const;
};
