// One audience definition with its property and event filters.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBAudience final : public APMPBMessage<APMPBAudience> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kAudienceId = 0,
        kPropertyFilters = 1,
        kEventFilters = 2,
        kField4 = 3,
        kField5 = 4,
    };
};
