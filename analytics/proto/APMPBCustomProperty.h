// A key and value of an experiment client's properties.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBCustomProperty final : public APMPBMessage<APMPBCustomProperty> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kKey = 0,
        kValue = 1,
    };
};
