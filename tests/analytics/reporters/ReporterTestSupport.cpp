// Reading the parameters the reporters write.
#include "ReporterTestSupport.h"

#include "analytics/core/APMValue.h"

namespace {

const Value* parameter(const APMEvent& event, const std::string& key) { return event.parameters().find(key); }

}  // namespace

std::optional<long long> intParameter(const APMEvent& event, const std::string& key) {
    const Value* value = parameter(event, key);
    if (!value) return std::nullopt;
    if (auto wrapped = value->objectAs<APMValue>()) {
        if (!wrapped->isInt64()) return std::nullopt;
        return wrapped->int64Value();
    }
    if (value->isNumber() && !value->isFloatType()) return value->longLongValue();
    return std::nullopt;
}

std::optional<std::string> stringParameter(const APMEvent& event, const std::string& key) {
    const Value* value = parameter(event, key);
    if (!value) return std::nullopt;
    if (auto wrapped = value->objectAs<APMValue>()) {
        if (const std::string* text = wrapped->stringValue()) return *text;
        return std::nullopt;
    }
    if (value->isString()) return value->stringValue();
    return std::nullopt;
}
