// The validator's checks and their messages.
#include "analytics/core/APMDataTypeValidator.h"

#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <array>

namespace {

std::string label(std::int64_t type) {
    switch (type) {
    case 0: return "Event name";
    case 1: return "Event origin";
    case 2: return "Event parameter name";
    case 3: return "Event parameter value";
    case 4: return "User property name";
    case 5: return "User property value";
    case 6: return "Screen parameter value";
    case 7: return "Conditional user property origin";
    case 8: return "Conditional user property name";
    case 9: return "Conditional user property value";
    default: return "Object";
    }
}

bool fail(std::int64_t* failureCode, std::int64_t code) {
    if (failureCode) *failureCode = code;
    return false;
}

// Unicode general categories through the regular-expression engine; ASCII, nearly every name
// the engine sees, never reaches it.
bool matchesWholly(const std::shared_ptr<NSRegularExpression>& expression, char32_t character) {
    const std::string text = NSString::fromUTF32(std::u32string(1, character));
    return expression && expression->numberOfMatchesInString(text) == 1;
}

const std::shared_ptr<NSRegularExpression>& letterExpression() {
    static const auto* expression =
        new std::shared_ptr<NSRegularExpression>(NSRegularExpression::regularExpressionWithPattern("\\A\\p{L}\\z", 0));
    return *expression;
}

const std::shared_ptr<NSRegularExpression>& nameCharacterExpression() {
    static const auto* expression = new std::shared_ptr<NSRegularExpression>(
        NSRegularExpression::regularExpressionWithPattern("\\A[\\p{L}\\p{Nd}_]\\z", 0));
    return *expression;
}


// Names and values are nearly always ASCII: then each byte is one character, and neither
// length nor characters need decoding.
bool isASCII(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::size_t characterCount(std::string_view text) { return isASCII(text) ? text.size() : NSString::utf32Length(text); }

// ASCII letters, digits and the underscore.
constexpr std::array<bool, 128> kASCIINameCharacters = [] {
    std::array<bool, 128> table{};
    for (int c = 0; c < 128; ++c) {
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    }
    return table;
}();

// Every character a name character, decoding only text that is not ASCII.
bool hasOnlyNameCharacters(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) return std::ranges::all_of(NSString::toUTF32(text), APMDataTypeValidator::isNameCharacter);
        if (!kASCIINameCharacters[byte]) return false;
    }
    return true;
}

}  // namespace

bool APMDataTypeValidator::isLetter(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return matchesWholly(letterExpression(), c);
}

bool APMDataTypeValidator::isNameCharacter(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return matchesWholly(nameCharacterExpression(), c);
}

