// Range requests answered into pieces the probe reads from; every answer is checked against what
// was asked before any of its body is kept, so a server that ignores or misplaces ranges costs a
// status line, not the file.
#include "platform/media/MediaRangeReader.h"

#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/Clock.h"
#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLTransfer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

// A range inside a file of known length, as asked ranges are.
std::optional<HTTPContentRange> contentRangeOf(std::string_view field) {
    const auto range = parseHTTPContentRange(field);
    if (!range || range->last < range->first || range->last >= range->total) return std::nullopt;
    return range;
}

}  // namespace

// One range request's answer, kept only when it is the range asked for.
class MediaRangeReader::Answer final : public URLTransferClient {
public:
    Answer(std::uint64_t first, std::uint64_t last, std::int64_t length) : first_(first), last_(last), length_(length) {}

    void setTransfer(const std::shared_ptr<URLTransfer>& transfer) {
        MutexLock lock(mutex_);
        transfer_ = transfer;
    }

    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
        const auto field = response->valueForHTTPHeaderField("Content-Range");
        const auto range = field ? contentRangeOf(*field) : std::nullopt;
        // A server may send less than asked for, never other bytes or a file of another length.
        const bool asked = response->statusCode() == 206 && range && static_cast<std::uint64_t>(range->first) == first_ &&
                           static_cast<std::uint64_t>(range->last) <= last_ && (length_ < 0 || range->total == length_);
        std::shared_ptr<URLTransfer> transfer;
        {
            MutexLock lock(mutex_);
            if (asked) {
                range_ = range;
            } else {
                refused_ = true;
                transfer = transfer_.lock();
            }
        }
        if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, ""));
    }

    NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
        MutexLock lock(mutex_);
        if (refused_ || !range_ || size > static_cast<std::uint64_t>(range_->last - range_->first + 1) - body_.size()) {
            refused_ = true;
            return makeURLError(NSURLErrorCancelled, "");
        }
        body_.insert(body_.end(), reinterpret_cast<const std::uint8_t*>(bytes),
                     reinterpret_cast<const std::uint8_t*>(bytes) + size);
        return nullptr;
    }

    void transferCompleted(NSErrorPtr error) override {
        {
            MutexLock lock(mutex_);
            done_ = true;
            error_ = std::move(error);
        }
        ended_.notify_all();
        DispatchQuiescence::changed();
    }

    // Waits for the end, at most until `deadline` of clock time; then ends the transfer. The
    // wait counts as blocked for the manual clock until its own wake-up has fired, not merely
    // until the clock reads the deadline: another timer of that moment may fire first.
    void wait(double deadline) {
        const Clock::TimerId timer = Clock::schedule(deadline, [this] {
            {
                MutexLock lock(mutex_);
                expired_ = true;
            }
            ended_.notify_all();
            DispatchQuiescence::changed();
        });
        {
            DispatchQuiescence::BlockedScope blocked([this] {
                MutexLock lock(mutex_);
                return done_ || expired_;
            });
            MutexLock lock(mutex_);
            lock.wait(ended_, [this]() REQUIRES(mutex_) { return done_ || expired_; });
        }
        // Its callback takes the lock: not under it.
        Clock::cancel(timer);
        std::shared_ptr<URLTransfer> transfer;
        {
            MutexLock lock(mutex_);
            if (done_) return;
            refused_ = true;
            transfer = transfer_.lock();
        }
        // Its completion comes from this call, or from a report it waits for: soon either way.
        if (transfer) transfer->cancel(makeURLError(NSURLErrorTimedOut, ""));
        DispatchQuiescence::BlockedScope blocked([this] {
            MutexLock lock(mutex_);
            return done_;
        });
        MutexLock lock(mutex_);
        lock.wait(ended_, [this]() REQUIRES(mutex_) { return done_; });
    }

    // The bytes and the file's length once the whole range asked for came; nothing otherwise.
    std::optional<std::pair<std::vector<std::uint8_t>, std::uint64_t>> result() {
        MutexLock lock(mutex_);
        if (!done_ || error_ || refused_ || !range_ ||
            body_.size() != static_cast<std::uint64_t>(range_->last - range_->first + 1))
            return std::nullopt;
        return std::pair(std::move(body_), static_cast<std::uint64_t>(range_->total));
    }

