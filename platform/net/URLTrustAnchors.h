// Process-wide extra trust: certificates trusted as authorities for one named host only, on
// top of the system's (a test server's self-signed certificate for 127.0.0.1, say). Every
// other host is checked against the system's authorities alone.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

class URLTrustAnchors {
public:
    // `pem` holds one or more PEM certificates. False, with an error, when none can be read.
    [[nodiscard]] static bool addAnchorForHost(const std::string& host, const std::string& pem,
                                               NSErrorPtr* error = nullptr);
    [[nodiscard]] static bool addAnchorFileForHost(const std::string& host, const std::string& path,
                                                   NSErrorPtr* error = nullptr);
    static void reset();
    static bool isEmpty();
    // The PEM authorities for connections to `host`: the system's followed by the host's
    // anchors; "" when the host has no anchor (the system's authorities apply as they are).
    static std::string authoritiesForHost(const std::string& host);
};