bool APMDataTypeValidator::hasReservedPrefixes(const std::string& name) {
    for (const char* prefix : {"rezavivi_", "vizudi_", "va_"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool APMDataTypeValidator::isValidString(const Value& object, std::int64_t minLength, std::int64_t maxLength,
                                         std::int64_t type, std::int64_t* failureCode) {
    const bool valueType = type == kEventParameterValue || type == kUserPropertyValue;
    const std::int64_t level = valueType ? 3 : 0;
    if (object.isNull()) {
        APMMeasurementMonitor()->logWithLevel(level, 13001, label(type) + " is required and can't be nil");
        return fail(failureCode, kMissing);
    }
    if (!object.isString()) {
        APMMeasurementMonitor()->logWithLevel(level, 13000, label(type) + " must be of type NSString", object);
        return fail(failureCode, kWrongType);
    }
    const auto length = static_cast<std::int64_t>(characterCount(object.string()));
    if (length >= minLength && length <= maxLength) return true;
    auto monitor = APMMeasurementMonitor();
    if (length == 0 && minLength >= 1) {
        if (!valueType) monitor->logWithLevel(level, 13001, label(type) + " is required and can't be empty");
        return fail(failureCode, kMissing);
    }
    if (length > maxLength) {
        monitor->logWithLevel(level, 13000,
                              label(type) + NSString::format(" is too long. The maximum supported length is %d",
                                                             static_cast<int>(maxLength)),
                              object);
        return fail(failureCode, kTooLong);
    }
    if (length < minLength) {
        monitor->logWithLevel(level, 13000,
                              label(type) + NSString::format(" is too short. The minimum supported length is %d",
                                                             static_cast<int>(minLength)));
        return fail(failureCode, kTooShort);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalName(const Value& name, std::int64_t maxLength, std::int64_t type,
                                               std::int64_t* failureCode) {
    if (!isValidString(name, 1, maxLength, type, failureCode)) return false;
    if (!hasOnlyNameCharacters(name.string())) {
        APMMeasurementMonitor()->logWithLevel(0, 13002, label(type) + " must contain only letters, numbers, or underscores",
                                              name);
        return fail(failureCode, kInvalidCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicName(const Value& name, std::int64_t maxLength, std::int64_t type,
                                             std::int64_t* failureCode) {
    if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
    const std::string& text = name.string();
    std::size_t at = 0;
    // A valid name is not empty.
    if (!isLetter(static_cast<unsigned char>(text[0]) < 0x80 ? static_cast<char32_t>(text[0]) : NSString::nextCodePoint(text, at))) {
        APMMeasurementMonitor()->logWithLevel(0, 13003, label(type) + " must start with a letter", name);
        return fail(failureCode, kInvalidCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidValue(const Value& value, std::int64_t minLength, std::int64_t maxLength,
                                        std::int64_t type, std::int64_t* failureCode) {
    if (value.isNull()) {
        APMMeasurementMonitor()->logWithLevel(3, 13004, label(type) + " cannot be nil");
        return fail(failureCode, kMissing);
    }
    auto typed = value.objectAs<APMValue>();
    if (!typed) {
        APMMeasurementMonitor()->logWithLevel(3, 13005, label(type) + " must be a APMValue instance. value",
                                              Value(value.className()));
        return fail(failureCode, kWrongType);
    }
    if (typed->isString()) return isValidString(typed->value(), minLength, maxLength, type, failureCode);
    return true;
}

bool APMDataTypeValidator::isValidPublicEventName(const Value& name, std::int64_t* failureCode) {
    if (!isValidPublicName(name, 40, kEventName, failureCode)) return false;
    const std::string& text = name.string();
    if (text == "screen_view") return true;
    if (APMInternalEventNamesByPublicName().count(text) && !APMAllowedReservedPublicEventNames().count(text)) {
        APMMeasurementMonitor()->logWithLevel(0, 13006, "Event name is reserved. Ignoring event", name);
        return fail(failureCode, kReserved);
    }
    if (hasReservedPrefixes(text)) {
        APMMeasurementMonitor()->logWithLevel(0, 13007, "Event name uses reserved prefix. Ignoring event", name);
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventName(const Value& name, std::int64_t* failureCode) {
    return isValidInternalName(name, 40, kEventName, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventOrigin(const Value& origin, std::int64_t* failureCode) {
    return isValidInternalName(origin, 32, kEventOrigin, failureCode);
}

bool APMDataTypeValidator::isValidForwardedEventOrigin(const Value& origin, std::int64_t* failureCode) {
    if (!origin.isString() || origin.string().empty()) return fail(failureCode, kMissing);
    const std::string& text = origin.string();
    if (!NSString::hasSuffix(text, "+gtm")) return fail(failureCode, kNotForwardedOrigin);
    return isValidInternalName(Value(text.substr(0, text.size() - 4)), 32, kEventOrigin, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterName(const Value& name, std::int64_t* failureCode) {
    if (!isValidPublicName(name, 40, kEventParameterName, failureCode)) return false;
    if (hasReservedPrefixes(name.string())) {
        APMMeasurementMonitor()->logWithLevel(0, 13008, "Parameter name uses reserved prefix. Ignoring parameter",
                                              name);
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventParameterName(const Value& name, std::int64_t* failureCode) {
    return isValidInternalName(name, 40, kEventParameterName, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterValue(const Value& value, std::int64_t* failureCode) {
    return isValidValue(value, 0, 100, kEventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventParameterValue(const Value& value, std::int64_t* failureCode) {
    return isValidValue(value, 0, 256, kEventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidPublicUserAttributeName(const Value& name, std::int64_t* failureCode) {
    if (!isValidPublicName(name, 24, kUserPropertyName, failureCode)) return false;
    if (APMInternalUserPropertyNamesByPublicName().count(name.string())) {
        APMMeasurementMonitor()->logWithLevel(0, 13009, "User property name is reserved. Ignoring user property",
                                              name);
        return fail(failureCode, kReserved);
    }
    if (hasReservedPrefixes(name.string())) {
        APMMeasurementMonitor()->logWithLevel(0, 13010,
                                              "User property name uses reserved prefix. Ignoring user property", name);
        return fail(failureCode, kReserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicUserAttributeValue(const Value& value, std::int64_t* failureCode) {
    return isValidValue(value, 1, 36, kUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeName(const Value& name, std::int64_t* failureCode) {
    return isValidInternalName(name, 24, kUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                             std::int64_t* failureCode) {
    const bool longValue = name == "_id" || name == "_gbraid" || name == "_psmvalue";
    return isValidValue(value, 1, longValue ? 256 : 36, kUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidScreenParameterValue(const Value& value, std::int64_t* failureCode) {
    return isValidString(value, 1, 100, kScreenParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyOrigin(const Value& origin, std::int64_t* failureCode) {
    return isValidInternalName(origin, 32, kConditionalUserPropertyOrigin, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyName(const Value& name, std::int64_t* failureCode) {
    return isValidInternalName(name, 24, kConditionalUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyValue(const Value& value, std::int64_t* failureCode) {
    return isValidValue(value, 1, 36, kConditionalUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidNumericValue(const Value& value, std::int64_t* failureCode) {
    auto typed = value.objectAs<APMValue>();
    if (typed && (typed->isInt64() || typed->isDouble())) return true;
    const std::string* text = typed ? typed->stringValue() : nullptr;
    APMMeasurementMonitor()->logWithLevel(3, 13011,
                                          label(kEventParameterValue) + " must be specified with a numeric type. value",
                                          text ? Value(*text) : Value());
    return fail(failureCode, kNotNumeric);
}

bool APMDataTypeValidator::isValidCurrencyCode(const Value& value, std::int64_t* failureCode) {
    auto typed = value.objectAs<APMValue>();
    const std::string* text = typed ? typed->stringValue() : nullptr;
    if (text) {
        // Unit by unit, as the platform's character sets test: half of a surrogate pair is
        // no letter.
        const std::u16string units = NSString::toUTF16(*text);
        const bool letters = std::all_of(units.begin(), units.end(), [](char16_t unit) {
            return (unit < 0xD800 || unit > 0xDFFF) && isLetter(unit);
        });
        if (units.size() == 3 && letters) return true;
    }
    APMMeasurementMonitor()->logWithLevel(
        3, 13012,
        label(kEventParameterValue) + NSString::format(" must contain a %d-letter ISO_4217 currency code. value", 3),
        value);
    return fail(failureCode, kInvalidCurrency);
}

bool APMDataTypeValidator::isValidArrayParamForEvent(const std::string& eventName, const std::string& paramName,
                                                     std::int64_t arrayCount, bool isNestedArrayParam,
                                                     std::int64_t* failureCode) {
    auto monitor = APMMeasurementMonitor();
    if (isNestedArrayParam) {
        monitor->logWithLevel(0, 13013, "Nested array parameters are not allowed. Name", Value(paramName));
        return fail(failureCode, kNestedArray);
    }
    if (!APMIsEcommerceEventName(eventName)) {
        monitor->logWithLevel(0, 13013,
                              "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name",
                              Value(eventName));
        return fail(failureCode, kArrayInNonEcommerceEvent);
    }
    if (paramName != "items") {
        monitor->logWithLevel(0, 13013,
                              label(kEventParameterName) +
                                  NSString::format(" is an invalid ecommerce items. The name of array parameters for "
                                                   "ecommerce should be \"%s\". Invalid parameter name",
                                                   "items"),
                              Value(paramName));
        return fail(failureCode, kArrayNotNamedItems);
    }
    if (arrayCount > kMaxArrayItems) {
        monitor->logWithLevel(0, 13013,
                              NSString::format("Array parameter has too many items. The maximum number of supported "
                                               "items is %d. Invalid array size",
                                               static_cast<int>(kMaxArrayItems)),
                              Value(static_cast<long long>(arrayCount)));
        return fail(failureCode, kTooManyArrayItems);
    }
    return true;
}

bool APMDataTypeValidator::isValidArrayParamItem(const Value& item, std::int64_t* failureCode) {
    if (item.isDictionary()) return true;
    APMMeasurementMonitor()->logWithLevel(0, 13014, "Array param must be a dictionary. Parameters", item);
    return fail(failureCode, kArrayItemNotDictionary);
}
