// Windows: root controller, key status and the synthetic touch driver.
#include "platform/ui/UIWindow.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "platform/ui/UITouch.h"
#include "platform/ui/UIViewController.h"

#include <algorithm>
#include <cmath>

std::shared_ptr<UIWindow> UIView::window() const { return std::static_pointer_cast<UIWindow>(windowView()); }

std::shared_ptr<UIWindow> UIWindow::make() { return initWithFrame(UIScreen::mainScreen()->bounds()); }

std::shared_ptr<UIWindow> UIWindow::initWithFrame(const CGRect& frame) {
    auto window = std::make_shared<UIWindow>(frame);
    if (auto app = UIApplication::sharedApplication()) app->registerWindow(window);
    return window;
}

UIWindow::UIWindow(const CGRect& frame) : UIView(frame), screen_(UIScreen::mainScreen()) { UIView::setHidden(true); }

UIWindow::~UIWindow() = default;

std::shared_ptr<UIScreen> UIWindow::screen() const {
    auto s = screen_.lock();
    return s ? s : UIScreen::mainScreen();
}

void UIWindow::setScreen(const std::shared_ptr<UIScreen>& screen) {
    screen_ = screen;
    if (screen) setFrame(screen->bounds());
}

UIEdgeInsets UIWindow::safeAreaInsets() const {
    if (safeAreaSet_) return safeArea_;
    // The status bar's strip, on the main screen in portrait.
    if (screen() == UIScreen::mainScreen() && !UIScreen::mainScreen()->isLandscape()) return {20, 0, 0, 0};
    return UIEdgeInsetsZero;
}

void UIWindow::setSafeAreaInsets(const UIEdgeInsets& insets) {
    safeArea_ = insets;
    safeAreaSet_ = true;
    setNeedsLayout();
}

std::shared_ptr<UIResponder> UIWindow::nextResponder() const { return UIApplication::sharedApplication(); }

void UIWindow::installRootView() {
    if (!root_) return;
    auto v = root_->view();
    v->setFrame(bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (v->superview().get() != this) insertSubview(v, 0);
}

void UIWindow::setRootViewController(const std::shared_ptr<UIViewController>& controller) {
    if (root_ == controller) return;
    auto old = root_;
    const bool visible = !isHidden();
    if (old && visible) old->beginAppearanceTransition(false, false);
    if (old) {
        if (auto v = old->viewIfLoaded())
            if (v->superview().get() == this) v->removeFromSuperview();
    }
    if (old && visible) old->endAppearanceTransition();
    root_ = controller;
    if (!root_) return;
    installRootView();
    if (visible) {
        root_->beginAppearanceTransition(true, false);
        root_->endAppearanceTransition();
    }
}

void UIWindow::makeKeyWindow() {
    auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
    auto app = UIApplication::sharedApplication();
    if (!app) return;
    auto previous = app->keyWindow();
    if (previous == self) return;
    if (previous)
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidResignKeyNotification, previous);
    app->setKeyWindow(self);
    NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeKeyNotification, self);
}

bool UIWindow::isKeyWindow() const {
    auto app = UIApplication::sharedApplication();
    return app && app->keyWindow().get() == this;
}

void UIWindow::makeKeyAndVisible() {
    UIKeyboard::install();
    if (auto app = UIApplication::sharedApplication())
        app->registerWindow(std::static_pointer_cast<UIWindow>(shared_from_this()));
    makeKeyWindow();
    setHidden(false);
}

void UIWindow::setHidden(bool hidden) {
    if (hidden == isHidden()) return;
    auto self = shared_from_this();
    UIView::setHidden(hidden);
    if (!hidden) {
        installRootView();
        layoutIfNeeded();
        if (root_) {
            root_->beginAppearanceTransition(true, false);
            root_->endAppearanceTransition();
        }
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeVisibleNotification, self);
    } else {
        if (root_) {
            root_->beginAppearanceTransition(false, false);
            root_->endAppearanceTransition();
        }
        NSNotificationCenter::defaultCenter()->postNotificationName(UIWindowDidBecomeHiddenNotification, self);
    }
}

// --- Touches -------------------------------------------------------------------------------

namespace {

double touchTime(double synthetic) { return Clock::uptime() + synthetic; }

// A control takes its own single taps: a one-tap recogniser further up does not steal them.
bool controlKeepsTap(const std::shared_ptr<UIView>& hit, const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    if (!std::dynamic_pointer_cast<UIControl>(hit)) return false;
    auto tap = std::dynamic_pointer_cast<UITapGestureRecognizer>(recognizer);
    return tap && tap->numberOfTapsRequired() == 1 && tap->view() != hit;
}

}  // namespace

