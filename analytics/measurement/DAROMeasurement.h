// The measurement engine under the public front's name, for the sibling libraries that ask it
// directly.
#pragma once

#include "analytics/measurement/APMMeasurement.h"

#include <memory>
#include <string>

class DAROMeasurement : public APMMeasurement {
public:
    // The engine's shared instance; empty before the start.
    static std::shared_ptr<APMMeasurement> sharedInstance() { return APMMeasurement::sharedInstance(); }
    // The engine's stored attribute of that name, delivered as the engine delivers it; nothing
    // happens without an engine.
    static void userAttributeWithName(const std::string& name, UserAttributeCallback callback) {
        if (auto engine = sharedInstance()) engine->userAttributeWithName(name, std::move(callback));
    }
};
