// The body of an experiments request.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBExperimentRequest final : public APMPBMessage<APMPBExperimentRequest> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kAppProperty = 0,
        kClientProperties = 1,
    };
};
