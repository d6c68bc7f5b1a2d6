// The navigation stack: child bookkeeping, bars and the appearance order of push and pop.
#include "platform/ui/UINavigationController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISearchController.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cstdio>

std::shared_ptr<UINavigationController> UINavigationController::initWithRootViewController(
    const std::shared_ptr<UIViewController>& root) {
    auto nav = make();
    if (root) nav->setViewControllers({root}, false);
    return nav;
}

UINavigationController::UINavigationController() = default;

std::shared_ptr<UIViewController> UINavigationController::topViewController() const {
    const auto& stack = childViewControllers();
    return stack.empty() ? nullptr : stack.back();
}

std::shared_ptr<UIViewController> UINavigationController::visibleViewController() const {
    auto top = topViewController();
    if (auto presented = presentedViewController()) return presented;
    if (top)
        if (auto presented = top->presentedViewController()) return presented;
    return top;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::childrenForAppearance() const {
    if (auto top = topViewController()) return {top};
    return {};
}

void UINavigationController::pushViewController(const std::shared_ptr<UIViewController>& controller, bool animated) {
    if (!controller) return;
    const auto& stack = childViewControllers();
    if (std::find(stack.begin(), stack.end(), controller) != stack.end() || controller->parentViewController()) {
        Diagnostics::notef("Pushing a view controller that is already on a stack is not supported (%s)",
                           controller->className().c_str());
        return;
    }
    auto next = stack;
    next.push_back(controller);
    transition(std::move(next), animated, true);
}

std::shared_ptr<UIViewController> UINavigationController::popViewControllerAnimated(bool animated) {
    const auto stack = childViewControllers();
    if (stack.size() < 2) return nullptr;
    auto popped = stack.back();
    transition({stack.begin(), stack.end() - 1}, animated, false);
    return popped;
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToRootViewControllerAnimated(bool animated) {
    const auto stack = childViewControllers();
    if (stack.size() < 2) return {};
    return popToViewController(stack.front(), animated);
}

std::vector<std::shared_ptr<UIViewController>> UINavigationController::popToViewController(
    const std::shared_ptr<UIViewController>& controller, bool animated) {
    const auto stack = childViewControllers();
    const auto it = std::find(stack.begin(), stack.end(), controller);
    if (it == stack.end() || it + 1 == stack.end()) return {};
    std::vector<std::shared_ptr<UIViewController>> popped(it + 1, stack.end());
    transition({stack.begin(), it + 1}, animated, false);
    return popped;
}

void UINavigationController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& controllers,
                                                bool animated) {
    std::vector<std::shared_ptr<UIViewController>> unique;
    for (const auto& c : controllers)
        if (c && std::find(unique.begin(), unique.end(), c) == unique.end()) unique.push_back(c);
    transition(std::move(unique), animated, true);
}

void UINavigationController::transition(std::vector<std::shared_ptr<UIViewController>> stack, bool animated,
                                        bool /*pushing*/) {
    auto self = std::static_pointer_cast<UINavigationController>(shared_from_this());
    const auto old = childViewControllers();
    auto oldTop = topViewController();
    auto newTop = stack.empty() ? nullptr : stack.back();
    const bool visible = isVisible();
    if (!visible || !isViewLoaded()) animated = false;

    std::vector<std::shared_ptr<UIViewController>> added, removed;
    for (const auto& c : stack)
        if (std::find(old.begin(), old.end(), c) == old.end()) added.push_back(c);
    for (const auto& c : old)
        if (std::find(stack.begin(), stack.end(), c) == stack.end()) removed.push_back(c);

    for (const auto& c : added) {
        if (auto former = c->parentViewController()) {
            auto& siblings = former->children_;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), c), siblings.end());
        }
        c->movingToParent_ = true;
        c->willMoveToParentViewController(self);
        c->parent_ = self;
    }
    for (const auto& c : removed) {
        c->movingFromParent_ = true;
        c->willMoveToParentViewController(nullptr);
    }
    children_ = stack;

    const bool topChanges = oldTop != newTop;
    if (topChanges) {
        if (auto d = delegate()) d->navigationControllerWillShowViewController(*this, newTop, animated);
        if (visible) {
            if (oldTop) oldTop->beginAppearanceTransition(false, animated);
            if (newTop) newTop->beginAppearanceTransition(true, animated);
        }
        if (isViewLoaded() && newTop) showTop(newTop);
    }
    updateBars(animated);
    leaving_ = topChanges ? oldTop : nullptr;

    auto finish = [self, oldTop, newTop, topChanges, visible, added, removed, animated] {
        if (topChanges) {
            if (oldTop && oldTop != self->topViewController())
                if (auto v = oldTop->viewIfLoaded())
                    if (v->superview() == self->viewIfLoaded()) v->removeFromSuperview();
            if (visible) {
                if (oldTop) oldTop->endAppearanceTransition();
                if (newTop) newTop->endAppearanceTransition();
            }
        }
        for (const auto& c : removed) {
            c->parent_.reset();
            c->didMoveToParentViewController(nullptr);
            c->movingFromParent_ = false;
        }
        for (const auto& c : added) c->didMoveToParentViewController(self);
        self->leaving_.reset();
        if (topChanges)
            if (auto d = self->delegate()) d->navigationControllerDidShowViewController(*self, newTop, animated);
    };
    if (animated) NSRunLoop::mainRunLoop()->performAfterDelay(self, finish, transitionDuration());
    else finish();
}

