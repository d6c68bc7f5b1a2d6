// This device's like flags in the user defaults.
#include "content/OELikesStorage.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

std::string OELikesStorage::keyForIdentifier(const Value& identifier) {
    return NSString::format("like_set_for_image_%@", std::to_string(identifier.longLongValue()));
}

bool OELikesStorage::isLikeSetForIdentifier(const Value& identifier) const {
    return NSUserDefaults::standardUserDefaults()->boolForKey(keyForIdentifier(identifier));
}

void OELikesStorage::setLike(const Value& identifier, bool liked) {
    NSUserDefaults::standardUserDefaults()->setBool(liked, keyForIdentifier(identifier));
}

void OELikesStorage::setLikesFor(const Value::Array& identifiers, bool like) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    for (const auto& identifier : identifiers) {
        setLike(identifier, like);
        // A failed write is told by the defaults, which keep the flag and write it with the next change.
        (void)defaults->synchronize();
    }
}
