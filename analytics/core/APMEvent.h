// The record an analytics event travels in: origin, internal name, timestamps and its
// parameters (name -> APMValue), with its message form for storage and upload.
#pragma once

#include "analytics/core/APMValue.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class APMPBEvent;

class APMEvent : public NSObject {
public:
    // Nil when the origin is neither a forwarded ("+gtm") nor an internal origin, or when the
    // name is not a valid internal name (and, for a public event, a valid public name).
    // Parameters are name -> APMValue objects; "_o" is set to the origin.
    [[nodiscard]] static std::shared_ptr<APMEvent> initWithOrigin(const std::string& origin, bool isPublic,
                                                                  const std::string& name, double timestamp,
                                                                  double previousTimestamp,
                                                                  const Value::Dictionary& parameters);
    // Name, timestamps and string, int and double parameters of the message; "_o" must be a
    // string and becomes the origin, else nil.
    [[nodiscard]] static std::shared_ptr<APMEvent> initWithEventProto(const std::shared_ptr<APMPBEvent>& proto);

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const Value::Dictionary& parameters() const { return parameters_; }
    bool isRealtime() const;
    // The message form: name, times in truncated milliseconds (the previous one only when set),
    // and one parameter message per entry, array items nested one level.
    [[nodiscard]] std::shared_ptr<APMPBEvent> protoEvent() const;

    APMEvent(std::string origin, std::string name, double timestamp, double previousTimestamp,
             Value::Dictionary parameters);

private:
    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    Value::Dictionary parameters_;
};
