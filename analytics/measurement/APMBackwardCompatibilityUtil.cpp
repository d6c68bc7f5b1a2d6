// The older library's switch-off.
#include "analytics/measurement/APMBackwardCompatibilityUtil.h"

#include "platform/foundation/ClassRegistry.h"

#include <memory>

bool APMBackwardCompatibilityUtil::disableVAZAvuvazezive() {
    const ClassRegistry::Factory sharedInstance = ClassRegistry::lookup(kOlderLibraryClassName);
    if (!sharedInstance) return false;
    auto library = std::dynamic_pointer_cast<EnablableLibrary>(sharedInstance());
    if (!library) return false;
    library->setIsEnabled(false);
    return true;
}
