// The record an analytics event travels in: origin, internal name, timestamps and its
// parameters (name -> APMValue), sanitised on creation, with the flags that ride in them and
// its message form for storage and upload.
#pragma once

#include "analytics/core/APMValue.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>

class APMPBEvent;
class APMPEvent;

class APMEvent : public NSObject {
public:
    // The time an event may have. A logged event's must be a valid one (isValidTimestamp). An
    // event a conditional user property carries is logged, when its moment comes, as a new
    // event at the trigger time or at that moment: its own time never reaches a bundle, and
    // needs only to fit the message's milliseconds (zero and negative times are kept).
    enum class Time { Logged, Carried };

    // Nil when the origin is neither a forwarded ("+gtm") nor an internal origin, when the
    // name is not a valid internal name (and, for a public event, a valid public name), or when
    // the timestamp is no valid one for `time` (16008). The parameters are sanitised (public
    // rules for a public event), "_o" is set to the origin, and "_c" is dropped when the
    // value-and-currency rule fails where it applies.
    [[nodiscard]] static std::shared_ptr<APMEvent> initWithOrigin(const std::string& origin, bool isPublic,
                                                                  const std::string& name, double timestamp,
                                                                  double previousTimestamp,
                                                                  const Value::Dictionary& parameters,
                                                                  Time time = Time::Logged);
    // A time an event can have: after 1970 by a millisecond or more (a bundle's end time must
    // be), and within what the message's int64 milliseconds hold (up to about 9.2e15 s). Not
    // finite, zero and negative times are none.
    static bool isValidTimestamp(double seconds);
    // Name, timestamps and string, int and double parameters of the message; "_o" must be a
    // string and becomes the origin, else nil (as is a time that is no valid one for `time`).
    [[nodiscard]] static std::shared_ptr<APMEvent> initWithEventProto(const std::shared_ptr<APMPBEvent>& proto,
                                                                      Time time = Time::Logged);
    // An event an editing program handed back, as an internal event: its internal name (when its
    // name is a public one that has one), origin from "_o" when that is a text (else "app"), its
    // time and parameters; nil when that is no valid event. Defined with the editing runtime,
    // which alone knows that event.
    [[nodiscard]] static std::shared_ptr<APMEvent> eventFromEditEvent(const APMPEvent& editEvent);

    // The event as an editing program sees it: its public name where it has one, its time, and
    // its parameters as the program's values. Defined with the editing runtime, as above.
    [[nodiscard]] std::shared_ptr<APMPEvent> editEvent() const;

    // New events of the same origin, name and times (but the one replaced), made as internal
    // events, so their parameters are sanitised again. The time is the original's, held to the
    // rule it was made under.
    [[nodiscard]] std::shared_ptr<APMEvent> copy() const;
    [[nodiscard]] std::shared_ptr<APMEvent> copyWithParameters(const Value::Dictionary& parameters) const;
    [[nodiscard]] std::shared_ptr<APMEvent> copyWithPreviousTimestamp(double previousTimestamp) const;

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const Value::Dictionary& parameters() const { return parameters_; }

    // "_c" is int64 1. Setting it needs the value-and-currency rule to pass, and clears an
    // "_err" of 10; clearing it records failure 10 ("ConversionEventLimitReached").
    bool isConversion() const;
    void setConversion(bool conversion);
    // "_r" is int64 1 (another kind logs 16006 and reads as not realtime).
    bool isRealtime() const;
    void setRealtime(bool realtime);
    // "_dbg" is int64 1.
    bool isDebug() const;
    void setDebug(bool debug);
    // Conversions and ad impressions must carry a valid value and currency.
    bool shouldValidateParams() const;

    // Default parameters, sanitised as public ones, under the event's own (which win).
    void applyParameters(const Value::Dictionary& defaultParameters);
    // Adds "_si" (int64, required) and "_sc"/"_sn" (valid screen texts, optional) unless the
    // event has screen parameters already; false when nothing was added.
    bool addScreenParameters(const Value::Dictionary& screenParameters);

    // The message form: name, times in truncated milliseconds (the previous one only when set),
    // and one parameter message per entry, array items nested one level.
    [[nodiscard]] std::shared_ptr<APMPBEvent> protoEvent() const;
    // The bytes of that message (without its name unless asked for), written straight from the
    // event: every stored event is encoded, and the message built first costs several times more.
    [[nodiscard]] NSData encodedProtoEvent(bool withName) const;

    APMEvent(std::string origin, std::string name, double timestamp, double previousTimestamp,
             Value::Dictionary parameters);

private:
    bool isInt64One(const char* parameter) const;
    void setInt64One(const char* parameter, bool on);

    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    Value::Dictionary parameters_;
};

// The fields of an event message that follow its parameters, as encodedProtoEvent writes them:
// the name (when given), the time and the previous time (when set), in milliseconds.
void APMAppendEventNameAndTimes(NSData& out, const std::string* name, double timestamp, double previousTimestamp);
// The name is "_err" (an empty name logs 18004 and is not).
bool APMIsErrorEvent(const APMEvent& event);
// "_assc", "_assr", and "_iap" whose "subscription" is int64 1.
bool APMIsSubscriptionEvent(const APMEvent& event);
// The items of all its array parameters.
std::int64_t APMCountArrayParameterItems(const APMEvent& event);
