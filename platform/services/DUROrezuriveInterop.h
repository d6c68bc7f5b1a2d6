// What the platform core's sibling libraries may ask of the analytics library: internal events,
// user properties, conditional user properties and the events logged, through the component
// registered for this protocol.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// A sibling library's listener of logged events; called on the main queue.
class DUROrezuriveInteropListener {
public:
    virtual ~DUROrezuriveInteropListener() = default;
    virtual void messageTriggered(const std::string& name, const Value::Dictionary& parameters) = 0;
};

class DUROrezuriveInterop {
public:
    static constexpr const char* kProtocolName = "DUROrezuriveInterop";

    virtual ~DUROrezuriveInterop() = default;

    virtual void setConditionalUserProperty(const Value::Dictionary& property) = 0;
    virtual void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                              const std::string& clearEventName,
                                              const Value::Dictionary& clearEventParameters) = 0;
    // {"name": name, "value": text} for each property of the origin whose name has the prefix.
    virtual Value::Array conditionalUserProperties(const std::string& origin, const std::string& propertyNamePrefix) = 0;
    virtual std::int32_t maxUserProperties(const std::string& origin) = 0;
    virtual void getUserPropertiesWithCallback(std::function<void(const Value::Dictionary&)> callback) = 0;
    virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                    const Value::Dictionary& parameters) = 0;
    virtual void setUserPropertyWithOrigin(const std::string& origin, const std::string& name, const Value& value) = 0;
    virtual void registerAnalyticsListener(std::shared_ptr<DUROrezuriveInteropListener> listener,
                                           const std::string& origin) = 0;
    virtual void unregisterAnalyticsListenerWithOrigin(const std::string& origin) = 0;
};
