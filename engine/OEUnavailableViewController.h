// What a menu row puts into the centre when its screen cannot be built (a content database in
// the home that cannot be opened): the row's title, the menu button and a sentence saying the
// screen cannot be opened, so that the person keeps a way back to the menu.
#pragma once

#include "config/OEColorConfig.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <string>

class UILabel;

class OEUnavailableViewController : public UIViewController {
public:
    static std::shared_ptr<OEUnavailableViewController> initWithTitle(const std::string& title,
                                                                      const std::string& message,
                                                                      OEColorConfig::Color background);

    const std::string& message() const { return message_; }
    std::shared_ptr<UILabel> messageLabel() const { return label_; }

    void viewDidLoad() override;

private:
    std::string message_;
    OEColorConfig::Color background_ = OEColorConfig::Color::groupTableViewBackground();
    std::shared_ptr<UILabel> label_;
};
