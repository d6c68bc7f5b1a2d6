// The side-menu container: state changes with their events, the animated centre offsets,
// menu frames and the gesture recognisers it puts on the centre and the menu area.
#include "uikit/OESideMenuContainerViewController.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UIView.h"
#include "uikit/OESideMenuKeyboard.h"
#include "uikit/OESideMenuPanHandler.h"
#include "uikit/OESideMenuShadow.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// The screens of a centre that is a container of screens (navigation or split controller);
// empty for a plain screen.
const std::vector<std::shared_ptr<UIViewController>>* screensOf(const std::shared_ptr<UIViewController>& center) {
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(center)) return &navigation->viewControllers();
    if (auto split = std::dynamic_pointer_cast<UISplitViewController>(center)) return &split->viewControllers();
    return nullptr;
}
}  // namespace

std::shared_ptr<OESideMenuContainerViewController> OESideMenuContainerViewController::make(
    std::shared_ptr<UIColor> background) {
    auto container = std::make_shared<OESideMenuContainerViewController>();
    container->background_ = std::move(background);
    container->setDefaultSettings();
    return container;
}

std::shared_ptr<OESideMenuContainerViewController> OESideMenuContainerViewController::containerWithCenterViewController(
    const std::shared_ptr<UIViewController>& center, const std::shared_ptr<UIViewController>& leftMenu,
    const std::shared_ptr<UIViewController>& rightMenu, std::shared_ptr<UIColor> background) {
    auto container = make(std::move(background));
    container->setLeftMenuViewController(leftMenu);
    container->setCenterViewController(center);
    container->setRightMenuViewController(rightMenu);
    return container;
}

OESideMenuContainerViewController::OESideMenuContainerViewController()
    : pan_(std::make_unique<OESideMenuPanHandler>()) {}

OESideMenuContainerViewController::~OESideMenuContainerViewController() { removeKeyboardObservers(); }

std::shared_ptr<OESideMenuContainerViewController> OESideMenuContainerViewController::self() {
    return std::static_pointer_cast<OESideMenuContainerViewController>(shared_from_this());
}

std::shared_ptr<UIView> OESideMenuContainerViewController::centerView() const {
    return center_ ? center_->view() : nullptr;
}

void OESideMenuContainerViewController::setDefaultSettings() {
    if (menuContainerView_) return;
    menuContainerView_ = UIView::make();
    setMenuState(OESideMenuStateClosed);
    auto device = UIDevice::currentDevice();
    const auto idiom = device->userInterfaceIdiom();
    if (idiom != UIUserInterfaceIdiom::Phone && idiom != UIUserInterfaceIdiom::Unspecified) setMenuWidth(270.0);
    else setMenuWidth(view()->bounds().size.width * 0.84375);
    menuSlideAnimationFactor_ = 3.0;
    menuAnimationDefaultDuration_ = static_cast<double>(0.2f);
    menuAnimationMaxDuration_ = static_cast<double>(0.4f);
    panMode_ = OESideMenuPanModeDefault;
    viewHasAppeared_ = false;
}

// --- Life cycle ---------------------------------------------------------------------------

void OESideMenuContainerViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(background_);
    addKeyboardObserver();
}

void OESideMenuContainerViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    if (viewHasAppeared_) return;
    setupMenuContainerView();
    setLeftSideMenuFrameToClosedPosition();
    setRightSideMenuFrameToClosedPosition();
    addGestureRecognizers();
    if (shadow_) shadow_->draw();
    viewHasAppeared_ = true;
}

// --- Screens ------------------------------------------------------------------------------

void OESideMenuContainerViewController::removeChildViewControllerFromContainer(
    const std::shared_ptr<UIViewController>& controller) {
    if (!controller) return;
    controller->willMoveToParentViewController(nullptr);
    controller->removeFromParentViewController();
    if (auto v = controller->viewIfLoaded()) v->removeFromSuperview();
}

bool OESideMenuContainerViewController::installMenuViewController(std::shared_ptr<UIViewController>& slot,
                                                                  const std::shared_ptr<UIViewController>& controller) {
    removeChildViewControllerFromContainer(slot);
    slot = controller;
    if (!slot) return false;
    addChildViewController(slot);
    if (menuContainerView_->superview()) menuContainerView_->insertSubview(slot->view(), 0);
    slot->didMoveToParentViewController(self());
    return true;
}

void OESideMenuContainerViewController::setLeftMenuViewController(const std::shared_ptr<UIViewController>& controller) {
    if (installMenuViewController(leftMenu_, controller) && viewHasAppeared_) setLeftSideMenuFrameToClosedPosition();
}

