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
                                             CGFloat width, NSLineBreakMode mode, std::size_t maxLines,
                                             CGFloat visibleWidth) {
    const auto f = orDefault(font);
    TextLayoutOptions options;
    options.width = width;
    options.mode = mode;
    options.emptyLineHeight = f->lineHeight();
    options.maxLines = maxLines;
    options.visibleWidth = visibleWidth;
    const auto layout = TextLayout::layout(text, f, options);
    std::vector<std::string> out;
    for (const auto& line : layout.lines) {
        std::size_t end = line.end;
        while (end > line.begin && layout.glyphs[end - 1].codePoint == U' ') --end;
        std::string chars;
        for (std::size_t i = line.begin; i < end; ++i) NSString::appendUTF8(chars, layout.glyphs[i].codePoint);
        out.push_back(std::move(chars));
    }
    return out;
}

namespace {
// The lines' sizes alone: the text is read through but none of it is kept.
TextLayoutOptions measuring(const UIFont& font, CGFloat width, NSLineBreakMode mode) {
    TextLayoutOptions options;
    options.width = width;
    options.mode = mode;
    options.emptyLineHeight = font.lineHeight();
    options.keepGlyphs = false;
    return options;
}
}  // namespace

CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font) {
    const auto f = orDefault(font);
    return TextLayout::size(TextLayout::layout(text, f, measuring(*f, 0, NSLineBreakByClipping)).lines);
}

CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font, CGSize size,
                            NSLineBreakMode mode) {
    const auto f = orDefault(font);
    auto options = measuring(*f, size.width, mode);
    if (std::isfinite(size.height) && size.height > 0)
        options.maxLines = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(size.height / f->lineHeight() + 1e-9)));
    CGSize result = TextLayout::size(TextLayout::layout(text, f, options).lines);
    // Lines that do not wrap are cut (truncated) to the width.
    if (std::isfinite(size.width) && size.width > 0) result.width = std::min(result.width, size.width);
    return result;
}

CGRect NSStringBoundingRectWithSize(const std::string& text, CGSize size, unsigned options,
                                    const NSStringAttributes& attributes) {
    const auto f = orDefault(attributes.font);
    auto layout = measuring(*f, 0, NSLineBreakByClipping);
    if (options & NSStringDrawingUsesLineFragmentOrigin) {
        layout.width = size.width;
        layout.mode = attributes.lineBreakMode.value_or(NSLineBreakByWordWrapping);
    } else {
        // Without line fragments the text is one line, newlines included.
        layout.newlinesAsSpaces = true;
    }
    return {{0, 0}, TextLayout::size(TextLayout::layout(text, f, layout).lines)};
}

