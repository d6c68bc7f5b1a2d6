// The side menu's pans: direction, following the finger, and the release's projected end.
#include "uikit/OESideMenuPanHandler.h"

#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIView.h"

#include <algorithm>

namespace {
std::shared_ptr<UIView> centreOf(const OESideMenuContainerViewController& container) {
    const auto center = container.centerViewController();
    return center ? center->view() : nullptr;
}
}  // namespace

void OESideMenuPanHandler::handlePan(UIPanGestureRecognizer& recognizer) {
    auto v = centreOf(container_);
    if (!v) return;
    const OESideMenuState state = container_.menuState();
    if (recognizer.state() == UIGestureRecognizerState::Began) {
        origin_ = v->frame().origin;
        direction_ = OESideMenuPanDirectionNone;
    }
    if (direction_ == OESideMenuPanDirectionNone) {
        const double t = recognizer.translationInView(v).x;
        if (t > 0) {
            direction_ = OESideMenuPanDirectionRight;
            if (container_.leftMenuViewController() && state == OESideMenuStateClosed) container_.leftMenuWillShow();
        } else if (t < 0) {
            direction_ = OESideMenuPanDirectionLeft;
            if (container_.rightMenuViewController() && state == OESideMenuStateClosed) container_.rightMenuWillShow();
        }
    }
    // An open menu is not pushed further open.
    if ((state == OESideMenuStateRightMenuOpen && direction_ == OESideMenuPanDirectionLeft) ||
        (state == OESideMenuStateLeftMenuOpen && direction_ == OESideMenuPanDirectionRight)) {
        direction_ = OESideMenuPanDirectionNone;
        return;
    }
    if (direction_ == OESideMenuPanDirectionLeft) handleLeftPan(recognizer);
    else if (direction_ == OESideMenuPanDirectionRight) handleRightPan(recognizer);
}

double OESideMenuPanHandler::followedOffset(UIPanGestureRecognizer& recognizer,
                                            const std::shared_ptr<UIView>& centre) const {
    const double left = container_.leftMenuWidth();
    const double right = container_.rightMenuWidth();
    return std::clamp(origin_.x + recognizer.translationInView(centre).x, -right, std::max(-right, left));
}

void OESideMenuPanHandler::handleRightPan(UIPanGestureRecognizer& recognizer) {
    const OESideMenuState state = container_.menuState();
    if (!container_.leftMenuViewController() && state == OESideMenuStateClosed) return;
    auto v = centreOf(container_);
    if (!v) return;
    double x = followedOffset(recognizer, v);
    x = state == OESideMenuStateRightMenuOpen ? std::min(x, 0.0) : std::max(x, 0.0);
    if (recognizer.state() != UIGestureRecognizerState::Ended) {
        container_.setCenterViewControllerOffset(x);
        return;
    }
    release(x, recognizer.velocityInView(v).x, v->frame().size.width, true);
    direction_ = OESideMenuPanDirectionNone;
}

void OESideMenuPanHandler::handleLeftPan(UIPanGestureRecognizer& recognizer) {
    const OESideMenuState state = container_.menuState();
    if (!container_.rightMenuViewController() && state == OESideMenuStateClosed) return;
    auto v = centreOf(container_);
    if (!v) return;
    double x = followedOffset(recognizer, v);
    x = state == OESideMenuStateLeftMenuOpen ? std::max(x, 0.0) : std::min(x, 0.0);
    container_.setCenterViewControllerOffset(x);
    if (recognizer.state() != UIGestureRecognizerState::Ended) {
        container_.setCenterViewControllerOffset(x);
        return;
    }
    release(x, recognizer.velocityInView(v).x, v->frame().size.width, false);
    // The direction stays; the next pan's start clears it.
}

void OESideMenuPanHandler::release(double x, double velocity, double width, bool rightward) {
    const double projected = x + kProjectionSeconds * velocity;
    // Mirrored for the finger moving left, so "past" always means further in the pan's direction.
    const double sign = rightward ? 1.0 : -1.0;
    const double menuWidth = rightward ? container_.leftMenuWidth() : container_.rightMenuWidth();
    if (container_.menuState() != OESideMenuStateClosed) {
        if (sign * projected > sign * origin_.x) {
            container_.setPanGestureVelocity(velocity);
            container_.setMenuState(OESideMenuStateClosed);
        } else {
            container_.setPanGestureVelocity(0);
            container_.setCenterViewControllerOffset(origin_.x, true, nullptr);
        }
    } else if (sign * projected > width * 0.5 || sign * projected > menuWidth * 0.5) {
        container_.setPanGestureVelocity(velocity);
        container_.setMenuState(rightward ? OESideMenuStateLeftMenuOpen : OESideMenuStateRightMenuOpen);
    } else {
        container_.setPanGestureVelocity(0);
        container_.setCenterViewControllerOffset(0, true, nullptr);
    }
}
