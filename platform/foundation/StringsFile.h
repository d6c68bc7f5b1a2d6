// String tables (".strings" files) to a dictionary.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

// "key" = "value"; pairs (a lone "key"; stands for itself) in UTF-8 or UTF-16, or a property
// list holding a dictionary. Empty on damage, with *problem saying what and on which line.
[[nodiscard]] std::optional<Value::Dictionary> stringsTableWithData(const NSData& data, std::string* problem = nullptr);
