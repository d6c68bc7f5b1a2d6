// Names that become one component of a path (a bundle identifier, a defaults suite, a string
// table) must not lead out of the folder they are put in.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Leaves room within the 255 bytes of a file name for the suffixes and temporary names added.
inline constexpr std::size_t kMaxPathComponentLength = 200;

// Not empty, not "." or "..", without "/" or NUL, at most kMaxPathComponentLength bytes.
bool isSafePathComponent(std::string_view name);
// `name` when it is a safe component, else `fallback`. A name that is not empty but unsafe is
// told once per process on standard error; `what` says where it came from ("The bundle identifier").
std::string safePathComponent(const std::string& name, const std::string& fallback, std::string_view what);
