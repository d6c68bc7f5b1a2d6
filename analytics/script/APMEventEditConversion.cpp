#include "analytics/script/APMEventEditConversion.h"

#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMValue.h"

#include <optional>

namespace {
namespace editConversion {

std::optional<Value> editValue(const Value& value, bool nested) {
    auto typed = value.isObject() ? value.objectAs<APMValue>() : nullptr;
    if (!typed) return std::nullopt;
    if (typed->isDouble()) return Value(typed->doubleValue());
    if (typed->isInt64()) return Value(static_cast<long long>(typed->int64Value()));
    if (typed->isString()) return Value(*typed->stringValue());
    if (typed->isArray() && !nested) {
        Value::Array items;
        for (const Value& item : *typed->arrayValue()) {
            if (!item.isDictionary()) continue;
            Value::Dictionary converted;
            for (const auto& [name, itemValue] : item.dictionary()) {
                if (auto plain = editValue(itemValue, true)) converted.set(name, std::move(*plain));
            }
            items.emplace_back(std::move(converted));
        }
        return Value(std::move(items));
    }
    return std::nullopt;
}

std::shared_ptr<APMEvent> eventFrom(const APMPEvent& event, const std::string& name) {
    const Value& origin = event.parameterForName("_o");
    return APMEvent::initWithOrigin(origin.isString() ? origin.string() : "app", false, name, event.timestamp(), 0,
                                    event.parameters());
}

}  // namespace editConversion
}  // namespace

Value::Dictionary APMEditParametersFromEventParameters(const Value::Dictionary& parameters) {
    using namespace editConversion;
    Value::Dictionary converted;
    for (const auto& [name, value] : parameters) {
        if (auto plain = editValue(value, false)) converted.set(name, std::move(*plain));
    }
    return converted;
}

std::shared_ptr<APMPEvent> APMEditEventFromEvent(const APMEvent& event) {
    const auto& publicNames = APMPublicEventNamesByInternalName();
    const auto publicName = publicNames.find(event.name());
    return APMPEvent::initWithName(publicName == publicNames.end() ? event.name() : publicName->second,
                                   event.timestamp(), APMEditParametersFromEventParameters(event.parameters()));
}

std::shared_ptr<APMEvent> APMEventFromEditEvent(const APMPEvent& event) {
    using namespace editConversion;
    const auto& internalNames = APMInternalEventNamesByPublicName();
    const auto internalName = internalNames.find(event.name());
    return eventFrom(event, internalName == internalNames.end() ? event.name() : internalName->second);
}

std::shared_ptr<APMEvent> APMEvent::eventFromEditEvent(const APMPEvent& editEvent) {
    return APMEventFromEditEvent(editEvent);
}

std::shared_ptr<APMPEvent> APMEvent::editEvent() const { return APMEditEventFromEvent(*this); }

std::shared_ptr<APMEvent> APMEventFromCreatedEvent(const APMPEvent& event) {
    return editConversion::eventFrom(event, event.name());
}
