// One activity of an event-editing program: a name and its entities.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBOgtActivity final : public APMPBMessage<APMPBOgtActivity> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kData = 1,
    };
};
