// Reserved name prefixes and the base checks on names and values.
#include "analytics/core/APMDataTypeValidator.h"

#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/NSString.h"

#include <locale>

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

// Letters as Unicode classifies them, from the UTF-8 C locale's tables when the system has them.
const std::ctype<wchar_t>* unicodeClassifier() {
    static const std::ctype<wchar_t>* classifier = [] () -> const std::ctype<wchar_t>* {
        try {
            static const std::locale locale("C.UTF-8");
            return &std::use_facet<std::ctype<wchar_t>>(locale);
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return classifier;
}

bool isLetter(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const auto* classifier = unicodeClassifier();
    return classifier && classifier->is(std::ctype_base::alpha, static_cast<wchar_t>(c));
}

bool isNameCharacter(char32_t c) {
    if (c < 0x80) return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
    const auto* classifier = unicodeClassifier();
    return classifier && classifier->is(std::ctype_base::alnum, static_cast<wchar_t>(c));
}

}  // namespace

bool APMDataTypeValidator::hasReservedPrefixes(const std::string& name) {
    for (const char* prefix : {"rezavivi_", "vizudi_", "va_"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool APMDataTypeValidator::isValidString(const Value& object, std::int64_t minLength, std::int64_t maxLength,
                                         std::int64_t type, std::int64_t* failureCode) {
    auto monitor = APMMeasurementMonitor();
    const std::int64_t level = (type == 3 || type == 5) ? 3 : 0;
    if (object.isNull()) {
        monitor->logWithLevel(level, 13001, label(type) + " is required and can't be nil");
        return fail(failureCode, kMissing);
    }
    if (!object.isString()) {
        monitor->logWithLevel(level, 13000, label(type) + " must be of type NSString", object);
        return fail(failureCode, kWrongType);
    }
    const auto length = static_cast<std::int64_t>(NSString::utf32Length(object.string()));
    if (length == 0 && minLength >= 1) {
        if (type != 3 && type != 5) monitor->logWithLevel(level, 13001, label(type) + " is required and can't be empty");
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
    for (char32_t c : NSString::toUTF32(name.string())) {
        if (!isNameCharacter(c)) {
            APMMeasurementMonitor()->logWithLevel(0, 13002,
                                                  label(type) + " must contain only letters, numbers, or underscores",
                                                  name);
            return fail(failureCode, kInvalidCharacters);
        }
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicName(const Value& name, std::int64_t maxLength, std::int64_t type,
                                             std::int64_t* failureCode) {
    if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
    const std::u32string characters = NSString::toUTF32(name.string());
    if (characters.empty() || !isLetter(characters.front())) {
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
        const std::string className = value.isObject() && value.object() ? value.object()->className()
                                                                         : std::string("Value");
        APMMeasurementMonitor()->logWithLevel(3, 13005, label(type) + " must be a APMValue instance. value",
                                              Value(className));
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

bool APMDataTypeValidator::isValidInternalUserAttributeName(const Value& name, std::int64_t* failureCode) {
    return isValidInternalName(name, 24, kUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(const Value& value, const std::string& name,
                                                             std::int64_t* failureCode) {
    const bool longValue = name == "_id" || name == "_gbraid" || name == "_psmvalue";
    return isValidValue(value, 1, longValue ? 256 : 36, kUserPropertyValue, failureCode);
}
