// libFuzzer target over gzip inflation with a bound on the output: nothing crashes, no stream
// inflates past its bound, and what inflates deflates and inflates back.
#include "platform/services/NSDataVULGzip.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t kBound = 1024 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSErrorPtr error;
    const NSData inflated = NSDataVULGzip::vul_dataByInflatingGzippedData(NSData(data, data + size), &error, kBound);
    if (inflated.size() > kBound) std::abort();
    if (inflated.empty()) return 0;
    if (error) std::abort();
    NSErrorPtr again;
    const NSData deflated = NSDataVULGzip::vul_dataByGzippingData(inflated, &again);
    if (deflated.empty() || again) std::abort();
    if (NSDataVULGzip::vul_dataByInflatingGzippedData(deflated, nullptr, kBound) != inflated) std::abort();
    return 0;
}
