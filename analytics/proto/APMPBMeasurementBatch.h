// The body of one upload: a list of bundles.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBMeasurementBatch final : public APMPBMessage<APMPBMeasurementBatch> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kBundles = 0,
    };
};