void OESideMenuContainerViewController::setRightMenuViewController(const std::shared_ptr<UIViewController>& controller) {
    if (installMenuViewController(rightMenu_, controller) && viewHasAppeared_) setRightSideMenuFrameToClosedPosition();
}

void OESideMenuContainerViewController::setCenterViewController(const std::shared_ptr<UIViewController>& controller) {
    CGPoint origin{0, 0};
    if (center_) {
        if (auto old = center_->viewIfLoaded()) origin = old->frame().origin;
    }
    removeCenterGestureRecognizers();
    removeChildViewControllerFromContainer(center_);
    shadow_ = nullptr;

    center_ = controller;
    if (!center_) return;
    addChildViewController(center_);
    auto v = center_->view();
    view()->addSubview(v);
    v->setFrame(CGRect{origin, view()->bounds().size});
    center_->didMoveToParentViewController(self());
    shadow_ = OESideMenuShadow::shadowWithView(v);
    shadow_->draw();
    addCenterGestureRecognizers();
}

// --- State --------------------------------------------------------------------------------

void OESideMenuContainerViewController::sendStateEventNotification(OESideMenuStateEvent event) {
    NSNotificationCenter::defaultCenter()->postNotificationName(
        OESideMenuStateNotificationEvent, self(), {{OESideMenuStateEventTypeKey, Value(static_cast<int>(event))}});
}

void OESideMenuContainerViewController::setMenuState(OESideMenuState state, Completion completion) {
    std::weak_ptr<OESideMenuContainerViewController> weak = self();
    Completion finish = [weak, state, completion] {
        auto container = weak.lock();
        if (!container) return;
        container->menuState_ = state;
        container->setUserInteractionStateForCenterViewController();
        container->sendStateEventNotification(container->menuState_ != OESideMenuStateClosed
                                                  ? OESideMenuStateEventMenuDidOpen
                                                  : OESideMenuStateEventMenuDidClose);
        if (completion) completion();
    };
    switch (state) {
    case OESideMenuStateLeftMenuOpen:
        if (!leftMenu_) return;
        sendStateEventNotification(OESideMenuStateEventMenuWillOpen);
        leftMenuWillShow();
        openLeftSideMenuCompletion(std::move(finish));
        break;
    case OESideMenuStateRightMenuOpen:
        if (!rightMenu_) return;
        sendStateEventNotification(OESideMenuStateEventMenuWillOpen);
        rightMenuWillShow();
        openRightSideMenuCompletion(std::move(finish));
        break;
    case OESideMenuStateClosed:
        sendStateEventNotification(OESideMenuStateEventMenuWillClose);
        closeSideMenuCompletion([weak, finish] {
            if (auto container = weak.lock()) {
                if (container->leftMenu_) container->leftMenu_->view()->setHidden(true);
                if (container->rightMenu_) container->rightMenu_->view()->setHidden(true);
            }
            finish();
        });
        break;
    }
}

void OESideMenuContainerViewController::toggleLeftSideMenuCompletion(Completion completion) {
    setMenuState(menuState_ == OESideMenuStateLeftMenuOpen ? OESideMenuStateClosed : OESideMenuStateLeftMenuOpen,
                 std::move(completion));
}

void OESideMenuContainerViewController::toggleRightSideMenuCompletion(Completion completion) {
    setMenuState(menuState_ == OESideMenuStateRightMenuOpen ? OESideMenuStateClosed : OESideMenuStateRightMenuOpen,
                 std::move(completion));
}

void OESideMenuContainerViewController::openLeftSideMenuCompletion(Completion completion) {
    if (!leftMenu_) return;
    menuContainerView_->bringSubviewToFront(leftMenu_->view());
    setCenterViewControllerOffset(leftMenuWidth_, true, std::move(completion));
}

void OESideMenuContainerViewController::openRightSideMenuCompletion(Completion completion) {
    if (!rightMenu_) return;
    menuContainerView_->bringSubviewToFront(rightMenu_->view());
    setCenterViewControllerOffset(-rightMenuWidth_, true, std::move(completion));
}

void OESideMenuContainerViewController::closeSideMenuCompletion(Completion completion) {
    setCenterViewControllerOffset(0, true, std::move(completion));
}

void OESideMenuContainerViewController::leftMenuWillShow() {
    if (!leftMenu_) return;
    auto v = leftMenu_->view();
    v->setHidden(false);
    menuContainerView_->bringSubviewToFront(v);
}

