// The leaves of every audience filter: number filters (as 64-bit integers, doubles or decimal
// numbers) and string filters (regular expression, prefix, suffix, containment, equality, list).
// Each comparison answers true, false or no outcome (nullopt): a filter that cannot be evaluated
// leaves the stored results alone. Stateless; every refusal is logged through the monitor.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMPBNumberFilter;
class APMPBStringFilter;
class NSDecimalNumber;
class NSRegularExpression;

// Comparison types of a number filter and match types of a string filter.
enum APMNumberComparison : std::int32_t {
    kAPMCompareUnknown = 0,
    kAPMCompareLessThan = 1,
    kAPMCompareGreaterThan = 2,
    kAPMCompareEqual = 3,
    kAPMCompareBetween = 4,
};
enum APMStringMatch : std::int32_t {
    kAPMMatchUnknown = 0,
    kAPMMatchRegularExpression = 1,
    kAPMMatchBeginsWith = 2,
    kAPMMatchEndsWith = 3,
    kAPMMatchContains = 4,
    kAPMMatchExact = 5,
    kAPMMatchInList = 6,
};

// The type is known and its comparison values are decimal text.
bool APMIsValidNumberFilter(const std::shared_ptr<APMPBNumberFilter>& filter);
std::optional<bool> APMEvaluateNumberFilterWithInt64(const std::shared_ptr<APMPBNumberFilter>& filter,
                                                     std::int64_t value);
// Equality holds within two representable steps either side of the comparison value.
std::optional<bool> APMEvaluateNumberFilterWithDouble(const std::shared_ptr<APMPBNumberFilter>& filter, double value);
std::optional<bool> APMEvaluateNumberFilterWithDecimal(const std::shared_ptr<APMPBNumberFilter>& filter,
                                                       const NSDecimalNumber& value);

// The match type is set and what it needs is there; a regular expression must compile (it goes
// to `expression` when asked for).
bool APMIsValidStringFilter(const std::shared_ptr<APMPBStringFilter>& filter,
                            std::shared_ptr<NSRegularExpression>* expression = nullptr);
// Case-insensitive unless the filter says otherwise. No string (nullptr) gives no outcome, and
// so does a regular expression that exceeds the matcher's limits.
std::optional<bool> APMEvaluateStringFilter(const std::shared_ptr<APMPBStringFilter>& filter,
                                            const std::string* string);
