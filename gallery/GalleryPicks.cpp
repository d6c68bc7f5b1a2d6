// Pick marks keyed by the subcategory's index in decimal.
#include "gallery/GalleryPicks.h"

#include <string>

namespace GalleryPicks {

bool isPicked(const Value::Dictionary& picks, std::int32_t index) {
    return picks.get(std::to_string(index)).boolValue();
}

void toggle(Value::Dictionary& picks, std::int32_t index) {
    const std::string key = std::to_string(index);
    const Value* held = picks.find(key);
    picks.set(key, Value(!held || held->isNull() ? true : !held->boolValue()));
}

}  // namespace GalleryPicks
