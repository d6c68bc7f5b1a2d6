// Two columns side by side: a primary screen on the left and a secondary one filling the rest;
// a single screen fills the whole view.
#pragma once

#include "platform/ui/UIViewController.h"

#include <memory>
#include <vector>

enum class UISplitViewControllerDisplayMode : int {
    Automatic = 0,       // both columns in landscape, the secondary alone in portrait
    PrimaryHidden = 1,
    AllVisible = 2,
    PrimaryOverlay = 3,  // the primary over the secondary
};

class UISplitViewController : public UIViewController {
public:
    static std::shared_ptr<UISplitViewController> make() { return std::make_shared<UISplitViewController>(); }

    // Primary first, then the secondary.
    const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return childViewControllers(); }
    // Replaces the columns.
    void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers);

    UISplitViewControllerDisplayMode preferredDisplayMode() const { return preferredDisplayMode_; }
    void setPreferredDisplayMode(UISplitViewControllerDisplayMode mode);
    // The mode in effect for the current width.
    UISplitViewControllerDisplayMode displayMode() const;

    static CGFloat primaryColumnWidth() { return 320; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(CGSize size,
                                  const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) override;

private:
    void layoutColumns();

    UISplitViewControllerDisplayMode preferredDisplayMode_ = UISplitViewControllerDisplayMode::Automatic;
};
