// Accessibility labels, traits, values and hiding, kept in the object's associated slots.
#include "platform/ui/UIAccessibility.h"

#include "platform/foundation/Value.h"

namespace {
const char kLabelKey = 0;
const char kTraitsKey = 0;
const char kValueKey = 0;
const char kHiddenKey = 0;
}  // namespace

std::string accessibilityLabel(const NSObject& element) {
    const Value label = element.associatedValue(&kLabelKey);
    return label.isString() ? label.string() : std::string();
}

void setAccessibilityLabel(NSObject& element, const std::string& label) {
    element.setAssociatedValue(&kLabelKey, Value(label));
}

UIAccessibilityTraits accessibilityTraits(const NSObject& element) {
    const Value traits = element.associatedValue(&kTraitsKey);
    return traits.isNumber() ? static_cast<UIAccessibilityTraits>(traits.unsignedLongLongValue()) : UIAccessibilityTraitNone;
}

void setAccessibilityTraits(NSObject& element, UIAccessibilityTraits traits) {
    element.setAssociatedValue(&kTraitsKey, Value(static_cast<unsigned long long>(traits)));
}

void setAccessibilityToggle(NSObject& element, bool on) {
    setAccessibilityTraits(element, UIAccessibilityTraitToggleButton | (on ? UIAccessibilityTraitSelected : UIAccessibilityTraitNone));
}

std::string accessibilityValue(const NSObject& element) {
    const Value value = element.associatedValue(&kValueKey);
    return value.isString() ? value.string() : std::string();
}

void setAccessibilityValue(NSObject& element, const std::string& value) {
    element.setAssociatedValue(&kValueKey, Value(value));
}

bool accessibilityElementsHidden(const NSObject& element) { return element.associatedValue(&kHiddenKey).boolValue(); }

void setAccessibilityElementsHidden(NSObject& element, bool hidden) {
    element.setAssociatedValue(&kHiddenKey, Value(hidden));
}
