// Range requests answered into pieces the probe reads from; every answer is checked against what
// was asked before any of its body is kept, so a server that misplaces ranges costs a status
// line, and one that ignores them the start of the file up to a bound, never the whole file.
#include "platform/media/MediaRangeReader.h"

#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/Clock.h"
#include "platform/media/MediaByteSource.h"
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

// One range request's answer, kept only when it is the range asked for, or, for the first
// request, the start of the whole file taken as far as wanted.
class MediaRangeReader::Answer final : public URLTransferClient {
public:
    Answer(std::uint64_t first, std::uint64_t last, std::int64_t length)
        : first_(first), last_(last), length_(length), whole_(first == 0 && length < 0) {}

    void setTransfer(const std::shared_ptr<URLTransfer>& transfer) {
        MutexLock lock(mutex_);
        transfer_ = transfer;
    }

    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
        const long status = response->statusCode();
        const auto field = response->valueForHTTPHeaderField("Content-Range");
        const auto range = field ? contentRangeOf(*field) : std::nullopt;
        // A server may send less than asked for, never other bytes or a file of another length.
        const bool asked = status == 206 && range && static_cast<std::uint64_t>(range->first) == first_ &&
                           static_cast<std::uint64_t>(range->last) <= last_ && (length_ < 0 || range->total == length_);
        const std::int64_t total = response->expectedContentLength();
        std::shared_ptr<URLTransfer> transfer;
        {
            MutexLock lock(mutex_);
            if (asked) {
                range_ = range;
            } else if (whole_ && status == 200 && total > 0) {
                total_ = total;
            } else {
                refused_ = true;
                if (status >= 400) failure_ = media_detail::statusError(status);
                transfer = transfer_.lock();
            }
        }
        if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, ""));
    }

    NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
        bool full = false;
        {
            MutexLock lock(mutex_);
            std::uint64_t room = 0;
            if (!refused_ && range_) room = static_cast<std::uint64_t>(range_->last - range_->first + 1) - body_.size();
            if (!refused_ && total_ > 0) room = kPrefixBytes - body_.size();
            if (refused_ || (range_ && size > room) || (!range_ && total_ <= 0)) {
                refused_ = true;
                return makeURLError(NSURLErrorCancelled, "");
            }
            // Of a whole file, its start up to the bound: what lies beyond is not taken.
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
            body_.insert(body_.end(), reinterpret_cast<const std::uint8_t*>(bytes),
                         reinterpret_cast<const std::uint8_t*>(bytes) + take);
            full = take < size;
        }
        ended_.notify_all();
        DispatchQuiescence::changed();
        return full ? makeURLError(NSURLErrorCancelled, "") : nullptr;
    }

    // A whole file's answer is read only as far as it is wanted: held back beyond that.
    bool transferCanTakeData() override {
        MutexLock lock(mutex_);
        return total_ <= 0 || body_.size() < wanted_;
    }

    void transferCompleted(NSErrorPtr error) override {
        {
            MutexLock lock(mutex_);
            done_ = true;
            // What the reader asked for ended it (a refusal, a bound, its time) or what the
            // server did: only the latter says the server cannot serve the file.
            if (error && !refused_ && !expired_ && error->domain() == NSURLErrorDomain &&
                error->code() != NSURLErrorCancelled && error->code() != NSURLErrorTimedOut &&
                error->code() != NSURLErrorDataLengthExceedsMaximum)
                failure_ = error;
            error_ = std::move(error);
        }
        ended_.notify_all();
        DispatchQuiescence::changed();
    }

    // A whole file's answer is taken up to `wanted` bytes from its start.
    void want(std::uint64_t wanted) {
        MutexLock lock(mutex_);
        wanted_ = std::max(wanted_, wanted);
    }

    // Waits for the end, or for `enough` bytes of a whole file's start, at most until `deadline`
    // of clock time; then ends the transfer. The wait counts as blocked for the manual clock
    // until its own wake-up has fired, not merely until the clock reads the deadline: another
    // timer of that moment may fire first.
    void wait(double deadline, std::uint64_t enough) {
        const Clock::TimerId timer = Clock::schedule(
            deadline,
            [this] {
                {
                    MutexLock lock(mutex_);
                    expired_ = true;
                }
                ended_.notify_all();
                DispatchQuiescence::changed();
            },
            "the deadline of a media read", Clock::TimerKind::Deadline);
        const auto over = [this, enough]() REQUIRES(mutex_) {
            return done_ || expired_ || (total_ > 0 && body_.size() >= enough);
        };
        {
            DispatchQuiescence::BlockedScope blocked([this, &over] {
                MutexLock lock(mutex_);
                return over();
            });
            MutexLock lock(mutex_);
            lock.wait(ended_, over);
        }
        // Its callback takes the lock: not under it.
        Clock::cancel(timer);
        std::shared_ptr<URLTransfer> transfer;
        {
            MutexLock lock(mutex_);
            if (done_ || !expired_) return;
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

    // The file's length when the answer is the whole file and some of its start came; else -1.
    std::int64_t wholeLength() {
        MutexLock lock(mutex_);
        return total_ > 0 && !body_.empty() ? total_ : -1;
    }

    // Up to `size` bytes of a whole file's start at `offset`; 0 when they are not here.
    std::size_t copy(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        MutexLock lock(mutex_);
        if (offset >= body_.size()) return 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, body_.size() - offset));
        std::memcpy(buffer, body_.data() + offset, count);
        return count;
    }

    NSErrorPtr failure() {
        MutexLock lock(mutex_);
        return failure_;
    }

