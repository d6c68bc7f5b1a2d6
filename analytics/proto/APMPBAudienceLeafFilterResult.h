// One audience's current and previous results as reported in a bundle.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBAudienceLeafFilterResult final : public APMPBMessage<APMPBAudienceLeafFilterResult> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kAudienceId = 0,
        kCurrentData = 1,
        kPreviousData = 2,
        kNewAudience = 3,
    };
};
