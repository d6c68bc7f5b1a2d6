// What event-editing programs read of the engine through the native modules it registers:
// the measurement configuration's settings ("internal.remoteConfig") and the identity's
// application version ("internal.appMetadata"). The engine implements it and hands it in.
#pragma once

#include <optional>
#include <string>

class APMScriptContext {
public:
    virtual ~APMScriptContext() = default;

    // The text of what the configuration in force holds under `key`: the setting's own text,
    // or the number a typed getter has put in its place; nothing for a key it does not hold.
    virtual std::optional<std::string> remoteConfigValueForKey(const std::string& key) = 0;
    // The application's version ("CFBundleShortVersionString"), when it is known.
    virtual std::optional<std::string> appVersion() = 0;
};
