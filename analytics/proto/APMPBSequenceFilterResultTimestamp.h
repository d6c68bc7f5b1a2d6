// A sequence filter's identifier and the time stamps of its evaluations.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBSequenceFilterResultTimestamp final : public APMPBMessage<APMPBSequenceFilterResultTimestamp> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kFilterId = 0,
        kEvalTimestamps = 1,
    };
};
