// An activity the system hands the application to continue: here a web page the user browsed
// to (a universal link) or an activity of the application's own type.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <optional>
#include <string>

inline const std::string NSUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";

class NSUserActivity : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<NSUserActivity> initWithActivityType(const std::string& activityType);

    const std::string& activityType() const { return activityType_; }
    // The page's absolute URL; none for an activity that is not a web page.
    const std::optional<std::string>& webpageURL() const { return webpageURL_; }
    void setWebpageURL(std::optional<std::string> url) { webpageURL_ = std::move(url); }

    std::string description() const override;

    explicit NSUserActivity(std::string activityType) : activityType_(std::move(activityType)) {}

private:
    std::string activityType_;
    std::optional<std::string> webpageURL_;
};
