// One name/value setting of the measurement configuration.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBSetting final : public APMPBMessage<APMPBSetting> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kValue = 1,
    };
};