void UINavigationController::loadView() {
    auto v = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(v);
}

void UINavigationController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto v = view();
    v->addSubview(navigationBar());
    v->addSubview(toolbar());
    if (auto top = topViewController()) showTop(top);
    updateBars(false);
}

void UINavigationController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    updateBars(false);
}

void UINavigationController::viewWillTransitionToSize(
    CGSize size, const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) {
    UIViewController::viewWillTransitionToSize(size, coordinator);
    updateBars(false);
}

std::shared_ptr<UINavigationBar> UINavigationController::navigationBar() {
    if (!bar_) {
        bar_ = std::make_shared<UINavigationBar>(CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, barHeight()));
        bar_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleBottomMargin);
        // The back button takes the stack back a screen, as `back` does.
        std::weak_ptr<UINavigationController> weak = std::static_pointer_cast<UINavigationController>(shared_from_this());
        bar_->setBackAction([weak] {
            if (auto self = weak.lock()) self->popViewControllerAnimated(true);
        });
    }
    return bar_;
}

std::shared_ptr<UIToolbar> UINavigationController::toolbar() {
    if (!toolbar_) {
        toolbar_ = std::make_shared<UIToolbar>(CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, barHeight()));
        toolbar_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
        toolbar_->setHidden(toolbarHidden_);
    }
    return toolbar_;
}

void UINavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    barHidden_ = hidden;
    updateBars(animated);
}

void UINavigationController::setToolbarHidden(bool hidden, bool animated) {
    toolbarHidden_ = hidden;
    updateBars(animated);
}

std::shared_ptr<UISearchController> UINavigationController::searchOf(UIViewController& screen) {
    return screen.navigationItem()->searchController();
}

bool UINavigationController::barShown(UIViewController* top) {
    if (barHidden_) return false;
    auto search = top ? searchOf(*top) : nullptr;
    return !(search && search->isActive() && search->hidesNavigationBarDuringPresentation());
}

CGRect UINavigationController::contentFrame(UIViewController& screen) {
    auto v = view();
    const CGRect b = v->bounds();
    const UIEdgeInsets safe = v->window() ? v->safeAreaInsets() : UIEdgeInsetsZero;
    const unsigned under = screen.edgesForExtendedLayout();
    CGFloat top = b.origin.y;
    CGFloat bottom = CGRectGetMaxY(b);
    const bool bar = barShown(&screen);
    if (bar && !((under & UIRectEdgeTop) && navigationBar()->isTranslucent())) top += safe.top + barHeight();
    // The search bar is never under the screen: the screen starts below it.
    if (auto search = searchOf(screen)) {
        const CGFloat below = b.origin.y + safe.top + (bar ? barHeight() : 0);
        top = std::max(top, below) + search->searchBar()->sizeThatFits(b.size).height;
    }
    if (!toolbarHidden_ && !((under & UIRectEdgeBottom) && toolbar()->isTranslucent())) bottom -= barHeight() + safe.bottom;
    return CGRectMake(b.origin.x, top, b.size.width, std::max(0.0, bottom - top));
}

