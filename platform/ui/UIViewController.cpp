// View controllers: lazy views, appearance state with forwarding to children, containment,
// modal presentation on the clock and the rotation callbacks.
#include "platform/ui/UIViewController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIPopoverPresentationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewControllerTransitionCoordinator.h"
#include "platform/ui/UIWindow.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIBarButtonItem.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <typeinfo>

namespace {

Mutex slotsMutex;

std::array<UIViewController::AppearanceImplementation, 4>& slots() REQUIRES(slotsMutex) {
    static auto* table = new std::array<UIViewController::AppearanceImplementation, 4>;  // never destroyed
    static std::once_flag once;
    std::call_once(once, [] {
        for (auto& slot : *table) slot = [](UIViewController&, bool) {};
    });
    return *table;
}

// Runs `block` after `delay` seconds of clock time on the main run loop, or now when not animated.
void afterTransition(const std::shared_ptr<NSObject>& target, bool animated, std::function<void()> block) {
    if (!animated) {
        block();
        return;
    }
    NSRunLoop::mainRunLoop()->performAfterDelay(target, std::move(block), UIViewController::transitionDuration());
}

}  // namespace

UIViewController::UIViewController() = default;
UIViewController::~UIViewController() = default;

UIViewController::AppearanceImplementation UIViewController::appearanceImplementation(UIViewControllerAppearanceHook hook) {
    MutexLock lock(slotsMutex);
    return slots()[static_cast<int>(hook)];
}

void UIViewController::setAppearanceImplementation(UIViewControllerAppearanceHook hook,
                                                   AppearanceImplementation implementation) {
    MutexLock lock(slotsMutex);
    slots()[static_cast<int>(hook)] = std::move(implementation);
}

void UIViewController::resetAppearanceImplementations() {
    MutexLock lock(slotsMutex);
    for (auto& slot : slots()) slot = [](UIViewController&, bool) {};
}

void UIViewController::runSlot(UIViewControllerAppearanceHook hook, bool animated) {
    const AppearanceImplementation implementation = appearanceImplementation(hook);
    if (implementation) implementation(*this, animated);
}

void UIViewController::viewWillAppear(bool animated) { runSlot(UIViewControllerAppearanceHook::WillAppear, animated); }
void UIViewController::viewDidAppear(bool animated) { runSlot(UIViewControllerAppearanceHook::DidAppear, animated); }
void UIViewController::viewWillDisappear(bool animated) {
    runSlot(UIViewControllerAppearanceHook::WillDisappear, animated);
}
void UIViewController::viewDidDisappear(bool animated) {
    runSlot(UIViewControllerAppearanceHook::DidDisappear, animated);
}

std::string UIViewController::superclassName() const {
    return typeid(*this) == typeid(UIViewController) ? "UIResponder" : "UIViewController";
}

// --- View ----------------------------------------------------------------------------------

std::shared_ptr<UIView> UIViewController::view() {
    if (view_) return view_;
    if (loadingView_) {
        Diagnostics::notef("%s: the view was asked for while it loads", className().c_str());
        return nullptr;
    }
    loadingView_ = true;
    loadView();
    if (!view_) setView(UIView::initWithFrame(UIScreen::mainScreen()->bounds()));
    loadingView_ = false;
    viewDidLoad();
    return view_;
}

void UIViewController::loadView() {
    auto v = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(v);
}

void UIViewController::setView(const std::shared_ptr<UIView>& view) {
    if (view_ == view) return;
    if (view_ && view_->viewController().get() == this) view_->setViewController(nullptr);
    view_ = view;
    if (view_) view_->setViewController(std::static_pointer_cast<UIResponder>(shared_from_this()));
}

std::shared_ptr<UIResponder> UIViewController::nextResponder() const {
    if (view_) {
        if (auto superview = view_->superview()) return superview;
    }
    if (auto parent = parent_.lock()) return parent;
    if (auto presenting = presenting_.lock()) return presenting;
    return nullptr;
}

// --- Appearance ----------------------------------------------------------------------------

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
    auto self = shared_from_this();  // callbacks may drop the last outside reference
    if (isAppearing) {
        if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
        view();
        appearance_ = Appearance::Appearing;
        appearanceAnimated_ = animated;
        UIAppearance::applyToTree(view_);
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) return;
        appearance_ = Appearance::Disappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    if (shouldAutomaticallyForwardAppearanceMethods())
        for (const auto& child : childrenForAppearance()) child->beginAppearanceTransition(isAppearing, animated);
}

