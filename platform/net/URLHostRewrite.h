// Process-wide rules that send connections for a host (and port) to a port on 127.0.0.1,
// keeping the URL, the Host field and the name the certificate must match. Tests and the
// demo point fixed endpoints at loopback servers with them; the product has none.
#pragma once

#include <string>
#include <vector>

class URLHostRewrite {
public:
    // `port` 0 matches every port of `host` (compared without regard to case).
    static void map(const std::string& host, int port, int loopbackPort);
    static void reset();
    static bool isEmpty();
    // The rules in libcurl's connect-to form, "HOST:PORT:127.0.0.1:LOOPBACKPORT".
    static std::vector<std::string> connectToEntries();
};
