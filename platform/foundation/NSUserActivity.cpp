// User activities.
#include "platform/foundation/NSUserActivity.h"

std::shared_ptr<NSUserActivity> NSUserActivity::initWithActivityType(const std::string& activityType) {
    return std::make_shared<NSUserActivity>(activityType);
}

std::string NSUserActivity::description() const {
    return "<NSUserActivity " + activityType_ + (webpageURL_ ? " " + *webpageURL_ : std::string()) + ">";
}
