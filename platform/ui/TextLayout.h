// Line breaking over glyphs of fixed advances: the one text layout measuring and drawing share.
// The text is read once, front to back, and reading stops as soon as the caller has what it
// can see, so a huge string costs what its visible part costs.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/NSAttributedString.h"

#include <cstddef>
#include <limits>
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
    std::size_t begin;     // indexes into the kept glyphs, end exclusive, without the newline
    std::size_t end;
    std::size_t location;  // where the line starts in the text, in UTF-16 units
    CGFloat width;         // trailing spaces excluded; of the part read when `clipped`
    CGFloat height;
    bool clipped;          // a line that does not wrap, read only up to the visible width
};

struct TextLayoutOptions {
    // Wraps to the width when it is positive and finite and the mode wraps.
    CGFloat width = 0;
    NSLineBreakMode mode = NSLineBreakByWordWrapping;
    // The height of a line holding nothing.
    CGFloat emptyLineHeight = 0;
    // Every glyph's advance and height are scaled by it (labels shrinking text to fit).
    CGFloat fontScale = 1;
    // Newlines read as spaces of no width: one line whatever the text holds.
    bool newlinesAsSpaces = false;

    // What the caller can see. Reading stops after `maxLines` lines (0: no limit) and after the
    // line that makes the lines taller than `maxHeight`. A line that does not wrap is read up
    // to the first glyph that ends past `visibleWidth`; the rest of it is skipped. In a line
    // that wraps, spaces past the width are measured but not kept.
    std::size_t maxLines = 0;
    CGFloat maxHeight = std::numeric_limits<CGFloat>::infinity();
    CGFloat visibleWidth = std::numeric_limits<CGFloat>::infinity();
    // False: only the lines' sizes are wanted, no glyph is kept.
    bool keepGlyphs = true;
};

struct TextLayoutResult {
    std::vector<TextLayoutGlyph> glyphs;
    std::vector<TextLayoutLine> lines;
    // Reading stopped at a limit before the end of the text.
    bool stoppedEarly = false;
};

class TextLayout {
public:
    // `text` in `font` (the system font of 12 points when empty).
    static TextLayoutResult layout(const std::string& text, const std::shared_ptr<UIFont>& font,
                                   const TextLayoutOptions& options);
    // Each run in its own font.
    static TextLayoutResult layout(const NSAttributedString& text, const TextLayoutOptions& options);

    // The size of the lines laid out; at most `maxLines` of them when it is above 0.
    static CGSize size(const std::vector<TextLayoutLine>& lines, std::size_t maxLines = 0);
};
