// Loaded into a process with LD_PRELOAD: a name server that is slow for one name. A lookup of the
// name in OSTREL_SLOW_LOOKUP_NAME takes OSTREL_SLOW_LOOKUP_SECONDS and is then answered with
// 127.0.0.1, nothing leaving the machine; as it begins, "lookup of NAME at SECONDS" (since 1970)
// is appended to the file named by OSTREL_SLOW_LOOKUP_LOG. Every other name goes to the C library's getaddrinfo.
// bench/quit-time slows the measurement host's lookup with it.
#include <dlfcn.h>
#include <netdb.h>
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

const char* setting(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

void note(const char* name) {
    const char* path = setting("OSTREL_SLOW_LOOKUP_LOG");
    if (!path) return;
    if (std::FILE* log = std::fopen(path, "a")) {
        const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();
        std::fprintf(log, "lookup of %s at %.3f\n", name, now.count());
        std::fclose(log);
    }
}

}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    static const auto next = reinterpret_cast<GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    const char* slow = setting("OSTREL_SLOW_LOOKUP_NAME");
    if (node && slow && strcasecmp(node, slow) == 0) {
        note(node);
        const char* seconds = setting("OSTREL_SLOW_LOOKUP_SECONDS");
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds ? std::atof(seconds) : 0));
        node = "127.0.0.1";
    }
    return next(node, service, hints, result);
}
