// Labels: plain or attributed text measured with the fixed font metrics, drawn line by line
// into the recording context.
#pragma once

#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>

class UIColor;
class UIFont;

class UILabel : public UIView {
public:
    static std::shared_ptr<UILabel> make() { return std::make_shared<UILabel>(); }
    static std::shared_ptr<UILabel> initWithFrame(const CGRect& frame) { return std::make_shared<UILabel>(frame); }

    UILabel();
    explicit UILabel(const CGRect& frame);

    // Setting the text replaces attributed text with plain text in the label's font and colour.
    std::string text() const;
    void setText(const std::string& text);
    std::shared_ptr<NSAttributedString> attributedText() const;
    void setAttributedText(std::shared_ptr<NSAttributedString> text);
    // The system font of 17 points by default.
    std::shared_ptr<UIFont> font() const { return font_; }
    void setFont(std::shared_ptr<UIFont> font);
    // Black by default.
    std::shared_ptr<UIColor> textColor() const { return textColor_; }
    void setTextColor(std::shared_ptr<UIColor> color);
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment);
    // 1 by default; 0 means as many as needed.
    int numberOfLines() const { return numberOfLines_; }
    void setNumberOfLines(int lines);
    NSLineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(NSLineBreakMode mode);
    bool adjustsFontSizeToFitWidth() const { return adjustsFontSize_; }
    void setAdjustsFontSizeToFitWidth(bool adjusts) { adjustsFontSize_ = adjusts; }
    CGFloat minimumScaleFactor() const { return minimumScaleFactor_; }
    void setMinimumScaleFactor(CGFloat factor) { minimumScaleFactor_ = factor; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    CGFloat preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
    void setShadowColor(std::shared_ptr<UIColor> color) { shadowColor_ = std::move(color); }
    void setShadowOffset(CGSize offset) { shadowOffset_ = offset; }

    // The text's size wrapped to `size.width` (when more than one line is allowed) and cut
    // to numberOfLines, each side rounded up to a whole point.
    CGSize sizeThatFits(const CGSize& size) const override;
    CGSize intrinsicContentSize() const override;
    // Draws the lines of text into the current context, aligned within `rect`.
    virtual void drawTextInRect(const CGRect& rect);
    void drawRect(const CGRect& rect) override;

    // The font size the text is drawn at: smaller than the font's when it shrinks to fit.
    CGFloat effectiveFontSize() const;
    // The lines as laid out in the bounds (what a person would read).
    std::vector<std::string> visibleLines() const;

    std::string description() const override;

private:
    std::shared_ptr<NSAttributedString> displayText() const;
    void textChanged();

    std::string text_;
    std::shared_ptr<NSAttributedString> attributed_;
    std::shared_ptr<UIFont> font_;
    std::shared_ptr<UIColor> textColor_;
    std::shared_ptr<UIColor> highlightedTextColor_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    int numberOfLines_ = 1;
    NSLineBreakMode lineBreakMode_ = NSLineBreakByTruncatingTail;
    bool adjustsFontSize_ = false;
    CGFloat minimumScaleFactor_ = 0;
    bool highlighted_ = false;
    bool enabled_ = true;
    CGFloat preferredMaxLayoutWidth_ = 0;
    std::shared_ptr<UIColor> shadowColor_;
    CGSize shadowOffset_{0, -1};
};
