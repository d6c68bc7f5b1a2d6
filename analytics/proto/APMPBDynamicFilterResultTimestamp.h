// A dynamic filter's identifier and the time stamp of its result.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBDynamicFilterResultTimestamp final : public APMPBMessage<APMPBDynamicFilterResultTimestamp> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kFilterId = 0,
        kTimestamp = 1,
    };
};
