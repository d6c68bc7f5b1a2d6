// The measurement configuration the measurement service sends.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBMeasurementConfig final : public APMPBMessage<APMPBMeasurementConfig> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kVersion = 0,
        kVuvAppId = 1,
        kField3 = 2,
        kSettings = 3,
        kEventConfig = 4,
        kAudiences = 5,
        kZevivAppId = 6,
        kField8 = 7,
        kDynamicEventEditing = 8,
        kDataControls = 9,
        kUploadSubdomain = 10,
    };
};
