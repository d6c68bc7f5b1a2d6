// A block of page text set as its style says.
#include "platform/web/WKWebTextView.h"

#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

std::shared_ptr<WKWebTextView> WKWebTextView::initWithBlock(const HTMLTextBlock& block) {
    auto view = std::make_shared<WKWebTextView>(CGRectZero);
    view->headingLevel_ = block.headingLevel;
    view->style_ = block.style;
    // One CSS pixel is one point on the screen.
    const double size = block.style.fontSize;
    std::shared_ptr<UIFont> font;
    if (block.style.fontFamily.empty())
        font = block.style.bold ? UIFont::boldSystemFontOfSize(size) : UIFont::systemFontOfSize(size);
    else
        font = UIFont::fontWithName(block.style.fontFamily + (block.style.bold ? "-Bold" : ""), size);
    view->setFont(font);
    view->setNumberOfLines(0);
    view->setLineBreakMode(NSLineBreakByWordWrapping);
    view->setTextColor(UIColor::blackColor());
    switch (block.style.align) {
    case HTMLTextStyle::Align::Start:
    case HTMLTextStyle::Align::Left: view->setTextAlignment(NSTextAlignmentLeft); break;
    case HTMLTextStyle::Align::Right: view->setTextAlignment(NSTextAlignmentRight); break;
    case HTMLTextStyle::Align::Center: view->setTextAlignment(NSTextAlignmentCenter); break;
    case HTMLTextStyle::Align::Justify: view->setTextAlignment(NSTextAlignmentJustified); break;
    }
    view->setText(block.text);
    return view;
}

std::string WKWebTextView::alignmentName() const {
    switch (style_.align) {
    case HTMLTextStyle::Align::Start: return "";
    case HTMLTextStyle::Align::Left: return "left";
    case HTMLTextStyle::Align::Right: return "right";
    case HTMLTextStyle::Align::Center: return "center";
    case HTMLTextStyle::Align::Justify: return "justify";
    }
    return "";
}