void UIViewController::endAppearanceTransition() {
    auto self = shared_from_this();
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        if (view_) view_->layoutIfNeeded();
        viewDidAppear(appearanceAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(appearanceAnimated_);
    } else {
        return;
    }
    if (shouldAutomaticallyForwardAppearanceMethods())
        for (const auto& child : childrenForAppearance()) child->endAppearanceTransition();
}

// --- Title and items -----------------------------------------------------------------------

void UIViewController::setTitle(const std::string& title) {
    title_ = title;
    navigationItem()->setTitle(title);
}

std::shared_ptr<UINavigationItem> UIViewController::navigationItem() {
    if (!navigationItem_) navigationItem_ = UINavigationItem::initWithTitle(title_);
    return navigationItem_;
}

void UIViewController::setToolbarItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated) {
    toolbarItems_ = std::move(items);
    if (auto parent = parentViewController()) parent->childToolbarItemsDidChange(*this, animated);
}

void UIViewController::setEditing(bool editing, bool /*animated*/) {
    editing_ = editing;
    if (editButtonItem_) {
        editButtonItem_->setTitle(editing ? "Done" : "Edit");
        editButtonItem_->setStyle(editing ? UIBarButtonItemStyleDone : UIBarButtonItemStylePlain);
    }
}

std::shared_ptr<UIBarButtonItem> UIViewController::editButtonItem() {
    if (!editButtonItem_) {
        std::weak_ptr<UIViewController> weak = std::static_pointer_cast<UIViewController>(shared_from_this());
        editButtonItem_ = UIBarButtonItem::initWithTitle(editing_ ? "Done" : "Edit", UIBarButtonItemStylePlain, nullptr,
                                                          [weak](const std::shared_ptr<NSObject>&) {
                                                              if (auto self = weak.lock())
                                                                  self->setEditing(!self->isEditing(), true);
                                                          });
    }
    return editButtonItem_;
}

// --- Containment ---------------------------------------------------------------------------

void UIViewController::addChildViewController(const std::shared_ptr<UIViewController>& child) {
    if (!child || child.get() == this) return;
    auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
    if (child->parentViewController() == self) return;
    if (child->parentViewController()) child->removeFromParentViewController();
    child->movingToParent_ = true;
    child->willMoveToParentViewController(self);
    children_.push_back(child);
    child->parent_ = self;
}

void UIViewController::removeFromParentViewController() {
    auto parent = parentViewController();
    if (!parent) return;
    auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
    movingFromParent_ = true;
    if (isVisible()) {
        beginAppearanceTransition(false, false);
        endAppearanceTransition();
    }
    auto& siblings = parent->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    parent_.reset();
    didMoveToParentViewController(nullptr);
    movingFromParent_ = false;
}

void UIViewController::willMoveToParentViewController(const std::shared_ptr<UIViewController>&) {}

void UIViewController::didMoveToParentViewController(const std::shared_ptr<UIViewController>& parent) {
    movingToParent_ = false;
    // A child whose view went into a parent that is on screen appears with it, as the platform
    // does when the child's view enters the window.
    if (parent && parent->isVisible() && view_ && parent->view_ && view_->isDescendantOfView(parent->view_) &&
        !isVisible()) {
        beginAppearanceTransition(true, false);
        if (parent->hasAppeared()) endAppearanceTransition();
    }
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
    for (auto p = parent_.lock(); p; p = p->parent_.lock())
        if (p->isNavigationController()) return std::static_pointer_cast<UINavigationController>(p);
    return nullptr;
}

std::shared_ptr<UISplitViewController> UIViewController::splitViewController() const {
    for (auto p = parent_.lock(); p; p = p->parent_.lock())
        if (auto split = std::dynamic_pointer_cast<UISplitViewController>(p)) return split;
    return nullptr;
}

// --- Presentation --------------------------------------------------------------------------

std::shared_ptr<UIViewController> UIViewController::presentingViewController() const {
    if (auto presenting = presenting_.lock()) return presenting;
    for (auto p = parent_.lock(); p; p = p->parent_.lock())
        if (auto presenting = p->presenting_.lock()) return presenting;
    return nullptr;
}

std::shared_ptr<UIPopoverPresentationController> UIViewController::popoverPresentationController() {
    if (!popover_) popover_ = std::make_shared<UIPopoverPresentationController>();
    return popover_;
}

// The controller a presentation hangs from: for the context styles the nearest ancestor that
// defines the context, otherwise the root of the containment tree.
std::shared_ptr<UIViewController> UIViewController::presentationContext(UIModalPresentationStyle style) {
    const bool inContext =
        style == UIModalPresentationStyle::CurrentContext || style == UIModalPresentationStyle::OverCurrentContext;
    auto root = std::static_pointer_cast<UIViewController>(shared_from_this());
    while (auto parent = root->parentViewController()) {
        if (inContext && root->definesPresentationContext_) break;
        root = parent;
    }
    return root;
}

