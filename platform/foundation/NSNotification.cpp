// A posted notification: immutable once made.
#include "platform/foundation/NSNotification.h"

#include <cstdio>

NSNotification::NSNotification(std::string name, std::shared_ptr<NSObject> object, Value::Dictionary userInfo)
    : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}

std::shared_ptr<NSNotification> NSNotification::notificationWithName(std::string name,
                                                                     std::shared_ptr<NSObject> object,
                                                                     Value::Dictionary userInfo) {
    return std::shared_ptr<NSNotification>(
        new NSNotification(std::move(name), std::move(object), std::move(userInfo)));
}

std::string NSNotification::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    std::string text = "NSConcreteNotification " + std::string(address) + " {name = " + name_;
    if (object_) text += "; object = " + object_->description();
    if (!userInfo_.empty()) text += "; userInfo = " + Value(userInfo_).description();
    return text + "}";
}
