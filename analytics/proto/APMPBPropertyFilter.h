// An audience's filter over one user property.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBPropertyFilter final : public APMPBMessage<APMPBPropertyFilter> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kFilterId = 0,
        kPropertyName = 1,
        kFilter = 2,
        kDynamic = 3,
        kSequence = 4,
        kSessionScoped = 5,
    };
};
