// The tab container: child bookkeeping and the appearance of the tab that is switched to.
#include "platform/ui/UITabBarController.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"

#include <algorithm>

void UITabBarController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers,
                                            bool /*animated*/) {
    auto self = std::static_pointer_cast<UITabBarController>(shared_from_this());
    std::vector<std::shared_ptr<UIViewController>> tabs;
    for (const auto& c : controllers)
        if (c && std::find(tabs.begin(), tabs.end(), c) == tabs.end()) tabs.push_back(c);
    const auto old = childViewControllers();
    for (const auto& c : old) {
        if (std::find(tabs.begin(), tabs.end(), c) != tabs.end()) continue;
        if (c == selected_) selected_.reset();
        c->willMoveToParentViewController(nullptr);
        if (auto v = c->viewIfLoaded())
            if (isViewLoaded() && v->superview() == view()) v->removeFromSuperview();
        // A shown tab disappears here.
        c->removeFromParentViewController();
    }
    for (const auto& c : tabs) {
        if (c->parentViewController().get() == this) continue;
        addChildViewController(c);
        c->didMoveToParentViewController(self);
    }
    // Kept in the order given.
    mutableChildren() = tabs;
    select(selected_ ? selected_ : (tabs.empty() ? nullptr : tabs.front()));
}

void UITabBarController::setSelectedViewController(const std::shared_ptr<UIViewController>& controller) {
    const auto& tabs = childViewControllers();
    if (!controller || std::find(tabs.begin(), tabs.end(), controller) == tabs.end()) return;
    select(controller);
}

std::size_t UITabBarController::selectedIndex() const {
    const auto& tabs = childViewControllers();
    const auto it = std::find(tabs.begin(), tabs.end(), selected_);
    return it == tabs.end() ? NSNotFound : static_cast<std::size_t>(it - tabs.begin());
}

void UITabBarController::setSelectedIndex(std::size_t index) {
    const auto& tabs = childViewControllers();
    if (index < tabs.size()) select(tabs[index]);
}

void UITabBarController::select(const std::shared_ptr<UIViewController>& controller) {
    if (controller == selected_) {
        if (controller) show(controller);
        return;
    }
    auto old = selected_;
    selected_ = controller;
    const bool visible = isVisible();
    if (old) {
        if (visible) old->beginAppearanceTransition(false, false);
        if (auto v = old->viewIfLoaded())
            if (isViewLoaded() && v->superview() == view()) v->removeFromSuperview();
    }
    if (controller) {
        if (visible) controller->beginAppearanceTransition(true, false);
        show(controller);
    }
    if (old && visible) old->endAppearanceTransition();
    if (controller && visible) controller->endAppearanceTransition();
}

void UITabBarController::show(const std::shared_ptr<UIViewController>& controller) {
    if (!isViewLoaded()) return;
    auto v = controller->view();
    v->setFrame(view()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (v->superview() != view()) view()->addSubview(v);
}

void UITabBarController::loadView() {
    auto v = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(v);
}

void UITabBarController::viewDidLoad() {
    UIViewController::viewDidLoad();
    if (selected_) show(selected_);
}

std::vector<std::shared_ptr<UIViewController>> UITabBarController::childrenForAppearance() const {
    if (selected_) return {selected_};
    return {};
}
