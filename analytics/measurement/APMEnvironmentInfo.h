// What every bundle says of the surroundings: device model, system version, preferred
// language and the time-zone offset.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class APMEnvironmentInfo : public NSObject {
public:
    static std::shared_ptr<APMEnvironmentInfo> sharedInstance();
    static std::shared_ptr<APMEnvironmentInfo> make();

    // The installation's device model, read at the first call (an empty one logs 14000) and
    // kept for the life of the object.
    std::string deviceModel();
    std::string deviceOSVersion() const;
    // The first preferred language in lower case; none (and 14001) without one.
    std::optional<std::string> userDefaultLanguage() const;
    // The local zone's offset from GMT in minutes, truncated toward zero.
    std::int32_t timeZoneOffsetMinutes() const;

private:
    std::once_flag deviceModelOnce_;
    std::string deviceModel_;
};
