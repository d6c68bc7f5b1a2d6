// Colours as packed 24-bit values and "#%06x" strings.
#include "uikit/UIColorHex.h"

#include "platform/ui/UIColor.h"

#include <cmath>
#include <cstdio>

namespace {

std::uint32_t component(CGFloat value) {
    const float scaled = static_cast<float>(value * 255);
    return static_cast<std::uint32_t>(std::lround(scaled)) & 0xff;
}

}  // namespace

std::uint32_t hex(const std::shared_ptr<UIColor>& color) {
    if (!color) return 0;
    CGFloat red = 0, green = 0, blue = 0, alpha = 0;
    if (!color->getRed(&red, &green, &blue, &alpha)) {
        CGFloat white = 0;
        color->getWhite(&white, &alpha);
        red = green = blue = white;
    }
    return component(red) << 16 | component(green) << 8 | component(blue);
}

std::string hexString(const std::shared_ptr<UIColor>& color) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(hex(color)));
    return text;
}
