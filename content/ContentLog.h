// Diagnostics of the content layer: one plain sentence per line among the process's diagnostics.
#pragma once

#include <string>

namespace ContentLog {

void log(const std::string& sentence);

}  // namespace ContentLog