void OESideMenuContainerViewController::rightMenuWillShow() {
    if (!rightMenu_) return;
    auto v = rightMenu_->view();
    v->setHidden(false);
    menuContainerView_->bringSubviewToFront(v);
}

void OESideMenuContainerViewController::setUserInteractionStateForCenterViewController() {
    // Only containers of screens have children to switch; a plain centre is left as it is.
    const auto* screens = screensOf(center_);
    if (!screens) return;
    const auto children = *screens;
    for (const auto& child : children) child->view()->setUserInteractionEnabled(menuState_ == OESideMenuStateClosed);
}

// --- Widths -------------------------------------------------------------------------------

void OESideMenuContainerViewController::setMenuWidth(double width, bool animated) {
    setLeftMenuWidth(width, animated);
    setRightMenuWidth(width, animated);
}

void OESideMenuContainerViewController::setLeftMenuWidth(double width, bool animated) {
    leftMenuWidth_ = width;
    if (menuState_ != OESideMenuStateLeftMenuOpen) {
        setLeftSideMenuFrameToClosedPosition();
        return;
    }
    std::weak_ptr<OESideMenuContainerViewController> weak = self();
    setCenterViewControllerOffset(
        width,
        [weak] {
            if (auto container = weak.lock()) container->alignLeftMenuControllerWithCenterViewController();
        },
        animated, nullptr);
}

void OESideMenuContainerViewController::setRightMenuWidth(double width, bool animated) {
    rightMenuWidth_ = width;
    if (menuState_ != OESideMenuStateRightMenuOpen) {
        setRightSideMenuFrameToClosedPosition();
        return;
    }
    std::weak_ptr<OESideMenuContainerViewController> weak = self();
    setCenterViewControllerOffset(
        -width,
        [weak] {
            if (auto container = weak.lock()) container->alignRightMenuControllerWithCenterViewController();
        },
        animated, nullptr);
}

// --- Positions ----------------------------------------------------------------------------

void OESideMenuContainerViewController::setCenterViewControllerOffset(double x, bool animated, Completion completion) {
    setCenterViewControllerOffset(x, nullptr, animated, std::move(completion));
}

void OESideMenuContainerViewController::setCenterViewControllerOffset(double x,
                                                                      const std::function<void()>& additionalAnimations,
                                                                      bool animated, Completion completion) {
    std::weak_ptr<OESideMenuContainerViewController> weak = self();
    Completion wrapped = [weak, completion] {
        if (auto container = weak.lock()) container->panGestureVelocity_ = 0;
        if (completion) completion();
    };
    if (!animated) {
        setCenterViewControllerOffset(x);
        if (additionalAnimations) additionalAnimations();
        wrapped();
        return;
    }
    auto v = centerView();
    const double start = v ? std::fabs(v->frame().origin.x) : 0.0;
    const double duration = animationDurationFromStartPosition(start, x);
    UIView::animateWithDuration(
        duration,
        [weak, x, additionalAnimations] {
            if (auto container = weak.lock()) container->setCenterViewControllerOffset(x);
            if (additionalAnimations) additionalAnimations();
        },
        [wrapped](bool) { wrapped(); });
}

void OESideMenuContainerViewController::setCenterViewControllerOffset(double x) {
    if (auto v = centerView()) {
        auto frame = v->frame();
        frame.origin.x = x;
        v->setFrame(frame);
    }
    if (!menuSlideAnimationEnabled_) return;
    if (x > 0) {
        alignLeftMenuControllerWithCenterViewController();
        setRightSideMenuFrameToClosedPosition();
    } else if (x < 0) {
        alignRightMenuControllerWithCenterViewController();
        setLeftSideMenuFrameToClosedPosition();
    } else {
        setLeftSideMenuFrameToClosedPosition();
        setRightSideMenuFrameToClosedPosition();
    }
}

double OESideMenuContainerViewController::animationDurationFromStartPosition(double start, double end) const {
    const double distance = std::fabs(end - start);
    const double speed = std::fabs(panGestureVelocity_);
    double duration = 0;
    if (speed > 1.0) {
        duration = distance / speed;
    } else if (distance > 0) {
        // Width over distance, as the product has always timed it: shorter moves run slower.
        duration = menuAnimationDefaultDuration_ * (std::max(leftMenuWidth_, rightMenuWidth_) / distance);
    }
    return std::min(duration, menuAnimationMaxDuration_);
}

