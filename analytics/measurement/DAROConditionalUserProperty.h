// The conditional user property record under the public front's name; it adds nothing.
#pragma once

#include "analytics/core/APMConditionalUserProperty.h"

class DAROConditionalUserProperty : public APMConditionalUserProperty {
public:
    using APMConditionalUserProperty::APMConditionalUserProperty;
};
