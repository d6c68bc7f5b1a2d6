// Pieces of a remote media file for the header probe, each fetched with one HTTP range request
// through the network layer: the first piece also tells the file's length, later reads fetch the
// piece where they fall. A server that answers the first range with the whole file (it ignores
// ranges) has its answer's start read instead, a piece at a time as the probe reads on, up to a
// bound, and let go. Bounded in bytes, requests and clock time. Any other answer that is not the
// range asked for (an error status, bytes from elsewhere, a length that changes) ends the
// reading: it fails from then on. Reads block; they run on a worker queue, never on the main
// thread.
#pragma once

#include "platform/foundation/NSError.h"
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
    static constexpr std::uint64_t kMaximumBytes = MediaHeaderProbe::kMaxBytesRead;  // fetched in ranges, in all
    static constexpr std::uint64_t kPieceBytes = 16 * 1024;                           // asked for at once
    // Of a whole file's answer: the most of its start taken before it is let go.
    static constexpr std::uint64_t kPrefixBytes = 1024 * 1024;
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
    // Why the server serves nothing at the URL: it could not be reached, or answered with an
    // error status or a redirect loop. None while the reading goes on, and when it ended
    // otherwise (an answer not as asked, a bound reached, a cancel): the body may serve then.
    NSErrorPtr failure();

private:
    struct Piece {
        std::uint64_t offset = 0;
        std::vector<std::uint8_t> bytes;
    };
    class Answer;

    explicit MediaRangeReader(std::shared_ptr<NSURL> url) : url_(std::move(url)) {}
    // One request for [first, last]; false when it did not bring exactly those bytes (or, for
    // the first, the start of the whole file).
    bool fetch(std::uint64_t first, std::uint64_t last);
    // From the start of the whole file's answer, taking more of it when `offset` is not here yet.
    long readWhole(const std::shared_ptr<Answer>& whole, std::uint64_t offset, std::uint8_t* buffer, std::size_t size);
    void failLocked() REQUIRES(mutex_);

    const std::shared_ptr<NSURL> url_;

    Mutex mutex_;
    bool failed_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);  // the request under way
    // The reading thread's, set as pieces arrive.
    std::vector<Piece> pieces_ GUARDED_BY(mutex_);
    std::int64_t length_ GUARDED_BY(mutex_) = -1;
    // The whole file's answer, its transfer kept in transfer_ while more of it may be taken.
    std::shared_ptr<Answer> whole_ GUARDED_BY(mutex_);
    NSErrorPtr failure_ GUARDED_BY(mutex_);
    std::uint64_t fetched_ GUARDED_BY(mutex_) = 0;
    int requests_ GUARDED_BY(mutex_) = 0;
    double deadline_ GUARDED_BY(mutex_) = 0;
};
