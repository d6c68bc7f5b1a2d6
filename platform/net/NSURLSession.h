// Sessions: make data and download tasks whose completion handlers run on the session's
// delegate queue.
#pragma once

#include "platform/foundation/Executor.h"
#include "platform/foundation/NSObject.h"
#include "platform/net/NSURLSessionDataTask.h"
#include "platform/net/NSURLSessionDownloadTask.h"

#include <atomic>
#include <memory>

class NSURL;
class NSURLRequest;
class NSURLSessionConfiguration;

class NSURLSession : public NSObject {
public:
    // Default configuration, handlers on a serial operation queue of its own.
    static std::shared_ptr<NSURLSession> sharedSession();
    // Handlers run on `delegateQueue` (a dispatch or operation queue); without one, on a new
    // serial operation queue.
    static std::shared_ptr<NSURLSession> sessionWithConfiguration(
        std::shared_ptr<NSURLSessionConfiguration> configuration, std::shared_ptr<Executor> delegateQueue = nullptr);

    const std::shared_ptr<NSURLSessionConfiguration>& configuration() const { return configuration_; }
    const std::shared_ptr<Executor>& delegateQueue() const { return queue_; }

    // Tasks are made suspended: resume() starts them.
    std::shared_ptr<NSURLSessionDataTask> dataTaskWithRequest(std::shared_ptr<NSURLRequest> request,
                                                              NSURLSessionDataTask::CompletionHandler completionHandler);
    std::shared_ptr<NSURLSessionDataTask> dataTaskWithURL(std::shared_ptr<NSURL> url,
                                                          NSURLSessionDataTask::CompletionHandler completionHandler);
    std::shared_ptr<NSURLSessionDownloadTask> downloadTaskWithRequest(
        std::shared_ptr<NSURLRequest> request, NSURLSessionDownloadTask::CompletionHandler completionHandler);

private:
    double idleTimeoutFor(const NSURLRequest& request) const;

    std::shared_ptr<NSURLSessionConfiguration> configuration_;
    std::shared_ptr<Executor> queue_;
    std::atomic<unsigned long> nextIdentifier_{1};
};
