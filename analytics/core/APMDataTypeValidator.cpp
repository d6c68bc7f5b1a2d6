// Reserved name prefixes.
#include "analytics/core/APMDataTypeValidator.h"

bool APMDataTypeValidator::hasReservedPrefixes(const std::string& name) {
    for (const char* prefix : {"rezavivi_", "vizudi_", "va_"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}
