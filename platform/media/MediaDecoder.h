// Demuxes and decodes the audio of a media file with FFmpeg, reading its bytes from a
// MediaByteSource through a custom I/O context (so FFmpeg's own network code is never used),
// and hands out interleaved float samples at the file's own rate and channel count.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class MediaByteSource;

class MediaDecoder {
public:
    struct Info {
        double duration = 0;     // seconds
        bool estimated = false;  // from the bit rate and the length, the file having no index
        int sampleRate = 0;
        int channels = 0;
        // One id per audio stream of the file (its position + 1), and the one that plays.
        std::vector<int> audioTrackIDs;
        int trackID = 0;
    };

    // Probes the container and opens the best audio stream's decoder; reads from `source`, so
    // it waits for a stream's first bytes. Empty, with the reason in `error`, when the bytes are
    // no media with audio, or could not be read.
    static std::unique_ptr<MediaDecoder> open(std::shared_ptr<MediaByteSource> source, NSErrorPtr* error);
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    const Info& info() const { return info_; }
    // The seconds from the start that can be decoded without waiting when `received` bytes from
    // the start are here: the end of the media when `complete`, else up to the last packet of
    // which every byte and the next packet's start are here. Safe from any thread.
    double playableEnd(std::uint64_t received, bool complete) const;

    // Decodes up to `frames` frames into `out` (frames x channels floats, interleaved). Fewer
    // only at the end of the media, or on a failure, which also sets `error`.
    std::size_t render(float* out, std::size_t frames, NSErrorPtr* error);
    // The next render starts at `seconds`.
    void seek(double seconds);
    // Every sample has been handed out.
    bool atEnd() const { return ended_ && fifoFrames() == 0; }

private:
    struct State;
    MediaDecoder();
    std::size_t fifoFrames() const;
    bool decodeMore(NSErrorPtr* error);

    std::unique_ptr<State> state_;
    Info info_;
    bool ended_ = false;
    // Per packet in time order: the largest end offset of it and every earlier packet, and its start.
    std::vector<std::uint64_t> packetEnds_;
    std::vector<double> packetStarts_;
    // The index lists every packet to the end, not only those read while probing.
    bool indexCoversAll_ = false;
    std::int64_t length_ = -1;
};
