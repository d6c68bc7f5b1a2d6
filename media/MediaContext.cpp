// The music library's handed-in services.
#include "media/MediaContext.h"

#include "platform/net/NSURL.h"
#include "platform/net/SCNetworkReachability.h"

bool MediaContext::isNetworkReachable() const {
    if (reachable) return reachable();
    auto probe = SCNetworkReachability::createWithName(serverHost().empty() ? "localhost" : serverHost());
    return probe && probe->isReachable();
}

std::string MediaContext::serverHost() const {
    if (!app.config || !app.config->urlFormat()) return {};
    // The format's slots are no URL characters: the host is what comes before the path.
    const std::string& format = app.config->urlFormat()->compositions();
    const auto scheme = format.find("://");
    if (scheme == std::string::npos) return {};
    auto url = NSURL::URLWithString(format.substr(0, format.find('/', scheme + 3)));
    return url ? url->host() : std::string();
}
