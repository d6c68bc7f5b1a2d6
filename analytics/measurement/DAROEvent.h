// The event record under the public front's name; it adds nothing.
#pragma once

#include "analytics/core/APMEvent.h"

class DAROEvent : public APMEvent {
public:
    using APMEvent::APMEvent;
};
