// Switches off an older measurement library linked into the same process, so that events are
// not counted twice.
#pragma once

class APMBackwardCompatibilityUtil {
public:
    // What the older library must answer to be switched off: its shared instance (the object
    // its registered class makes) takes setIsEnabled.
    class EnablableLibrary {
    public:
        virtual ~EnablableLibrary() = default;
        virtual void setIsEnabled(bool enabled) = 0;
    };
    static constexpr const char* kOlderLibraryClassName = "VAZAvuvazezive";

    // True when the older library is present, answers the switch, and was switched off.
    static bool disableVAZAvuvazezive();
};
