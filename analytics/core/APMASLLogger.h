// The monitor's console sink: hands each line to the utility logger with its "I-ACS%06ld" code.
#pragma once

#include "analytics/core/APMLogging.h"
#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <string>

class APMASLLogger : public NSObject, public APMLogging {
public:
    void logMessage(const std::string& message, const std::string& logTag, std::int64_t messageCode,
                    std::int64_t logLevel) override;

    // 0-2 error (3), 3-5 warning (4), 6 notice (5), 7-8 debug (7), anything else warning (4).
    static std::int64_t VULLoggerLevelFromLogLevel(std::int64_t logLevel);
    // "I-ACS" and the code in six digits.
    static std::string messageCodeString(std::int64_t messageCode);
};
