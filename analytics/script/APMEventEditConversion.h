// Measurement events and the events editing programs see, one into the other.
#pragma once

#include "analytics/core/APMEvent.h"
#include "analytics/script/APMPEvent.h"

#include <memory>

// Doubles, int64 values and strings as numbers and texts; array values as arrays of item
// dictionaries converted the same way (arrays inside items left out); anything else left out.
Value::Dictionary APMEditParametersFromEventParameters(const Value::Dictionary& parameters);
// The event under its public name (when it has one), at its time, with its parameters.
std::shared_ptr<APMPEvent> APMEditEventFromEvent(const APMEvent& event);
// An edited event back as an internal event: its internal name (when its name is a public one
// that has one), origin from "_o" when that is a text (else "app"), its time and parameters.
// Nil when the result is no valid event.
std::shared_ptr<APMEvent> APMEventFromEditEvent(const APMPEvent& event);
// A created event: as above, but under the name it was given.
std::shared_ptr<APMEvent> APMEventFromCreatedEvent(const APMPEvent& event);
