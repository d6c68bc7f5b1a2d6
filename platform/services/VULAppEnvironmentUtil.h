// The utility library's view of the device: its model and system version, as the phone the
// process stands for would report them. The host (the simulator, a test) may name another.
#pragma once

#include <string>

class VULAppEnvironmentUtil {
public:
    // The phone's model identifier, "iPhone14,2" unless set. Never the build machine's
    // architecture: callers read "x86_64" and "i386" as a simulator.
    static std::string deviceModel();
    // The system version text of the reported operating-system version ("15.0" by default),
    // unless set.
    static std::string systemVersion();

    // An empty text restores the default.
    static void setDeviceModel(const std::string& model);
    static void setSystemVersion(const std::string& version);
};
