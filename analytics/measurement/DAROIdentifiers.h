// The engine's identifiers under the public front's name; it adds nothing.
#pragma once

#include "analytics/measurement/APMIdentifiers.h"

class DAROIdentifiers : public APMIdentifiers {
public:
    using APMIdentifiers::APMIdentifiers;
};
