// Local files through the file-system interface; HTTP bodies through the network layer's
// transfers into a buffer that readers wait on.
#include "platform/media/MediaByteSource.h"

#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/AVError.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLTransfer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <vector>

namespace {

class FileByteSource final : public MediaByteSource {
public:
    // Only a regular file is media: a FIFO or a device is never opened.
    static std::shared_ptr<FileByteSource> open(const std::string& path, NSErrorPtr* error) {
        auto io = FileIO::current();
        struct stat info {};
        int fd = -1;
        if (int err = file_detail::openRegular(*io, path, fd, info)) {
            setError(error, NSError::posix(err, path));
            return nullptr;
        }
        auto source = std::shared_ptr<FileByteSource>(new FileByteSource());
        source->path_ = path;
        source->length_ = static_cast<std::uint64_t>(info.st_size);
        MutexLock lock(source->mutex_);
        source->io_ = std::move(io);
        source->fd_ = fd;
        return source;
    }

    ~FileByteSource() override { close(); }

    long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        MutexLock lock(mutex_);
        if (fd_ < 0) return -1;
        if (offset >= length_) return 0;
        std::size_t got = 0;
        if (int err = io_->readAt(fd_, offset, buffer, size, got)) {
            error_ = NSError::posix(err, path_);
            return -1;
        }
        return static_cast<long>(got);
    }
    std::int64_t length() const override { return static_cast<std::int64_t>(length_); }
    std::uint64_t received() const override { return length_; }
    bool isComplete() const override { return true; }
    NSErrorPtr error() const override {
        MutexLock lock(mutex_);
        return error_;
    }
    void close() override {
        MutexLock lock(mutex_);
        if (fd_ >= 0) (void)io_->close(fd_);
        fd_ = -1;
    }
    void setProgressHandler(std::function<void()>) override {}

private:
    FileByteSource() = default;
    mutable Mutex mutex_;
    std::shared_ptr<FileIO> io_ GUARDED_BY(mutex_);
    int fd_ GUARDED_BY(mutex_) = -1;
    std::string path_;  // these two are set once, before the source is shared
    std::uint64_t length_ = 0;
    NSErrorPtr error_ GUARDED_BY(mutex_);
};

// The body of one GET, kept whole from its first byte within the limits: its head in memory,
// the rest in an unlinked temporary file, and no more than the bound in all.
class HTTPByteSource final : public MediaByteSource, public std::enable_shared_from_this<HTTPByteSource> {
public:
    static std::shared_ptr<HTTPByteSource> open(const std::shared_ptr<NSURL>& url, const MediaByteLimits& limits) {
        auto source = std::shared_ptr<HTTPByteSource>(new HTTPByteSource());
        source->url_ = url->absoluteString();
        source->limits_ = limits;
        if (source->limits_.spillFolder.empty()) source->limits_.spillFolder = Sandbox::tmp();
        // The network layer keeps to the bound: a longer declared length fails before the body.
        auto request = NSURLRequest::requestWithURL(url)->mutableCopy();
        request->setMaximumBodyLength(limits.maximumBytes);
        auto client = std::make_shared<Client>(source);
        auto transfer = URLTransfer::make(*request, 0, client);
        {
            MutexLock lock(source->mutex_);
            source->transfer_ = transfer;
        }
        transfer->start();
        return source;
    }

    ~HTTPByteSource() override {
        close();
        if (spill_ >= 0) (void)io_->close(spill_);
    }

    long read(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) override {
        MutexLock lock(mutex_);
        auto ready = [&]() REQUIRES(mutex_) { return offset < received_ || finished_; };
        if (!ready()) {
            // A waiting decoder does not hold the manual clock back: the bytes come from the network.
            // The scope is entered and left without the lock, which its check takes.
            lock.unlock();
            {
                DispatchQuiescence::BlockedScope blocked([&] {
                    MutexLock check(mutex_);
                    return ready();
                });
                MutexLock wait(mutex_);
                wait.wait(arrived_, ready);
            }
            lock.lock();
        }
        if (offset < bytes_.size()) {
            const std::size_t count = std::min<std::size_t>(size, bytes_.size() - offset);
            std::memcpy(buffer, bytes_.data() + offset, count);
            return static_cast<long>(count);
        }
        if (offset < received_) {
            std::size_t got = 0;
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(size, received_ - offset));
            if (int err = io_->readAt(spill_, offset - bytes_.size(), buffer, count, got); err || got == 0) {
                // Even a complete body fails now: its bytes cannot be read back.
                finished_ = true;
                if (!error_) error_ = NSError::posix(err ? err : EIO, spillPath_);
                return -1;
            }
            return static_cast<long>(got);
        }
        return error_ ? -1 : 0;
    }
    std::int64_t length() const override {
        MutexLock lock(mutex_);
        if (finished_ && !error_) return static_cast<std::int64_t>(received_);
        return expected_;
    }
    std::uint64_t received() const override {
        MutexLock lock(mutex_);
        return received_;
    }
    bool isComplete() const override {
        MutexLock lock(mutex_);
        return finished_ && !error_;
    }
    NSErrorPtr error() const override {
        MutexLock lock(mutex_);
        return error_;
    }
    void close() override {
        std::shared_ptr<URLTransfer> transfer;
        {
            MutexLock lock(mutex_);
            transfer = std::move(transfer_);
            if (!finished_) {
                finished_ = true;
                error_ = makeURLError(NSURLErrorCancelled, url_);
            }
            handler_ = nullptr;
        }
        arrived_.notify_all();
        DispatchQuiescence::changed();
        if (transfer) transfer->cancel(makeURLError(NSURLErrorCancelled, url_));
    }
    void setProgressHandler(std::function<void()> handler) override {
        MutexLock lock(mutex_);
        handler_ = std::move(handler);
    }

