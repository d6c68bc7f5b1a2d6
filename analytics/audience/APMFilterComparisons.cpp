// Number and string filter checks and comparisons.
#include "analytics/audience/APMFilterComparisons.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBStringFilter.h"
#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

void log(std::int64_t code, const char* message, const Value& context) {
    APMMeasurementMonitor()->logWithLevel(1, code, message, context);
}

std::optional<std::string> text(const std::shared_ptr<APMPBNumberFilter>& filter, std::int32_t field) {
    return APMPBMessageGetString(filter, field);
}

bool isDecimalText(const std::optional<std::string>& value) { return value && APMIsDecimalNumberString(*value); }

// The decimal text as the number formatter of locale en_US with the positive format "'+'#" reads
// it: an optional sign, digits and a point. Anything it would not read gives nothing.
std::optional<double> parseDouble(const std::optional<std::string>& value) {
    if (!value || value->empty()) return std::nullopt;
    std::string_view digits = *value;
    if (digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("-0123456789.") != std::string_view::npos) return std::nullopt;
    double parsed = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(parsed)) return std::nullopt;
    return parsed;
}

// A number filter's comparison values as decimal numbers; empty members when they are not valid.
struct ComparisonValues {
    std::shared_ptr<NSDecimalNumber> comparisonValue;
    std::shared_ptr<NSDecimalNumber> minComparisonValue;
    std::shared_ptr<NSDecimalNumber> maxComparisonValue;
    bool valid = true;
};

ComparisonValues comparisonValues(const std::shared_ptr<APMPBNumberFilter>& filter) {
    ComparisonValues values;
    const Value context(filter);
    switch (APMPBMessageGetInt32(filter, APMPBNumberFilter::kComparisonType)) {
        case kAPMCompareLessThan:
        case kAPMCompareGreaterThan:
        case kAPMCompareEqual: {
            const auto value = text(filter, APMPBNumberFilter::kComparisonValue);
            if (!value) {
                log(8001, "Number filter has no comparison value", context);
                values.valid = false;
            } else if (!(values.comparisonValue = APMDecimalNumberFromString(*value))) {
                log(8002, "Number filter comparison value is not a number", context);
                values.valid = false;
            }
            break;
        }
        case kAPMCompareBetween: {
            const auto min = text(filter, APMPBNumberFilter::kMinComparisonValue);
            const auto max = text(filter, APMPBNumberFilter::kMaxComparisonValue);
            if (!min || !max) {
                log(8003, "Number filter does not have both min and max comparison values", context);
                values.valid = false;
            } else if (!(values.minComparisonValue = APMDecimalNumberFromString(*min))) {
                log(8004, "Number filter min comparison value is not a number", context);
                values.valid = false;
            } else if (!(values.maxComparisonValue = APMDecimalNumberFromString(*max))) {
                log(8005, "Number filter max comparison value is not a number", context);
                values.valid = false;
            }
            break;
        }
        case kAPMCompareUnknown:
            log(8000, "Number filter has unknown comparison type", context);
            values.valid = false;
            break;
        default:
            break;
    }
    return values;
}

bool caseSensitive(const std::shared_ptr<APMPBStringFilter>& filter) {
    return APMPBMessageHasField(filter, APMPBStringFilter::kCaseSensitive) &&
           APMPBMessageGetBool(filter, APMPBStringFilter::kCaseSensitive);
}

bool isExactMatch(const std::string& string, const std::string& expression, bool sensitive) {
    if (sensitive) return string == expression;
    const NSRange found = NSString::rangeOfString(string, expression, NSCaseInsensitiveSearch | NSAnchoredSearch);
    return found.location == 0 && NSString::utf16Length(string) == NSString::utf16Length(expression);
}

}  // namespace

// MARK: Number filters

