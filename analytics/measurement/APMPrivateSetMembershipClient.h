// What the engine asks of the optional private-set-membership component, found by the class
// name "APMPrivateSetMembershipClient": the object its registered class makes is initialised
// with the address, builds the request's URL and reads the answer.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class NSURL;

class APMPrivateSetMembershipClient {
public:
    static constexpr const char* kClassName = "APMPrivateSetMembershipClient";

    virtual ~APMPrivateSetMembershipClient() = default;
    // False when the client cannot work with them.
    virtual bool initWithEmailAddress(const std::string& emailAddress, const std::string& appID) = 0;
    // Empty when there is no URL to ask.
    virtual std::shared_ptr<NSURL> PSMRequestURLWithRetryCount(std::int32_t retryCount) = 0;
    // The match value; empty or none when there is no match.
    virtual std::optional<std::string> parsedPSMValueFromResponse(const NSData& response) = 0;
};
