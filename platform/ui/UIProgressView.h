// Progress bars: a fraction from 0 to 1 with track and progress tints.
#pragma once

#include "platform/ui/UIView.h"

#include <algorithm>

class UIColor;

enum UIProgressViewStyle : int { UIProgressViewStyleDefault = 0, UIProgressViewStyleBar = 1 };

class UIProgressView : public UIView {
public:
    static std::shared_ptr<UIProgressView> initWithFrame(const CGRect& frame) {
        return std::make_shared<UIProgressView>(frame);
    }
    using UIView::UIView;

    float progress() const { return progress_; }
    void setProgress(float progress, bool animated = false) {
        (void)animated;
        progress_ = std::clamp(progress, 0.0f, 1.0f);
        setNeedsDisplay();
    }
    UIProgressViewStyle progressViewStyle() const { return style_; }
    void setProgressViewStyle(UIProgressViewStyle style) { style_ = style; }
    std::shared_ptr<UIColor> progressTintColor() const { return progressTint_; }
    void setProgressTintColor(std::shared_ptr<UIColor> color) { progressTint_ = std::move(color); }
    std::shared_ptr<UIColor> trackTintColor() const { return trackTint_; }
    void setTrackTintColor(std::shared_ptr<UIColor> color) { trackTint_ = std::move(color); }
    CGSize sizeThatFits(const CGSize& size) const override { return {size.width, 2}; }

private:
    float progress_ = 0;
    UIProgressViewStyle style_ = UIProgressViewStyleDefault;
    std::shared_ptr<UIColor> progressTint_;
    std::shared_ptr<UIColor> trackTint_;
};
