// The maker's addresses.
#include "uikit/OEMakerContacts.h"

std::string OEMakerContacts::supportEmail() { return "support@ostrel.invalid"; }
