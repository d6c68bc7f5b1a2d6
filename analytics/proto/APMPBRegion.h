// One opt-out region of a data-control rule.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBRegion final : public APMPBMessage<APMPBRegion> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kField1 = 0,
        kField2 = 1,
    };
};
