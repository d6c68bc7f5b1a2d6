// The console sink of the monitor.
#pragma once

#include <cstdint>
#include <string>

class APMLogging {
public:
    virtual ~APMLogging() = default;
    virtual void logMessage(const std::string& message, const std::string& logTag, std::int64_t messageCode,
                            std::int64_t logLevel) = 0;
};
