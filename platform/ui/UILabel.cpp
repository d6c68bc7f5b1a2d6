// Labels: measurement, line layout with truncation, and drawing into the recording context.
#include "platform/ui/UILabel.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/TextLayout.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr CGFloat kInfinity = std::numeric_limits<CGFloat>::infinity();

struct PlacedLine {
    std::string text;
    CGRect rect;
    NSStringAttributes attributes;
};
}  // namespace

UILabel::UILabel() : UILabel(CGRectZero) {}

UILabel::UILabel(const CGRect& frame)
    : UIView(frame), font_(UIFont::systemFontOfSize(17)), textColor_(UIColor::blackColor()) {
    UIView::setUserInteractionEnabled(false);
    setContentMode(UIViewContentModeRedraw);
}

std::string UILabel::text() const { return attributed_ ? attributed_->string() : text_; }

void UILabel::setText(const std::string& text) {
    text_ = text;
    attributed_ = nullptr;
    textChanged();
}

std::shared_ptr<NSAttributedString> UILabel::attributedText() const { return displayText(); }

void UILabel::setAttributedText(std::shared_ptr<NSAttributedString> text) {
    attributed_ = std::move(text);
    text_ = attributed_ ? attributed_->string() : "";
    textChanged();
}

void UILabel::setFont(std::shared_ptr<UIFont> font) {
    font_ = font ? std::move(font) : UIFont::systemFontOfSize(17);
    textChanged();
}

void UILabel::setTextColor(std::shared_ptr<UIColor> color) {
    textColor_ = color ? std::move(color) : UIColor::blackColor();
    setNeedsDisplay();
}

void UILabel::setTextAlignment(NSTextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay();
}

void UILabel::setNumberOfLines(int lines) {
    numberOfLines_ = std::max(0, lines);
    textChanged();
}

void UILabel::setLineBreakMode(NSLineBreakMode mode) {
    lineBreakMode_ = mode;
    textChanged();
}

void UILabel::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setNeedsDisplay();
}

void UILabel::setEnabled(bool enabled) {
    enabled_ = enabled;
    setNeedsDisplay();
}

void UILabel::textChanged() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

std::shared_ptr<NSAttributedString> UILabel::displayText() const {
    if (attributed_) return attributed_;
    NSStringAttributes attributes;
    attributes.font = font_;
    attributes.foregroundColor = textColor_;
    return NSAttributedString::initWithString(text_, attributes);
}

namespace {
NSLineBreakMode wrapMode(NSLineBreakMode mode) {
    return mode == NSLineBreakByCharWrapping ? NSLineBreakByCharWrapping : NSLineBreakByWordWrapping;
}

// The label's text as it is held: attributed, or plain in the label's font.
TextLayoutResult layoutOf(const NSAttributedString* attributed, const std::string& text,
                          const std::shared_ptr<UIFont>& font, const TextLayoutOptions& options) {
    return attributed ? TextLayout::layout(*attributed, options) : TextLayout::layout(text, font, options);
}
}  // namespace

CGSize UILabel::sizeThatFits(const CGSize& size) const {
    if (text_.empty()) return {0, 0};
    const bool wraps = numberOfLines_ != 1 && size.width > 0;
    TextLayoutOptions options;
    options.width = wraps ? size.width : 0;
    options.mode = wraps ? wrapMode(lineBreakMode_) : NSLineBreakByClipping;
    options.emptyLineHeight = font_->lineHeight();
    options.maxLines = numberOfLines_ > 0 ? static_cast<std::size_t>(numberOfLines_) : 0;
    options.keepGlyphs = false;
    const CGSize measured = TextLayout::size(layoutOf(attributed_.get(), text_, font_, options).lines);
    return {std::ceil(measured.width - 1e-9), std::ceil(measured.height - 1e-9)};
}

CGSize UILabel::intrinsicContentSize() const {
    return sizeThatFits({preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_ : 0, kInfinity});
}

CGFloat UILabel::effectiveFontSize() const {
    const CGFloat size = font_->pointSize();
    if (!adjustsFontSize_ || numberOfLines_ != 1 || bounds().size.width <= 0) return size;
    TextLayoutOptions options;
    options.mode = NSLineBreakByClipping;
    options.emptyLineHeight = font_->lineHeight();
    options.keepGlyphs = false;
    // Text wider than this shrinks by the smallest factor however much wider it is.
    if (minimumScaleFactor_ > 0) options.visibleWidth = bounds().size.width / minimumScaleFactor_;
    const CGFloat width = TextLayout::size(layoutOf(attributed_.get(), text_, font_, options).lines).width;
    if (width <= bounds().size.width) return size;
    const CGFloat scale = std::max(minimumScaleFactor_, bounds().size.width / width);
    return size * std::min(1.0, scale);
}

