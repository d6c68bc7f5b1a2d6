// Switches: on or off; a tap toggles and sends value-changed.
#pragma once

#include "platform/ui/UIControl.h"

class UIColor;

class UISwitch : public UIControl {
public:
    static std::shared_ptr<UISwitch> make() { return std::make_shared<UISwitch>(); }
    static std::shared_ptr<UISwitch> initWithFrame(const CGRect& frame) { return std::make_shared<UISwitch>(frame); }
    // Always 51 × 31, as the platform's.
    UISwitch() : UISwitch(CGRectZero) {}
    explicit UISwitch(const CGRect& frame) : UIControl(CGRect{frame.origin, {51, 31}}) {}

    bool isOn() const { return on_; }
    void setOn(bool on, bool animated = false) {
        (void)animated;
        on_ = on;
        setNeedsDisplay();
    }
    std::shared_ptr<UIColor> onTintColor() const { return onTint_; }
    void setOnTintColor(std::shared_ptr<UIColor> color) { onTint_ = std::move(color); }
    CGSize sizeThatFits(const CGSize&) const override { return {51, 31}; }

protected:
    void didTapInside() override {
        on_ = !on_;
        sendActionsForControlEvents(UIControlEventValueChanged);
    }

private:
    bool on_ = false;
    std::shared_ptr<UIColor> onTint_;
};
