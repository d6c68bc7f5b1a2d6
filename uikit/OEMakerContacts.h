// The maker's addresses the application shows or writes to: the support mailbox and the web
// host of its pages. The web host is a user default ("OEMakerWebHost") a deployment sets; until
// then it is a name that cannot leave the machine.
#pragma once

#include <string>

class OEMakerContacts {
public:
    static std::string supportEmail();
    // Scheme and host, without a trailing slash.
    static std::string webHost();

    static constexpr const char* kWebHostDefaultsKey = "OEMakerWebHost";
    static constexpr const char* kDefaultWebHost = "http://www.ostrel.invalid";
};
