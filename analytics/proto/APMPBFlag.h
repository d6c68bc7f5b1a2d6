// One experiment flag and its value.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBFlag final : public APMPBMessage<APMPBFlag> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kIntValue = 1,
        kStringValue = 2,
        kDoubleValue = 3,
        kBoolValue = 4,
    };
};
