// A posted notification: its name, the sender (or none) and the user info.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class NSNotification : public NSObject {
public:
    static std::shared_ptr<NSNotification> notificationWithName(std::string name, std::shared_ptr<NSObject> object,
                                                                Value::Dictionary userInfo = {});

    const std::string& name() const { return name_; }
    const std::shared_ptr<NSObject>& object() const { return object_; }
    const Value::Dictionary& userInfo() const { return userInfo_; }

    std::string description() const override;

private:
    NSNotification(std::string name, std::shared_ptr<NSObject> object, Value::Dictionary userInfo);

    const std::string name_;
    const std::shared_ptr<NSObject> object_;
    const Value::Dictionary userInfo_;
};
