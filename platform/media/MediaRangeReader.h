// Pieces of a remote media file for the header probe, each fetched with one HTTP range request
// through the network layer: the first piece also tells the file's length, later reads fetch the
// piece where they fall. Bounded in bytes, requests and clock time. An answer that is not the
// range asked for (a whole body, an error status, bytes from elsewhere, a length that changes)
// ends the reading: it fails from then on, and the decoder reads the stream from its body.
// Reads block; they run on a worker queue, never on the main thread.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/MediaHeaderProbe.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class NSURL;
class URLTransfer;

class MediaRangeReader {
public:
    static constexpr std::uint64_t kMaximumBytes = MediaHeaderProbe::kMaxBytesRead;  // fetched in all
    static constexpr std::uint64_t kPieceBytes = 16 * 1024;                           // asked for at once
    static constexpr int kMaximumRequests = 4;
    static constexpr double kSeconds = 15;  // of clock time for the whole reading, from open()

    // Empty for a URL that is not http(s).
    static std::shared_ptr<MediaRangeReader> make(std::shared_ptr<NSURL> url);
    ~MediaRangeReader();
    MediaRangeReader(const MediaRangeReader&) = delete;
    MediaRangeReader& operator=(const MediaRangeReader&) = delete;

    // Fetches the first piece: the file's length, or -1 when the server did not answer with it.
    std::int64_t open();
    // As MediaHeaderProbe::Reader: what is here at `offset`, fetching the piece from there when
    // none is; -1 once the reading failed, was cancelled or would pass its limits.
    long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size);
    // Any thread: ends the request under way and fails every later read.
    void cancel();

private:
    struct Piece {
        std::uint64_t offset = 0;
        std::vector<std::uint8_t> bytes;
    };
    class Answer;

    explicit MediaRangeReader(std::shared_ptr<NSURL> url) : url_(std::move(url)) {}
    // One request for [first, last]; false when it did not bring exactly those bytes.
    bool fetch(std::uint64_t first, std::uint64_t last);
    void failLocked() REQUIRES(mutex_);

    const std::shared_ptr<NSURL> url_;

    Mutex mutex_;
    bool failed_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);  // the request under way
    // The reading thread's, set as pieces arrive.
    std::vector<Piece> pieces_ GUARDED_BY(mutex_);
    std::int64_t length_ GUARDED_BY(mutex_) = -1;
    std::uint64_t fetched_ GUARDED_BY(mutex_) = 0;
    int requests_ GUARDED_BY(mutex_) = 0;
    double deadline_ GUARDED_BY(mutex_) = 0;
};
