// One user property in a bundle.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBUserAttribute final : public APMPBMessage<APMPBUserAttribute> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kSetTimestampMillis = 0,
        kName = 1,
        kStringValue = 2,
        kIntValue = 3,
        kFloatValue = 4,
        kDoubleValue = 5,
    };
};
