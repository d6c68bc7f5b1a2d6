// A string comparison (match type 0 invalid, 1 regular expression, 2 begins, 3 ends, 4 contains, 5 equals, 6 in list).
#pragma once

#include "analytics/proto/APMPBMessage.h"

class APMPBStringFilter final : public APMPBMessage<APMPBStringFilter> {
public:
    using APMPBMessage::APMPBMessage;

    static const APMPBMessageSchema& schema();

    // Field indices.
    enum Field : std::int32_t {
        kMatchType = 0,
        kExpression = 1,
        kCaseSensitive = 2,
        kExpressionList = 3,
    };
};
