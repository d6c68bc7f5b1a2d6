// The check an audience definition from the measurement configuration passes before it is
// stored: its id, its filters' names and ids, and each number and string filter.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>
#include <set>

class APMPBAudience;

// Error codes of the measurement domain for a refused audience, by the part at fault.
enum APMAudienceDefinitionError : long {
    kAPMAudienceDefinitionAudienceError = 9,
    kAPMAudienceDefinitionEventFilterError = 10,
    kAPMAudienceDefinitionPropertyFilterError = 11,
};

struct APMAudienceDefinitionLimits {
    std::int32_t maxFiltersPerAudience = 10;
    std::int32_t maxParametersPerFilter = 25;
};

// `acceptedAudienceIDs` holds the ids already accepted from the same configuration. On false,
// *error holds the code and the reason as its description.
[[nodiscard]] bool APMAudienceDefinitionCheck(const std::shared_ptr<APMPBAudience>& audience,
                                              const std::set<std::int32_t>& acceptedAudienceIDs,
                                              const APMAudienceDefinitionLimits& limits, NSErrorPtr* error);
