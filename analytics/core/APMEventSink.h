// Where the measurement side's own components hand the events and user properties they make.
// The engine implements it and hands it to the libraries below it (audiences and conditional
// user properties, the automatic reporters); once the engine is gone it drops what it is given.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class APMEvent;

class APMEventSink {
public:
    virtual ~APMEventSink() = default;

    // The engine exists and collects.
    virtual bool isEnabled() = 0;
    // Through the front's queue as an internal event of `origin` ("auto", "am"), stamped as it
    // is handed in, or at `timestamp` (seconds since 1970).
    virtual void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                            const Value::Dictionary& parameters) = 0;
    virtual void logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                            const Value::Dictionary& parameters) = 0;
    // Through the front's queue; a null value removes the property.
    virtual void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) = 0;
    // On the engine's worker queue only: straight into the write pipeline, past the front and
    // its checks.
    virtual void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event) = 0;
};
