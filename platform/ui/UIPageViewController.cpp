// The pager: one page as a child, turns on the clock, swipes from pans.
#include "platform/ui/UIPageViewController.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"

#include <cmath>

std::shared_ptr<UIPageViewController> UIPageViewController::initWithTransitionStyle(
    UIPageViewControllerTransitionStyle style, UIPageViewControllerNavigationOrientation orientation,
    const Value::Dictionary& options) {
    const Value* spacing = options.find(UIPageViewControllerOptionInterPageSpacingKey);
    return std::make_shared<UIPageViewController>(style, orientation, spacing ? spacing->doubleValue() : 0.0);
}

// Both transition styles page alike here: there is no page curl to draw.
UIPageViewController::UIPageViewController([[maybe_unused]] UIPageViewControllerTransitionStyle style,
                                           UIPageViewControllerNavigationOrientation orientation, CGFloat spacing)
    : orientation_(orientation), spacing_(spacing) {}

std::vector<std::shared_ptr<UIViewController>> UIPageViewController::viewControllers() const {
    if (!current_) return {};
    return {current_};
}

std::vector<std::shared_ptr<UIViewController>> UIPageViewController::childrenForAppearance() const {
    return viewControllers();
}

void UIPageViewController::loadView() {
    auto v = UIView::initWithFrame(UIScreen::mainScreen()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(v);
}

void UIPageViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto pan = UIPanGestureRecognizer::initWithTarget(self<UIPageViewController>(), &UIPageViewController::handlePan);
    pan->setMaximumNumberOfTouches(1);
    view()->addGestureRecognizer(pan);
    if (current_) show(current_);
}

void UIPageViewController::show(const std::shared_ptr<UIViewController>& page) {
    if (!isViewLoaded()) return;
    auto v = page->view();
    v->setFrame(view()->bounds());
    v->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    if (v->superview() != view()) view()->addSubview(v);
}

void UIPageViewController::drop(const std::shared_ptr<UIViewController>& page) {
    page->willMoveToParentViewController(nullptr);
    if (auto v = page->viewIfLoaded())
        if (v->superview() == view()) v->removeFromSuperview();
    page->removeFromParentViewController();
}

void UIPageViewController::setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& pages,
                                              UIPageViewControllerNavigationDirection, bool animated,
                                              Completion completion) {
    auto self = std::static_pointer_cast<UIPageViewController>(shared_from_this());
    auto next = pages.empty() ? nullptr : pages.front();
    auto old = current_;
    const bool visible = isVisible();
    if (next != old) {
        if (next) {
            addChildViewController(next);
            show(next);
        }
        if (visible) {
            if (old) old->beginAppearanceTransition(false, animated);
            if (next) next->beginAppearanceTransition(true, animated);
        }
        current_ = next;
    }
    auto finish = [self, old, next, visible, completion] {
        if (old && old != next) {
            if (visible) old->endAppearanceTransition();
            self->drop(old);
        }
        if (next && next != old) {
            if (visible) next->endAppearanceTransition();
            next->didMoveToParentViewController(self);
        }
        if (completion) completion(true);
    };
    if (animated) {
        NSRunLoop::mainRunLoop()->performAfterDelay(self, finish, turnDuration());
    } else {
        if (old && old != next) {
            if (visible) old->endAppearanceTransition();
            drop(old);
        }
        if (next && next != old) {
            if (visible) next->endAppearanceTransition();
            next->didMoveToParentViewController(self);
        }
        if (completion) NSRunLoop::mainRunLoop()->post([completion] { completion(true); });
    }
}

bool UIPageViewController::swipe(bool forward, bool complete) {
    auto source = dataSource();
    if (!source || !current_ || turning_) return false;
    auto self = std::static_pointer_cast<UIPageViewController>(shared_from_this());
    auto next = forward ? source->pageViewControllerViewControllerAfterViewController(*this, current_)
                        : source->pageViewControllerViewControllerBeforeViewController(*this, current_);
    if (!next) return false;
    auto old = current_;
    if (auto d = delegate()) d->pageViewControllerWillTransitionToViewControllers(*this, {next});
    turning_ = true;
    addChildViewController(next);
    show(next);
    const bool visible = isVisible();
    if (visible) {
        old->beginAppearanceTransition(false, true);
        next->beginAppearanceTransition(true, true);
    }
    NSRunLoop::mainRunLoop()->performAfterDelay(
        self,
        [self, old, next, complete, visible] {
            self->turning_ = false;
            if (complete) {
                self->current_ = next;
                if (visible) {
                    old->endAppearanceTransition();
                    next->endAppearanceTransition();
                }
                self->drop(old);
                next->didMoveToParentViewController(self);
            } else {
                // The page falls back: the new one goes away again, the old one comes back.
                if (visible) {
                    next->beginAppearanceTransition(false, true);
                    old->beginAppearanceTransition(true, true);
                    next->endAppearanceTransition();
                    old->endAppearanceTransition();
                }
                self->drop(next);
            }
            if (auto d = self->delegate())
                d->pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(*self, true, {old},
                                                                                                   complete);
        },
        turnDuration());
    return true;
}

void UIPageViewController::handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan) {
    if (!pan || pan->state() != UIGestureRecognizerState::Ended) return;
    const bool horizontal = orientation_ == UIPageViewControllerNavigationOrientation::Horizontal;
    const CGPoint t = pan->translationInView(view());
    const CGPoint v = pan->velocityInView(view());
    const double distance = horizontal ? t.x : t.y;
    const double speed = horizontal ? v.x : v.y;
    const double extent = horizontal ? view()->bounds().size.width : view()->bounds().size.height;
    if (std::fabs(distance) < 1) return;
    // Dragging towards the start shows the next page; far or fast enough, the page turns.
    const bool forward = distance < 0;
    const bool complete = std::fabs(distance) >= extent / 3 || std::fabs(speed) >= 500;
    swipe(forward, complete);
}
