// libFuzzer target over URL parsing: strings from outside (servers' links, configuration, typed
// text) taken as URLs and as file paths. Nothing crashes; a URL keeps its string, has a lower-case
// scheme and a port a socket can have, and reads the same twice.
#include "platform/net/NSURL.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto url = NSURL::URLWithString(text)) {
        if (url->absoluteString() != text || url->scheme().empty()) std::abort();
        for (const char c : url->scheme())
            if (std::isupper(static_cast<unsigned char>(c))) std::abort();
        if (url->port() && (*url->port() < 0 || *url->port() > 65535)) std::abort();
        const auto again = NSURL::URLWithString(text);
        if (!again || !url->isEqual(again.get()) || url->hash() != again->hash() || again->host() != url->host() ||
            again->path() != url->path() || again->query() != url->query() || again->fragment() != url->fragment())
            std::abort();
    }
    if (const auto file = NSURL::fileURLWithPath(text)) {
        if (!file->isFileURL()) std::abort();
    }
    return 0;
}
