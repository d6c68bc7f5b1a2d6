// Screens side by side behind tabs: every tab's controller is a child, and only the selected
// one shows its view and gets the appearance callbacks. No bar is drawn; a tab is chosen
// through the selection properties.
#pragma once

#include "platform/ui/UIViewController.h"

#include <cstddef>
#include <memory>
#include <vector>

class UITabBarController : public UIViewController {
public:
    static std::shared_ptr<UITabBarController> make() { return std::make_shared<UITabBarController>(); }

    // In tab order.
    const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return childViewControllers(); }
    // Replaces the tabs (duplicates and empty entries are left out). The selection stays on its
    // controller when it is still a tab, else moves to the first.
    void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated = false);

    // None while there are no tabs.
    std::shared_ptr<UIViewController> selectedViewController() const { return selected_; }
    // A controller that is not one of the tabs is refused.
    void setSelectedViewController(const std::shared_ptr<UIViewController>& controller);
    // NSNotFound while there are no tabs.
    std::size_t selectedIndex() const;
    // An index past the last tab is refused.
    void setSelectedIndex(std::size_t index);

    void loadView() override;
    void viewDidLoad() override;
    std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const override;

private:
    void show(const std::shared_ptr<UIViewController>& controller);
    void select(const std::shared_ptr<UIViewController>& controller);

    std::shared_ptr<UIViewController> selected_;
};
