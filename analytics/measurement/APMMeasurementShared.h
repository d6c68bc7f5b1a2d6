// Names and a helper that several sources of the engine use alike, defined once: the sources
// are also compiled together in batches, where file-local copies would clash.
#pragma once

#include "analytics/core/APMMonitor.h"

#include <cstdint>
#include <memory>

namespace APMMeasurementShared {

// The origin of the events the engine logs by itself.
inline constexpr const char* kAutoOrigin = "auto";
// The analytics front's class, registered when the platform core's analytics library is linked.
inline constexpr const char* kFrontClass = "DUROrezurive";
// The longest event name, in characters.
inline constexpr std::int64_t kMaxEventNameLength = 40;

inline std::shared_ptr<APMMonitor> monitor() { return APMMeasurementMonitor(); }

}  // namespace APMMeasurementShared
