// Interface texts of the "Core" string table, looked up with an empty default value so that a
// key without a translation shows as itself.
#pragma once

#include <string>

std::string OECoreString(const std::string& key);

// The sentence that stands for a screen whose content cannot be read, with the screen's title:
// the screen's own place and whatever else needs its database say it alike.
inline constexpr const char* kOECannotBeOpenedKey = "%@ cannot be opened.";
std::string OECannotBeOpened(const std::string& title);
