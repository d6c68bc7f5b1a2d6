// Device model and system version of the phone the process stands for, or those the host set.
#include "platform/services/VULAppEnvironmentUtil.h"

#include "platform/foundation/NSProcessInfo.h"

#include <mutex>

namespace {

constexpr const char* kDefaultDeviceModel = "iPhone14,2";

std::mutex gMutex;
std::string gDeviceModel;
std::string gSystemVersion;

}  // namespace

std::string VULAppEnvironmentUtil::deviceModel() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gDeviceModel.empty() ? kDefaultDeviceModel : gDeviceModel;
}

std::string VULAppEnvironmentUtil::systemVersion() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gSystemVersion.empty()) return gSystemVersion;
    }
    const NSOperatingSystemVersion v = NSProcessInfo::processInfo()->operatingSystemVersion();
    std::string text = std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
    if (v.patchVersion != 0) text += "." + std::to_string(v.patchVersion);
    return text;
}

void VULAppEnvironmentUtil::setDeviceModel(const std::string& model) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDeviceModel = model;
}

void VULAppEnvironmentUtil::setSystemVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSystemVersion = version;
}
