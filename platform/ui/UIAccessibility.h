// What an element is called for a person who does not see it: a picture's title, what an
// image button does. Any object can carry one (views and bar items do); empty when unnamed.
// Its traits say what kind of element it is where its class does not (a view that is touched
// like a button, one that is a picture, one that turns on and off) and the state it shows (on,
// as a tick or a lit image shows it); none unless set. Its value is the state it shows where that
// is more than on or off (a repeat button's "all" or "one"). An element whose accessibility
// elements are hidden is drawn and says nothing, nor does anything inside it (a bar's backdrop).
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <string>

using UIAccessibilityTraits = std::uint64_t;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitNone = 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitButton = 1u << 0;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitImage = 1u << 2;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitSelected = 1u << 3;
inline constexpr UIAccessibilityTraits UIAccessibilityTraitToggleButton = UIAccessibilityTraits{1} << 53;

std::string accessibilityLabel(const NSObject& element);
void setAccessibilityLabel(NSObject& element, const std::string& label);
UIAccessibilityTraits accessibilityTraits(const NSObject& element);
void setAccessibilityTraits(NSObject& element, UIAccessibilityTraits traits);
// An element that turns on and off, and whether it is on now.
void setAccessibilityToggle(NSObject& element, bool on);
std::string accessibilityValue(const NSObject& element);
void setAccessibilityValue(NSObject& element, const std::string& value);
bool accessibilityElementsHidden(const NSObject& element);
void setAccessibilityElementsHidden(NSObject& element, bool hidden);
