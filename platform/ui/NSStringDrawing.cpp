// Plain-text measurement over the shared line breaker.
#include "platform/ui/NSStringDrawing.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/TextLayout.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
std::shared_ptr<UIFont> orDefault(const std::shared_ptr<UIFont>& font) {
    return font ? font : UIFont::systemFontOfSize(12);
}
}  // namespace

std::vector<std::string> NSStringLayoutLines(const std::string& text, const std::shared_ptr<UIFont>& font,
                                             CGFloat width, NSLineBreakMode mode) {
    const auto f = orDefault(font);
    const auto glyphs = TextLayout::glyphs(text, f);
    const auto lines = TextLayout::lines(glyphs, width, mode, f->lineHeight());
    std::vector<std::string> out;
    for (const auto& line : lines) {
        std::u32string chars;
        std::size_t end = line.end;
        while (end > line.begin && glyphs[end - 1].codePoint == U' ') --end;
        for (std::size_t i = line.begin; i < end; ++i) chars.push_back(glyphs[i].codePoint);
        out.push_back(NSString::fromUTF32(chars));
    }
    return out;
}

CGFloat NSStringLineWidth(const std::string& text, const std::shared_ptr<UIFont>& font) {
    return static_cast<CGFloat>(NSString::utf16Length(text)) * orDefault(font)->glyphWidth();
}

CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font) {
    const auto f = orDefault(font);
    const auto lines = TextLayout::lines(TextLayout::glyphs(text, f), 0, NSLineBreakByClipping, f->lineHeight());
    return TextLayout::size(lines);
}

CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font, CGSize size,
                            NSLineBreakMode mode) {
    const auto f = orDefault(font);
    const auto lines = TextLayout::lines(TextLayout::glyphs(text, f), size.width, mode, f->lineHeight());
    std::size_t maxLines = 0;
    if (std::isfinite(size.height) && size.height > 0)
        maxLines = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(size.height / f->lineHeight() + 1e-9)));
    CGSize result = TextLayout::size(lines, maxLines);
    // Lines that do not wrap are cut (truncated) to the width.
    if (std::isfinite(size.width) && size.width > 0) result.width = std::min(result.width, size.width);
    return result;
}

CGRect NSStringBoundingRectWithSize(const std::string& text, CGSize size, unsigned options,
                                    const NSStringAttributes& attributes) {
    const auto f = orDefault(attributes.font);
    const auto glyphs = TextLayout::glyphs(text, f);
    CGSize result;
    if (options & NSStringDrawingUsesLineFragmentOrigin) {
        const NSLineBreakMode mode = attributes.lineBreakMode.value_or(NSLineBreakByWordWrapping);
        result = TextLayout::size(TextLayout::lines(glyphs, size.width, mode, f->lineHeight()));
    } else {
        // Without line fragments the text is one line, newlines included.
        std::vector<TextLayoutGlyph> single = glyphs;
        for (auto& g : single)
            if (g.codePoint == U'\n') g.codePoint = U' ';
        result = TextLayout::size(TextLayout::lines(single, 0, NSLineBreakByClipping, f->lineHeight()));
    }
    return {{0, 0}, result};
}

CGSize NSStringSizeWithAttributes(const std::string& text, const NSStringAttributes& attributes) {
    return NSStringSizeWithFont(text, attributes.font);
}