namespace {
// Lays the label's text out in `rect`: wrapped, cut to the line limit and to what fits the
// height, the last line truncated with an ellipsis when text is left over or it is too wide.
// Only what can show is read: the lines that fit and, of a line that does not wrap, what
// fits the width.
std::vector<PlacedLine> placeLines(const NSAttributedString* attributed, const std::string& text,
                                   const std::shared_ptr<UIFont>& baseFont, const NSStringAttributes& plainAttributes,
                                   CGFloat fontScale, int numberOfLines, NSLineBreakMode breakMode,
                                   NSTextAlignment alignment, const CGRect& rect) {
    std::vector<PlacedLine> placed;
    if (text.empty()) return placed;
    const bool wraps = numberOfLines != 1;
    TextLayoutOptions options;
    options.width = wraps ? rect.size.width : 0;
    options.mode = wraps ? wrapMode(breakMode) : NSLineBreakByClipping;
    options.emptyLineHeight = baseFont->lineHeight() * fontScale;
    options.fontScale = fontScale;
    options.maxLines = numberOfLines > 0 ? static_cast<std::size_t>(numberOfLines) : 0;
    options.maxHeight = rect.size.height;
    options.visibleWidth = rect.size.width;
    const auto layout = layoutOf(attributed, text, baseFont, options);
    auto lines = layout.lines;
    std::size_t limit = numberOfLines > 0 ? static_cast<std::size_t>(numberOfLines) : lines.size();
    // Only whole lines that fit the height show (at least one).
    CGFloat used = 0;
    std::size_t fitting = 0;
    for (const auto& line : lines) {
        if (fitting > 0 && used + line.height > rect.size.height + 1e-9) break;
        used += line.height;
        ++fitting;
    }
    limit = std::min(limit, std::max<std::size_t>(1, fitting));
    const bool leftOver = lines.size() > limit || layout.stoppedEarly;
    lines.resize(std::min(lines.size(), limit));

    const CGSize total = TextLayout::size(lines);
    CGFloat y = rect.origin.y + (rect.size.height - total.height) / 2;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        std::size_t end = line.end;
        while (end > line.begin && layout.glyphs[end - 1].codePoint == U' ') --end;
        std::u32string chars;
        for (std::size_t k = line.begin; k < end; ++k) chars.push_back(layout.glyphs[k].codePoint);
        CGFloat width = line.width;
        const bool last = i + 1 == lines.size();
        const bool truncates = breakMode != NSLineBreakByClipping && breakMode != NSLineBreakByWordWrapping &&
                               breakMode != NSLineBreakByCharWrapping;
        if (last && truncates && (leftOver || width > rect.size.width + 1e-9) && !chars.empty()) {
            const CGFloat unit = chars.empty() ? 0 : width / static_cast<CGFloat>(chars.size());
            while (!chars.empty() && (static_cast<CGFloat>(chars.size()) + 1) * unit > rect.size.width + 1e-9)
                chars.pop_back();
            while (!chars.empty() && chars.back() == U' ') chars.pop_back();
            chars.push_back(U'\u2026');
            width = static_cast<CGFloat>(chars.size()) * unit;
        }
        CGFloat x = rect.origin.x;
        if (alignment == NSTextAlignmentCenter) x += (rect.size.width - width) / 2;
        else if (alignment == NSTextAlignmentRight) x += rect.size.width - width;
        NSStringAttributes attributes = attributed ? attributed->attributesAtIndex(line.location) : plainAttributes;
        placed.push_back({NSString::fromUTF32(chars), {{x, y}, {width, line.height}}, attributes});
        y += line.height;
    }
    return placed;
}
}  // namespace

void UILabel::drawTextInRect(const CGRect& rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat scale = font_->pointSize() > 0 ? effectiveFontSize() / font_->pointSize() : 1;
    NSStringAttributes plain;
    plain.font = font_;
    plain.foregroundColor = textColor_;
    for (const auto& line : placeLines(attributed_.get(), text_, font_, plain, scale, numberOfLines_, lineBreakMode_,
                                       alignment_, rect)) {
        CGContext::Operation op(CGContext::Operation::Kind::DrawText);
        op.text = line.text;
        op.rect = line.rect;
        auto font = line.attributes.font ? line.attributes.font : font_;
        op.font = scale != 1 ? font->fontWithSize(font->pointSize() * scale) : font;
        op.color = highlighted_ && highlightedTextColor_ ? highlightedTextColor_
                   : line.attributes.foregroundColor    ? line.attributes.foregroundColor
                                                        : textColor_;
        op.value = line.attributes.underlineStyle;
        context->record(std::move(op));
    }
}

void UILabel::drawRect(const CGRect& rect) {
    (void)rect;
    drawTextInRect(bounds());
}

std::vector<std::string> UILabel::visibleLines() const {
    std::vector<std::string> out;
    const CGFloat scale = font_->pointSize() > 0 ? effectiveFontSize() / font_->pointSize() : 1;
    NSStringAttributes plain;
    plain.font = font_;
    for (const auto& line : placeLines(attributed_.get(), text_, font_, plain, scale, numberOfLines_, lineBreakMode_,
                                       alignment_, bounds()))
        out.push_back(line.text);
    return out;
}

std::string UILabel::description() const {
    std::string base = UIView::description();
    base.pop_back();
    return base + NSString::format("; text = '%@'>", text());
}
