// A task that collects the body in memory and hands it to its completion handler.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/net/NSURLSessionTask.h"

#include <functional>

class NSURLSessionDataTask : public NSURLSessionTask {
public:
    // On success any HTTP status comes with its body; on failure the data is empty and the
    // response null.
    using CompletionHandler =
        std::function<void(const NSData& data, const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error)>;

private:
    friend class NSURLSession;
    NSURLSessionDataTask(unsigned long identifier, std::shared_ptr<NSURLRequest> request, double idleTimeout,
                         std::shared_ptr<Executor> queue, CompletionHandler handler);
    NSErrorPtr receiveData(const char* bytes, std::size_t size) override;
    void complete(const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) override;

    CompletionHandler handler_;
    NSData data_;  // the network thread's until completion
};
