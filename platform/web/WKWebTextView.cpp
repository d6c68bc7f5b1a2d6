// A block of page text set as its style says, its links in the link colour.
#include "platform/web/WKWebTextView.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/TextLayout.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {

bool isSpace(char32_t c) { return c == U' ' || c == U'\t' || c == 0x00A0 || c == 0x3000; }

// The UTF-16 units in the first `bytes` bytes of `text`.
std::size_t unitsBefore(const std::string& text, std::size_t bytes) {
    return NSString::utf16Length(std::string_view(text).substr(0, std::min(bytes, text.size())));
}

}  // namespace

std::shared_ptr<WKWebTextView> WKWebTextView::initWithBlock(const HTMLTextBlock& block) {
    auto view = std::make_shared<WKWebTextView>(CGRectZero);
    view->headingLevel_ = block.headingLevel;
    view->style_ = block.style;
    // One CSS pixel is one point on the screen.
    const double size = block.style.fontSize;
    if (block.style.fontFamily.empty())
        view->font_ = block.style.bold ? UIFont::boldSystemFontOfSize(size) : UIFont::systemFontOfSize(size);
    else
        view->font_ = UIFont::fontWithName(block.style.fontFamily + (block.style.bold ? "-Bold" : ""), size);
    switch (block.style.align) {
    case HTMLTextStyle::Align::Start:
    case HTMLTextStyle::Align::Left: view->alignment_ = NSTextAlignmentLeft; break;
    case HTMLTextStyle::Align::Right: view->alignment_ = NSTextAlignmentRight; break;
    case HTMLTextStyle::Align::Center: view->alignment_ = NSTextAlignmentCenter; break;
    case HTMLTextStyle::Align::Justify: view->alignment_ = NSTextAlignmentJustified; break;
    }
    NSStringAttributes plain;
    plain.font = view->font_;
    plain.foregroundColor = UIColor::blackColor();
    auto text = NSMutableAttributedString::initWithString(block.text, plain);
    NSStringAttributes link;
    link.foregroundColor = UIColor::systemBlueColor();
    for (const auto& l : block.links) {
        if (l.location == std::string::npos) continue;
        const std::size_t from = unitsBefore(block.text, l.location);
        text->addAttributes(link, {from, unitsBefore(block.text, l.location + l.length) - from});
    }
    view->text_ = std::move(text);
    view->setContentMode(UIViewContentModeRedraw);
    // Its links take the touches; the text itself, as a label's, takes none.
    view->setUserInteractionEnabled(false);
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

CGSize WKWebTextView::sizeThatFits(const CGSize& size) const {
    if (text().empty()) return {0, 0};
    TextLayoutOptions options;
    options.width = size.width;
    options.emptyLineHeight = font_->lineHeight();
    options.keepGlyphs = false;
    const CGSize measured = TextLayout::size(TextLayout::layout(*text_, options).lines);
    return {std::ceil(measured.width - 1e-9), std::ceil(measured.height - 1e-9)};
}

const std::vector<WKWebTextView::Line>& WKWebTextView::layoutLines() const {
    const CGFloat width = bounds().size.width;
    // The text never changes: only another width lays it out again.
    if (width == linesWidth_) return lines_;
    linesWidth_ = width;
    std::vector<Line>& out = lines_;
    out.clear();
    if (text().empty()) return out;
    TextLayoutOptions options;
    options.width = width;
    options.emptyLineHeight = font_->lineHeight();
    const TextLayoutResult layout = TextLayout::layout(*text_, options);
    // Where the page broke its lines itself: those lines end a paragraph and are not spread.
    std::set<std::size_t> breaks;
    std::size_t units = 0;
    for (std::size_t at = 0; at < text().size();) {
        const char32_t c = NSString::nextCodePoint(text(), at);
        if (c == U'\n') breaks.insert(units);
        units += c > 0xFFFF ? 2 : 1;
    }
    CGFloat y = 0;
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        const TextLayoutLine& source = layout.lines[i];
        Line line{{}, y, source.height, false};
        std::size_t location = source.location;
        CGFloat x = 0;
        for (std::size_t k = source.begin; k < source.end; ++k) {
            const TextLayoutGlyph& g = layout.glyphs[k];
            const std::size_t n = g.codePoint > 0xFFFF ? 2 : 1;
            line.glyphs.push_back({location, n, g.codePoint, x, g.advance});
            location += n;
            x += g.advance;
        }
        while (!line.glyphs.empty() && isSpace(line.glyphs.back().codePoint)) line.glyphs.pop_back();
        const CGFloat used = source.width;
        const bool lastOfParagraph = i + 1 == layout.lines.size() || breaks.count(location) != 0;
        CGFloat shift = 0, spread = 0;
        if (alignment_ == NSTextAlignmentCenter) shift = (width - used) / 2;
        else if (alignment_ == NSTextAlignmentRight) shift = width - used;
        else if (alignment_ == NSTextAlignmentJustified && !lastOfParagraph && used < width) {
            const auto gaps = std::count_if(line.glyphs.begin(), line.glyphs.end(),
                                            [](const Glyph& g) { return isSpace(g.codePoint); });
            if (gaps > 0) spread = (width - used) / static_cast<CGFloat>(gaps);
            line.spread = gaps > 0;
        }
        CGFloat extra = shift;
        for (auto& g : line.glyphs) {
            g.x += extra;
            if (isSpace(g.codePoint)) extra += spread;
        }
        out.push_back(std::move(line));
        y += source.height;
    }
    return out;
}

