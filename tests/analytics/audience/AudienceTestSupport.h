// Builders of audience definitions as the measurement service sends them: number and string
// filters, parameter filters, event and property filters, audiences.
#pragma once

#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFilter.h"
#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBPropertyFilter.h"
#include "analytics/proto/APMPBStringFilter.h"

#include <optional>
#include <string>
#include <vector>

namespace audience_test {

inline std::shared_ptr<APMPBNumberFilter> numberFilter(std::optional<std::int32_t> type,
                                                       std::optional<std::string> value,
                                                       std::optional<std::string> min = std::nullopt,
                                                       std::optional<std::string> max = std::nullopt) {
    auto filter = APMPBNumberFilter::make();
    if (type) APMPBMessageSetInt32(filter, APMPBNumberFilter::kComparisonType, *type);
    if (value) APMPBMessageSetString(filter, APMPBNumberFilter::kComparisonValue, *value);
    if (min) APMPBMessageSetString(filter, APMPBNumberFilter::kMinComparisonValue, *min);
    if (max) APMPBMessageSetString(filter, APMPBNumberFilter::kMaxComparisonValue, *max);
    return filter;
}

inline std::shared_ptr<APMPBNumberFilter> between(const std::string& min, const std::string& max) {
    return numberFilter(4, std::nullopt, min, max);
}

inline std::shared_ptr<APMPBStringFilter> stringFilter(std::optional<std::int32_t> type,
                                                       std::optional<std::string> expression,
                                                       std::optional<bool> caseSensitive = std::nullopt,
                                                       const std::vector<std::string>& list = {}) {
    auto filter = APMPBStringFilter::make();
    if (type) APMPBMessageSetInt32(filter, APMPBStringFilter::kMatchType, *type);
    if (expression) APMPBMessageSetString(filter, APMPBStringFilter::kExpression, *expression);
    if (caseSensitive) APMPBMessageSetBool(filter, APMPBStringFilter::kCaseSensitive, *caseSensitive);
    if (!list.empty()) {
        Value::Array items;
        for (const auto& item : list) items.push_back(Value(item));
        APMPBMessageSetArray(filter, APMPBStringFilter::kExpressionList, items);
    }
    return filter;
}

// A value filter: a number or a string filter, for a parameter when one is named.
inline std::shared_ptr<APMPBFilter> filter(const std::shared_ptr<APMPBNumberFilter>& number,
                                           const std::shared_ptr<APMPBStringFilter>& string = nullptr,
                                           std::optional<std::string> parameter = std::nullopt,
                                           bool complement = false) {
    auto message = APMPBFilter::make();
    if (number) APMPBMessageSetMessage(message, APMPBFilter::kNumberFilter, number);
    if (string) APMPBMessageSetMessage(message, APMPBFilter::kStringFilter, string);
    if (parameter) APMPBMessageSetString(message, APMPBFilter::kParamName, *parameter);
    if (complement) APMPBMessageSetBool(message, APMPBFilter::kComplement, true);
    return message;
}
inline std::shared_ptr<APMPBFilter> parameterFilter(const std::string& parameter,
                                                    const std::shared_ptr<APMPBNumberFilter>& number,
                                                    const std::shared_ptr<APMPBStringFilter>& string = nullptr,
                                                    bool complement = false) {
    return filter(number, string, parameter, complement);
}

struct Flags {
    bool dynamic = false;
    bool sequence = false;
    bool sessionScoped = false;
};

inline std::shared_ptr<APMPBEventFilter> eventFilter(std::optional<std::int32_t> id, std::optional<std::string> name,
                                                     const std::vector<std::shared_ptr<APMPBFilter>>& parameters = {},
                                                     const std::shared_ptr<APMPBNumberFilter>& count = nullptr,
                                                     Flags flags = {}) {
    auto message = APMPBEventFilter::make();
    if (id) APMPBMessageSetInt32(message, APMPBEventFilter::kFilterId, *id);
    if (name) APMPBMessageSetString(message, APMPBEventFilter::kEventName, *name);
    if (!parameters.empty()) {
        Value::Array items;
        for (const auto& item : parameters) items.push_back(Value(item));
        APMPBMessageSetArray(message, APMPBEventFilter::kFilters, items);
    }
    if (count) APMPBMessageSetMessage(message, APMPBEventFilter::kEventCountFilter, count);
    if (flags.dynamic) APMPBMessageSetBool(message, APMPBEventFilter::kDynamic, true);
    if (flags.sequence) APMPBMessageSetBool(message, APMPBEventFilter::kSequence, true);
    if (flags.sessionScoped) APMPBMessageSetBool(message, APMPBEventFilter::kSessionScoped, true);
    return message;
}

inline std::shared_ptr<APMPBPropertyFilter> propertyFilter(std::optional<std::int32_t> id,
                                                           std::optional<std::string> name,
                                                           const std::shared_ptr<APMPBFilter>& value,
                                                           Flags flags = {}) {
    auto message = APMPBPropertyFilter::make();
    if (id) APMPBMessageSetInt32(message, APMPBPropertyFilter::kFilterId, *id);
    if (name) APMPBMessageSetString(message, APMPBPropertyFilter::kPropertyName, *name);
    if (value) APMPBMessageSetMessage(message, APMPBPropertyFilter::kFilter, value);
    if (flags.dynamic) APMPBMessageSetBool(message, APMPBPropertyFilter::kDynamic, true);
    if (flags.sequence) APMPBMessageSetBool(message, APMPBPropertyFilter::kSequence, true);
    if (flags.sessionScoped) APMPBMessageSetBool(message, APMPBPropertyFilter::kSessionScoped, true);
    return message;
}

inline std::shared_ptr<APMPBAudience> audience(std::optional<std::int32_t> id,
                                               const std::vector<std::shared_ptr<APMPBEventFilter>>& events,
                                               const std::vector<std::shared_ptr<APMPBPropertyFilter>>& properties = {}) {
    auto message = APMPBAudience::make();
    if (id) APMPBMessageSetInt32(message, APMPBAudience::kAudienceId, *id);
    if (!events.empty()) {
        Value::Array items;
        for (const auto& item : events) items.push_back(Value(item));
        APMPBMessageSetArray(message, APMPBAudience::kEventFilters, items);
    }
    if (!properties.empty()) {
        Value::Array items;
        for (const auto& item : properties) items.push_back(Value(item));
        APMPBMessageSetArray(message, APMPBAudience::kPropertyFilters, items);
    }
    return message;
}

}  // namespace audience_test
