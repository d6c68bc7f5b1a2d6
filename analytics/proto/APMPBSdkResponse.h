// One experiment client's answer in an experiments response (status 0 = no error).
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBSdkResponse final : public APMPBMessage<APMPBSdkResponse> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kSdkName = 0,
        kStatus = 1,
        kSnapshot = 2,
    };
};
