// Failures the engine reports as data: the internal event "_err" (origin "auto") with the
// failure code and, where known, the offending name ("_ev") and its length ("_el").
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>

class APMEventSink;

// Through `sink`, the front's road for internal events. Nothing for code 0.
void APMLogErrorEvent(APMEventSink& sink, std::int64_t code);
// The value's length goes along only for codes 7 and 4 or when it is longer than the limit.
void APMLogErrorEventWithValue(APMEventSink& sink, std::int64_t code, const Value& name, std::int64_t limit,
                               const Value& value);
