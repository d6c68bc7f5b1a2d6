// The user's preferred languages ("AppleLanguages"): a process setting the simulator and tests choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class NSLocale {
public:
    // Default {"en"}; $APP_LANGUAGES (comma-separated) when set.
    static std::vector<std::string> preferredLanguages();
    static void setPreferredLanguages(std::vector<std::string> languages);
    // Back to $APP_LANGUAGES or the default.
    static void resetPreferredLanguages();
    // Changes with every set or reset, so holders of language-dependent caches can tell
    // that theirs went stale.
    static std::uint64_t preferredLanguagesGeneration();
};
