// Alerts and action sheets: a title, a message, text fields and ordered actions, shown by
// presenting the controller. Tapping an action (a test or the simulator does it) dismisses
// the alert and then runs the action's handler, once. While it is on screen it takes every
// touch (UIAlertModality).
#pragma once

#include "platform/ui/UIAlertAction.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UITextField;

enum class UIAlertControllerStyle : int { ActionSheet = 0, Alert = 1 };

class UIAlertController : public UIViewController {
public:
    static std::shared_ptr<UIAlertController> alertControllerWithTitle(const std::string& title,
                                                                       const std::string& message,
                                                                       UIAlertControllerStyle style);
    UIAlertController();
    ~UIAlertController() override;

    const std::string& message() const { return message_; }
    void setMessage(const std::string& message) { message_ = message; }
    UIAlertControllerStyle preferredStyle() const { return style_; }

    // In the order added. A second cancel action is refused, as the platform refuses it.
    void addAction(const std::shared_ptr<UIAlertAction>& action);
    const std::vector<std::shared_ptr<UIAlertAction>>& actions() const { return actions_; }
    std::shared_ptr<UIAlertAction> preferredAction() const { return preferred_; }
    void setPreferredAction(const std::shared_ptr<UIAlertAction>& action) { preferred_ = action; }

    // While the alert shows, the button that answers with the action at `index`; empty before
    // its view is made or for no such action.
    std::shared_ptr<UIView> viewForActionAtIndex(std::size_t index) const;

    // Alerts only: a new text field, configured by `configuration`. The first field takes the
    // typing when the alert appears, as on the platform.
    void addTextFieldWithConfigurationHandler(std::function<void(const std::shared_ptr<UITextField>&)> configuration);
    const std::vector<std::shared_ptr<UITextField>>& textFields() const { return textFields_; }

    // Taps the action at `index` (or with `title`): the alert is dismissed without animation
    // and the handler runs once. False when there is no such enabled action or the alert was
    // already answered.
    bool tapActionAtIndex(std::size_t index);
    bool tapActionWithTitle(const std::string& title);

    void loadView() override;
    // From appearing to disappearing the alert is modal (UIAlertModality).
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

private:
    std::string message_;
    UIAlertControllerStyle style_ = UIAlertControllerStyle::Alert;
    std::vector<std::shared_ptr<UIAlertAction>> actions_;
    std::shared_ptr<UIAlertAction> preferred_;
    std::vector<std::shared_ptr<UITextField>> textFields_;
    std::vector<std::shared_ptr<UIView>> actionViews_;
    bool answered_ = false;
};
