// The external screen's window and the cross-fade between the views shown on it.
#include "gallery/SecondWindowController.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

std::shared_ptr<SecondWindowController> SecondWindowController::make() {
    auto controller = std::make_shared<SecondWindowController>();
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(controller, &SecondWindowController::handleScreenConnectNotification, UIScreenDidConnectNotification);
    center->addObserver(controller, &SecondWindowController::handleScreenDisconnectNotification,
                        UIScreenDidDisconnectNotification);
    controller->configureExternalDisplay();
    return controller;
}

SecondWindowController::~SecondWindowController() {
    if (secondWindow_) secondWindow_->setHidden(true);
    NSNotificationCenter::defaultCenter()->removeObserver(this);
}

std::shared_ptr<UIView> SecondWindowController::currentView() const {
    if (!secondWindow_) return nullptr;
    const auto views = secondWindow_->subviews();
    return views.empty() ? nullptr : views.back();
}

void SecondWindowController::configureExternalDisplay() {
    if (secondWindow_) {
        secondWindow_->setHidden(true);
        secondWindow_.reset();
    }
    const auto screens = UIScreen::screens();
    if (screens.size() < 2) return;
    const auto& external = screens[1];
    // Hidden until the first view comes.
    secondWindow_ = UIWindow::initWithFrame(external->bounds());
    secondWindow_->setScreen(external);
}

void SecondWindowController::displayView(const std::shared_ptr<UIView>& view) {
    if (!secondWindow_ || !view) return;
    auto old = currentView();
    view->setFrame(secondWindow_->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view->setContentMode(UIViewContentModeScaleAspectFit);
    view->setAlpha(0);
    secondWindow_->addSubview(view);
    secondWindow_->setHidden(false);
    // The fade removes only the view that was current when it began.
    std::weak_ptr<UIView> weakOld = old;
    UIView::animateWithDuration(
        kFadeDuration,
        [weakOld, view] {
            if (auto previous = weakOld.lock()) previous->setAlpha(0);
            view->setAlpha(1);
        },
        [weakOld](bool) {
            if (auto previous = weakOld.lock()) previous->removeFromSuperview();
        });
}

void SecondWindowController::handleScreenConnectNotification(const NSNotification&) { configureExternalDisplay(); }

void SecondWindowController::handleScreenDisconnectNotification(const NSNotification&) { configureExternalDisplay(); }
