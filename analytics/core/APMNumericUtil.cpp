// Decimal text and secure random integers.
#include "analytics/core/APMNumericUtil.h"

#include "analytics/core/APMMonitor.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/security/SecRandom.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr const char* kDecimalPattern = "^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$";

Mutex gRegexMutex;
std::shared_ptr<NSRegularExpression> gDecimalRegex GUARDED_BY(gRegexMutex);

// Compiled once; a failed compile is logged and tried again on the next call.
std::shared_ptr<NSRegularExpression> decimalRegex() {
    MutexLock lock(gRegexMutex);
    if (gDecimalRegex) return gDecimalRegex;
    NSErrorPtr error;
    gDecimalRegex =
        NSRegularExpression::regularExpressionWithPattern(kDecimalPattern, NSRegularExpressionCaseInsensitive, &error);
    if (!gDecimalRegex) {
        APMMeasurementMonitor()->logWithLevel(2, 26000, "Unable to initialize decimal number regexp. Regex, error",
                                              Value(kDecimalPattern), Value(error));
    }
    return gDecimalRegex;
}

// The digits of a decimal text as its canonical form would print them: no sign, no leading
// zeros before the point, no trailing zeros after it, no bare point.
std::string canonicalMagnitude(std::string text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.erase(0, 1);
    const size_t point = text.find('.');
    if (point != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    size_t first = 0;
    while (first + 1 < text.size() && text[first] == '0' && text[first + 1] != '.') ++first;
    text.erase(0, first);
    if (text.empty()) return "0";
    if (text[0] == '.') text.insert(0, "0");
    return text;
}

}  // namespace

bool APMIsDecimalNumberString(const std::string& text) {
    auto regex = decimalRegex();
    if (!regex || text.empty()) return false;
    return regex->rangeOfFirstMatchInString(text).location != NSNotFound;
}

std::shared_ptr<NSDecimalNumber> APMDecimalNumberFromString(const std::string& text) {
    if (!APMIsDecimalNumberString(text)) {
        APMMeasurementMonitor()->logWithLevel(2, 26001, "String value does not represent a numeric value. Value",
                                              Value(text));
        return nullptr;
    }
    auto number = NSDecimalNumber::decimalNumberWithString(text, "en_US");
    if (!number || number->isNotANumber()) {
        APMMeasurementMonitor()->logWithLevel(2, 26002, "Unable to create a NSDecimalNumber from string value. Value",
                                              Value(text));
        return nullptr;
    }
    std::string normalised = text;
    if (text.rfind("+.", 0) == 0 || text.rfind("-.", 0) == 0 || text.rfind(".", 0) == 0) {
        normalised.replace(normalised.find('.'), 1, "0.");
    }
    std::string canonical = number->stringValue();
    if (!canonical.empty() && canonical[0] == '-') canonical.erase(0, 1);
    // Equality, not containment: a rounded "1" is contained in "1.000...0001" too.
    if (canonicalMagnitude(normalised) != canonical) {
        APMMeasurementMonitor()->logWithLevel(
            2, 26003, "Unable to create a NSDecimalNumber from string value: loss of precision. Value",
            Value(normalised));
        return nullptr;
    }
    return number;
}

std::optional<std::int64_t> APMNumericUtil::randomInt64() {
    unsigned char buffer[8] = {};
    if (SecRandomCopyBytes(kSecRandomDefault, sizeof buffer, buffer) != 0) {
        APMMeasurementMonitor()->logWithLevel(5, 26004, "Unable to generate random integer",
                                              Value(std::string(std::strerror(errno))));
        return std::nullopt;
    }
    std::int64_t value = 0;
    std::memcpy(&value, buffer, sizeof value);
    return value;
}
