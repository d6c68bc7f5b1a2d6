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

void UILabel::setPreferredMaxLayoutWidth(CGFloat width) {
    preferredMaxLayoutWidth_ = width;
    invalidateIntrinsicContentSize();
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
}  // namespace

CGSize UILabel::sizeThatFits(const CGSize& size) const {
    const auto text = displayText();
    if (text->length() == 0) return {0, 0};
    const auto glyphs = TextLayout::glyphs(*text);
    const bool wraps = numberOfLines_ != 1 && size.width > 0;
    const auto lines = TextLayout::lines(glyphs, wraps ? size.width : 0,
                                         wraps ? wrapMode(lineBreakMode_) : NSLineBreakByClipping, font_->lineHeight());
    const CGSize measured = TextLayout::size(lines, numberOfLines_ > 0 ? static_cast<std::size_t>(numberOfLines_) : 0);
    return {std::ceil(measured.width - 1e-9), std::ceil(measured.height - 1e-9)};
}

CGSize UILabel::intrinsicContentSize() const {
    return sizeThatFits({preferredMaxLayoutWidth_ > 0 ? preferredMaxLayoutWidth_ : 0, kInfinity});
}

CGFloat UILabel::effectiveFontSize() const {
    const CGFloat size = font_->pointSize();
    if (!adjustsFontSize_ || numberOfLines_ != 1 || bounds().size.width <= 0) return size;
    const auto text = displayText();
    const CGFloat width = TextLayout::size(TextLayout::lines(TextLayout::glyphs(*text), 0, NSLineBreakByClipping,
                                                             font_->lineHeight()))
                              .width;
    if (width <= bounds().size.width) return size;
    const CGFloat scale = std::max(minimumScaleFactor_, bounds().size.width / width);
    return size * std::min(1.0, scale);
}

namespace {
// Lays the label's text out in `rect`: wrapped, cut to the line limit and to what fits the
// height, the last line truncated with an ellipsis when text is left over or it is too wide.
std::vector<PlacedLine> placeLines(const NSAttributedString& source, const UIFont& baseFont, CGFloat fontScale,
                                   int numberOfLines, NSLineBreakMode breakMode, NSTextAlignment alignment,
                                   const CGRect& rect) {
    std::vector<PlacedLine> placed;
    if (source.length() == 0) return placed;
    auto glyphs = TextLayout::glyphs(source);
    for (auto& g : glyphs) {
        g.advance *= fontScale;
        g.lineHeight *= fontScale;
    }
    const bool wraps = numberOfLines != 1;
    auto lines = TextLayout::lines(glyphs, wraps ? rect.size.width : 0,
                                   wraps ? wrapMode(breakMode) : NSLineBreakByClipping, baseFont.lineHeight() * fontScale);
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
    const bool leftOver = lines.size() > limit;
    lines.resize(std::min(lines.size(), limit));

    const CGSize total = TextLayout::size(lines);
    CGFloat y = rect.origin.y + (rect.size.height - total.height) / 2;
    const std::u32string all = [&] {
        std::u32string s;
        for (const auto& g : glyphs) s.push_back(g.codePoint);
        return s;
    }();
    const std::vector<std::size_t> utf16Offsets = [&] {
        std::vector<std::size_t> offsets;
        std::size_t at = 0;
        for (char32_t c : all) {
            offsets.push_back(at);
            at += c > 0xFFFF ? 2 : 1;
        }
        offsets.push_back(at);
        return offsets;
    }();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        std::size_t end = line.end;
        while (end > line.begin && all[end - 1] == U' ') --end;
        std::u32string chars = all.substr(line.begin, end - line.begin);
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
        NSStringAttributes attributes = source.attributesAtIndex(utf16Offsets[line.begin]);
        placed.push_back({NSString::fromUTF32(chars), {{x, y}, {width, line.height}}, attributes});
        y += line.height;
    }
    return placed;
}
}  // namespace

CGRect UILabel::textRectForBounds(const CGRect& bounds, int numberOfLines) const {
    (void)numberOfLines;
    const CGSize measured = sizeThatFits({bounds.size.width, bounds.size.height});
    const CGSize size{std::min(measured.width, bounds.size.width), std::min(measured.height, bounds.size.height)};
    return {{bounds.origin.x, bounds.origin.y + (bounds.size.height - size.height) / 2}, size};
}

void UILabel::drawTextInRect(const CGRect& rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    const CGFloat scale = font_->pointSize() > 0 ? effectiveFontSize() / font_->pointSize() : 1;
    for (const auto& line : placeLines(*displayText(), *font_, scale, numberOfLines_, lineBreakMode_, alignment_, rect)) {
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
    for (const auto& line : placeLines(*displayText(), *font_, scale, numberOfLines_, lineBreakMode_, alignment_, bounds()))
        out.push_back(line.text);
    return out;
}

std::string UILabel::description() const {
    std::string base = UIView::description();
    base.pop_back();
    return base + NSString::format("; text = '%@'>", text());
}
