// The measurement library's version: the text every upload carries and the number the monitor
// puts into its sample keys.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kAPMLibraryVersionString = "90000000";

// The text without its last three characters, read as an integer ("90000000" -> 90000);
// 0 for a text shorter than four characters.
std::int64_t APMLibraryVersionNumber(const std::string& versionString);
std::int64_t APMZevUzeviroredaLibraryVersion();
