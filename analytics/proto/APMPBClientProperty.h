// One experiment client's properties in an experiments request.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBClientProperty final : public APMPBMessage<APMPBClientProperty> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kSdkName = 0,
        kDiversionId = 1,
        kSdkVersion = 2,
        kAppId = 3,
        kCustomProperties = 4,
    };
};