void UINavigationController::showTop(const std::shared_ptr<UIViewController>& top) {
    auto container = view();
    auto v = top->view();
    v->setFrame(contentFrame(*top));
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (v->superview() != container) container->insertSubview(v, 0);
    else container->sendSubviewToBack(v);
}

void UINavigationController::updateBars(bool /*animated*/) {
    if (!isViewLoaded()) return;
    auto v = view();
    const CGRect b = v->bounds();
    const UIEdgeInsets safe = v->window() ? v->safeAreaInsets() : UIEdgeInsetsZero;
    auto bar = navigationBar();
    auto top = topViewController();
    const bool barVisible = barShown(top.get());
    bar->setFrame(CGRectMake(b.origin.x, b.origin.y + safe.top, b.size.width, barHeight()));
    bar->setHidden(!barVisible);
    // The top screen's search bar sits under the navigation bar, at the top while the bar gives
    // way to the search; another screen's leaves with it.
    auto search = top ? searchOf(*top) : nullptr;
    auto searchBar = search ? search->searchBar() : nullptr;
    if (searchBar_ && searchBar_ != searchBar && searchBar_->superview() == v) searchBar_->removeFromSuperview();
    searchBar_ = searchBar;
    if (searchBar) {
        const CGFloat y = b.origin.y + safe.top + (barVisible ? barHeight() : 0);
        searchBar->setFrame(CGRectMake(b.origin.x, y, b.size.width, searchBar->sizeThatFits(b.size).height));
        searchBar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleBottomMargin);
        if (searchBar->superview() != v) v->addSubview(searchBar);
    }
    std::vector<std::shared_ptr<UINavigationItem>> items;
    for (const auto& c : childViewControllers()) items.push_back(c->navigationItem());
    bar->setItems(items, false);
    auto tb = toolbar();
    tb->setFrame(CGRectMake(b.origin.x, CGRectGetMaxY(b) - barHeight() - safe.bottom, b.size.width, barHeight()));
    tb->setHidden(toolbarHidden_);
    if (top) {
        tb->setItems(top->toolbarItems(), false);
        if (auto tv = top->viewIfLoaded())
            if (tv->superview() == v) tv->setFrame(contentFrame(*top));
    }
    v->bringSubviewToFront(bar);
    v->bringSubviewToFront(tb);
    if (searchBar) v->bringSubviewToFront(searchBar);
}

void UINavigationController::childToolbarItemsDidChange(UIViewController& child, bool animated) {
    if (topViewController().get() == &child) updateBars(animated);
}

bool UINavigationController::showsBackButton() const {
    const auto& stack = childViewControllers();
    if (stack.size() < 2) return false;
    return UINavigationBar::itemShowsBackButton(*stack.back()->navigationItem());
}

std::string UINavigationController::backButtonTitle() const {
    const auto& stack = childViewControllers();
    if (stack.size() < 2) return "";
    return UINavigationBar::backButtonTitleFor(*stack[stack.size() - 2]->navigationItem());
}

UIInterfaceOrientationMask UINavigationController::supportedInterfaceOrientations() const {
    if (auto top = topViewController()) return top->supportedInterfaceOrientations();
    return UIViewController::supportedInterfaceOrientations();
}

bool UINavigationController::shouldAutorotate() const {
    if (auto top = topViewController()) return top->shouldAutorotate();
    return true;
}

bool UINavigationController::prefersStatusBarHidden() const {
    if (auto top = topViewController()) return top->prefersStatusBarHidden();
    return false;
}
