// One request to the content server over the shared session.
#include "content/OERequest.h"

#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLSession.h"

#include <cstdio>
#include <cstdlib>

std::shared_ptr<OERequest> OERequest::initWithString(const std::string& string, std::uint64_t method) {
    return initWithURL(NSURL::URLWithString(string), method);
}

std::shared_ptr<OERequest> OERequest::initWithURL(std::shared_ptr<NSURL> url, std::uint64_t method) {
    if (!url) return nullptr;
    auto request = std::make_shared<OERequest>();
    request->url_ = std::move(url);
    request->method_ = method;
    request->session_ = NSURLSession::sharedSession();
    return request;
}

std::shared_ptr<NSURLSessionDataTask> OERequest::task() const {
    MutexLock lock(mutex_);
    return task_;
}

void OERequest::startWithCompletion(Completion completion) {
    if (!completion) {
        std::fprintf(stderr, "A server request was started without a completion.\n");
        std::abort();
    }
    auto request = NSMutableURLRequest::requestWithURL(url_);
    request->setHTTPMethod(methodName());
    request->setMaximumBodyLength(kMaximumReplyLength);
    auto task = session_->dataTaskWithRequest(
        request, [completion = std::move(completion)](const NSData& data,
                                                      const std::shared_ptr<NSHTTPURLResponse>& response,
                                                      const NSErrorPtr& error) {
            completion(data, response ? response->statusCode() : 0, error);
        });
    {
        MutexLock lock(mutex_);
        task_ = task;
    }
    task->resume();
}

void OERequest::cancel() {
    if (auto running = task()) running->cancel();
}

std::string OERequest::methodName() const {
    switch (method_) {
        case OERequestMethodDelete: return "DELETE";
        case OERequestMethodPost: return "POST";
        default: return "GET";
    }
}