std::shared_ptr<UIView> UIViewController::presentationContainerView() {
    if (view_) {
        if (auto window = view_->window()) return window;
    }
    return nullptr;
}

namespace {

bool coversPresenter(UIModalPresentationStyle style) {
    return style == UIModalPresentationStyle::FullScreen || style == UIModalPresentationStyle::CurrentContext;
}

CGRect presentedFrame(const std::shared_ptr<UIViewController>& controller, const CGRect& container,
                      const std::shared_ptr<UIView>& containerView) {
    const bool pad = UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    const CGSize preferred = controller->preferredContentSize();
    switch (controller->modalPresentationStyle()) {
        case UIModalPresentationStyle::FullScreen:
        case UIModalPresentationStyle::OverFullScreen:
        case UIModalPresentationStyle::CurrentContext:
        case UIModalPresentationStyle::OverCurrentContext:
        case UIModalPresentationStyle::Custom:
        case UIModalPresentationStyle::None:
            return container;
        case UIModalPresentationStyle::Popover:
            if (pad) {
                const CGSize size = preferred.width > 0 && preferred.height > 0
                                        ? preferred
                                        : CGSize{UIPopoverPresentationController::kDefaultWidth, 480};
                // Beside what it points from.
                return controller->popoverPresentationController()->frameInContainer(containerView, size);
            }
            return container;
        case UIModalPresentationStyle::FormSheet:
            if (pad) {
                return CGRectMake(CGRectGetMidX(container) - 270, CGRectGetMidY(container) - 310, 540, 620);
            }
            [[fallthrough]];
        default:
            // A sheet leaves a strip of the screen beneath it showing at the top.
            return CGRectMake(container.origin.x, container.origin.y + 40, container.size.width,
                              container.size.height - 40);
    }
}

}  // namespace

void UIViewController::presentViewController(const std::shared_ptr<UIViewController>& controller, bool animated,
                                             Completion completion) {
    if (!controller) return;
    // From under an alert, the presentation waits until the alert has gone, behind any that
    // waited already.
    if (UIAlertModality::mustWait(this)) {
        std::weak_ptr<UIViewController> weak = std::static_pointer_cast<UIViewController>(shared_from_this());
        UIAlertModality::afterAlerts([weak, controller, animated, completion] {
            if (auto me = weak.lock()) me->presentViewController(controller, animated, completion);
        });
        return;
    }
    auto host = presentationContext(controller->modalPresentationStyle());
    // Presenting from a screen that already presents: the platform refuses and says so.
    if (host->presented_) {
        Diagnostics::notef("Attempt to present %s on %s which is already presenting %s",
                           controller->className().c_str(), host->className().c_str(),
                           host->presented_->className().c_str());
        return;
    }
    if (controller->presenting_.lock() || controller->parentViewController()) {
        Diagnostics::notef("Application tried to present %s, which is already shown",
                           controller->className().c_str());
        return;
    }
    host->presented_ = controller;
    controller->presenting_ = host;
    controller->beingPresented_ = true;

    auto container = host->presentationContainerView();
    auto presentedView = controller->view();
    if (container) {
        CGRect frame = container->bounds();
        if (controller->modalPresentationStyle() == UIModalPresentationStyle::CurrentContext ||
            controller->modalPresentationStyle() == UIModalPresentationStyle::OverCurrentContext) {
            if (host->view_) frame = host->view_->convertRectToView(host->view_->bounds(), container);
        }
        presentedView->setFrame(presentedFrame(controller, frame, container));
        presentedView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        container->addSubview(presentedView);
    }
    // Only a presentation over a screen that is showing makes anything appear.
    if (host->isVisible()) {
        if (coversPresenter(controller->modalPresentationStyle())) host->beginAppearanceTransition(false, animated);
        controller->beginAppearanceTransition(true, animated);
    }
    afterTransition(controller, animated, [host, controller, animated, completion] {
        host->finishPresentation(controller, animated, completion);
    });
}

void UIViewController::finishPresentation(const std::shared_ptr<UIViewController>& controller, bool animated,
                                          Completion completion) {
    if (presented_ != controller) return;  // dismissed before the transition ended
    controller->endAppearanceTransition();
    if (coversPresenter(controller->modalPresentationStyle())) {
        endAppearanceTransition();
        // The covered screen leaves the window until the presented one goes away.
        if (view_ && view_->window() && view_->superview() && view_->superview()->isWindow()) {
            coveredView_ = view_;
            coveredSuperview_ = view_->superview();
            view_->removeFromSuperview();
        }
    }
    controller->beingPresented_ = false;
    (void)animated;
    if (completion) NSRunLoop::mainRunLoop()->post(completion);
}

