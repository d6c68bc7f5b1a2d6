// An audience's filter over events.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBEventFilter final : public APMPBMessage<APMPBEventFilter> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kFilterId = 0,
        kEventName = 1,
        kFilters = 2,
        kField4 = 3,
        kEventCountFilter = 4,
        kDynamic = 5,
        kSequence = 6,
        kSessionScoped = 7,
    };
};
