// Greedy line breaking: words move to the next line whole unless they alone are too wide.
// The line being built is kept as two sums, before and after its last break opportunity, so
// nothing of the text needs to be held to measure it.
#include "platform/ui/TextLayout.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace {
constexpr CGFloat kEpsilon = 1e-9;

bool isSpace(char32_t c) { return c == U' ' || c == U'\t' || c == 0x00A0 || c == 0x3000; }

std::shared_ptr<UIFont> orDefault(const std::shared_ptr<UIFont>& font) {
    return font ? font : UIFont::systemFontOfSize(12);
}

// Glyphs of a string read in place, each in the font of the run it falls in.
class GlyphReader {
public:
    struct Run {
        std::size_t end;  // UTF-16 units
        std::shared_ptr<UIFont> font;
    };

    GlyphReader(std::string_view text, std::vector<Run> runs, CGFloat scale)
        : text_(text), runs_(std::move(runs)), scale_(scale) {}

    // False at the end of the text; `location` is the glyph's UTF-16 index, `after` the next one's.
    bool next(TextLayoutGlyph& glyph, std::size_t& location, std::size_t& after) {
        if (byte_ >= text_.size() || runs_.empty()) return false;
        while (run_ + 1 < runs_.size() && units_ >= runs_[run_].end) ++run_;
        const UIFont& font = *runs_[run_].font;
        const char32_t c = NSString::nextCodePoint(text_, byte_);
        const std::size_t units = c > 0xFFFF ? 2 : 1;
        location = units_;
        units_ += units;
        after = units_;
        glyph = {c, c == U'\n' ? 0 : static_cast<CGFloat>(units) * font.glyphWidth() * scale_, font.lineHeight() * scale_};
        return true;
    }

private:
    std::string_view text_;
    std::vector<Run> runs_;
    CGFloat scale_;
    std::size_t byte_ = 0;
    std::size_t units_ = 0;
    std::size_t run_ = 0;
};

// Advances and height of a stretch of a line.
struct Stretch {
    CGFloat advance = 0;
    CGFloat inked = 0;  // advance up to the end of its last glyph that is not a space
    CGFloat height = 0;
    std::size_t count = 0;
    bool hasInk = false;

    void add(const TextLayoutGlyph& g, bool space) {
        advance += g.advance;
        if (!space) {
            inked = advance;
            hasInk = true;
        }
        height = std::max(height, g.lineHeight);
        ++count;
    }
    Stretch operator+(const Stretch& later) const {
        Stretch s;
        s.advance = advance + later.advance;
        s.inked = later.hasInk ? advance + later.inked : inked;
        s.height = std::max(height, later.height);
        s.count = count + later.count;
        s.hasInk = hasInk || later.hasInk;
        return s;
    }
};

TextLayoutResult layoutGlyphs(GlyphReader& reader, const TextLayoutOptions& o) {
    TextLayoutResult out;
    const bool wrap = std::isfinite(o.width) && o.width > 0 &&
                      (o.mode == NSLineBreakByWordWrapping || o.mode == NSLineBreakByCharWrapping);
    // Spaces that end a wrapping line past both widths are never seen.
    const CGFloat keepSpacesTo = std::max(o.width, o.visibleWidth);

    // The line being built: `head` up to its last break opportunity (after a space), `tail`
    // from there; with no opportunity yet, all of it is in `tail`.
    Stretch head, tail;
    bool hasBreak = false;
    bool clipped = false;
    std::size_t lineKept = 0, breakKept = 0;          // kept-glyph indexes of the line and the break
    std::size_t lineLocation = 0, breakLocation = 0;  // their UTF-16 indexes
    CGFloat used = 0;

    // Adds a line ending at kept glyph `keptEnd`; true when the limits are reached.
    auto emit = [&](const Stretch& line, std::size_t keptEnd, CGFloat heightWhenEmpty, bool lineClipped) {
        CGFloat h = line.height > 0 ? line.height : heightWhenEmpty;
        if (!(h > 0)) h = o.emptyLineHeight;
        out.lines.push_back({lineKept, keptEnd, lineLocation, line.inked, h, lineClipped});
        used += h;
        return (o.maxLines > 0 && out.lines.size() >= o.maxLines) || used > o.maxHeight + kEpsilon;
    };

    TextLayoutGlyph g;
    std::size_t location = 0, after = 0;
    bool any = false;
    while (reader.next(g, location, after)) {
        any = true;
        const bool newline = g.codePoint == U'\n';
        if (newline && o.newlinesAsSpaces) g.codePoint = U' ';
        if (newline && !o.newlinesAsSpaces) {
            const bool full = emit(head + tail, out.glyphs.size(), g.lineHeight, clipped);
            head = tail = {};
            hasBreak = clipped = false;
            lineKept = out.glyphs.size();
            lineLocation = after;
            if (full) {
                out.stoppedEarly = true;
                return out;
            }
            continue;
        }
        if (clipped) continue;  // read on only to find the next line
        const bool space = isSpace(g.codePoint);
        while (wrap && !space && head.count + tail.count > 0 &&
               head.advance + tail.advance + g.advance > o.width + kEpsilon) {
            bool full;
            if (o.mode == NSLineBreakByWordWrapping && hasBreak) {
                full = emit(head, breakKept, 0, false);
                head = {};
                lineKept = breakKept;
                lineLocation = breakLocation;
            } else {
                full = emit(head + tail, out.glyphs.size(), 0, false);
                head = tail = {};
                lineKept = out.glyphs.size();
                lineLocation = location;
            }
            hasBreak = false;
            if (full) {
                out.stoppedEarly = true;
                return out;
            }
        }
        const CGFloat x = head.advance + tail.advance;
        if (o.keepGlyphs && !(wrap && space && x > keepSpacesTo + kEpsilon)) out.glyphs.push_back(g);
        tail.add(g, space);
        if (space) {
            head = head + tail;
            tail = {};
            hasBreak = true;
            breakKept = out.glyphs.size();
            breakLocation = after;
        }
        if (!wrap && x + g.advance > o.visibleWidth + kEpsilon) {
            clipped = true;
            // The last line there is room for: nothing after it matters.
            if (o.maxLines > 0 && out.lines.size() + 1 >= o.maxLines) {
                emit(head + tail, out.glyphs.size(), 0, true);
                out.stoppedEarly = true;
                return out;
            }
        }
    }
    if (any) emit(head + tail, out.glyphs.size(), 0, clipped);
    return out;
}
}  // namespace

TextLayoutResult TextLayout::layout(const std::string& text, const std::shared_ptr<UIFont>& font,
                                    const TextLayoutOptions& options) {
    GlyphReader reader(text, {{std::numeric_limits<std::size_t>::max(), orDefault(font)}}, options.fontScale);
    return layoutGlyphs(reader, options);
}

TextLayoutResult TextLayout::layout(const NSAttributedString& text, const TextLayoutOptions& options) {
    std::vector<GlyphReader::Run> runs;
    for (const auto& run : text.runs())
        runs.push_back({run.range.location + run.range.length, orDefault(run.attributes.font)});
    GlyphReader reader(text.string(), std::move(runs), options.fontScale);
    return layoutGlyphs(reader, options);
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
