// What an advertising library in the process tells the analytics library's ad exposure reporter,
// which it finds by name ("DAROAdExposureReporter"): the registered object is the reporter's
// shared instance. Absent unless the analytics library has registered it.
#pragma once

#include <string>

class DAROAdExposureReporterInterop {
public:
    static constexpr const char* kClassName = "DAROAdExposureReporter";

    virtual ~DAROAdExposureReporterInterop() = default;
    // An ad unit came on screen, or left it; any thread.
    virtual void beginAdUnitExposure(const std::string& adUnitID) = 0;
    virtual void endAdUnitExposure(const std::string& adUnitID) = 0;
};
