// One button of an alert or action sheet: title, style and the handler that runs (once)
// when the button is tapped.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>

enum class UIAlertActionStyle : int { Default = 0, Cancel = 1, Destructive = 2 };

class UIAlertAction : public NSObject {
public:
    using Handler = std::function<void(const std::shared_ptr<UIAlertAction>&)>;

    static std::shared_ptr<UIAlertAction> actionWithTitle(const std::string& title, UIAlertActionStyle style,
                                                          Handler handler);

    const std::string& title() const { return title_; }
    UIAlertActionStyle style() const { return style_; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool hasHandler() const { return static_cast<bool>(handler_); }

    // Runs the handler the first time; false (and nothing runs) on later calls or when the
    // action is disabled.
    bool perform();
    bool wasPerformed() const { return performed_; }

    std::string description() const override;

private:
    std::string title_;
    UIAlertActionStyle style_ = UIAlertActionStyle::Default;
    Handler handler_;
    bool enabled_ = true;
    bool performed_ = false;
};