private:
    const std::uint64_t first_, last_;
    const std::int64_t length_;  // -1 while unknown
    const bool whole_;           // the first request: the whole file is taken too
    Mutex mutex_;
    std::condition_variable ended_;
    std::weak_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);
    std::optional<HTTPContentRange> range_ GUARDED_BY(mutex_);
    std::int64_t total_ GUARDED_BY(mutex_) = -1;  // the whole file's length, when that came
    std::uint64_t wanted_ GUARDED_BY(mutex_) = kPieceBytes;
    std::vector<std::uint8_t> body_ GUARDED_BY(mutex_);
    bool refused_ GUARDED_BY(mutex_) = false;
    bool done_ GUARDED_BY(mutex_) = false;
    bool expired_ GUARDED_BY(mutex_) = false;  // the wait's bound was reached
    NSErrorPtr error_ GUARDED_BY(mutex_);
    NSErrorPtr failure_ GUARDED_BY(mutex_);
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
    whole_ = nullptr;
}

NSErrorPtr MediaRangeReader::failure() {
    MutexLock lock(mutex_);
    return failure_;
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
    std::shared_ptr<Answer> whole;
    {
        MutexLock lock(mutex_);
        if (failed_ || length_ < 0) return -1;
        const auto length = static_cast<std::uint64_t>(length_);
        if (offset >= length || size == 0) return 0;
        whole = whole_;
        if (!whole) {
            std::uint64_t before = length;  // where the next piece after `offset` starts
            for (const auto& piece : pieces_) {
                if (offset >= piece.offset && offset - piece.offset < piece.bytes.size()) {
                    const std::size_t count =
                        std::min<std::uint64_t>(size, piece.bytes.size() - (offset - piece.offset));
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
    }
    if (whole) return readWhole(whole, offset, buffer, size);
    if (!fetch(offset, last)) return -1;
    return read(offset, buffer, size);
}

long MediaRangeReader::readWhole(const std::shared_ptr<Answer>& whole, std::uint64_t offset, std::uint8_t* buffer,
                                 std::size_t size) {
    if (std::size_t count = whole->copy(offset, buffer, size)) return static_cast<long>(count);
    std::shared_ptr<URLTransfer> transfer;
    double deadline = 0;
    {
        MutexLock lock(mutex_);
        // Past the bound the file's start is all there is: its header lies further on.
        if (failed_ || offset >= kPrefixBytes) {
            failLocked();
            return -1;
        }
        transfer = transfer_;
        deadline = deadline_;
    }
    // The piece that holds `offset`, within the bound.
    whole->want(std::min(kPrefixBytes, (offset / kPieceBytes + 1) * kPieceBytes));
    if (transfer) transfer->resumeReceiving();
    whole->wait(deadline, offset + 1);
    const std::size_t count = whole->copy(offset, buffer, size);
    MutexLock lock(mutex_);
    if (failed_ || count == 0) {
        failLocked();
        return -1;
    }
    return static_cast<long>(count);
}

bool MediaRangeReader::fetch(std::uint64_t first, std::uint64_t last) {
    std::shared_ptr<Answer> answer;
    std::shared_ptr<URLTransfer> transfer;
    double deadline = 0;
    bool opening = false;
    {
        MutexLock lock(mutex_);
        if (failed_) return false;
        opening = requests_ == 0;
        ++requests_;
        // Counted as asked for: a server that sends less spends the budget all the same.
        fetched_ += last - first + 1;
        deadline = deadline_;
        answer = std::make_shared<Answer>(first, last, length_);
    }
    auto request = NSMutableURLRequest::requestWithURL(url_);
    request->setValue("bytes=" + std::to_string(first) + "-" + std::to_string(last), "Range");
    // The first answer may be the whole file, whose start is read and the rest let go: it says
    // how long it is, which the network must not refuse before it is looked at. Its answer keeps
    // to the bounds itself.
    if (!opening) request->setMaximumBodyLength(last - first + 1);
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
    answer->wait(deadline, last - first + 1);
    auto result = answer->result();
    const std::int64_t whole = result ? -1 : answer->wholeLength();
    const NSErrorPtr failure = answer->failure();
    MutexLock lock(mutex_);
    if (!failure_) failure_ = failure;
    if (!failed_ && whole > 0) {
        // Kept with its transfer, held back, for the reads that follow.
        whole_ = answer;
        length_ = whole;
        return true;
    }
    if (transfer_ == transfer) transfer_ = nullptr;
    if (failed_ || !result) {
        failLocked();
        return false;
    }
    length_ = static_cast<std::int64_t>(result->second);
    pieces_.push_back(Piece{first, std::move(result->first)});
    return true;
}
