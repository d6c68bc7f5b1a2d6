// Rules on the names the measurement engine accepts; here the reserved prefixes that the
// storage side needs.
#pragma once

#include <string>

class APMDataTypeValidator {
public:
    // The name begins with "rezavivi_", "vizudi_" or "va_".
    static bool hasReservedPrefixes(const std::string& name);
};
