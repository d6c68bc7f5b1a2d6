// Sliders: clamped values and simulated drags.
#include "platform/ui/UISlider.h"

#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIImage.h"

#include <algorithm>

void UISlider::setValue(float value, bool animated) {
    (void)animated;
    value_ = std::clamp(value, minimum_, std::max(minimum_, maximum_));
    setNeedsDisplay();
}

void UISlider::setMinimumValue(float value) {
    minimum_ = value;
    if (maximum_ < minimum_) maximum_ = minimum_;
    setValue(value_);
}

void UISlider::setMaximumValue(float value) {
    maximum_ = value;
    if (minimum_ > maximum_) minimum_ = maximum_;
    setValue(value_);
}

std::shared_ptr<UIImage> UISlider::lookup(const std::map<unsigned, std::shared_ptr<UIImage>>& table, unsigned state) {
    auto it = table.find(state);
    if (it != table.end() && it->second) return it->second;
    it = table.find(UIControlStateNormal);
    return it != table.end() ? it->second : nullptr;
}

std::shared_ptr<UIImage> UISlider::thumbImageForState(unsigned state) const { return lookup(thumbImages_, state); }
std::shared_ptr<UIImage> UISlider::minimumTrackImageForState(unsigned state) const { return lookup(minTrack_, state); }
std::shared_ptr<UIImage> UISlider::maximumTrackImageForState(unsigned state) const { return lookup(maxTrack_, state); }

void UISlider::simulateDrag(float value, int steps) {
    if (!isEnabled() || !UIAlertModality::touchReaches(this)) return;
    auto keep = shared_from_this();
    steps = std::max(1, steps);
    setHighlighted(true);
    sendActionsForControlEvents(UIControlEventTouchDown);
    const float start = value_;
    for (int i = 1; i <= steps; ++i) {
        setValue(start + (value - start) * static_cast<float>(i) / static_cast<float>(steps));
        sendActionsForControlEvents(UIControlEventValueChanged);
    }
    setHighlighted(false);
    sendActionsForControlEvents(UIControlEventTouchUpInside);
}
