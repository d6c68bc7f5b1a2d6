// The on-screen keyboard: when a text-taking responder becomes first responder the keyboard
// "shows" (will-show and did-show notifications with its begin and end frames and animation
// duration), and when none holds the focus any more it hides.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/ui/CGGeometry.h"

#include <string>

inline const std::string UIKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
inline const std::string UIKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
inline const std::string UIKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
inline const std::string UIKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
inline const std::string UIKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
inline const std::string UIKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";
inline const std::string UIKeyboardAnimationDurationUserInfoKey = "UIKeyboardAnimationDurationUserInfoKey";
inline const std::string UIKeyboardAnimationCurveUserInfoKey = "UIKeyboardAnimationCurveUserInfoKey";

class UIKeyboard {
public:
    // Starts following first-responder changes; windows call it when made visible. Idempotent.
    static void install();

    static bool isVisible();
    // In screen coordinates; the keyboard's frame while shown, below the screen while hidden.
    static CGRect frame();
    // 216 points on a phone in portrait, 162 in landscape; 264 and 352 on a pad.
    static CGFloat height();
    static double animationDuration() { return 0.25; }

    // Rectangles travel in user info as dictionaries {"x", "y", "width", "height"}.
    static Value valueWithRect(const CGRect& rect);
    // The rectangle under `key`; zero when absent or malformed.
    static CGRect rectFromUserInfo(const Value::Dictionary& userInfo, const std::string& key);
};
