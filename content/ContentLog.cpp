// Diagnostics of the content layer: one plain sentence per line among the process's diagnostics.
#include "content/ContentLog.h"

#include "platform/foundation/Diagnostics.h"

namespace ContentLog {

void log(const std::string& sentence) { Diagnostics::note(sentence); }

}  // namespace ContentLog
