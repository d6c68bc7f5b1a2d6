// A number comparison (type 0 invalid, 1 less, 2 greater, 3 equal, 4 between inclusive) over decimal texts.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBNumberFilter final : public APMPBMessage<APMPBNumberFilter> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kComparisonType = 0,
        kMatchAsFloat = 1,
        kComparisonValue = 2,
        kMinComparisonValue = 3,
        kMaxComparisonValue = 4,
    };
};
