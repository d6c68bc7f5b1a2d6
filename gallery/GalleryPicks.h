// The pick marks of the selectable layouts: subcategory index to a boolean, toggled by taps.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>

namespace GalleryPicks {
bool isPicked(const Value::Dictionary& picks, std::int32_t index);
// YES when nothing was stored, else the negation of what was.
void toggle(Value::Dictionary& picks, std::int32_t index);
}  // namespace GalleryPicks
