// Gesture recognisers: touches in, a state machine, target-actions out. Recognisers that see
// the same touches compete: the first to begin wins unless the delegates allow both, and one
// that must wait for another to fail holds its recognition until that one decides.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"
#include "platform/ui/UIResponder.h"

#include <functional>
#include <memory>
#include <set>
#include <vector>

class UIView;
class UIEvent;
class UITouch;
class UIGestureRecognizer;

enum class UIGestureRecognizerState : int {
    Possible = 0,
    Began = 1,
    Changed = 2,
    Ended = 3,
    Cancelled = 4,
    Failed = 5,
    Recognized = Ended,
};

class UIGestureRecognizerDelegate {
public:
    virtual ~UIGestureRecognizerDelegate() = default;
    virtual bool gestureRecognizerShouldBegin(UIGestureRecognizer&) { return true; }
    virtual bool gestureRecognizerShouldReceiveTouch(UIGestureRecognizer&, UITouch&) { return true; }
    virtual bool gestureRecognizerShouldRecognizeSimultaneouslyWithGestureRecognizer(UIGestureRecognizer&,
                                                                                   UIGestureRecognizer&) {
        return false;
    }
};

class UIGestureRecognizer : public NSObject {
public:
    using Action = std::function<void(const std::shared_ptr<UIGestureRecognizer>&)>;

    UIGestureRecognizer();
    ~UIGestureRecognizer() override;

    // The action runs while `target` lives (held weakly); with no target it always runs.
    void addTarget(const std::shared_ptr<NSObject>& target, Action action);
    template <class T, class U, class R>
    void addTarget(const std::shared_ptr<T>& target, void (U::*method)(const std::shared_ptr<R>&)) {
        U* raw = target.get();
        addTarget(std::static_pointer_cast<NSObject>(target), [raw, method](const std::shared_ptr<UIGestureRecognizer>& r) {
            (raw->*method)(std::dynamic_pointer_cast<R>(r));
        });
    }
    // Drops every action of `target`.

    UIGestureRecognizerState state() const { return state_; }
    // What subclasses (and tests standing in for touches) call. Moving out of Possible checks
    // the delegate, the competing recognisers and the failure requirements first, and may
    // end in Failed or in a deferred recognition instead. Actions run for Began, Changed,
    // Ended and Cancelled.
    void setState(UIGestureRecognizerState state);

    std::shared_ptr<UIView> view() const { return view_.lock(); }
    bool isEnabled() const { return enabled_; }
    // Turning a recogniser off while it recognises cancels it.
    void setEnabled(bool enabled);
    bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
    void setCancelsTouchesInView(bool cancels) { cancelsTouchesInView_ = cancels; }

    std::shared_ptr<UIGestureRecognizerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UIGestureRecognizerDelegate>& delegate) { delegate_ = delegate; }

    // This recogniser recognises only once `other` has failed.
    void requireGestureRecognizerToFail(const std::shared_ptr<UIGestureRecognizer>& other);

    // The centroid of the current touches (or of the last ones) in `view`'s coordinates.
    CGPoint locationInView(const std::shared_ptr<UIView>& view) const;

    // Continuous recognisers report Began/Changed/Ended; discrete ones Recognized once.
    virtual bool isContinuous() const { return false; }

    // Touch input, from the window's event delivery (or a test).
    virtual void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    virtual void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event);
    // Back to Possible once a gesture is over.
    virtual void reset();

    // --- Event delivery (the window's driver) -------------------------------------------------
    // The recognisers taking part in the current touch sequence.
    static std::vector<std::shared_ptr<UIGestureRecognizer>> activeRecognizers();
    static void addActive(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    // Resets and drops those whose gesture is over and that no longer wait for anything.
    static void resetFinished();
    // Whether the delegate lets this recogniser see `touch`.
    bool shouldReceiveTouch(UITouch& touch);
    void attachToView(const std::shared_ptr<UIView>& view) { view_ = view; }
    // Touches this recogniser holds now.
    const UITouchList& touches() const { return touches_; }
    // Drops lifted or cancelled touches of a gesture this recogniser has left (failed or
    // cancelled), without any state change.
    void forgetTouches(const UITouchList& touches) { removeTouches(touches); }

protected:
    // A subclass's own condition for leaving Possible (asked before the delegate's).
    virtual bool canBegin() { return true; }
    // Subclasses keep the touch list current through these.
    void addTouches(const UITouchList& touches);
    void removeTouches(const UITouchList& touches);
    // A clock timer on the main run loop that fails or advances the gesture; one at a time.
    void startTimer(double seconds, std::function<void()> fire);
    void cancelTimer();
    bool hasPendingRecognition() const { return pending_ != UIGestureRecognizerState::Possible; }

private:
    struct Target {
        std::weak_ptr<NSObject> target;
        bool hasTarget;
        Action action;
    };

    void sendActions();
    bool simultaneousWith(UIGestureRecognizer& other);
    // Retries a deferred recognition once every required recogniser has failed.
    void retryPending();
    static void failureOf(UIGestureRecognizer* failed);

    UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
    UIGestureRecognizerState pending_ = UIGestureRecognizerState::Possible;
    std::weak_ptr<UIView> view_;
    std::weak_ptr<UIGestureRecognizerDelegate> delegate_;
    std::vector<Target> targets_;
    std::vector<std::weak_ptr<UIGestureRecognizer>> requiredToFail_;
    UITouchList touches_;
    CGPoint lastLocation_;
    bool enabled_ = true;
    bool cancelsTouchesInView_ = true;
    std::shared_ptr<NSObject> timerToken_;
};
