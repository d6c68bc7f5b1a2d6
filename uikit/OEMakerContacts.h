// The maker's support mailbox, which the application writes to. (The maker's web site is part
// of the application's configuration.)
#pragma once

#include <string>

class OEMakerContacts {
public:
    static std::string supportEmail();
};
