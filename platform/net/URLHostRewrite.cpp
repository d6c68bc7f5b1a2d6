// Host rewrite rules, applied by libcurl's connect-to list to every connection of a
// transfer, redirects included.
#include "platform/net/URLHostRewrite.h"

#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <map>
#include <mutex>
#include <utility>

namespace {

struct Rules {
    Mutex mutex;
    std::map<std::pair<std::string, int>, int> loopbackPorts GUARDED_BY(mutex);
};

Rules& rules() {
    static auto* r = new Rules;  // read by transfers starting while the process exits
    return *r;
}

}  // namespace

void URLHostRewrite::map(const std::string& host, int port, int loopbackPort) {
    Rules& r = rules();
    MutexLock lock(r.mutex);
    r.loopbackPorts[{NSString::lowercaseString(host), port}] = loopbackPort;
}

void URLHostRewrite::reset() {
    Rules& r = rules();
    MutexLock lock(r.mutex);
    r.loopbackPorts.clear();
}

bool URLHostRewrite::isEmpty() {
    Rules& r = rules();
    MutexLock lock(r.mutex);
    return r.loopbackPorts.empty();
}

std::vector<std::string> URLHostRewrite::connectToEntries() {
    Rules& r = rules();
    MutexLock lock(r.mutex);
    std::vector<std::string> entries;
    // libcurl takes the first entry that matches: rules for one port before the host's catch-all.
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& [key, loopbackPort] : r.loopbackPorts) {
            const auto& [host, port] = key;
            if ((port == 0) != (pass == 1)) continue;
            entries.push_back(host + ":" + (port ? std::to_string(port) : "") + ":127.0.0.1:" +
                              std::to_string(loopbackPort));
        }
    }
    return entries;
}
