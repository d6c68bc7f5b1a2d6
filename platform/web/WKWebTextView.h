// One block of a page's text as the web view lays it out: wrapped to its width in the block's
// font, size and alignment, its links drawn where their text stands in the link colour; it
// knows whether it is a heading. It draws itself.
#pragma once

#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIView.h"
#include "platform/web/HTMLDocument.h"

#include <memory>
#include <string>
#include <vector>

class UIFont;

class WKWebTextView : public UIView {
public:
    static std::shared_ptr<WKWebTextView> initWithBlock(const HTMLTextBlock& block);
    using UIView::UIView;

    const std::string& text() const { return text_->string(); }
    std::shared_ptr<UIFont> font() const { return font_; }
    NSTextAlignment textAlignment() const { return alignment_; }
    // 1 to 6 for a heading, 0 for other text.
    int headingLevel() const { return headingLevel_; }
    // The style the page set for the block.
    const HTMLTextStyle& textStyle() const { return style_; }
    // The size in CSS points (three quarters of a CSS pixel), as style sheets write sizes.
    double cssPointSize() const { return style_.fontSize * 0.75; }
    // "left", "right", "center", "justify", or "" when the page set none.
    std::string alignmentName() const;

    // The text wrapped to `size.width`, each side rounded up to a whole point.
    CGSize sizeThatFits(const CGSize& size) const override;
    // Each run of one style on a line as it stands there; a justified line word by word.
    void drawRect(const CGRect& rect) override;

private:
    friend class WKWebView;

    struct Glyph {
        std::size_t location;  // UTF-16 units into the text
        std::size_t units;
        char32_t codePoint;
        CGFloat x;
        CGFloat advance;
    };
    struct Line {
        std::vector<Glyph> glyphs;  // without the spaces that end it
        CGFloat y;
        CGFloat height;
        bool spread;  // justified: the room left over goes into its spaces
    };
    // The lines at the bounds' width, placed as drawn.
    const std::vector<Line>& layoutLines() const;
    // Where the characters of `range` (UTF-16 units) are drawn: a rectangle on each line they
    // run over, in the view's coordinates.
    std::vector<CGRect> rectsForRange(NSRange range) const;

    std::shared_ptr<NSAttributedString> text_ = NSAttributedString::initWithString("");
    std::shared_ptr<UIFont> font_;
    NSTextAlignment alignment_ = NSTextAlignmentNatural;
    int headingLevel_ = 0;
    HTMLTextStyle style_;
    mutable std::vector<Line> lines_;
    mutable CGFloat linesWidth_ = -1;
};