std::shared_ptr<UITouch> UIWindow::touchDown(CGPoint windowPoint) {
    auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
    const double now = touchTime(syntheticTime_);
    auto probe = UIEvent::touchEvent({});
    auto hit = hitTest(windowPoint, probe);
    // Under an alert the touch goes nowhere.
    if (hit && !UIAlertModality::touchReaches(hit.get())) hit = nullptr;
    int taps = 1;
    if (lastLiftTime_ >= 0 && now - lastLiftTime_ <= UITapGestureRecognizer::maximumTapInterval() &&
        std::hypot(windowPoint.x - lastLiftPoint_.x, windowPoint.y - lastLiftPoint_.y) <= 2 * UITapGestureRecognizer::allowableMovement())
        taps = lastTapCount_ + 1;
    auto touch = UITouch::make(self, hit, windowPoint, taps, now);
    ActiveTouch active{touch, {}, false};
    for (auto v = hit; v; v = v->superview()) {
        for (const auto& r : v->gestureRecognizers()) {
            if (!r->isEnabled() || controlKeepsTap(hit, r)) continue;
            if (!r->shouldReceiveTouch(*touch)) continue;
            active.recognizers.push_back(r);
        }
    }
    std::vector<std::weak_ptr<UIGestureRecognizer>> weak(active.recognizers.begin(), active.recognizers.end());
    touch->setGestureRecognizers(std::move(weak));
    active_.push_back(std::move(active));
    deliver(touch, 0);
    return touch;
}

void UIWindow::touchMove(const std::shared_ptr<UITouch>& touch, CGPoint windowPoint) {
    if (!touch) return;
    touch->update(UITouchPhase::Moved, windowPoint, touchTime(syntheticTime_));
    deliver(touch, 1);
}

void UIWindow::touchUp(const std::shared_ptr<UITouch>& touch) {
    if (!touch) return;
    touch->update(UITouchPhase::Ended, touch->windowLocation(), touchTime(syntheticTime_));
    lastLiftTime_ = touch->timestamp();
    lastLiftPoint_ = touch->windowLocation();
    lastTapCount_ = touch->tapCount();
    deliver(touch, 2);
}

void UIWindow::touchCancel(const std::shared_ptr<UITouch>& touch) {
    if (!touch) return;
    touch->update(UITouchPhase::Cancelled, touch->windowLocation(), touchTime(syntheticTime_));
    deliver(touch, 3);
}

void UIWindow::deliver(const std::shared_ptr<UITouch>& touch, int phase) {
    auto self = shared_from_this();
    const auto it = std::find_if(active_.begin(), active_.end(), [&](const ActiveTouch& a) { return a.touch == touch; });
    if (it == active_.end()) return;
    ActiveTouch& entry = *it;
    const UITouchList touches{touch};
    auto event = UIEvent::touchEvent(touches);
    auto view = touch->view();

    for (const auto& r : entry.recognizers) {
        if (phase == 0) UIGestureRecognizer::addActive(r);
        const auto s = r->state();
        if (s == UIGestureRecognizerState::Failed || s == UIGestureRecognizerState::Cancelled) {
            // Out of the gesture, it still lets go of the lifted touch, so that it resets.
            if (phase >= 2) r->forgetTouches(touches);
            continue;
        }
        if (s == UIGestureRecognizerState::Ended && phase != 2) continue;
        switch (phase) {
            case 0: r->touchesBegan(touches, event); break;
            case 1: r->touchesMoved(touches, event); break;
            case 2: r->touchesEnded(touches, event); break;
            default: r->touchesCancelled(touches, event); break;
        }
    }
    // A recogniser that took the gesture over cancels the view's touch.
    if (view && !entry.viewCancelled && phase != 0) {
        for (const auto& r : entry.recognizers) {
            const auto s = r->state();
            const bool took = s == UIGestureRecognizerState::Began || s == UIGestureRecognizerState::Changed ||
                              s == UIGestureRecognizerState::Ended;
            if (took && r->cancelsTouchesInView()) {
                entry.viewCancelled = true;
                view->touchesCancelled(touches, event);
                break;
            }
        }
    }
    if (view && !entry.viewCancelled) {
        switch (phase) {
            case 0: view->touchesBegan(touches, event); break;
            case 1: view->touchesMoved(touches, event); break;
            case 2: view->touchesEnded(touches, event); break;
            default: view->touchesCancelled(touches, event); break;
        }
    }
    if (phase >= 2) {
        active_.erase(std::find_if(active_.begin(), active_.end(), [&](const ActiveTouch& a) { return a.touch == touch; }));
        UIGestureRecognizer::resetFinished();
    }
}

void UIWindow::step(double seconds) {
    if (seconds <= 0) return;
    if (Clock::isManual()) Clock::advance(seconds);
    else syntheticTime_ += seconds;
}

void UIWindow::tap(CGPoint windowPoint, int taps) {
    auto self = shared_from_this();
    for (int i = 0; i < taps; ++i) {
        if (i > 0) step(0.1);
        auto touch = touchDown(windowPoint);
        step(0.05);
        touchUp(touch);
    }
}

void UIWindow::longPress(CGPoint windowPoint, double seconds) {
    auto self = shared_from_this();
    auto touch = touchDown(windowPoint);
    step(seconds);
    touchUp(touch);
}

void UIWindow::pan(CGPoint from, CGFloat dx, CGFloat dy, CGFloat speed) {
    auto self = shared_from_this();
    const double distance = std::hypot(dx, dy);
    const double duration = speed > 0 ? distance / speed : 0.25;
    if (!std::isfinite(duration)) return;
    // Steps of 1/60 s, but never more than a ten-second drag takes: a longer one moves in
    // longer steps at the same speed.
    constexpr double kMaxSteps = 600;
    const int steps = static_cast<int>(std::clamp(std::ceil(duration * 60), 2.0, kMaxSteps));
    auto touch = touchDown(from);
    for (int i = 1; i <= steps; ++i) {
        step(duration / steps);
        touchMove(touch, {from.x + dx * i / steps, from.y + dy * i / steps});
    }
    touchUp(touch);
}