void OESideMenuContainerViewController::setupMenuContainerView() {
    if (menuContainerView_->superview()) return;
    menuContainerView_->setFrame(view()->bounds());
    menuContainerView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view()->insertSubview(menuContainerView_, 0);
    if (leftMenu_ && !leftMenu_->view()->superview()) menuContainerView_->addSubview(leftMenu_->view());
    if (rightMenu_ && !rightMenu_->view()->superview()) menuContainerView_->addSubview(rightMenu_->view());
}

void OESideMenuContainerViewController::setLeftSideMenuFrameToClosedPosition() {
    if (!leftMenu_) return;
    auto v = leftMenu_->view();
    const double x = menuSlideAnimationEnabled_ ? -leftMenuWidth_ / menuSlideAnimationFactor_ : 0.0;
    v->setFrame(CGRectMake(x, 0, leftMenuWidth_, view()->bounds().size.height));
    v->setAutoresizingMask(UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleHeight);
}

void OESideMenuContainerViewController::setRightSideMenuFrameToClosedPosition() {
    if (!rightMenu_) return;
    auto v = rightMenu_->view();
    double x = menuContainerView_->frame().size.width - rightMenuWidth_;
    if (menuSlideAnimationEnabled_) x += rightMenuWidth_ / menuSlideAnimationFactor_;
    v->setFrame(CGRectMake(x, 0, rightMenuWidth_, v->frame().size.height));
    v->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleHeight);
}

void OESideMenuContainerViewController::alignLeftMenuControllerWithCenterViewController() {
    if (!leftMenu_) return;
    auto v = leftMenu_->view();
    const double f = menuSlideAnimationEnabled_ ? menuSlideAnimationFactor_ : 1.0;
    auto cv = centerView();
    const double c = cv ? cv->frame().origin.x : 0.0;
    auto frame = v->frame();
    frame.origin.x = c / f - leftMenuWidth_ / f;
    frame.size.width = leftMenuWidth_;
    v->setFrame(frame);
}

void OESideMenuContainerViewController::alignRightMenuControllerWithCenterViewController() {
    if (!rightMenu_) return;
    auto v = rightMenu_->view();
    const double f = menuSlideAnimationEnabled_ ? menuSlideAnimationFactor_ : 1.0;
    auto cv = centerView();
    const double c = cv ? cv->frame().origin.x : 0.0;
    auto frame = v->frame();
    frame.origin.x = c / f + (menuContainerView_->frame().size.width - rightMenuWidth_) + rightMenuWidth_ / f;
    frame.size.width = rightMenuWidth_;
    v->setFrame(frame);
}

// --- Gestures -----------------------------------------------------------------------------

std::shared_ptr<UIPanGestureRecognizer> OESideMenuContainerViewController::panGestureRecognizer() {
    auto recognizer = UIPanGestureRecognizer::initWithTarget(self(), &OESideMenuContainerViewController::handlePan);
    recognizer->setMaximumNumberOfTouches(1);
    recognizer->setDelegate(self());
    return recognizer;
}

std::shared_ptr<UITapGestureRecognizer> OESideMenuContainerViewController::centerTapGestureRecognizer() {
    auto recognizer =
        UITapGestureRecognizer::initWithTarget(self(), &OESideMenuContainerViewController::centerViewControllerTapped);
    recognizer->setDelegate(self());
    return recognizer;
}

void OESideMenuContainerViewController::removeCenterGestureRecognizers() {
    for (auto* slot : {&centerTap_, &centerPan_}) {
        if (auto recognizer = slot->lock()) {
            if (auto v = recognizer->view()) {
                v->removeGestureRecognizer(recognizer);
                setAccessibilityLabel(*v, "");
                setAccessibilityTraits(*v, UIAccessibilityTraitNone);
            }
        }
        slot->reset();
    }
}

void OESideMenuContainerViewController::addCenterGestureRecognizers() {
    if (!center_) return;
    // Setting a centre again, and the first appearance after a centre was set, would
    // otherwise leave a second pair on the same view.
    removeCenterGestureRecognizers();
    auto v = centerView();
    auto tap = centerTapGestureRecognizer();
    auto pan = panGestureRecognizer();
    v->addGestureRecognizer(tap);
    v->addGestureRecognizer(pan);
    // While the menu is open, a tap on the screen beside it closes it.
    setAccessibilityLabel(*v, "close menu");
    setAccessibilityTraits(*v, UIAccessibilityTraitButton);
    centerTap_ = tap;
    centerPan_ = pan;
}

