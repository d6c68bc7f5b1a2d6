// libFuzzer target over media file headers (MP4 box trees and wave chunks): the probe never
// reads outside the file or past its budget, and any figures it gives are ones a player can use.
#include "platform/media/MediaHeaderProbe.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t asked = 0;
    const auto info = MediaHeaderProbe::probe(size, [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t count) {
        if (offset >= size) std::abort();
        asked += count;
        const std::size_t take = count < size - offset ? count : size - offset;
        std::memcpy(buffer, data + offset, take);
        return static_cast<long>(take);
    });
    if (asked > 64 * 1024) std::abort();
    if (info && (!(info->duration > 0) || !std::isfinite(info->duration) || info->sampleRate <= 0 ||
                 info->channels <= 0 || info->trackID <= 0 || info->audioTrackIDs.size() != 1))
        std::abort();
    return 0;
}
