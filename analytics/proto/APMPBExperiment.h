// One experiment of a snapshot with its flags.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBExperiment final : public APMPBMessage<APMPBExperiment> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kExperimentId = 0,
        kFlags = 1,
    };
};
