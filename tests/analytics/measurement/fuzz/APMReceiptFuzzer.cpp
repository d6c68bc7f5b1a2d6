// libFuzzer target over the receipt scan: bytes of a store receipt read from the device's disk.
// Nothing crashes, and a version found is bytes of the receipt, behind a match of the pattern.
// Each run waits for what its log lines queued on the monitor: a run of the scan is far quicker
// than the sample write each line costs there, and the queue would grow without end.
#include "analytics/core/APMMonitor.h"
#include "analytics/measurement/APMReceipt.h"
#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const NSData receipt(data, data + size);
    if (const auto version = APMReceiptOriginalVersion(receipt)) {
        if (version->empty() || version->size() + 2 > receipt.size()) std::abort();
        const NSData bytes(version->begin(), version->end());
        if (std::search(receipt.begin(), receipt.end(), bytes.begin(), bytes.end()) == receipt.end()) std::abort();
    }
    // Any pattern at any offset: the first bytes choose them.
    if (size >= 2) {
        const std::vector<std::uint8_t> pattern(data + 1, data + 1 + std::min<std::size_t>(data[0] % 12, size - 1));
        const std::int64_t offset = static_cast<std::int64_t>(data[0]) - 8;
        if (const auto found = APMReceiptDataMatchingPattern(pattern, receipt, offset)) {
            if (found->empty() || found->size() > receipt.size()) std::abort();
        }
    }
    APMMeasurementMonitor()->monitorQueue()->sync([] {});
    return 0;
}