void UIViewController::dismissViewControllerAnimated(bool animated, Completion completion) {
    auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
    // The host is the presenter: this controller when it presents something, else the one
    // that presented this controller or one of its parents.
    std::shared_ptr<UIViewController> host;
    if (presented_) {
        host = self;
    } else if (auto presenting = presentingViewController()) {
        host = presenting;
    }
    if (!host || !host->presented_) {
        if (completion) NSRunLoop::mainRunLoop()->post(completion);
        return;
    }
    auto controller = host->presented_;
    if (controller->beingDismissed_) return;
    // Whatever the presented screen presents goes with it, without its own transition.
    if (controller->presented_) {
        auto top = controller->presented_;
        top->beginAppearanceTransition(false, false);
        top->endAppearanceTransition();
        if (auto v = top->viewIfLoaded()) v->removeFromSuperview();
        top->presenting_.reset();
        controller->presented_.reset();
    }
    controller->beingDismissed_ = true;
    const bool covers = coversPresenter(controller->modalPresentationStyle());
    if (covers && host->coveredView_) {
        if (auto superview = host->coveredSuperview_.lock()) {
            auto presentedView = controller->viewIfLoaded();
            const auto& siblings = superview->subviews();
            const auto at = presentedView ? std::find(siblings.begin(), siblings.end(), presentedView) : siblings.end();
            superview->insertSubview(host->coveredView_, static_cast<std::size_t>(at - siblings.begin()));
        }
        host->coveredView_.reset();
        host->coveredSuperview_.reset();
    }
    const bool wasVisible = controller->isVisible();
    controller->beginAppearanceTransition(false, animated);
    if (covers && wasVisible) host->beginAppearanceTransition(true, animated);
    afterTransition(controller, animated, [host, controller, animated, completion] {
        host->finishDismissal(controller, animated, completion);
    });
}

void UIViewController::finishDismissal(const std::shared_ptr<UIViewController>& controller, bool /*animated*/,
                                       Completion completion) {
    if (presented_ != controller) return;
    if (auto v = controller->viewIfLoaded()) v->removeFromSuperview();
    // The platform's order: the uncovered screen has appeared before the dismissed one is gone.
    if (coversPresenter(controller->modalPresentationStyle())) endAppearanceTransition();
    controller->endAppearanceTransition();
    controller->beingDismissed_ = false;
    controller->presenting_.reset();
    presented_.reset();
    if (completion) NSRunLoop::mainRunLoop()->post(completion);
}

// --- Orientation ---------------------------------------------------------------------------

UIInterfaceOrientationMask UIViewController::supportedInterfaceOrientations() const {
    if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad) return UIInterfaceOrientationMaskAll;
    return UIInterfaceOrientationMaskAllButUpsideDown;
}

UIInterfaceOrientation UIViewController::preferredInterfaceOrientationForPresentation() const {
    return UIApplication::sharedApplication() ? UIApplication::sharedApplication()->statusBarOrientation()
                                              : UIInterfaceOrientation::Portrait;
}

void UIViewController::viewWillTransitionToSize(CGSize, const std::shared_ptr<UIViewControllerTransitionCoordinator>&) {}
void UIViewController::willRotateToInterfaceOrientation(UIInterfaceOrientation, double) {}
void UIViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation, double) {}
void UIViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation) {}

void UIViewController::runRotation(UIInterfaceOrientation from, UIInterfaceOrientation to, CGSize size, double duration,
                                   const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator, int phase) {
    auto self = shared_from_this();
    switch (phase) {
        case 0: viewWillTransitionToSize(size, coordinator); break;
        case 1: willRotateToInterfaceOrientation(to, duration); break;
        case 2: willAnimateRotationToInterfaceOrientation(to, duration); break;
        default: didRotateFromInterfaceOrientation(from); break;
    }
    for (const auto& child : childrenForAppearance()) child->runRotation(from, to, size, duration, coordinator, phase);
    if (presented_) presented_->runRotation(from, to, size, duration, coordinator, phase);
}

void UIViewController::rotate(UIInterfaceOrientation from, UIInterfaceOrientation to, CGSize size, double duration) {
    auto coordinator = std::make_shared<UIViewControllerTransitionCoordinator>(duration);
    runRotation(from, to, size, duration, coordinator, 0);
    runRotation(from, to, size, duration, coordinator, 1);
    UIView::animateWithDuration(duration, [&] { runRotation(from, to, size, duration, coordinator, 2); });
    coordinator->run();
    if (view_) view_->layoutIfNeeded();
    runRotation(from, to, size, duration, coordinator, 3);
}
