// The user's preferred languages ("AppleLanguages"): a process setting the simulator and tests choose.
#pragma once

#include <string>
#include <vector>

class NSLocale {
public:
    // Default {"en"}; $APP_LANGUAGES (comma-separated) when set.
    static std::vector<std::string> preferredLanguages();
    static void setPreferredLanguages(std::vector<std::string> languages);
};
