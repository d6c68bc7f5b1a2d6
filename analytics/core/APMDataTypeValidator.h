// Rules on every name and value the measurement engine accepts: event names and origins,
// parameter names and values, user properties, screen parameters, conditional user
// properties, array ("items") parameters, numeric values and currency codes. Each check
// answers a flag, writes a validator failure code through the optional out-argument and logs
// why it refused. Lengths count UTF-32 units, except the currency code's (UTF-16 units).
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
        kNotNumeric = 8,
        kInvalidCurrency = 9,
        kArrayInNonEcommerceEvent = 10,
        kArrayNotNamedItems = 11,
        kTooManyArrayItems = 12,
        kNestedArray = 13,
        kArrayItemNotDictionary = 14,
    };
    // Data type labels of the messages.
    enum DataType : std::int64_t {
        kEventName = 0,
        kEventOrigin = 1,
        kEventParameterName = 2,
        kEventParameterValue = 3,
        kUserPropertyName = 4,
        kUserPropertyValue = 5,
        kScreenParameterValue = 6,
        kConditionalUserPropertyOrigin = 7,
        kConditionalUserPropertyName = 8,
        kConditionalUserPropertyValue = 9,
    };
    static constexpr std::int64_t kMaxArrayItems = 200;

    // The name begins with "rezavivi_", "vizudi_" or "va_".
    static bool hasReservedPrefixes(const std::string& name);
    // Letters are Unicode letters (general category L, so no combining marks); name
    // characters add decimal digits (category Nd) and "_".
    static bool isLetter(char32_t character);
    static bool isNameCharacter(char32_t character);

    // Messages begin with the type's label.
    [[nodiscard]] static bool isValidString(const Value& object, std::int64_t minLength, std::int64_t maxLength,
                                            std::int64_t type, std::int64_t* failureCode);
    // Non-empty, at most maxLength, only name characters.
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
    [[nodiscard]] static bool isValidPublicEventParameterName(const Value& name, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalEventParameterName(const Value& name, std::int64_t* failureCode);
    // Strings of 0 to 100 (public) or 0 to 256 (internal).
    [[nodiscard]] static bool isValidPublicEventParameterValue(const Value& value, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalEventParameterValue(const Value& value, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidPublicUserAttributeName(const Value& name, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidPublicUserAttributeValue(const Value& value, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidInternalUserAttributeName(const Value& name, std::int64_t* failureCode);
    // Strings of 1 to 36, or 1 to 256 for "_id", "_gbraid" and "_psmvalue".
    [[nodiscard]] static bool isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                                std::int64_t* failureCode);
    // A plain text (not an APMValue) of 1 to 100.
    [[nodiscard]] static bool isValidScreenParameterValue(const Value& value, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidConditionalUserPropertyOrigin(const Value& origin, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidConditionalUserPropertyName(const Value& name, std::int64_t* failureCode);
    [[nodiscard]] static bool isValidConditionalUserPropertyValue(const Value& value, std::int64_t* failureCode);
    // An int64 or double APMValue.
    [[nodiscard]] static bool isValidNumericValue(const Value& value, std::int64_t* failureCode);
    // A string APMValue of exactly three letters.
    [[nodiscard]] static bool isValidCurrencyCode(const Value& value, std::int64_t* failureCode);
    // An array parameter: not nested, on an ecommerce event, named "items", at most 200 items
    // (code 12 leaves it to the caller to keep the first 200).
    [[nodiscard]] static bool isValidArrayParamForEvent(const std::string& eventName, const std::string& paramName,
                                                        std::int64_t arrayCount, bool isNestedArrayParam,
                                                        std::int64_t* failureCode);
    // An item of an array parameter must be a dictionary.
    [[nodiscard]] static bool isValidArrayParamItem(const Value& item, std::int64_t* failureCode);
};
