// Line breaking over glyphs of fixed advances: the one text layout measuring and drawing share.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/NSAttributedString.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class UIFont;

struct TextLayoutGlyph {
    char32_t codePoint;
    CGFloat advance;
    CGFloat lineHeight;
};

struct TextLayoutLine {
    std::size_t begin;  // glyph indexes, end exclusive, without the newline
    std::size_t end;
    CGFloat width;      // trailing spaces excluded
    CGFloat height;
};

class TextLayout {
public:
    // Glyphs of `text` in `font` (the system font of 12 points when empty).
    static std::vector<TextLayoutGlyph> glyphs(const std::string& text, const std::shared_ptr<UIFont>& font);
    static std::vector<TextLayoutGlyph> glyphs(const NSAttributedString& text);

    // Breaks at newlines, and to `width` when it is positive and finite and the mode wraps.
    // `emptyLineHeight` is the height of a line holding nothing.
    static std::vector<TextLayoutLine> lines(const std::vector<TextLayoutGlyph>& glyphs, CGFloat width,
                                             NSLineBreakMode mode, CGFloat emptyLineHeight);

    // The size of the lines laid out; at most `maxLines` of them when it is above 0.
    static CGSize size(const std::vector<TextLayoutLine>& lines, std::size_t maxLines = 0);
};
