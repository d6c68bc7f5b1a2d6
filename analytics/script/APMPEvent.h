// An event as editing programs see it: a name, a timestamp in the caller's unit and parameters
// as plain objects (strings, numbers, arrays, dictionaries).
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class APMPEvent : public NSObject {
public:
    // Keeps a copy of the parameters.
    static std::shared_ptr<APMPEvent> initWithName(const std::string& name, double timestamp,
                                                   const Value::Dictionary& parameters);

    const std::string& name() const { return name_; }
    void setName(const std::string& name) { name_ = name; }
    double timestamp() const { return timestamp_; }
    const Value::Dictionary& parameters() const { return parameters_; }
    // A null value when absent.
    const Value& parameterForName(const std::string& name) const { return parameters_.get(name); }
    // A null value removes the parameter.
    void setParameter(const Value& value, const std::string& name);
    bool hasParameterName(const std::string& name) const { return parameters_.contains(name); }

    std::shared_ptr<APMPEvent> copy() const;
    // The same name and parameters, and timestamps less than one double epsilon apart.
    bool isEqualToEvent(const APMPEvent& other) const;
    bool isEqual(const NSObject* other) const override;
    std::string description() const override;

    APMPEvent(std::string name, double timestamp, Value::Dictionary parameters);

private:
    std::string name_;
    double timestamp_ = 0;
    Value::Dictionary parameters_;
};
