// Process facts; the arguments and the reported platform version are process-wide settings.
#include "platform/foundation/NSProcessInfo.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <fstream>
#include <tuple>
#include <unistd.h>

extern char** environ;

namespace {

Mutex processMutex;
// Never destroyed: threads still finishing work at exit may read them.
std::vector<std::string>& processArguments() REQUIRES(processMutex) {
    static auto* arguments = new std::vector<std::string>;
    return *arguments;
}
NSOperatingSystemVersion reportedVersion GUARDED_BY(processMutex){15, 0, 0};

}  // namespace

std::shared_ptr<NSProcessInfo> NSProcessInfo::processInfo() {
    static const auto* shared = new std::shared_ptr<NSProcessInfo>(std::make_shared<NSProcessInfo>());
    return *shared;
}

void NSProcessInfo::setArguments(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc && argv && argv[i]; ++i) arguments.emplace_back(argv[i]);
    setArguments(std::move(arguments));
}

void NSProcessInfo::setArguments(std::vector<std::string> arguments) {
    MutexLock lock(processMutex);
    processArguments() = std::move(arguments);
}

void NSProcessInfo::setOperatingSystemVersion(NSOperatingSystemVersion version) {
    MutexLock lock(processMutex);
    reportedVersion = version;
}

std::vector<std::string> NSProcessInfo::arguments() const {
    MutexLock lock(processMutex);
    return processArguments();
}

std::map<std::string, std::string> NSProcessInfo::environment() const {
    std::map<std::string, std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        result.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return result;
}

std::string NSProcessInfo::processName() const {
    {
        MutexLock lock(processMutex);
        if (!processArguments().empty() && !processArguments().front().empty()) {
            const std::string& first = processArguments().front();
            const auto slash = first.find_last_of('/');
            return slash == std::string::npos ? first : first.substr(slash + 1);
        }
    }
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

int NSProcessInfo::processIdentifier() const { return static_cast<int>(getpid()); }

NSOperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
    MutexLock lock(processMutex);
    return reportedVersion;
}

bool NSProcessInfo::isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version) const {
    const NSOperatingSystemVersion current = operatingSystemVersion();
    return std::tie(current.majorVersion, current.minorVersion, current.patchVersion) >=
           std::tie(version.majorVersion, version.minorVersion, version.patchVersion);
}
