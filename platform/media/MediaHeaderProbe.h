// What a player item needs to be ready (its length, sample rate, channels and audio track), read
// from the header of an MP4/M4A file holding AAC or of a wave file holding PCM, with a few small
// reads and no media library: an item set and not played is ready without FFmpeg. The header is
// outside bytes: every size in it is checked against its parent and the file's length, nothing
// is allocated from what it declares, and the boxes looked at and the bytes read are bounded.
#pragma once

#include "platform/media/MediaDecoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

class MediaHeaderProbe {
public:
    // The most bytes one probe reads, however the file is made.
    static constexpr std::uint64_t kMaxBytesRead = 64 * 1024;

    // Up to `size` bytes at `offset`: the count read, 0 at the end, -1 on a failure.
    using Reader = std::function<long(std::uint64_t offset, std::uint8_t* buffer, std::size_t size)>;

    // The figures as the decoder would give them, for a file of `length` bytes. Empty for a
    // format or a variant it does not know, a header it cannot read whole, or a failed read:
    // the decoder is asked then.
    static std::optional<MediaDecoder::Info> probe(std::uint64_t length, const Reader& read);
};
