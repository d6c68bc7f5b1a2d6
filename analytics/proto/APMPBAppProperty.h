// The application's properties in an experiments request.
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBAppProperty final : public APMPBMessage<APMPBAppProperty> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kPlatform = 0,
        kField2 = 1,
        kField3 = 2,
        kLanguage = 3,
        kBundleId = 4,
        kFromAppStore = 5,
        kSdkVersion = 6,
    };
};
