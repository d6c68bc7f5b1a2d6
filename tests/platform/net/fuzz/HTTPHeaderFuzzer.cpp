// libFuzzer target over an answer's header block, one line at a time as libcurl hands it over:
// status and field lines, the response built from them, Content-Length and Content-Range.
// Nothing crashes, and every number read writes back to what was read.
#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/NSHTTPURLResponse.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    NSHTTPURLResponse::HeaderFields fields;
    HTTPStatusLine status;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        if (auto parsed = parseHTTPStatusLine(line)) {
            if (parsed->statusCode != 0 && (parsed->statusCode < 100 || parsed->statusCode > 999)) std::abort();
            status = std::move(*parsed);
            fields.clear();
        } else if (auto field = parseHTTPHeaderField(line)) {
            if (field->first.empty()) std::abort();
            fields.push_back(std::move(*field));
        }
    }
    for (const auto& [name, value] : fields) {
        if (const auto length = parseHTTPContentLength(value)) {
            if (*length < 0 || parseHTTPContentLength(std::to_string(*length)) != length) std::abort();
        }
        if (const auto range = parseHTTPContentRange(value)) {
            if (range->first < 0 || range->last < 0 || range->total < 0) std::abort();
            const std::string again = "bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) + "/" +
                                      std::to_string(range->total);
            const auto back = parseHTTPContentRange(again);
            if (!back || back->first != range->first || back->last != range->last || back->total != range->total)
                std::abort();
        }
    }
    const auto response = NSHTTPURLResponse::initWithURL(nullptr, status.statusCode, status.version, fields);
    if (response->expectedContentLength() < -1) std::abort();
    (void)response->valueForHTTPHeaderField("Content-Range");
    return 0;
}
