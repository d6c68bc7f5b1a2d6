// One block of a page's text as the web view lays it out: a label set in the block's font,
// size and alignment, that knows whether it is a heading.
#pragma once

#include "platform/ui/UILabel.h"
#include "platform/web/HTMLDocument.h"

#include <memory>

class WKWebTextView : public UILabel {
public:
    static std::shared_ptr<WKWebTextView> initWithBlock(const HTMLTextBlock& block);
    using UILabel::UILabel;

    // 1 to 6 for a heading, 0 for other text.
    int headingLevel() const { return headingLevel_; }
    // The style the page set for the block.
    const HTMLTextStyle& textStyle() const { return style_; }
    // The size in CSS points (three quarters of a CSS pixel), as style sheets write sizes.
    double cssPointSize() const { return style_.fontSize * 0.75; }
    // "left", "right", "center", "justify", or "" when the page set none.
    std::string alignmentName() const;

private:
    int headingLevel_ = 0;
    HTMLTextStyle style_;
};
