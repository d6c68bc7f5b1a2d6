// Device model and system version of the phone the process stands for, or those the host set.
#include "platform/services/VULAppEnvironmentUtil.h"

#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace {

constexpr const char* kDefaultDeviceModel = "iPhone14,2";

Mutex gMutex;
std::string gDeviceModel GUARDED_BY(gMutex);
std::string gSystemVersion GUARDED_BY(gMutex);

}  // namespace

std::string VULAppEnvironmentUtil::deviceModel() {
    MutexLock lock(gMutex);
    return gDeviceModel.empty() ? kDefaultDeviceModel : gDeviceModel;
}

std::string VULAppEnvironmentUtil::systemVersion() {
    {
        MutexLock lock(gMutex);
        if (!gSystemVersion.empty()) return gSystemVersion;
    }
    const NSOperatingSystemVersion v = NSProcessInfo::processInfo()->operatingSystemVersion();
    std::string text = std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
    if (v.patchVersion != 0) text += "." + std::to_string(v.patchVersion);
    return text;
}

void VULAppEnvironmentUtil::setDeviceModel(const std::string& model) {
    MutexLock lock(gMutex);
    gDeviceModel = model;
}

void VULAppEnvironmentUtil::setSystemVersion(const std::string& version) {
    MutexLock lock(gMutex);
    gSystemVersion = version;
}
