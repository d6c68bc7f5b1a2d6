// An alert on screen is modal, as on the platform: until one of its actions ends it, it takes
// every touch (a touch meant for anything under it goes nowhere), and a screen presented from
// under it waits until it has gone. It takes the focus too, and gives it back as it goes. The
// alerts are the alert controllers showing and the alert views shown, the newest on top. Main
// thread only.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <vector>

class UIView;

class UIAlertModality {
public:
    // The alert came on screen, on top of those already there. It took the focus from the
    // responder that had it, or that gave it up in the action that raised the alert.
    static void alertShown(const std::shared_ptr<NSObject>& alert);
    // The alert went; once none is left, the presentations that waited go ahead in order, on a
    // later turn of the main run loop (after the action that ended the alert has run), and the
    // focus it took goes back where nothing has taken it meanwhile.
    static void alertEnded(const NSObject* alert);

    static bool isAlertUp();
    // The newest alert on screen; empty when there is none.
    static std::shared_ptr<NSObject> topAlert();
    // Every alert on screen, oldest first: the last one is in front, the others wait behind it.
    static std::vector<std::shared_ptr<NSObject>> alerts();
    // Whether a touch on `view` reaches it: no alert is up, or the view lies inside the top
    // alert's own view (an alert view's window).
    static bool touchReaches(const UIView* view);
    // Whether `alert` is the one taking touches now.
    static bool isTopAlert(const NSObject* alert);

    // Whether a presentation from `presenter` must wait: an alert other than the presenter is
    // up, or presentations that waited for one have not gone ahead yet.
    static bool mustWait(const NSObject* presenter);
    // Runs `presentation` when no alert is up any more; it may find another alert by then and
    // wait again.
    static void afterAlerts(std::function<void()> presentation);
    // How many presentations are waiting.
    static std::size_t waitingCount();

    // Forgets every alert and every waiting presentation (a fresh application).
    static void reset();
};