bool APMIsValidNumberFilter(const std::shared_ptr<APMPBNumberFilter>& filter) {
    const Value context(filter);
    if (!APMPBMessageHasField(filter, APMPBNumberFilter::kComparisonType)) {
        log(8006, "Number filter has no comparison type", context);
        return false;
    }
    switch (APMPBMessageGetInt32(filter, APMPBNumberFilter::kComparisonType)) {
        case kAPMCompareLessThan:
        case kAPMCompareGreaterThan:
        case kAPMCompareEqual:
            if (isDecimalText(text(filter, APMPBNumberFilter::kComparisonValue))) return true;
            log(8008, "Numeric filter does not have a valid comparison value. Filter", context);
            return false;
        case kAPMCompareBetween: {
            // Both bounds are checked, so both are reported.
            const bool min = isDecimalText(text(filter, APMPBNumberFilter::kMinComparisonValue));
            if (!min) log(8009, "Numeric filter does not have a valid min comparison value. Filter", context);
            const bool max = isDecimalText(text(filter, APMPBNumberFilter::kMaxComparisonValue));
            if (!max) log(8010, "Numeric filter does not have a valid max comparison value. Filter", context);
            return min && max;
        }
        case kAPMCompareUnknown:
            log(8007, "Number filter has unknown comparison type", context);
            return false;
        default:
            log(8011, "Number filter has a real unknown comparison type", context);
            return false;
    }
}

std::optional<bool> APMEvaluateNumberFilterWithInt64(const std::shared_ptr<APMPBNumberFilter>& filter,
                                                     std::int64_t value) {
    return APMEvaluateNumberFilterWithDecimal(filter, *NSDecimalNumber::initWithLongLong(value));
}

std::optional<bool> APMEvaluateNumberFilterWithDecimal(const std::shared_ptr<APMPBNumberFilter>& filter,
                                                       const NSDecimalNumber& value) {
    if (!APMIsValidNumberFilter(filter)) return std::nullopt;
    const ComparisonValues values = comparisonValues(filter);
    if (!values.valid) {
        log(8015, "Parsed decimal number comparison values are not valid. Audience filter will not be evaluated. Filter",
            Value(filter));
        return std::nullopt;
    }
    switch (APMPBMessageGetInt32(filter, APMPBNumberFilter::kComparisonType)) {
        case kAPMCompareLessThan:
            return value.compare(*values.comparisonValue) == NSOrderedAscending;
        case kAPMCompareGreaterThan:
            return value.compare(*values.comparisonValue) == NSOrderedDescending;
        case kAPMCompareEqual:
            return value.compare(*values.comparisonValue) == NSOrderedSame;
        case kAPMCompareBetween:
            return value.compare(*values.minComparisonValue) != NSOrderedAscending &&
                   value.compare(*values.maxComparisonValue) != NSOrderedDescending;
        case kAPMCompareUnknown:
            log(8016,
                "Validated decimal number for number filter has unknown comparison type. Audience filter will not be "
                "evaluated",
                Value(filter));
            return std::nullopt;
        default:
            return false;
    }
}

