// The repeated message fields of audience definitions and results as typed lists, and back.
#pragma once

#include "analytics/proto/APMPBFieldAccess.h"

#include <memory>
#include <vector>

// The items of a repeated message field that are messages of T (deep copies).
template <class T>
std::vector<std::shared_ptr<T>> APMAudienceMessages(APMPBConstMessageRef message, std::int32_t field) {
    std::vector<std::shared_ptr<T>> out;
    for (const Value& item : APMPBMessageGetArray<T>(message, field).value_or(Value::Array{})) {
        if (auto typed = item.objectAs<T>()) out.push_back(std::move(typed));
    }
    return out;
}

template <class T>
Value::Array APMAudienceMessageValues(const std::vector<std::shared_ptr<T>>& items) {
    Value::Array values;
    values.reserve(items.size());
    for (const auto& item : items) values.push_back(Value(item));
    return values;
}
