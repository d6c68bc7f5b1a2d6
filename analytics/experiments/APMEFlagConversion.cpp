// Flag values in and out of their message.
#include "analytics/experiments/APMEFlagConversion.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"

std::shared_ptr<APMPBFlag> APMEFlagWithNameAndValue(const std::string& name, const Value& value) {
    if (!value.isString() && !value.isNumber()) {
        APMEManager::monitor()->logWithLevel(1, 850002, "Flag value is invalid", Value(value.className()));
        return nullptr;
    }
    auto flag = APMPBFlag::make();
    APMPBMessageSetString(flag, APMPBFlag::kName, name);
    if (value.isString()) {
        APMPBMessageSetString(flag, APMPBFlag::kStringValue, value.string());
    } else if (value.isFloatType()) {
        APMPBMessageSetDouble(flag, APMPBFlag::kDoubleValue, value.doubleValue());
    } else {
        APMPBMessageSetInt64(flag, APMPBFlag::kIntValue, value.longLongValue());
    }
    return flag;
}

Value APMEFlagValue(const std::shared_ptr<APMPBFlag>& flag) {
    if (!flag) return Value();
    if (APMPBMessageHasField(flag, APMPBFlag::kIntValue)) {
        return Value(static_cast<long long>(APMPBMessageGetInt64(flag, APMPBFlag::kIntValue)));
    }
    if (APMPBMessageHasField(flag, APMPBFlag::kDoubleValue)) return Value(APMPBMessageGetDouble(flag, APMPBFlag::kDoubleValue));
    if (APMPBMessageHasField(flag, APMPBFlag::kStringValue)) {
        // Text that is not UTF-8 reads as no value.
        if (auto text = APMPBMessageGetString(flag, APMPBFlag::kStringValue)) return Value(*text);
        return Value();
    }
    if (APMPBMessageHasField(flag, APMPBFlag::kBoolValue)) return Value(APMPBMessageGetBool(flag, APMPBFlag::kBoolValue));
    return Value();
}
