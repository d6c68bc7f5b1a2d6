// The part of CSS the web view applies: the declarations of an element's "style" attribute that
// decide how its text is set (font size, font family, alignment). Style sheets and selectors are
// not read; what they would change (colours, margins, images) is not shown here anyway.
#pragma once

#include "platform/web/HTMLDocument.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace CSSInlineStyle {

// "a: b; c: d" as (name, value) pairs in order: names in lower case, values trimmed and with
// "!important" dropped; declarations without a name or a colon are skipped.
std::vector<std::pair<std::string, std::string>> declarations(std::string_view style);

// A font size in CSS pixels: lengths in px, pt, pc, in, cm, mm, em, rem and %, and the size
// keywords; relative sizes are of `parentSize`. None for anything else or a size that is not
// positive.
std::optional<double> fontSize(std::string_view value, double parentSize);

// "left", "right", "center", "justify", "start" (and "end", "-webkit-center"); none otherwise.
std::optional<HTMLTextStyle::Align> textAlign(std::string_view value);

// The first family of a font-family list, without its quotes; "" when there is none.
std::string firstFamily(std::string_view value);

// Applies the declarations of a "style" attribute to `style`; later declarations win.
void apply(std::string_view styleAttribute, HTMLTextStyle& style);

}  // namespace CSSInlineStyle
