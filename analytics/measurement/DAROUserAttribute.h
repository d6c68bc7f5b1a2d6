// The user attribute record under the public front's name; it adds nothing.
#pragma once

#include "analytics/core/APMUserAttribute.h"

class DAROUserAttribute : public APMUserAttribute {
public:
    using APMUserAttribute::APMUserAttribute;
};
