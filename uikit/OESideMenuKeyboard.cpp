// The side menu's keyboard handling: the notifications and the centre's new frame.
#include "uikit/OESideMenuKeyboard.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIView.h"
#include "uikit/OESideMenuContainerViewController.h"

std::shared_ptr<OESideMenuKeyboard> OESideMenuKeyboard::observeFor(
    const std::shared_ptr<OESideMenuContainerViewController>& container) {
    auto keyboard = std::make_shared<OESideMenuKeyboard>();
    keyboard->container_ = container;
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(keyboard, &OESideMenuKeyboard::keyboardWillChange, UIKeyboardWillShowNotification);
    center->addObserver(keyboard, &OESideMenuKeyboard::keyboardWillChange, UIKeyboardWillHideNotification);
    return keyboard;
}

OESideMenuKeyboard::~OESideMenuKeyboard() {
    auto center = NSNotificationCenter::defaultCenter();
    center->removeObserver(this, UIKeyboardWillShowNotification, nullptr);
    center->removeObserver(this, UIKeyboardWillHideNotification, nullptr);
}

void OESideMenuKeyboard::keyboardWillChange(const NSNotification& notification) {
    auto container = container_.lock();
    if (!container) return;
    const auto& info = notification.userInfo();
    // The duration travels as a single-precision number.
    fitCentre(*container, UIKeyboard::rectFromUserInfo(info, UIKeyboardFrameEndUserInfoKey),
              static_cast<double>(info.get(UIKeyboardAnimationDurationUserInfoKey).floatValue()));
}

void OESideMenuKeyboard::fitCentre(OESideMenuContainerViewController& container, const CGRect& keyboardFrame,
                                   double duration) {
    // Screens inside the centre present from the container, so look at both.
    const auto center = container.centerViewController();
    if (!center || center->presentedViewController() || container.presentedViewController()) return;
    auto v = center->view();
    const CGRect k = v->convertRectFromView(keyboardFrame, nullptr);
    const CGRect bounds = container.view()->bounds();
    const CGRect target{bounds.origin, {bounds.size.width, bounds.size.height - (bounds.size.height - k.origin.y)}};
    std::weak_ptr<UIView> weakView = v;
    UIView::animateWithDuration(duration, [weakView, target] {
        if (auto view = weakView.lock()) view->setFrame(target);
    });
}
