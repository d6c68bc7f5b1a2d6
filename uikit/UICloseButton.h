// A drawn round close button: a ring around a dark disc carrying a cross, grey while pressed.
#pragma once

#include "platform/ui/UIButton.h"

#include <memory>

class UICloseButton : public UIButton {
public:
    static std::shared_ptr<UICloseButton> initWithFrame(const CGRect& frame);
    explicit UICloseButton(const CGRect& frame);

    void drawRect(const CGRect& rect) override;
    // Redraws in the pressed colour.
    void setHighlighted(bool highlighted) override;
};
