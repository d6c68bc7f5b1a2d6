// Ad network attribution: the registration of the application, recorded (nothing is sent).
#pragma once

#include <cstddef>

class SKAdNetwork {
public:
    static void registerAppForAdNetworkAttribution();
    // How many times the application registered in this process.
    static std::size_t registrationCount();
};
