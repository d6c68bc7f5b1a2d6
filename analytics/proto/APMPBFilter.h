// A string or number test of one value, optionally of a named event parameter.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBFilter final : public APMPBMessage<APMPBFilter> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kStringFilter = 0,
        kNumberFilter = 1,
        kComplement = 2,
        kParamName = 3,
    };
};
