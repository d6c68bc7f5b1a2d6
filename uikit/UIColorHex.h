// The colour's hexadecimal extension: 0xRRGGBB and "#rrggbb".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class UIColor;

// Each component × 255, rounded in single precision (halves away from zero); a colour without
// red, green and blue gives its white level for all three.
std::uint32_t hex(const std::shared_ptr<UIColor>& color);
std::string hexString(const std::shared_ptr<UIColor>& color);
