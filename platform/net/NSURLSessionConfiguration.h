// How a session loads: its request time-out and, for background sessions, their identifier.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/net/NSURLRequest.h"

#include <memory>
#include <string>

class NSURLSessionConfiguration : public NSObject {
public:
    static std::shared_ptr<NSURLSessionConfiguration> defaultSessionConfiguration();
    // Background sessions run here as ordinary ones: their tasks end with the process.
    static std::shared_ptr<NSURLSessionConfiguration> backgroundSessionConfigurationWithIdentifier(
        const std::string& identifier);

    // "" for a default configuration.
    const std::string& identifier() const { return identifier_; }
    // The idle time-out of tasks whose request leaves its own at the default.
    double timeoutIntervalForRequest() const { return timeoutForRequest_; }
    void setTimeoutIntervalForRequest(double seconds) { timeoutForRequest_ = seconds; }

private:
    std::string identifier_;
    double timeoutForRequest_ = NSURLRequest::defaultTimeoutInterval;
};
