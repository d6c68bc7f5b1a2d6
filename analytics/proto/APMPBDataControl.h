// A data-control rule of the configuration with its opt-out regions.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBDataControl final : public APMPBMessage<APMPBDataControl> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kOptOutRegions = 1,
        kField3 = 2,
    };
};
