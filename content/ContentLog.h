// Diagnostics of the content layer: one plain sentence per line on standard error.
#pragma once

#include <string>

namespace ContentLog {

void log(const std::string& sentence);

}  // namespace ContentLog
