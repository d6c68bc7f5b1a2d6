// Names and limits that the analytics door and the engine share.
#pragma once

#include <cstdint>

// Origin of the events and user properties the engine makes itself.
inline constexpr const char* kAPMAutoOrigin = "auto";
// The public front; its presence changes messages and start-up.
inline constexpr const char* kAPMFrontClass = "DUROrezurive";
// Longest event name, as reported with the error events about names.
inline constexpr std::int64_t kAPMMaxEventNameLength = 40;
