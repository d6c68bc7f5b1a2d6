// The keyboard follows the first responder: text fields, text views and search bars say
// so by taking first-responder status.
#include "platform/ui/UIKeyboard.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIScreen.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> shown{false};

bool takesText(const std::shared_ptr<UIResponder>& responder) {
    return responder && responder->canBecomeFirstResponder();
}

CGRect keyboardFrame(bool visible) {
    const CGRect screen = UIScreen::mainScreen()->bounds();
    const CGFloat h = UIKeyboard::height();
    return CGRectMake(0, visible ? screen.size.height - h : screen.size.height, screen.size.width, h);
}

void post(const std::string& name, bool showing) {
    Value::Dictionary info;
    info[UIKeyboardFrameBeginUserInfoKey] = UIKeyboard::valueWithRect(keyboardFrame(!showing));
    info[UIKeyboardFrameEndUserInfoKey] = UIKeyboard::valueWithRect(keyboardFrame(showing));
    info[UIKeyboardAnimationDurationUserInfoKey] = Value(UIKeyboard::animationDuration());
    info[UIKeyboardAnimationCurveUserInfoKey] = Value(static_cast<long long>(7));
    NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr, info);
}

}  // namespace

void UIKeyboard::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        UIResponder::addFirstResponderObserver(
            [](const std::shared_ptr<UIResponder>&, const std::shared_ptr<UIResponder>& current) {
                const bool wants = takesText(current);
                if (wants && !shown.exchange(true)) {
                    post(UIKeyboardWillShowNotification, true);
                    post(UIKeyboardDidShowNotification, true);
                } else if (!wants && shown.exchange(false)) {
                    post(UIKeyboardWillHideNotification, false);
                    post(UIKeyboardDidHideNotification, false);
                }
            });
    });
}

bool UIKeyboard::isVisible() { return shown.load(); }

CGRect UIKeyboard::frame() { return keyboardFrame(shown.load()); }

CGFloat UIKeyboard::height() {
    const bool pad = UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad;
    const bool landscape = UIScreen::mainScreen()->isLandscape();
    if (pad) return landscape ? 352 : 264;
    return landscape ? 162 : 216;
}

Value UIKeyboard::valueWithRect(const CGRect& rect) {
    Value::Dictionary d;
    d["x"] = Value(rect.origin.x);
    d["y"] = Value(rect.origin.y);
    d["width"] = Value(rect.size.width);
    d["height"] = Value(rect.size.height);
    return Value(d);
}

CGRect UIKeyboard::rectFromUserInfo(const Value::Dictionary& userInfo, const std::string& key) {
    const Value* found = userInfo.find(key);
    if (!found || !found->isDictionary()) return CGRectZero;
    const Value& v = *found;
    return CGRectMake(v["x"].doubleValue(), v["y"].doubleValue(), v["width"].doubleValue(), v["height"].doubleValue());
}
