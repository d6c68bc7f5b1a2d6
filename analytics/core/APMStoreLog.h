// The key-value stores log through the utility library's logger, as the rest of the engine's
// settings do, under one service name.
#pragma once

#include "analytics/core/APMASLLogger.h"
#include "platform/services/VULLogger.h"

#include <cstdint>
#include <string>

inline void APMStoreLogWarning(std::int64_t code, const std::string& message) {
    VULLogWarning("<ZevUzeviroreda>", false, APMASLLogger::messageCodeString(code), message);
}

inline void APMStoreLogError(std::int64_t code, const std::string& message) {
    VULLogError("<ZevUzeviroreda>", false, APMASLLogger::messageCodeString(code), message);
}
