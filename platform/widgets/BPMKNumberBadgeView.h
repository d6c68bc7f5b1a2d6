// A round badge showing a whole number (an unread or queued count): fill, stroke and text
// colours, font, optional shadow and shine, hidden at zero when asked.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIColor;
class UIFont;

class BPMKNumberBadgeView : public UIView {
public:
    static std::shared_ptr<BPMKNumberBadgeView> initWithFrame(const CGRect& frame);
    explicit BPMKNumberBadgeView(const CGRect& frame);

    long value() const { return value_; }
    // Redraws; hides the badge at 0 when hideWhenZero is on (and shows it again otherwise).
    void setValue(long value);
    bool hideWhenZero() const { return hideWhenZero_; }
    void setHideWhenZero(bool hide);

    std::shared_ptr<UIFont> font() const { return font_; }
    void setFont(std::shared_ptr<UIFont> font);
    std::shared_ptr<UIColor> fillColor() const { return fillColor_; }
    void setFillColor(std::shared_ptr<UIColor> color);
    std::shared_ptr<UIColor> strokeColor() const { return strokeColor_; }
    void setStrokeColor(std::shared_ptr<UIColor> color);
    std::shared_ptr<UIColor> textColor() const { return textColor_; }
    void setTextColor(std::shared_ptr<UIColor> color);
    CGFloat strokeWidth() const { return strokeWidth_; }
    void setStrokeWidth(CGFloat width);
    bool shadow() const { return shadow_; }
    void setShadow(bool shadow);
    CGSize shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(CGSize offset);
    bool shine() const { return shine_; }
    void setShine(bool shine);
    // Space between the number and the edge, in points.
    CGFloat pad() const { return pad_; }
    void setPad(CGFloat pad);

    // The text shown: the value in decimal.
    std::string text() const { return std::to_string(value_); }
    // The badge's own size: the digits (their width, the font's cap height) plus padding and
    // stroke, never narrower than tall.
    CGSize badgeSize() const;
    // Where the badge is drawn: its size at the top right of the bounds.
    CGRect badgeRect() const;

    void drawRect(const CGRect& rect) override;

private:
    void updateVisibility();

    long value_ = 0;
    bool hideWhenZero_ = false;
    std::shared_ptr<UIFont> font_;
    std::shared_ptr<UIColor> fillColor_;
    std::shared_ptr<UIColor> strokeColor_;
    std::shared_ptr<UIColor> textColor_;
    CGFloat strokeWidth_ = 2.0;
    bool shadow_ = true;
    CGSize shadowOffset_{0, 3};
    bool shine_ = true;
    CGFloat pad_ = 1.0;
};
