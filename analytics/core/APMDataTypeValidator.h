// Rules on the names and values the measurement engine accepts: here the reserved prefixes,
// the base string, name and value checks, and the internal event and user-property checks
// that the stored records need.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

class APMDataTypeValidator {
public:
    // Validator failure codes written through the optional out-argument.
    enum FailureCode : std::int64_t {
        kValid = 0,
        kMissing = 1,
        kTooLong = 2,
        kInvalidCharacters = 3,
        kReserved = 4,
        kWrongType = 5,
        kNotForwardedOrigin = 6,
        kTooShort = 7,
    };
    // Data type labels of the messages.
    enum DataType : std::int64_t {
        kEventName = 0,
        kEventOrigin = 1,
        kEventParameterName = 2,
        kEventParameterValue = 3,
        kUserPropertyName = 4,
        kUserPropertyValue = 5,
    };

    // The name begins with "rezavivi_", "vizudi_" or "va_".
    static bool hasReservedPrefixes(const std::string& name);

    // Lengths in UTF-32 units; messages begin with the type's label.
    [[nodiscard]] static bool isValidString(const Value& object, std::int64_t minLength, std::int64_t maxLength,
                                            std::int64_t type, std::int64_t* failureCode);
    // Non-empty, at most maxLength, only letters, digits and "_".
    [[nodiscard]] static bool isValidInternalName(const Value& name, std::int64_t maxLength, std::int64_t type,
                                                  std::int64_t* failureCode);
    // As above, and the first character is a letter.
    [[nodiscard]] static bool isValidPublicName(const Value& name, std::int64_t maxLength, std::int64_t type,
                                                std::int64_t* failureCode);
    // An APMValue object; a string value within the bounds, other kinds pass.
    [[nodiscard]] static bool isValidValue(const Value& value, std::int64_t minLength, std::int64_t maxLength,
                                           std::int64_t type, std::int64_t* failureCode);

    [[nodiscard]] static bool isValidPublicEventName(const Value& name, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalEventName(const Value& name, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalEventOrigin(const Value& origin, std::int64_t* failureCode);
    // Ends with "+gtm" (else code 6, not logged) and the part before is an internal name.
    [[nodiscard]] static bool isValidForwardedEventOrigin(const Value& origin, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalUserAttributeName(const Value& name, std::int64_t* failureCode);
    // Strings of 1 to 36, or 1 to 256 for "_id", "_gbraid" and "_psmvalue".
    [[nodiscard]] static bool isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                                std::int64_t* failureCode);
};
