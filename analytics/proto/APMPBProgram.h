// An event-editing program: its instructions and its activities.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBProgram final : public APMPBMessage<APMPBProgram> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kInstructions = 0,
        kActivities = 1,
    };
};
