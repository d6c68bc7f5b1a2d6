// The monitor's console sink over the utility logger.
#include "analytics/core/APMASLLogger.h"

#include "platform/services/VULLogger.h"

#include <cstdio>

void APMASLLogger::logMessage(const std::string& message, const std::string& logTag, std::int64_t messageCode,
                              std::int64_t logLevel) {
    // The utility logger prints the text as it is; no "%" doubling is needed here.
    VULLogBasic(static_cast<int>(VULLoggerLevelFromLogLevel(logLevel)), logTag, logLevel == 7,
                messageCodeString(messageCode), message);
}

std::int64_t APMASLLogger::VULLoggerLevelFromLogLevel(std::int64_t logLevel) {
    switch (logLevel) {
        case 0:
        case 1:
        case 2:
            return VULLoggerLevelError;
        case 3:
        case 4:
        case 5:
            return VULLoggerLevelWarning;
        case 6:
            return VULLoggerLevelNotice;
        case 7:
        case 8:
            return VULLoggerLevelDebug;
        default:
            return VULLoggerLevelWarning;
    }
}

std::string APMASLLogger::messageCodeString(std::int64_t messageCode) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "I-ACS%06ld", static_cast<long>(messageCode));
    return buffer;
}
