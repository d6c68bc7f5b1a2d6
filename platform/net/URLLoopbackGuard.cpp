// The rules over libcurl: a name lookup is refused before it starts for a reserved ".invalid"
// name, and in test runs unless the name stays on the machine; in test runs a socket is opened
// only for a loopback address.
#include "platform/net/URLLoopbackGuard.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/NSURL.h"
#include "platform/net/URLHostRewrite.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

const std::string& reportFile() {
    static const std::string path = [] {
        const char* value = std::getenv(URLLoopbackGuard::kReportVariable);
        return std::string(value ? value : "");
    }();
    return path;
}

struct AnsweredHere {
    Mutex mutex;
    std::set<std::string> names GUARDED_BY(mutex);
};

AnsweredHere& answeredHere() {
    static auto* answered = new AnsweredHere;  // asked by lookups starting while the process exits
    return *answered;
}

bool isAnsweredHere(const std::string& lowercaseHost) {
    AnsweredHere& answered = answeredHere();
    MutexLock lock(answered.mutex);
    return answered.names.count(lowercaseHost) > 0;
}

std::string effectiveURL(CURL* easy) {
    char* url = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
    return url ? url : "";
}

// One line in the report, written whole with one append, and the same sentence on standard error.
void report(const std::string& destination, const std::string& url) {
    const std::string line = destination + " for " + url + "\n";
    std::fprintf(stderr, "Refused a request outside 127.0.0.0/8: %s", line.c_str());
    // The real file system: a test's injected faults must not hide the report.
    const auto io = FileIO::posix();
    int fd = -1;
    if (io->open(reportFile(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644, fd) != 0) return;
    (void)io->write(fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    (void)io->close(fd);
}

std::string describe(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    return "an address of family " + std::to_string(address->sa_family);
}

// A name whose lookup never leaves the machine: an address written out (the socket check judges
// it), localhost, a host the rewrite rules send to 127.0.0.1, or one the process answers itself.
bool staysOnTheMachine(const std::string& host) {
    if (host.empty()) return false;
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return true;
    const std::string bare = host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) return true;
    const std::string lower = NSString::lowercaseString(host);
    if (lower == "localhost" || (lower.size() > 10 && lower.ends_with(".localhost"))) return true;
    if (isAnsweredHere(lower)) return true;
    for (const auto& entry : URLHostRewrite::connectToEntries()) {
        if (entry.starts_with(lower + ":")) return true;
    }
    return false;
}

int onResolverStart(void*, void*, void* clientp) {
    CURL* easy = static_cast<CURL*>(clientp);
    const std::string url = effectiveURL(easy);
    const auto parsed = NSURL::URLWithString(url);
    const std::string host = parsed ? parsed->host() : "";
    // Not even a question to the name server: the name cannot resolve.
    if (URLLoopbackGuard::isReservedInvalidName(host)) return 1;
    if (!URLLoopbackGuard::isActive() || staysOnTheMachine(host)) return 0;
    report("a lookup of the name " + (host.empty() ? std::string("(unknown)") : host), url);
    return 1;
}

curl_socket_t onOpenSocket(void* clientp, curlsocktype, curl_sockaddr* address) {
    const auto* destination = reinterpret_cast<const sockaddr*>(&address->addr);
    if (!URLLoopbackGuard::isLoopbackAddress(destination)) {
        report(describe(destination), effectiveURL(static_cast<CURL*>(clientp)));
        return CURL_SOCKET_BAD;
    }
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

}  // namespace

bool URLLoopbackGuard::isActive() { return !reportFile().empty(); }

const std::string& URLLoopbackGuard::reportPath() { return reportFile(); }

bool URLLoopbackGuard::isLoopbackAddress(const sockaddr* address) {
    if (!address) return false;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        const std::uint8_t* bytes = v6->sin6_addr.s6_addr;
        static constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        return std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0 && bytes[12] == 127;
    }
    return false;
}

bool URLLoopbackGuard::isReservedInvalidName(const std::string& host) {
    std::string lower = NSString::lowercaseString(host);
    if (!lower.empty() && lower.back() == '.') lower.pop_back();
    return lower == "invalid" || lower.ends_with(".invalid");
}

void URLLoopbackGuard::addNameAnsweredHere(const std::string& host) {
    AnsweredHere& answered = answeredHere();
    MutexLock lock(answered.mutex);
    answered.names.insert(NSString::lowercaseString(host));
}

void URLLoopbackGuard::removeNameAnsweredHere(const std::string& host) {
    AnsweredHere& answered = answeredHere();
    MutexLock lock(answered.mutex);
    answered.names.erase(NSString::lowercaseString(host));
}

void URLLoopbackGuard::applyTo(CURL* easy) {
    if (!easy) return;
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &onResolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, easy);
    if (!isActive()) return;
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, easy);
}
