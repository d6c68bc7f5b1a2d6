// Whether this device's like is set, per picture, in the user defaults
// ("like_set_for_image_<id>"), so that only changes go to the server.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class OELikesStorage : public NSObject {
public:
    static std::shared_ptr<OELikesStorage> make() { return std::make_shared<OELikesStorage>(); }

    static std::string keyForIdentifier(const Value& identifier);
    // A missing key reads as not set. Readable from any thread.
    bool isLikeSetForIdentifier(const Value& identifier) const;
    void setLike(const Value& identifier, bool liked);
    // Each flag is forced to disk as it is written.
    void setLikesFor(const Value::Array& identifiers, bool like);
};
