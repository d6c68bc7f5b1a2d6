// What the engine asks of the device's advertising and tracking services, which may be absent.
#pragma once

#include <optional>
#include <string>

class APMIdentitySupport {
public:
    // The tracking-authorisation status is all ones when it cannot be read.
    static constexpr unsigned long kUnknownStatus = ~0UL;

    virtual ~APMIdentitySupport() = default;
    virtual bool hasAppDataConsentStatus() = 0;
    virtual unsigned long appDataConsentStatus() = 0;
    virtual bool hasLimitedAdTracking() = 0;
    virtual bool limitedAdTracking() = 0;
    virtual std::optional<std::string> resettableDeviceID() = 0;
};
