// What an element is called for a person who does not see it: a picture's title, what an
// image button does. Any object can carry one (views and bar items do); empty when unnamed.
#pragma once

#include "platform/foundation/NSObject.h"

#include <string>

std::string accessibilityLabel(const NSObject& element);
void setAccessibilityLabel(NSObject& element, const std::string& label);