void WKWebTextView::drawRect(const CGRect& rect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context) return;
    for (const Line& line : layoutLines()) {
        if (line.y >= CGRectGetMaxY(rect) || line.y + line.height <= rect.origin.y) continue;
        // A piece runs while the style stays; on a spread line it is spread across its room.
        std::vector<CGContext::Operation> pieces;
        std::size_t from = 0;
        while (from < line.glyphs.size()) {
            NSRange run{0, 0};
            const NSStringAttributes attributes = text_->attributesAtIndex(line.glyphs[from].location, &run);
            std::size_t to = from + 1;
            while (to < line.glyphs.size() && line.glyphs[to].location < run.location + run.length) ++to;
            std::size_t inked = to;
            while (inked > from && isSpace(line.glyphs[inked - 1].codePoint)) --inked;
            if (inked > from) {
                std::u32string chars;
                for (std::size_t k = from; k < inked; ++k) chars.push_back(line.glyphs[k].codePoint);
                const Glyph& first = line.glyphs[from];
                const Glyph& last = line.glyphs[inked - 1];
                CGContext::Operation op(CGContext::Operation::Kind::DrawText);
                op.text = NSString::fromUTF32(chars);
                op.rect = {{first.x, line.y}, {last.x + last.advance - first.x, line.height}};
                op.font = attributes.font ? attributes.font : font_;
                op.color = attributes.foregroundColor ? attributes.foregroundColor : UIColor::blackColor();
                if (line.spread) op.alignment = NSTextAlignmentJustified;
                pieces.push_back(std::move(op));
            }
            from = to;
        }
        // The last piece of a line that is not spread may take the room after it (a face's
        // glyphs are not as wide as the layout's).
        if (!line.spread && !pieces.empty())
            pieces.back().rect.size.width = std::max(pieces.back().rect.size.width,
                                                     bounds().size.width - pieces.back().rect.origin.x);
        for (auto& piece : pieces) context->record(std::move(piece));
    }
}

std::vector<CGRect> WKWebTextView::rectsForRange(NSRange range) const {
    std::vector<CGRect> rects;
    for (const Line& line : layoutLines()) {
        CGFloat left = 0, right = 0;
        bool any = false;
        for (const Glyph& g : line.glyphs) {
            if (g.location < range.location || g.location >= range.location + range.length) continue;
            left = any ? std::min(left, g.x) : g.x;
            right = any ? std::max(right, g.x + g.advance) : g.x + g.advance;
            any = true;
        }
        if (any) rects.push_back(CGRectMake(left, line.y, right - left, line.height));
    }
    return rects;
}
