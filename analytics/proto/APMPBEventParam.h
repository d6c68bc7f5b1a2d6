// One event parameter; an array value holds its items as nested parameters.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBEventParam final : public APMPBMessage<APMPBEventParam> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kStringValue = 1,
        kIntValue = 2,
        kFloatValue = 3,
        kDoubleValue = 4,
        kParamValue = 5,
    };
};
