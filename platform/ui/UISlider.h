// Sliders: a value between a minimum and a maximum, track and thumb images per state, and
// dragging driven by tests and the simulator.
#pragma once

#include "platform/ui/UIControl.h"

#include <map>

class UIColor;
class UIImage;

class UISlider : public UIControl {
public:
    static std::shared_ptr<UISlider> make() { return std::make_shared<UISlider>(); }
    static std::shared_ptr<UISlider> initWithFrame(const CGRect& frame) { return std::make_shared<UISlider>(frame); }
    using UIControl::UIControl;

    float value() const { return value_; }
    // Clamped to the range; no event.
    void setValue(float value, bool animated = false);
    float minimumValue() const { return minimum_; }
    void setMinimumValue(float value);
    float maximumValue() const { return maximum_; }
    void setMaximumValue(float value);

    void setThumbImage(std::shared_ptr<UIImage> image, unsigned state) { thumbImages_[state] = std::move(image); }
    std::shared_ptr<UIImage> thumbImageForState(unsigned state) const;
    void setMinimumTrackImage(std::shared_ptr<UIImage> image, unsigned state) { minTrack_[state] = std::move(image); }
    std::shared_ptr<UIImage> minimumTrackImageForState(unsigned state) const;
    void setMaximumTrackImage(std::shared_ptr<UIImage> image, unsigned state) { maxTrack_[state] = std::move(image); }
    std::shared_ptr<UIImage> maximumTrackImageForState(unsigned state) const;
    std::shared_ptr<UIColor> minimumTrackTintColor() const { return minTint_; }
    std::shared_ptr<UIColor> maximumTrackTintColor() const { return maxTint_; }

    // A drag to `value`: touch down, value changes (each one sent), touch up inside.
    void simulateDrag(float value, int steps = 1);

    CGSize sizeThatFits(const CGSize& size) const override { return {size.width > 0 ? size.width : 118, 31}; }

private:
    static std::shared_ptr<UIImage> lookup(const std::map<unsigned, std::shared_ptr<UIImage>>& table, unsigned state);

    float value_ = 0;
    float minimum_ = 0;
    float maximum_ = 1;
    std::map<unsigned, std::shared_ptr<UIImage>> thumbImages_;
    std::map<unsigned, std::shared_ptr<UIImage>> minTrack_;
    std::map<unsigned, std::shared_ptr<UIImage>> maxTrack_;
    std::shared_ptr<UIColor> minTint_;
    std::shared_ptr<UIColor> maxTint_;
};
