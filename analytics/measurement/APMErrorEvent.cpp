// Error events through the front's road, like any internal event.
#include "analytics/measurement/APMErrorEvent.h"

#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMMeasurementNames.h"
#include "platform/foundation/NSString.h"

namespace {

constexpr const char* kErrorEventName = "_err";

std::int64_t lengthOf(const Value& value) {
    if (value.isString()) return static_cast<std::int64_t>(NSString::utf32Length(value.string()));
    if (value.isArray()) return static_cast<std::int64_t>(value.array().size());
    return 0;
}

}  // namespace

void APMLogErrorEvent(APMEventSink& sink, std::int64_t code) {
    if (code == 0) return;
    sink.logInternalEventWithOrigin(kAPMAutoOrigin, kErrorEventName,
                                    {{kErrorEventName, Value(APMValue::initWithInt64(code))}});
}

void APMLogErrorEventWithValue(APMEventSink& sink, std::int64_t code, const Value& name, std::int64_t limit,
                               const Value& value) {
    if (code == 0) return;
    Value::Dictionary parameters{{kErrorEventName, Value(APMValue::initWithInt64(code))}};
    const bool passValue = code == 7 || code == 4 || lengthOf(value) > limit;
    APMSetErrorValueParameters(parameters, name, limit, passValue ? value : Value());
    sink.logInternalEventWithOrigin(kAPMAutoOrigin, kErrorEventName, parameters);
}