private:
    // Holds the source weakly: the transfer keeps its client until it completes.
    struct Client final : URLTransferClient {
        explicit Client(const std::shared_ptr<HTTPByteSource>& source) : source(source) {}
        void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
            if (auto s = source.lock()) s->receivedResponse(*response);
        }
        NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
            if (auto s = source.lock()) return s->receivedData(bytes, size);
            return makeURLError(NSURLErrorCancelled, "");
        }
        void transferCompleted(NSErrorPtr error) override {
            if (auto s = source.lock()) s->completed(std::move(error));
        }
        std::weak_ptr<HTTPByteSource> source;
    };

    HTTPByteSource() = default;

    void receivedResponse(const NSHTTPURLResponse& response) {
        MutexLock lock(mutex_);
        status_ = response.statusCode();
        expected_ = response.expectedContentLength() >= 0 ? response.expectedContentLength() : -1;
    }
    NSErrorPtr receivedData(const char* bytes, std::size_t size) {
        NSErrorPtr failure;
        {
            MutexLock lock(mutex_);
            if (finished_) return error_;
            // The body of an error status is no media: keep none of it.
            if (status_ >= 400) return nullptr;
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes);
            const std::size_t inMemory =
                received_ < limits_.memoryBytes
                    ? static_cast<std::size_t>(std::min<std::uint64_t>(size, limits_.memoryBytes - received_))
                    : 0;
            bytes_.insert(bytes_.end(), data, data + inMemory);
            received_ += inMemory;
            if (inMemory < size) {
                failure = spillLocked(data + inMemory, size - inMemory);
                if (failure) failLocked(failure);
            }
        }
        arrived_.notify_all();
        DispatchQuiescence::changed();
        notify();
        // Stops the transfer: the bytes have nowhere to go.
        return failure;
    }
    void completed(NSErrorPtr error) {
        {
            MutexLock lock(mutex_);
            if (finished_) return;
            finished_ = true;
            if (!error && status_ >= 400) error = media_detail::statusError(status_);
            if (!error && expected_ >= 0 && static_cast<std::int64_t>(received_) < expected_)
                error = makeURLError(NSURLErrorNetworkConnectionLost, url_);
            error_ = std::move(error);
        }
        arrived_.notify_all();
        DispatchQuiescence::changed();
        notify();
    }
    // Appends past the memory budget to the temporary file, made on first use and unlinked at
    // once, so that nothing of it outlives the source.
    NSErrorPtr spillLocked(const std::uint8_t* data, std::size_t size) REQUIRES(mutex_) {
        if (!io_) io_ = FileIO::current();
        if (spill_ < 0) {
            static std::atomic<unsigned long> made{0};
            spillPath_ = limits_.spillFolder + "/media-" + std::to_string(::getpid()) + "-" + std::to_string(++made) +
                         ".part";
            if (int err = io_->open(spillPath_, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600, spill_)) {
                spill_ = -1;
                return NSError::posix(err, spillPath_);
            }
            (void)io_->remove(spillPath_);
            // The head is whole: what its growth reserved beyond the budget goes back.
            bytes_.shrink_to_fit();
        }
        if (int err = io_->writeAt(spill_, received_ - bytes_.size(), data, size)) return NSError::posix(err, spillPath_);
        received_ += size;
        return nullptr;
    }
    void failLocked(NSErrorPtr error) REQUIRES(mutex_) {
        if (finished_) return;
        finished_ = true;
        error_ = std::move(error);
    }
    void notify() {
        std::function<void()> handler;
        {
            MutexLock lock(mutex_);
            handler = handler_;
        }
        if (handler) handler();
    }

    mutable Mutex mutex_;
    std::condition_variable arrived_;
    std::string url_;  // these two are set once, before the source is shared
    MediaByteLimits limits_;
    std::shared_ptr<URLTransfer> transfer_ GUARDED_BY(mutex_);
    std::vector<std::uint8_t> bytes_ GUARDED_BY(mutex_);  // the head of the body, up to the memory budget
    std::uint64_t received_ GUARDED_BY(mutex_) = 0;       // in memory and in the temporary file
    std::shared_ptr<FileIO> io_ GUARDED_BY(mutex_);
    int spill_ GUARDED_BY(mutex_) = -1;
    std::string spillPath_ GUARDED_BY(mutex_);
    long status_ GUARDED_BY(mutex_) = 0;
    std::int64_t expected_ GUARDED_BY(mutex_) = -1;
    bool finished_ GUARDED_BY(mutex_) = false;
    NSErrorPtr error_ GUARDED_BY(mutex_);
    std::function<void()> handler_ GUARDED_BY(mutex_);
};

}  // namespace

NSErrorPtr media_detail::statusError(long status) {
    Value::Dictionary info;
    info.set(NSLocalizedDescriptionKey, Value("Server returned status code " + std::to_string(status)));
    return NSError::errorWithDomain(NSOSStatusErrorDomain, status, info);
}

std::shared_ptr<MediaByteSource> MediaByteSource::open(const NSURL& url, NSErrorPtr* error,
                                                       const MediaByteLimits& limits) {
    if (url.isFileURL()) return FileByteSource::open(url.path(), error);
    if (url.scheme() == "http" || url.scheme() == "https") {
        auto copy = NSURL::URLWithString(url.absoluteString());
        if (copy) return HTTPByteSource::open(copy, limits);
    }
    setError(error, makeURLError(NSURLErrorUnsupportedURL, url.absoluteString()));
    return nullptr;
}
