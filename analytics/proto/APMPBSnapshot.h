// An experiments snapshot of one client with its experiments.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBSnapshot final : public APMPBMessage<APMPBSnapshot> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kSdkName = 0,
        kExperiments = 1,
    };
};
