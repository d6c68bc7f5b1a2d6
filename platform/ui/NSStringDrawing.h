// Measuring plain text with a font: the fixed metrics of UIFont, word wrapping to a width.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "platform/ui/NSAttributedString.h"

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <vector>

class UIFont;

// The lines `text` breaks into when laid out `width` points wide with `font` (an infinite or
// non-positive width breaks at newlines only). Word wrapping breaks after spaces and breaks a
// word longer than the width; character wrapping breaks anywhere; the other modes keep each
// paragraph on one line. Only the first `maxLines` lines (0: all) are laid out, and a line
// that does not wrap only up to the first character ending past `visibleWidth`.
std::vector<std::string> NSStringLayoutLines(const std::string& text, const std::shared_ptr<UIFont>& font,
                                             CGFloat width, NSLineBreakMode mode = NSLineBreakByWordWrapping,
                                             std::size_t maxLines = 0,
                                             CGFloat visibleWidth = std::numeric_limits<CGFloat>::infinity());

// One line's size; a newline starts another line.
CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font);
// Wrapped to `size.width` and cut to the lines that fit `size.height`, as the platform's
// sizeWithFont:constrainedToSize:lineBreakMode:. Heights are whole lines.
CGSize NSStringSizeWithFont(const std::string& text, const std::shared_ptr<UIFont>& font, CGSize size,
                            NSLineBreakMode mode);
// boundingRectWithSize:options:attributes:context: for a plain string: with the line-fragment
// option, wrapped to `size.width`; without it, one line. The origin is zero; sizes are not rounded.
CGRect NSStringBoundingRectWithSize(const std::string& text, CGSize size, unsigned options,
                                    const NSStringAttributes& attributes);
