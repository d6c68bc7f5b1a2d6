// Session tasks: a transfer's reports become a completion handler run once on the session's
// queue; download tasks stream the body into a temporary file.
#include "platform/net/NSURLSessionDataTask.h"
#include "platform/net/NSURLSessionDownloadTask.h"

#include "platform/foundation/Sandbox.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLTransfer.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

// Holds its task for as long as the transfer runs, as the platform's sessions hold theirs.
class NSURLSessionTask::Client : public URLTransferClient {
public:
    explicit Client(std::shared_ptr<NSURLSessionTask> task) : task_(std::move(task)) {}

    void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) override {
        std::lock_guard lock(task_->mutex_);
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
    std::lock_guard lock(mutex_);
    return response_;
}

NSErrorPtr NSURLSessionTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

NSURLSessionTaskState NSURLSessionTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void NSURLSessionTask::resume() {
    std::shared_ptr<URLTransfer> transfer;
    {
        std::lock_guard lock(mutex_);
        if (started_) return;
        started_ = true;
        state_ = NSURLSessionTaskStateRunning;
        transfer_ = URLTransfer::make(*request_, idleTimeout_, std::make_shared<Client>(self<NSURLSessionTask>()));
        transfer = transfer_;
    }
    transfer->start();
}

void NSURLSessionTask::cancel() {
    std::shared_ptr<URLTransfer> transfer;
    {
        std::lock_guard lock(mutex_);
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
        std::lock_guard lock(mutex_);
        error_ = error;
        response = error ? nullptr : response_;
    }
    auto task = self<NSURLSessionTask>();
    queue_->post([task, response, error] {
        {
            std::lock_guard lock(task->mutex_);
            task->state_ = NSURLSessionTaskStateCompleted;
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
    if (file_) std::fclose(file_);
    if (!path_.empty()) unlink(path_.c_str());
}

bool NSURLSessionDownloadTask::openFile() {
    std::string pattern = Sandbox::tmp() + "/URLDownload_XXXXXX.tmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemps(buffer.data(), 4);
    if (fd < 0) return false;
    path_ = buffer.data();
    file_ = fdopen(fd, "wb");
    if (!file_) close(fd);
    return file_ != nullptr;
}

NSErrorPtr NSURLSessionDownloadTask::receiveData(const char* bytes, std::size_t size) {
    const std::string url = originalRequest()->URL() ? originalRequest()->URL()->absoluteString() : "";
    if (!file_ && !openFile()) return makeURLError(NSURLErrorCannotCreateFile, url, path_);
    if (std::fwrite(bytes, 1, size, file_) != size) return makeURLError(NSURLErrorCannotWriteToFile, url, path_);
    return nullptr;
}

void NSURLSessionDownloadTask::complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
    auto handler = std::move(handler_);
    handler_ = nullptr;
    NSErrorPtr failure = error;
    const std::string url = originalRequest()->URL() ? originalRequest()->URL()->absoluteString() : "";
    // An empty body still makes a file.
    if (!failure && !file_ && !openFile()) failure = makeURLError(NSURLErrorCannotCreateFile, url, path_);
    // Buffered bytes that cannot reach the disk are a failed download too.
    if (file_ && std::fclose(file_) != 0 && !failure) failure = makeURLError(NSURLErrorCannotWriteToFile, url, path_);
    file_ = nullptr;
    std::shared_ptr<NSURL> location = failure ? nullptr : NSURL::fileURLWithPath(path_);
    if (handler) handler(location, failure ? nullptr : response, failure);
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}
