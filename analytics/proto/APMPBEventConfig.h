// The measurement service's settings for one event name.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBEventConfig final : public APMPBMessage<APMPBEventConfig> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kName = 0,
        kBlocklisted = 1,
        kCustomConversion = 2,
        kSamplingRate = 3,
    };
};
