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

void OESideMenuPanHandler::handlePan(OESideMenuContainerViewController& container, UIPanGestureRecognizer& recognizer) {
    auto v = centreOf(container);
    if (!v) return;
    const OESideMenuState state = container.menuState();
    if (recognizer.state() == UIGestureRecognizerState::Began) {
        origin_ = v->frame().origin;
        direction_ = OESideMenuPanDirectionNone;
    }
    if (direction_ == OESideMenuPanDirectionNone) {
        const double t = recognizer.translationInView(v).x;
        if (t > 0) {
            direction_ = OESideMenuPanDirectionRight;
            if (container.leftMenuViewController() && state == OESideMenuStateClosed) container.leftMenuWillShow();
        } else if (t < 0) {
            direction_ = OESideMenuPanDirectionLeft;
            if (container.rightMenuViewController() && state == OESideMenuStateClosed) container.rightMenuWillShow();
        }
    }
    // An open menu is not pushed further open.
    if ((state == OESideMenuStateRightMenuOpen && direction_ == OESideMenuPanDirectionLeft) ||
        (state == OESideMenuStateLeftMenuOpen && direction_ == OESideMenuPanDirectionRight)) {
        direction_ = OESideMenuPanDirectionNone;
        return;
    }
    if (direction_ == OESideMenuPanDirectionLeft) handleLeftPan(container, recognizer);
    else if (direction_ == OESideMenuPanDirectionRight) handleRightPan(container, recognizer);
}

double OESideMenuPanHandler::followedOffset(const OESideMenuContainerViewController& container,
                                            UIPanGestureRecognizer& recognizer,
                                            const std::shared_ptr<UIView>& centre) const {
    const double left = container.leftMenuWidth();
    const double right = container.rightMenuWidth();
    return std::clamp(origin_.x + recognizer.translationInView(centre).x, -right, std::max(-right, left));
}

void OESideMenuPanHandler::handleRightPan(OESideMenuContainerViewController& container,
                                          UIPanGestureRecognizer& recognizer) {
    const OESideMenuState state = container.menuState();
    if (!container.leftMenuViewController() && state == OESideMenuStateClosed) return;
    auto v = centreOf(container);
    if (!v) return;
    double x = followedOffset(container, recognizer, v);
    x = state == OESideMenuStateRightMenuOpen ? std::min(x, 0.0) : std::max(x, 0.0);
    if (recognizer.state() != UIGestureRecognizerState::Ended) {
        container.setCenterViewControllerOffset(x);
        return;
    }
    release(container, x, recognizer.velocityInView(v).x, v->frame().size.width, true);
    direction_ = OESideMenuPanDirectionNone;
}

void OESideMenuPanHandler::handleLeftPan(OESideMenuContainerViewController& container,
                                         UIPanGestureRecognizer& recognizer) {
    const OESideMenuState state = container.menuState();
    if (!container.rightMenuViewController() && state == OESideMenuStateClosed) return;
    auto v = centreOf(container);
    if (!v) return;
    double x = followedOffset(container, recognizer, v);
    x = state == OESideMenuStateLeftMenuOpen ? std::max(x, 0.0) : std::min(x, 0.0);
    container.setCenterViewControllerOffset(x);
    if (recognizer.state() != UIGestureRecognizerState::Ended) {
        container.setCenterViewControllerOffset(x);
        return;
    }
    release(container, x, recognizer.velocityInView(v).x, v->frame().size.width, false);
    // The direction stays; the next pan's start clears it.
}

void OESideMenuPanHandler::release(OESideMenuContainerViewController& container, double x, double velocity,
                                   double width, bool rightward) {
    const double projected = x + kProjectionSeconds * velocity;
    // Mirrored for the finger moving left, so "past" always means further in the pan's direction.
    const double sign = rightward ? 1.0 : -1.0;
    const double menuWidth = rightward ? container.leftMenuWidth() : container.rightMenuWidth();
    if (container.menuState() != OESideMenuStateClosed) {
        if (sign * projected > sign * origin_.x) {
            container.setPanGestureVelocity(velocity);
            container.setMenuState(OESideMenuStateClosed);
        } else {
            container.setPanGestureVelocity(0);
            container.setCenterViewControllerOffset(origin_.x, true, nullptr);
        }
    } else if (sign * projected > width * 0.5 || sign * projected > menuWidth * 0.5) {
        container.setPanGestureVelocity(velocity);
        container.setMenuState(rightward ? OESideMenuStateLeftMenuOpen : OESideMenuStateRightMenuOpen);
    } else {
        container.setPanGestureVelocity(0);
        container.setCenterViewControllerOffset(0, true, nullptr);
    }
}
