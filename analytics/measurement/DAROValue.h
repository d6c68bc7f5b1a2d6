// The typed value under the public front's name. It adds nothing, and no value is equal to one
// (APMValue's isEqual), so it never stands in for an engine value in a comparison.
#pragma once

#include "analytics/core/APMValue.h"

class DAROValue : public APMValue {
public:
    using APMValue::APMValue;
};