void OESideMenuContainerViewController::addGestureRecognizers() {
    addCenterGestureRecognizers();
    menuContainerView_->addGestureRecognizer(panGestureRecognizer());
}

bool OESideMenuContainerViewController::gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer, UITouch&) {
    if (dynamic_cast<UITapGestureRecognizer*>(&recognizer)) return menuState_ != OESideMenuStateClosed;
    if (!dynamic_cast<UIPanGestureRecognizer*>(&recognizer)) return false;
    auto v = recognizer.view();
    if (v && v == centerView()) return centerViewControllerPanEnabled();
    if (v && v == menuContainerView_) return sideMenuPanEnabled();
    return true;
}

void OESideMenuContainerViewController::centerViewControllerTapped(const std::shared_ptr<UITapGestureRecognizer>&) {
    if (menuState_ != OESideMenuStateClosed) setMenuState(OESideMenuStateClosed);
}

OESideMenuPanDirection OESideMenuContainerViewController::panDirection() const { return pan_->direction(); }

CGPoint OESideMenuContainerViewController::panGestureOrigin() const { return pan_->origin(); }

void OESideMenuContainerViewController::handlePan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer) {
    if (recognizer) pan_->handlePan(*this, *recognizer);
}

void OESideMenuContainerViewController::handleRightPan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer) {
    if (recognizer) pan_->handleRightPan(*this, *recognizer);
}

void OESideMenuContainerViewController::handleLeftPan(const std::shared_ptr<UIPanGestureRecognizer>& recognizer) {
    if (recognizer) pan_->handleLeftPan(*this, *recognizer);
}

// --- Keyboard -----------------------------------------------------------------------------

void OESideMenuContainerViewController::addKeyboardObserver() { keyboard_ = OESideMenuKeyboard::observeFor(self()); }

void OESideMenuContainerViewController::removeKeyboardObservers() { keyboard_.reset(); }

void OESideMenuContainerViewController::updateWithKeyboardFrame(const CGRect& keyboardFrame, double duration) {
    OESideMenuKeyboard::fitCentre(*this, keyboardFrame, duration);
}

// --- Status bar and orientation -----------------------------------------------------------

namespace {
// The screen that speaks for the status bar: the last child of a container of screens.
std::shared_ptr<UIViewController> statusBarController(const std::shared_ptr<UIViewController>& center) {
    if (const auto* screens = screensOf(center)) return screens->empty() ? nullptr : screens->back();
    return center;
}

std::shared_ptr<UIViewController> orientationController(const std::shared_ptr<UIViewController>& center) {
    if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(center))
        return navigation->topViewController();
    return center;
}
}  // namespace

UIStatusBarStyle OESideMenuContainerViewController::preferredStatusBarStyle() const {
    auto c = statusBarController(center_);
    return c ? c->preferredStatusBarStyle() : UIViewController::preferredStatusBarStyle();
}

bool OESideMenuContainerViewController::prefersStatusBarHidden() const {
    auto c = statusBarController(center_);
    return c ? c->prefersStatusBarHidden() : UIViewController::prefersStatusBarHidden();
}

UIInterfaceOrientationMask OESideMenuContainerViewController::supportedInterfaceOrientations() const {
    auto c = orientationController(center_);
    return c ? c->supportedInterfaceOrientations() : UIViewController::supportedInterfaceOrientations();
}

bool OESideMenuContainerViewController::shouldAutorotate() const {
    auto c = orientationController(center_);
    return c ? c->shouldAutorotate() : true;
}

UIInterfaceOrientation OESideMenuContainerViewController::preferredInterfaceOrientationForPresentation() const {
    auto c = orientationController(center_);
    return c ? c->preferredInterfaceOrientationForPresentation() : UIInterfaceOrientation::Portrait;
}

void OESideMenuContainerViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                                                  double duration) {
    UIViewController::willAnimateRotationToInterfaceOrientation(orientation, duration);
    if (shadow_) shadow_->shadowedViewWillRotate();
}

void OESideMenuContainerViewController::didRotateFromInterfaceOrientation(UIInterfaceOrientation from) {
    UIViewController::didRotateFromInterfaceOrientation(from);
    if (shadow_) shadow_->shadowedViewDidRotate();
}

std::shared_ptr<OESideMenuContainerViewController> menuContainerViewController(
    const std::shared_ptr<UIViewController>& controller) {
    for (auto c = controller; c; c = c->parentViewController()) {
        if (auto container = std::dynamic_pointer_cast<OESideMenuContainerViewController>(c)) return container;
    }
    return nullptr;
}
