// The bytes of a media file for the decoder: a local file, or an HTTP(S) body loading into a
// growing buffer through the network layer (so every request keeps to the network's rules).
// Reads wait for bytes that have not arrived yet; the decoder calls them off the main thread.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class NSURL;

// What one stream may hold. A body that says it is longer than `maximumBytes` is refused
// before any of it is read; one that goes past it ends with NSURLErrorDataLengthExceedsMaximum.
// The first `memoryBytes` stay in memory, the rest goes to a temporary file in `spillFolder`
// (the sandbox's tmp when empty) that is gone once the source is.
struct MediaByteLimits {
    std::uint64_t memoryBytes = 16ull * 1024 * 1024;
    std::uint64_t maximumBytes = 256ull * 1024 * 1024;
    std::string spillFolder;
};

namespace media_detail {
// The failure of an answer with an HTTP error status (400 and above).
NSErrorPtr statusError(long status);
}  // namespace media_detail

class MediaByteSource {
public:
    virtual ~MediaByteSource() = default;

    // A file URL opens the file (failing at once when it cannot be read or is not a regular
    // file: a FIFO or a device is never waited on); an http(s) URL starts loading its body.
    // Empty, with the reason in `error`, for any other URL.
    static std::shared_ptr<MediaByteSource> open(const NSURL& url, NSErrorPtr* error,
                                                 const MediaByteLimits& limits = MediaByteLimits());

    // Up to `size` bytes at `offset`. Returns what is there once at least one byte is; waits while
    // none is and more may come. 0 at the end of the bytes, -1 when loading failed (or the source
    // was closed) before `offset`.
    virtual long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) = 0;
    // The whole length when known, else -1.
    virtual std::int64_t length() const = 0;
    // Bytes from the start that are here (readable without waiting).
    virtual std::uint64_t received() const = 0;
    // Every byte is here.
    virtual bool isComplete() const = 0;
    // Why loading stopped short; null while it goes on or when it completed.
    virtual NSErrorPtr error() const = 0;
    // Stops loading and wakes every waiting read (which then fails). Idempotent.
    virtual void close() = 0;
    // Called (on any thread, with no lock of the source held) after more bytes arrived, loading
    // completed or failed. Set it before the first bytes can matter; empty stops the calls.
    virtual void setProgressHandler(std::function<void()> handler) = 0;
};
