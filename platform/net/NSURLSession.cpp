// Sessions and their configurations.
#include "platform/net/NSURLSession.h"

#include "platform/dispatch/NSOperationQueue.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/NSURLSessionConfiguration.h"

std::shared_ptr<NSURLSessionConfiguration> NSURLSessionConfiguration::defaultSessionConfiguration() {
    return std::make_shared<NSURLSessionConfiguration>();
}

std::shared_ptr<NSURLSessionConfiguration> NSURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(
    const std::string& identifier) {
    auto configuration = std::make_shared<NSURLSessionConfiguration>();
    configuration->identifier_ = identifier;
    return configuration;
}

std::shared_ptr<NSURLSession> NSURLSession::sharedSession() {
    // Never destroyed: its handlers may still be running while the process exits.
    static auto* shared = new std::shared_ptr<NSURLSession>(
        sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration()));
    return *shared;
}

std::shared_ptr<NSURLSession> NSURLSession::sessionWithConfiguration(
    std::shared_ptr<NSURLSessionConfiguration> configuration, std::shared_ptr<Executor> delegateQueue) {
    auto session = std::make_shared<NSURLSession>();
    session->configuration_ = configuration ? std::move(configuration)
                                            : NSURLSessionConfiguration::defaultSessionConfiguration();
    if (!delegateQueue) {
        auto queue = NSOperationQueue::make();
        queue->setMaxConcurrentOperationCount(1);
        delegateQueue = queue;
    }
    session->queue_ = std::move(delegateQueue);
    return session;
}

double NSURLSession::idleTimeoutFor(const NSURLRequest& request) const {
    return request.hasExplicitTimeoutInterval() ? request.timeoutInterval() : configuration_->timeoutIntervalForRequest();
}

std::shared_ptr<NSURLSessionDataTask> NSURLSession::dataTaskWithRequest(
    std::shared_ptr<NSURLRequest> request, NSURLSessionDataTask::CompletionHandler completionHandler) {
    const double timeout = idleTimeoutFor(*request);
    return std::shared_ptr<NSURLSessionDataTask>(new NSURLSessionDataTask(
        nextIdentifier_++, std::move(request), timeout, queue_, std::move(completionHandler)));
}

std::shared_ptr<NSURLSessionDataTask> NSURLSession::dataTaskWithURL(
    std::shared_ptr<NSURL> url, NSURLSessionDataTask::CompletionHandler completionHandler) {
    return dataTaskWithRequest(NSURLRequest::requestWithURL(std::move(url)), std::move(completionHandler));
}

std::shared_ptr<NSURLSessionDownloadTask> NSURLSession::downloadTaskWithRequest(
    std::shared_ptr<NSURLRequest> request, NSURLSessionDownloadTask::CompletionHandler completionHandler) {
    const double timeout = idleTimeoutFor(*request);
    return std::shared_ptr<NSURLSessionDownloadTask>(new NSURLSessionDownloadTask(
        nextIdentifier_++, std::move(request), timeout, queue_, std::move(completionHandler)));
}
