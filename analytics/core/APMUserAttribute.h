// A user property as the engine keeps and stores it: origin, validated name and value, and
// the time it was set; it turns itself into its upload message.
#pragma once

#include "analytics/core/APMValue.h"
#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class APMPBUserAttribute;

class APMUserAttribute : public NSObject {
public:
    // Nil unless the name and then the value pass the internal user-property checks.
    [[nodiscard]] static std::shared_ptr<APMUserAttribute> initWithOrigin(const std::string& origin,
                                                                          const std::string& name,
                                                                          const std::shared_ptr<APMValue>& value,
                                                                          double lastSetTimestamp);

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    const std::shared_ptr<APMValue>& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }
    // A non-empty name not beginning with "_".
    bool isPublic() const;
    // Name, one value field by kind (none for arrays) and the time in truncated milliseconds.
    [[nodiscard]] std::shared_ptr<APMPBUserAttribute> protoUserAttribute() const;

    APMUserAttribute(std::string origin, std::string name, std::shared_ptr<APMValue> value, double lastSetTimestamp);

private:
    std::string origin_;
    std::string name_;
    std::shared_ptr<APMValue> value_;
    double lastSetTimestamp_ = 0;
};
