// Device model and system version of the running machine, or those the host set.
#include "platform/services/VULAppEnvironmentUtil.h"

#include <sys/utsname.h>

#include <mutex>

namespace {

std::mutex gMutex;
std::string gDeviceModel;
std::string gSystemVersion;

std::string machineReleaseMajorMinor(const char* release) {
    std::string out;
    int dots = 0;
    for (const char* p = release; *p; ++p) {
        if (*p == '.') {
            if (++dots == 2) break;
        } else if (*p < '0' || *p > '9') {
            break;
        }
        out += *p;
    }
    return out;
}

}  // namespace

std::string VULAppEnvironmentUtil::deviceModel() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gDeviceModel.empty()) return gDeviceModel;
    }
    struct utsname name {};
    if (uname(&name) != 0) return {};
    return name.machine;
}

std::string VULAppEnvironmentUtil::systemVersion() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!gSystemVersion.empty()) return gSystemVersion;
    }
    struct utsname name {};
    if (uname(&name) != 0) return {};
    return machineReleaseMajorMinor(name.release);
}

void VULAppEnvironmentUtil::setDeviceModel(const std::string& model) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDeviceModel = model;
}

void VULAppEnvironmentUtil::setSystemVersion(const std::string& version) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSystemVersion = version;
}
