// Lookups in the main bundle's "Core" table.
#include "uikit/OECoreStrings.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"

std::string OECoreString(const std::string& key) {
    auto bundle = NSBundle::mainBundle();
    return bundle ? bundle->localizedStringForKey(key, "", "Core") : key;
}

std::string OECannotBeOpened(const std::string& title) {
    return NSString::format(OECoreString(kOECannotBeOpenedKey), title);
}
