// The responder chain: views and view controllers pass touches and events up it, and one
// responder at a time is the first responder (the one that takes typed text).
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class UITouch;
class UIEvent;

using UITouchList = std::vector<std::shared_ptr<UITouch>>;

class UIResponder : public NSObject {
public:
    // previous and current may be empty; called after the change.
    using FirstResponderObserver =
        std::function<void(const std::shared_ptr<UIResponder>& previous, const std::shared_ptr<UIResponder>& current)>;

    // Who gets what this responder does not handle; none by default.
    virtual std::shared_ptr<UIResponder> nextResponder() const { return nullptr; }

    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    // Takes over from the current first responder (which must agree to resign); false when
    // this responder cannot become first responder or the current one refuses to resign.
    virtual bool becomeFirstResponder();
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;
    static std::shared_ptr<UIResponder> currentFirstResponder();

    // Observers of first-responder changes (the keyboard's notifications hang on this).
    static std::uint64_t addFirstResponderObserver(FirstResponderObserver observer);
    static void removeFirstResponderObserver(std::uint64_t token);

    // Touch delivery; by default each goes to nextResponder().
    virtual void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    // Remote-control events (media keys); by default passed to nextResponder().
    virtual void remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event);

protected:
    // Called on the responder itself when it gains or loses first-responder status.
    virtual void didBecomeFirstResponder() {}
    virtual void didResignFirstResponder() {}
};
