// One screen the user looked at: the application's name for it, its class, an instance id
// unique within the process, and where it came from. Plus the parameters that describe a screen
// in events.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMScreen : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMScreen> initWithName(std::optional<std::string> name,
                                                                 std::optional<std::string> className,
                                                                 std::int64_t instanceID);

    const std::optional<std::string>& name() const { return name_; }
    // The screen's class (the object model's own className() names the C++ type).
    const std::optional<std::string>& screenClassName() const { return className_; }
    std::int64_t instanceID() const { return instanceID_; }
    // Attached to a view controller by the application's naming call.
    bool isManuallySet() const { return manuallySet_; }
    void setManuallySet(bool set) { manuallySet_ = set; }
    // From a logged "screen_view" event, at its time.
    bool isManuallyTracked() const { return manuallyTracked_; }
    void setManuallyTracked(bool tracked) { manuallyTracked_ = tracked; }
    double eventTimestamp() const { return eventTimestamp_; }
    void setEventTimestamp(double timestamp) { eventTimestamp_ = timestamp; }

    // Name, class and instance id only.
    std::shared_ptr<APMScreen> copy() const;

    APMScreen(std::optional<std::string> name, std::optional<std::string> className, std::int64_t instanceID)
        : name_(std::move(name)), className_(std::move(className)), instanceID_(instanceID) {}

private:
    std::optional<std::string> name_;
    std::optional<std::string> className_;
    std::int64_t instanceID_;
    bool manuallySet_ = false;
    bool manuallyTracked_ = false;
    double eventTimestamp_ = 0;
};

// "_si", then "_sc" when the class is valid (an empty class is logged and left out; an invalid
// one is logged and ends the dictionary there), then "_sn" when the name is valid. Empty for no
// screen.
Value::Dictionary APMScreenParametersForScreen(const std::shared_ptr<APMScreen>& screen);
// "_pi", "_pc" and "_pn" by the same checks, without messages.
Value::Dictionary APMPreviousScreenParametersForScreen(const std::shared_ptr<APMScreen>& screen);
