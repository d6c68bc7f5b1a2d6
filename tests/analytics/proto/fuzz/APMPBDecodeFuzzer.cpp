// libFuzzer target over the decoders of the messages that arrive from outside: the measurement
// configuration, the experiments response and the event-editing program. The first byte picks one.
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Whatever decodes must encode, and its encoding must decode and encode to the same bytes.
template <class M>
void check(const std::uint8_t* data, std::size_t size) {
    auto message = M::initWithBuffer(data, size);
    if (!message) return;
    auto first = message->protoBuffer();
    if (!first) std::abort();
    auto again = M::initWithBuffer(*first);
    if (!again || again->protoBuffer() != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The decoder reports every failure on standard output; the fuzzer's own output stays on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 3) {
        case 0: check<APMPBMeasurementConfig>(data + 1, size - 1); break;
        case 1: check<APMPBExperimentResponse>(data + 1, size - 1); break;
        default: check<APMPBProgram>(data + 1, size - 1); break;
    }
    return 0;
}