std::optional<bool> APMEvaluateNumberFilterWithDouble(const std::shared_ptr<APMPBNumberFilter>& filter, double value) {
    if (!APMIsValidNumberFilter(filter)) return std::nullopt;
    const std::int32_t type = APMPBMessageGetInt32(filter, APMPBNumberFilter::kComparisonType);
    std::optional<double> comparison, min, max;
    bool parsed = true;
    if (type == kAPMCompareBetween) {
        min = parseDouble(text(filter, APMPBNumberFilter::kMinComparisonValue));
        max = parseDouble(text(filter, APMPBNumberFilter::kMaxComparisonValue));
        parsed = min && max;
    } else {
        comparison = parseDouble(text(filter, APMPBNumberFilter::kComparisonValue));
        parsed = comparison.has_value();
    }
    if (!parsed) {
        log(8012, "Number filter is invalid, the comparison filter is not valid. Audience filter will not be evaluated",
            Value(filter));
        return std::nullopt;
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    switch (type) {
        case kAPMCompareLessThan:
            return value < *comparison;
        case kAPMCompareGreaterThan:
            return value > *comparison;
        case kAPMCompareBetween:
            return *min <= value && value <= *max;
        case kAPMCompareEqual: {
            const double below = std::nextafter(std::nextafter(*comparison, -kInfinity), -kInfinity);
            const double above = std::nextafter(std::nextafter(*comparison, kInfinity), kInfinity);
            return below < value && value < above;
        }
        case kAPMCompareUnknown:
            log(8013,
                "Validated double number filter has unknown comparison type. Audience filter will not be evaluated",
                Value(filter));
            return std::nullopt;
        default:
            return false;
    }
}

// MARK: String filters

bool APMIsValidStringFilter(const std::shared_ptr<APMPBStringFilter>& filter,
                            std::shared_ptr<NSRegularExpression>* expression) {
    const Value context(filter);
    if (!APMPBMessageHasField(filter, APMPBStringFilter::kMatchType)) {
        log(9000, "String filter has no match type", context);
        return false;
    }
    const std::int32_t type = APMPBMessageGetInt32(filter, APMPBStringFilter::kMatchType);
    if (type == kAPMMatchInList) {
        const auto list = APMPBMessageGetArray(filter, APMPBStringFilter::kExpressionList);
        if (list && !list->empty()) return true;
        log(9003, "String filter has no expression list", context);
        return false;
    }
    if (type == kAPMMatchUnknown) {
        log(9001, "String filter has unknown match type", context);
        return false;
    }
    const auto pattern = APMPBMessageGetString(filter, APMPBStringFilter::kExpression);
    if (!pattern) {
        log(9002, "String filter has no expression", context);
        return false;
    }
    if (type != kAPMMatchRegularExpression) return true;
    NSErrorPtr error;
    auto compiled = NSRegularExpression::regularExpressionWithPattern(
        *pattern, caseSensitive(filter) ? 0u : unsigned{NSRegularExpressionCaseInsensitive}, &error);
    if (!compiled || error) {
        APMMeasurementMonitor()->logWithLevel(1, 9004, "Unable to parse regular expression", context, Value(error));
        return false;
    }
    if (expression) *expression = std::move(compiled);
    return true;
}

std::optional<bool> APMEvaluateStringFilter(const std::shared_ptr<APMPBStringFilter>& filter,
                                            const std::string* string) {
    if (!string) {
        log(9005, "Evaluation string is nil. Audience filter will not be evaluated", Value(filter));
        return std::nullopt;
    }
    std::shared_ptr<NSRegularExpression> compiled;
    if (!APMIsValidStringFilter(filter, &compiled)) {
        log(9006, "String filter is invalid. Audience filter will not be evaluated", Value(filter));
        return std::nullopt;
    }
    const bool sensitive = caseSensitive(filter);
    const unsigned insensitive = NSCaseInsensitiveSearch;
    const std::string expression = APMPBMessageGetString(filter, APMPBStringFilter::kExpression).value_or("");
    switch (APMPBMessageGetInt32(filter, APMPBStringFilter::kMatchType)) {
        case kAPMMatchRegularExpression: {
            if (!compiled) {
                log(9008, "Parsed regex is nil. Audience filter will not be evaluated", Value(filter));
                return std::nullopt;
            }
            NSErrorPtr error;
            const NSRange found = compiled->rangeOfFirstMatchInString(*string, NSMakeRange(0, NSNotFound), &error);
            if (error) {
                // A pattern or text that would keep the matcher busy without end: no outcome.
                APMMeasurementMonitor()->logWithLevel(
                    1, 9006, "String filter is invalid. Audience filter will not be evaluated", Value(filter),
                    Value(error));
                return std::nullopt;
            }
            return found.location != NSNotFound;
        }
        case kAPMMatchBeginsWith:
            if (sensitive) return NSString::hasPrefix(*string, expression);
            return NSString::rangeOfString(*string, expression, insensitive | NSAnchoredSearch).location == 0;
        case kAPMMatchEndsWith: {
            if (sensitive) return NSString::hasSuffix(*string, expression);
            const std::size_t length = NSString::utf16Length(*string);
            const std::size_t suffix = NSString::utf16Length(expression);
            const NSRange found =
                NSString::rangeOfString(*string, expression, insensitive | NSAnchoredSearch | NSBackwardsSearch);
            return found.location != NSNotFound && length >= suffix && found.location == length - suffix;
        }
        case kAPMMatchContains:
            if (sensitive) return NSString::containsString(*string, expression);
            return NSString::rangeOfString(*string, expression, insensitive).location != NSNotFound;
        case kAPMMatchExact:
            return isExactMatch(*string, expression, sensitive);
        case kAPMMatchInList: {
            const Value::Array list = APMPBMessageGetArray(filter, APMPBStringFilter::kExpressionList).value_or(Value::Array{});
            for (const Value& item : list) {
                if (item.isString() && isExactMatch(*string, item.string(), sensitive)) return true;
            }
            return false;
        }
        case kAPMMatchUnknown:
            log(9007, "Validated string filter has unknown comparison type. Audience filter will not be evaluated",
                Value(filter));
            return std::nullopt;
        default:
            return false;
    }
}
