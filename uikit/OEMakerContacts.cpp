// The maker's addresses.
#include "uikit/OEMakerContacts.h"

#include "platform/foundation/NSUserDefaults.h"

std::string OEMakerContacts::supportEmail() { return "support@ostrel.invalid"; }

std::string OEMakerContacts::webHost() {
    std::string host = NSUserDefaults::standardUserDefaults()->stringForKey(kWebHostDefaultsKey);
    while (!host.empty() && host.back() == '/') host.pop_back();
    return host.empty() ? kDefaultWebHost : host;
}
