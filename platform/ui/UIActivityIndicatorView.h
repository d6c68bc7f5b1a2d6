// Spinners: a style with its size, started and stopped; hidden while stopped unless told otherwise.
// A spinner draws twelve spokes fading round its circle, in its colour.
#pragma once

#include "platform/ui/UIView.h"

class UIColor;

enum UIActivityIndicatorViewStyle : int {
    UIActivityIndicatorViewStyleWhiteLarge = 0,
    UIActivityIndicatorViewStyleWhite = 1,
    UIActivityIndicatorViewStyleGray = 2,
    UIActivityIndicatorViewStyleMedium = 100,
    UIActivityIndicatorViewStyleLarge = 101,
};

class UIActivityIndicatorView : public UIView {
public:
    // Sized for the style: 37 × 37 for the large styles, 20 × 20 otherwise.
    static std::shared_ptr<UIActivityIndicatorView> initWithActivityIndicatorStyle(UIActivityIndicatorViewStyle style);
    static std::shared_ptr<UIActivityIndicatorView> initWithFrame(const CGRect& frame);
    UIActivityIndicatorView();
    explicit UIActivityIndicatorView(const CGRect& frame);

    UIActivityIndicatorViewStyle activityIndicatorViewStyle() const { return style_; }
    void setActivityIndicatorViewStyle(UIActivityIndicatorViewStyle style);
    std::shared_ptr<UIColor> color() const { return color_; }
    void setColor(std::shared_ptr<UIColor> color);
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }
    CGSize sizeThatFits(const CGSize& size) const override;
    CGSize intrinsicContentSize() const override { return sizeThatFits({0, 0}); }
    void drawRect(const CGRect& rect) override;

    static CGFloat sideForStyle(UIActivityIndicatorViewStyle style);

private:
    UIActivityIndicatorViewStyle style_ = UIActivityIndicatorViewStyleWhite;
    std::shared_ptr<UIColor> color_;
    bool hidesWhenStopped_ = true;
    bool animating_ = false;
};
