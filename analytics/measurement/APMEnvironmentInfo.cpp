// The environment fields of bundles.
#include "analytics/measurement/APMEnvironmentInfo.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSTimeZone.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

std::shared_ptr<APMEnvironmentInfo> APMEnvironmentInfo::sharedInstance() {
    static auto* shared = new std::shared_ptr<APMEnvironmentInfo>(make());
    return *shared;
}

std::shared_ptr<APMEnvironmentInfo> APMEnvironmentInfo::make() { return std::make_shared<APMEnvironmentInfo>(); }

std::string APMEnvironmentInfo::deviceModel() {
    std::call_once(deviceModelOnce_, [this] {
        deviceModel_ = APMAEU::deviceModel();
        if (deviceModel_.empty()) {
            APMMeasurementMonitor()->logWithLevel(2, 14000, "Failed to get device model", Value(std::strerror(errno)));
        }
    });
    return deviceModel_;
}

std::string APMEnvironmentInfo::deviceOSVersion() const { return APMAEU::systemVersion(); }

std::optional<std::string> APMEnvironmentInfo::userDefaultLanguage() const {
    const std::vector<std::string> languages = NSLocale::preferredLanguages();
    if (languages.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, 14001, "Failed to get preferred language");
        return std::nullopt;
    }
    std::string language = languages.front();
    std::transform(language.begin(), language.end(), language.begin(), [](unsigned char c) { return std::tolower(c); });
    return language;
}

std::int32_t APMEnvironmentInfo::timeZoneOffsetMinutes() const {
    return static_cast<std::int32_t>(NSTimeZone::localTimeZone()->secondsFromGMT() / 60);
}
