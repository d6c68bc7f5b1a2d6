// Session tasks: a transfer's reports become a completion handler run once on the session's
// queue; download tasks stream the body into a temporary file.
#include "platform/net/NSURLSessionDataTask.h"
#include "platform/net/NSURLSessionDownloadTask.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLTransfer.h"

#include <cstdint>

// Holds its task for as long as the transfer runs, as the platform's sessions hold theirs.
class NSURLSessionTask::Client : public URLTransferClient {
public:
    explicit Client(std::shared_ptr<NSURLSessionTask> task) : task_(std::move(task)) {}

    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
        MutexLock lock(task_->mutex_);
        task_->response_ = response;
    }
    NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) override {
        NSErrorPtr error = task_->receiveData(bytes, size);
        if (!error) task_->received_ += static_cast<std::int64_t>(size);
        return error;
    }
    void transferCompleted(NSErrorPtr error) override { task_->finish(std::move(error)); }

private:
    const std::shared_ptr<NSURLSessionTask> task_;
};

NSURLSessionTask::NSURLSessionTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request, double idleTimeout,
                                   std::shared_ptr<Executor> queue)
    : identifier_(identifier), request_(std::move(request)), idleTimeout_(idleTimeout), queue_(std::move(queue)) {}

std::shared_ptr<NSHTTPURLResponse> NSURLSessionTask::response() const {
    MutexLock lock(mutex_);
    return response_;
}

NSErrorPtr NSURLSessionTask::error() const {
    MutexLock lock(mutex_);
    return error_;
}

std::uint64_t NSURLSessionTask::countOfBytesTransferred() const {
    MutexLock lock(mutex_);
    return transfer_ ? transfer_->countOfBytesTransferred() : bytesTransferred_;
}

long NSURLSessionTask::receivedStatusCode() const {
    MutexLock lock(mutex_);
    return transfer_ ? transfer_->receivedStatusCode() : receivedStatusCode_;
}

NSURLSessionTaskState NSURLSessionTask::state() const {
    MutexLock lock(mutex_);
    return state_;
}

void NSURLSessionTask::resume() {
    {
        MutexLock lock(mutex_);
        if (started_) return;
        started_ = true;
        state_ = NSURLSessionTaskStateRunning;
    }
    // Made out of the lock, which the transfer's reports take.
    auto transfer = URLTransfer::make(*request_, idleTimeout_, std::make_shared<Client>(self<NSURLSessionTask>()));
    {
        MutexLock lock(mutex_);
        // A cancel came meanwhile and has finished the task: the transfer never starts.
        if (state_ != NSURLSessionTaskStateRunning) return;
        transfer_ = transfer;
    }
    transfer->start();
}

void NSURLSessionTask::cancel() {
    std::shared_ptr<URLTransfer> transfer;
    {
        MutexLock lock(mutex_);
        if (state_ == NSURLSessionTaskStateCompleted || state_ == NSURLSessionTaskStateCanceling) return;
        state_ = NSURLSessionTaskStateCanceling;
        started_ = true;
        transfer = transfer_;
    }
    auto cancelled = makeURLError(NSURLErrorCancelled, request_->URL() ? request_->URL()->absoluteString() : "");
    if (transfer) transfer->cancel(std::move(cancelled));
    else finish(std::move(cancelled));  // never resumed: the handler still runs once
}

void NSURLSessionTask::finish(NSErrorPtr error) {
    std::shared_ptr<NSHTTPURLResponse> response;
    {
        MutexLock lock(mutex_);
        error_ = error;
        response = error ? nullptr : response_;
    }
    auto task = self<NSURLSessionTask>();
    queue_->post([task, response, error] {
        {
            MutexLock lock(task->mutex_);
            task->state_ = NSURLSessionTaskStateCompleted;
            if (task->transfer_) {
                task->bytesTransferred_ = task->transfer_->countOfBytesTransferred();
                task->receivedStatusCode_ = task->transfer_->receivedStatusCode();
            }
            task->transfer_.reset();
        }
        task->complete(response, error);
    });
}

NSURLSessionDataTask::NSURLSessionDataTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request,
                                           double idleTimeout, std::shared_ptr<Executor> queue, CompletionHandler handler)
    : NSURLSessionTask(identifier, std::move(request), idleTimeout, std::move(queue)), handler_(std::move(handler)) {}

NSErrorPtr NSURLSessionDataTask::receiveData(const char* bytes, std::size_t size) {
    data_.insert(data_.end(), bytes, bytes + size);
    return nullptr;
}

void NSURLSessionDataTask::complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
    auto handler = std::move(handler_);
    handler_ = nullptr;
    NSData data = error ? NSData() : std::move(data_);
    data_.clear();
    if (handler) handler(data, response, error);
}

NSURLSessionDownloadTask::NSURLSessionDownloadTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request,
                                                   double idleTimeout, std::shared_ptr<Executor> queue,
                                                   CompletionHandler handler)
    : NSURLSessionTask(identifier, std::move(request), idleTimeout, std::move(queue)), handler_(std::move(handler)) {}

NSURLSessionDownloadTask::~NSURLSessionDownloadTask() {
    // Completion never came (the process is ending): nothing is left behind.
    (void)closeFile();
    if (!path_.empty()) (void)io_->remove(path_);
}

bool NSURLSessionDownloadTask::openFile() {
    io_ = FileIO::current();
    return io_->createUnique(Sandbox::tmp() + "/URLDownload_", ".tmp", fd_, path_) == 0;
}

int NSURLSessionDownloadTask::closeFile() {
    if (fd_ < 0) return 0;
    const int err = io_->close(fd_);
    fd_ = -1;
    return err;
}

NSErrorPtr NSURLSessionDownloadTask::receiveData(const char* bytes, std::size_t size) {
    const std::string url = originalRequest()->URL() ? originalRequest()->URL()->absoluteString() : "";
    if (fd_ < 0 && !openFile()) return makeURLError(NSURLErrorCannotCreateFile, url, path_);
    if (io_->write(fd_, reinterpret_cast<const std::uint8_t*>(bytes), size) != 0)
        return makeURLError(NSURLErrorCannotWriteToFile, url, path_);
    return nullptr;
}

void NSURLSessionDownloadTask::complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
    auto handler = std::move(handler_);
    handler_ = nullptr;
    NSErrorPtr failure = error;
    const std::string url = originalRequest()->URL() ? originalRequest()->URL()->absoluteString() : "";
    // An empty body still makes a file.
    if (!failure && fd_ < 0 && path_.empty() && !openFile()) failure = makeURLError(NSURLErrorCannotCreateFile, url, path_);
    // Bytes that cannot reach the disk are a failed download too.
    if (closeFile() != 0 && !failure) failure = makeURLError(NSURLErrorCannotWriteToFile, url, path_);
    std::shared_ptr<NSURL> location = failure ? nullptr : NSURL::fileURLWithPath(path_);
    if (handler) handler(location, failure ? nullptr : response, failure);
    if (!path_.empty()) (void)io_->remove(path_);
    path_.clear();
}
