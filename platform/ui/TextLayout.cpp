// Greedy line breaking: words move to the next line whole unless they alone are too wide.
#include "platform/ui/TextLayout.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr CGFloat kEpsilon = 1e-9;

bool isSpace(char32_t c) { return c == U' ' || c == U'\t' || c == 0x00A0 || c == 0x3000; }

std::shared_ptr<UIFont> orDefault(const std::shared_ptr<UIFont>& font) {
    return font ? font : UIFont::systemFontOfSize(12);
}

void appendGlyphs(std::vector<TextLayoutGlyph>& out, const std::string& text, const UIFont& font) {
    for (char32_t c : NSString::toUTF32(text)) {
        const CGFloat units = c > 0xFFFF ? 2 : 1;
        out.push_back({c, c == U'\n' ? 0 : units * font.glyphWidth(), font.lineHeight()});
    }
}
}  // namespace

std::vector<TextLayoutGlyph> TextLayout::glyphs(const std::string& text, const std::shared_ptr<UIFont>& font) {
    std::vector<TextLayoutGlyph> out;
    appendGlyphs(out, text, *orDefault(font));
    return out;
}

std::vector<TextLayoutGlyph> TextLayout::glyphs(const NSAttributedString& text) {
    std::vector<TextLayoutGlyph> out;
    for (const auto& run : text.runs())
        appendGlyphs(out, NSString::substringWithRange(text.string(), run.range), *orDefault(run.attributes.font));
    return out;
}

std::vector<TextLayoutLine> TextLayout::lines(const std::vector<TextLayoutGlyph>& glyphs, CGFloat width,
                                              NSLineBreakMode mode, CGFloat emptyLineHeight) {
    std::vector<TextLayoutLine> out;
    if (glyphs.empty()) return out;
    const bool wrap = std::isfinite(width) && width > 0 &&
                      (mode == NSLineBreakByWordWrapping || mode == NSLineBreakByCharWrapping);

    auto emit = [&](std::size_t begin, std::size_t end) {
        std::size_t visibleEnd = end;
        while (visibleEnd > begin && isSpace(glyphs[visibleEnd - 1].codePoint)) --visibleEnd;
        CGFloat w = 0, h = 0;
        for (std::size_t i = begin; i < visibleEnd; ++i) w += glyphs[i].advance;
        for (std::size_t i = begin; i < end; ++i) h = std::max(h, glyphs[i].lineHeight);
        if (h == 0) h = (begin < glyphs.size()) ? glyphs[begin].lineHeight : emptyLineHeight;
        out.push_back({begin, end, w, h > 0 ? h : emptyLineHeight});
    };

    std::size_t lineStart = 0;
    std::size_t lastBreak = 0;  // a line may end here (after a space); 0 = none in this line
    CGFloat lineWidth = 0;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const char32_t c = glyphs[i].codePoint;
        if (c == U'\n') {
            emit(lineStart, i);
            lineStart = i + 1;
            lastBreak = 0;
            lineWidth = 0;
            continue;
        }
        while (wrap && !isSpace(c) && i > lineStart && lineWidth + glyphs[i].advance > width + kEpsilon) {
            const std::size_t end =
                (mode == NSLineBreakByWordWrapping && lastBreak > lineStart) ? lastBreak : i;
            emit(lineStart, end);
            lineStart = end;
            lastBreak = 0;
            lineWidth = 0;
            for (std::size_t k = lineStart; k < i; ++k) lineWidth += glyphs[k].advance;
        }
        lineWidth += glyphs[i].advance;
        if (isSpace(c)) lastBreak = i + 1;
    }
    emit(lineStart, glyphs.size());
    return out;
}

CGSize TextLayout::size(const std::vector<TextLayoutLine>& lines, std::size_t maxLines) {
    CGSize s{0, 0};
    const std::size_t count = maxLines > 0 ? std::min(maxLines, lines.size()) : lines.size();
    for (std::size_t i = 0; i < count; ++i) {
        s.width = std::max(s.width, lines[i].width);
        s.height += lines[i].height;
    }
    return s;
}
