// Column layout of the split view controller.
#include "platform/ui/UISplitViewController.h"

#include "platform/ui/UIView.h"

#include <algorithm>

void UISplitViewController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers) {
    const auto old = childViewControllers();
    for (const auto& child : old) {
        child->willMoveToParentViewController(nullptr);
        if (auto v = child->viewIfLoaded()) v->removeFromSuperview();
        child->removeFromParentViewController();
    }
    auto me = self<UISplitViewController>();
    for (const auto& child : controllers) {
        if (!child) continue;
        addChildViewController(child);
        if (isViewLoaded()) view()->addSubview(child->view());
        child->didMoveToParentViewController(me);
    }
    if (isViewLoaded()) layoutColumns();
}

void UISplitViewController::setPreferredDisplayMode(UISplitViewControllerDisplayMode mode) {
    preferredDisplayMode_ = mode;
    if (isViewLoaded()) layoutColumns();
}

UISplitViewControllerDisplayMode UISplitViewController::displayMode() const {
    if (preferredDisplayMode_ != UISplitViewControllerDisplayMode::Automatic) return preferredDisplayMode_;
    auto v = viewIfLoaded();
    const bool wide = v && v->bounds().size.width > v->bounds().size.height;
    return wide ? UISplitViewControllerDisplayMode::AllVisible : UISplitViewControllerDisplayMode::PrimaryHidden;
}

void UISplitViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    for (const auto& child : childViewControllers()) view()->addSubview(child->view());
    layoutColumns();
}

void UISplitViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    layoutColumns();
}

void UISplitViewController::viewWillTransitionToSize(
    CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) {
    UIViewController::viewWillTransitionToSize(size, coordinator);
    layoutColumns();
}

void UISplitViewController::layoutColumns() {
    const auto& children = childViewControllers();
    if (children.empty()) return;
    const CGRect bounds = view()->bounds();
    const CGFloat primaryWidth = std::min(primaryColumnWidth(), bounds.size.width);
    if (children.size() == 1) {
        children[0]->view()->setFrame(bounds);
        children[0]->view()->setHidden(false);
        return;
    }
    auto primary = children[0]->view();
    auto secondary = children[1]->view();
    primary->setHidden(false);
    switch (displayMode()) {
    case UISplitViewControllerDisplayMode::AllVisible:
        primary->setFrame(CGRectMake(bounds.origin.x, bounds.origin.y, primaryWidth, bounds.size.height));
        secondary->setFrame(CGRectMake(bounds.origin.x + primaryWidth, bounds.origin.y, bounds.size.width - primaryWidth,
                                       bounds.size.height));
        break;
    case UISplitViewControllerDisplayMode::PrimaryOverlay:
        secondary->setFrame(bounds);
        primary->setFrame(CGRectMake(bounds.origin.x, bounds.origin.y, primaryWidth, bounds.size.height));
        view()->bringSubviewToFront(primary);
        break;
    default:
        secondary->setFrame(bounds);
        primary->setHidden(true);
        break;
    }
}
