// One logged event with its parameters; also the stored form of a raw event.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBEvent final : public APMPBMessage<APMPBEvent> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kParams = 0,
        kName = 1,
        kTimestampMillis = 2,
        kPreviousTimestampMillis = 3,
        kField5 = 4,
    };
};
