// An audience's filter results as bit sets, with the time stamps of its dynamic and sequence filters.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBResultData final : public APMPBMessage<APMPBResultData> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kStatus = 0,
        kResults = 1,
        kDynamicFilterTimestamps = 2,
        kSequenceFilterTimestamps = 3,
    };
};