private:
    const std::uint64_t first_, last_;
    const std::int64_t length_;  // -1 while unknown
    Mutex mutex_;
    std::condition_variable ended_;
    std::weak_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);
    std::optional<HTTPContentRange> range_ GUARDED_BY(mutex_);
    std::vector<std::uint8_t> body_ GUARDED_BY(mutex_);
    bool refused_ GUARDED_BY(mutex_) = false;
    bool done_ GUARDED_BY(mutex_) = false;
    bool expired_ GUARDED_BY(mutex_) = false;  // the wait's bound was reached
    NSErrorPtr error_ GUARDED_BY(mutex_);
};

std::shared_ptr<MediaRangeReader> MediaRangeReader::make(std::shared_ptr<NSURL> url) {
    if (!url || (url->scheme() != "http" && url->scheme() != "https")) return nullptr;
    return std::shared_ptr<MediaRangeReader>(new MediaRangeReader(std::move(url)));
}

MediaRangeReader::~MediaRangeReader() { cancel(); }

void MediaRangeReader::cancel() {
    std::shared_ptr<URLTransfer> transfer;
    {
        MutexLock lock(mutex_);
        failLocked();
        transfer = std::move(transfer_);
    }
    if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, url_->absoluteString()));
}

void MediaRangeReader::failLocked() {
    failed_ = true;
    pieces_.clear();
}

std::int64_t MediaRangeReader::open() {
    {
        MutexLock lock(mutex_);
        if (failed_) return -1;
        if (requests_ > 0) return length_;
        deadline_ = Clock::now() + kSeconds;
    }
    const std::uint64_t size = std::min(kPieceBytes, kMaximumBytes);
    if (size == 0 || !fetch(0, size - 1)) return -1;
    MutexLock lock(mutex_);
    return failed_ ? -1 : length_;
}

long MediaRangeReader::read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    std::uint64_t last = 0;
    {
        MutexLock lock(mutex_);
        if (failed_ || length_ < 0) return -1;
        const auto length = static_cast<std::uint64_t>(length_);
        if (offset >= length || size == 0) return 0;
        std::uint64_t before = length;  // where the next piece after `offset` starts
        for (const auto& piece : pieces_) {
            if (offset >= piece.offset && offset - piece.offset < piece.bytes.size()) {
                const std::size_t count = std::min<std::uint64_t>(size, piece.bytes.size() - (offset - piece.offset));
                std::memcpy(buffer, piece.bytes.data() + (offset - piece.offset), count);
                return static_cast<long>(count);
            }
            if (piece.offset > offset) before = std::min(before, piece.offset);
        }
        // A new piece from `offset`, short of what is here already, within what is left to fetch.
        const std::uint64_t left = kMaximumBytes - fetched_;
        const std::uint64_t want = std::min({kPieceBytes, left, before - offset});
        if (want == 0 || requests_ >= kMaximumRequests) {
            failLocked();
            return -1;
        }
        last = offset + want - 1;
    }
    if (!fetch(offset, last)) return -1;
    return read(offset, buffer, size);
}

bool MediaRangeReader::fetch(std::uint64_t first, std::uint64_t last) {
    std::shared_ptr<Answer> answer;
    std::shared_ptr<URLTransfer> transfer;
    double deadline = 0;
    {
        MutexLock lock(mutex_);
        if (failed_) return false;
        ++requests_;
        // Counted as asked for: a server that sends less spends the budget all the same.
        fetched_ += last - first + 1;
        deadline = deadline_;
        answer = std::make_shared<Answer>(first, last, length_);
    }
    auto request = NSMutableURLRequest::requestWithURL(url_);
    request->setValue("bytes=" + std::to_string(first) + "-" + std::to_string(last), "Range");
    request->setMaximumBodyLength(last - first + 1);
    const double left = deadline - Clock::now();
    if (left <= 0) {
        MutexLock lock(mutex_);
        failLocked();
        return false;
    }
    transfer = URLTransfer::make(*request, left, answer);
    answer->setTransfer(transfer);
    {
        MutexLock lock(mutex_);
        // Cancelled meanwhile: the transfer never starts.
        if (failed_) return false;
        transfer_ = transfer;
    }
    transfer->start();
    answer->wait(deadline);
    auto result = answer->result();
    MutexLock lock(mutex_);
    if (transfer_ == transfer) transfer_ = nullptr;
    if (failed_ || !result) {
        failLocked();
        return false;
    }
    length_ = static_cast<std::int64_t>(result->second);
    pieces_.push_back(Piece{first, std::move(result->first)});
    return true;
}
