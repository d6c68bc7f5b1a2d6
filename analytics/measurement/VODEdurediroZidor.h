// The fixed allow and block lists that keep the sibling libraries from forging the engine's own
// events, properties and origins through the connector, or seeing hidden ones.
#pragma once

#include "platform/foundation/Value.h"

#include <set>
#include <string>
#include <vector>

class VODEdurediroZidor {
public:
    static const std::set<std::string>& allowedListenerOrigins();
    static const std::set<std::string>& blocklistedOrigins();
    static const std::set<std::string>& blocklistedEventNames();
    static const std::set<std::string>& blocklistedParameters();
    static const std::set<std::string>& blocklistedUserProperties();
    static const std::vector<std::string>& blocklistedUserPropertyPatterns();
    static const std::set<std::string>& hiddenEventNames();

    static bool isOriginAllowed(const std::string& origin);
    // "app", or "app+" followed by anything.
    static bool isAppOrigin(const std::string& origin);
    static bool isListenerOriginAllowed(const std::string& origin);
    static bool isEventNameAllowedForListeners(const std::string& name);
    static bool shouldLogEventWithName(const std::string& name, const Value::Dictionary& parameters);
    static bool isUserPropertyAllowed(const std::string& name, const std::string& origin);
    static bool isUserPropertyAllowedForQuery(const std::string& name);
};
