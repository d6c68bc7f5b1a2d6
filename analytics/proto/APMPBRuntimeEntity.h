// One node of an event-editing program (type 1 string, 2 number, 3 boolean, 4 statement).
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBRuntimeEntity final : public APMPBMessage<APMPBRuntimeEntity> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kType = 0,
        kValue = 1,
        kFunctionName = 2,
        kStringValue = 3,
        kBooleanValue = 4,
        kNumberValue = 5,
    };
};
