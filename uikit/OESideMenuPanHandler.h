// The side menu's pans: which way a pan goes, the centre screen following the finger, and on
// release whether the pan's projected end opens or closes a menu or the centre snaps back. It
// keeps only the pan's own state; the container it works on is handed to every call.
#pragma once

#include "platform/ui/CGGeometry.h"
#include "uikit/OESideMenuContainerViewController.h"

class UIPanGestureRecognizer;

class OESideMenuPanHandler {
public:
    // A released pan counts where it would be after this much more time at its speed: a slow
    // pan must be dragged past half the menu, a flick is enough when its speed carries it there.
    static constexpr double kProjectionSeconds = 0.35;

    OESideMenuPanDirection direction() const { return direction_; }
    // The centre view's origin when the pan began.
    CGPoint origin() const { return origin_; }

    // Starts a pan, settles its direction on the first movement and hands it on by direction;
    // an open menu is not pushed further open.
    void handlePan(OESideMenuContainerViewController& container, UIPanGestureRecognizer& recognizer);
    // The finger moving right (opens the left menu, closes the right one) and left.
    void handleRightPan(OESideMenuContainerViewController& container, UIPanGestureRecognizer& recognizer);
    void handleLeftPan(OESideMenuContainerViewController& container, UIPanGestureRecognizer& recognizer);

private:
    // The origin's x plus the finger's way, kept within both menu widths.
    double followedOffset(const OESideMenuContainerViewController& container, UIPanGestureRecognizer& recognizer,
                          const std::shared_ptr<UIView>& centre) const;
    // A pan released at `x` with `velocity`: from closed its projected end opens the menu on the
    // side it came from when it lies past half the centre's `width` or half that menu; from open
    // it closes the menu when it lies past the pan's origin in the pan's direction; otherwise the
    // centre goes back. `rightward`: the finger moved right.
    void release(OESideMenuContainerViewController& container, double x, double velocity, double width, bool rightward);

    OESideMenuPanDirection direction_ = OESideMenuPanDirectionNone;
    CGPoint origin_;
};
