// A stack of screens with a navigation bar on top and an optional toolbar below: push, pop,
// pop to root and replace, with the appearance callbacks of the screens going and coming.
#pragma once

#include "platform/ui/UIViewController.h"

#include <memory>
#include <vector>

class UINavigationBar;
class UISearchBar;
class UISearchController;
class UINavigationController;
class UIToolbar;

class UINavigationControllerDelegate {
public:
    virtual ~UINavigationControllerDelegate() = default;
    virtual void navigationControllerWillShowViewController(UINavigationController&,
                                                            const std::shared_ptr<UIViewController>&, bool) {}
    virtual void navigationControllerDidShowViewController(UINavigationController&,
                                                           const std::shared_ptr<UIViewController>&, bool) {}
};

class UINavigationController : public UIViewController {
public:
    static std::shared_ptr<UINavigationController> make() { return std::make_shared<UINavigationController>(); }
    static std::shared_ptr<UINavigationController> initWithRootViewController(
        const std::shared_ptr<UIViewController>& root);
    UINavigationController();

    // Bottom to top.
    const std::vector<std::shared_ptr<UIViewController>>& viewControllers() const { return childViewControllers(); }
    void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers, bool animated = false);
    std::shared_ptr<UIViewController> topViewController() const;
    // The top screen, or what it presents.
    std::shared_ptr<UIViewController> visibleViewController() const;

    // Pushing a screen that is already on a stack is refused.
    virtual void pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated);
    // None when only the root is left.
    virtual std::shared_ptr<UIViewController> popViewControllerAnimated(bool animated);
    std::vector<std::shared_ptr<UIViewController>> popToRootViewControllerAnimated(bool animated);
    std::vector<std::shared_ptr<UIViewController>> popToViewController(const std::shared_ptr<UIViewController>& controller,
                                                                       bool animated);

    std::shared_ptr<UINavigationBar> navigationBar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    std::shared_ptr<UIToolbar> toolbar();
    // Hidden by default.
    bool isToolbarHidden() const { return toolbarHidden_; }
    void setToolbarHidden(bool hidden, bool animated = false);

    std::shared_ptr<UINavigationControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UINavigationControllerDelegate>& delegate) { delegate_ = delegate; }

    // Whether the bar shows a back button now (more than one screen, not hidden by the top
    // screen's item, no left item replacing it).
    bool showsBackButton() const;
    // The back button's title: the back item's title of the screen below, else its title, else "Back".
    std::string backButtonTitle() const;

    // Lays out bar, toolbar and the top screen's view after a change of the bars or items.
    void updateBars(bool animated);

    bool isNavigationController() const override { return true; }
    void childToolbarItemsDidChange(UIViewController& child, bool animated) override;

    void loadView() override;
    void viewDidLoad() override;
    // Bars are placed again when the window's safe area becomes known and after rotation.
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(CGSize size,
                                  const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) override;
    std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    bool shouldAutorotate() const override;
    bool prefersStatusBarHidden() const override;

    static double barHeight() { return 44.0; }

private:
    // Replaces the stack; `animated` transitions from the old top to the new one.
    void transition(std::vector<std::shared_ptr<UIViewController>> stack, bool animated, bool pushing);
    // Between the bars (and under the screen's search bar), or under a translucent bar along an
    // edge the screen extends.
    CGRect contentFrame(UIViewController& screen);
    // The search controller of the screen's navigation item, if it has one.
    static std::shared_ptr<UISearchController> searchOf(UIViewController& screen);
    // The navigation bar gives way to an active search that hides it.
    bool barShown(UIViewController* top);
    void showTop(const std::shared_ptr<UIViewController>& top);

    std::shared_ptr<UINavigationBar> bar_;
    std::shared_ptr<UIToolbar> toolbar_;
    // The top screen's search bar, placed under the navigation bar.
    std::shared_ptr<UISearchBar> searchBar_;
    bool barHidden_ = false;
    bool toolbarHidden_ = true;
    std::weak_ptr<UINavigationControllerDelegate> delegate_;
    std::shared_ptr<UIViewController> leaving_;  // the old top while an animated transition runs
};
