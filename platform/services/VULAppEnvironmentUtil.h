// The utility library's view of the device: its model and system version. They come from
// the machine unless the host (the simulator, a test) names the device it stands for.
#pragma once

#include <string>

class VULAppEnvironmentUtil {
public:
    // The device model, e.g. "iPhone14,2"; the machine's architecture ("x86_64") by default,
    // which is what a simulator reports.
    static std::string deviceModel();
    // The system version text, e.g. "17.2"; the kernel release's major.minor by default.
    static std::string systemVersion();

    // An empty text restores the machine's own value.
    static void setDeviceModel(const std::string& model);
    static void setSystemVersion(const std::string& version);
};
