// The activity list of an event-editing program.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBOgtActivities final : public APMPBMessage<APMPBOgtActivities> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kActivities = 0,
    };
};
