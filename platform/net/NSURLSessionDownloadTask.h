// A task that writes the body to a file under the sandbox's tmp folder as it arrives.
#pragma once

#include "platform/net/NSURLSessionTask.h"

#include <functional>
#include <memory>
#include <string>

class FileIO;
class NSURL;

class NSURLSessionDownloadTask : public NSURLSessionTask {
public:
    // `location` is the file URL of the complete body, removed when the handler returns: move
    // it to keep it. On failure the location and the response are null and no file is left.
    using CompletionHandler = std::function<void(const std::shared_ptr<NSURL>& location,
                                                 const std::shared_ptr<NSHTTPURLResponse>& response,
                                                 const NSErrorPtr& error)>;
    ~NSURLSessionDownloadTask() override;

private:
    friend class NSURLSession;
    NSURLSessionDownloadTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request, double idleTimeout,
                             std::shared_ptr<Executor> queue, CompletionHandler handler);
    NSErrorPtr receiveData(const char* bytes, std::size_t size) override;
    void complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) override;
    bool openFile();
    // Closes the file; 0 or the errno of a failed close.
    int closeFile();

    CompletionHandler handler_;
    // The network thread's until completion. The file system that made the file serves it to the end.
    std::shared_ptr<FileIO> io_;
    std::string path_;
    int fd_ = -1;
};
