// The body of an experiments response.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBExperimentResponse final : public APMPBMessage<APMPBExperimentResponse> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kSnapshots = 0,
        kSdkResponses = 1,
    };
};
