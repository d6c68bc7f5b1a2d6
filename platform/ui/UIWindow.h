// A window: the root of what is on screen, with its root view controller, key status, level
// and safe-area insets, and the event driver that turns synthetic touches into touch events
// for recognisers and views.
#pragma once

#include "platform/ui/UIView.h"

#include <memory>
#include <string>
#include <vector>

class UIScreen;
class UITouch;
class UIViewController;

using UIWindowLevel = double;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

inline const std::string UIWindowDidBecomeKeyNotification = "UIWindowDidBecomeKeyNotification";
inline const std::string UIWindowDidResignKeyNotification = "UIWindowDidResignKeyNotification";
inline const std::string UIWindowDidBecomeVisibleNotification = "UIWindowDidBecomeVisibleNotification";
inline const std::string UIWindowDidBecomeHiddenNotification = "UIWindowDidBecomeHiddenNotification";

class UIWindow : public UIView {
public:
    // A window over the main screen's bounds, hidden until made visible.
    static std::shared_ptr<UIWindow> make();
    static std::shared_ptr<UIWindow> initWithFrame(const CGRect& frame);

    explicit UIWindow(const CGRect& frame);
    ~UIWindow() override;

    bool isWindow() const override { return true; }

    std::shared_ptr<UIViewController> rootViewController() const { return root_; }
    // The controller's view fills the window; on a visible window the old root disappears and
    // the new one appears.
    void setRootViewController(const std::shared_ptr<UIViewController>& controller);

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    void setHidden(bool hidden) override;

    UIWindowLevel windowLevel() const { return level_; }
    void setWindowLevel(UIWindowLevel level) { level_ = level; }
    std::shared_ptr<UIScreen> screen() const;
    void setScreen(const std::shared_ptr<UIScreen>& screen);

    // The status bar's strip on a phone (20 points at the top) unless set.
    UIEdgeInsets safeAreaInsets() const override;
    void setSafeAreaInsets(const UIEdgeInsets& insets);

    std::shared_ptr<UIResponder> nextResponder() const override;

    // --- Synthetic touches ---------------------------------------------------------------------
    // Each step is time-stamped with the clock's uptime. A touch beginning soon after and near
    // the previous lift continues its tap count. Answers the touch (its view may be empty
    // when nothing under the point takes touches).
    std::shared_ptr<UITouch> touchDown(CGPoint windowPoint);
    void touchMove(const std::shared_ptr<UITouch>& touch, CGPoint windowPoint);
    void touchUp(const std::shared_ptr<UITouch>& touch);
    void touchCancel(const std::shared_ptr<UITouch>& touch);

    // Whole gestures. With the clock in manual mode the driver moves it by the gesture's own
    // time (a tap takes 0.05 s, a press its duration, a pan its distance over its speed), so
    // timers due meanwhile fire in order; otherwise time stamps are spaced without waiting.
    void tap(CGPoint windowPoint, int taps = 1);
    void longPress(CGPoint windowPoint, double seconds = 1.0);
    // Moves in steps of 1/60 s (at most 600 of them, longer ones for a longer drag) from
    // `from` by (dx, dy) at `speed` points per second; nothing when that takes forever.
    void pan(CGPoint from, CGFloat dx, CGFloat dy, CGFloat speed);

private:
    void deliver(const std::shared_ptr<UITouch>& touch, int phase);
    void installRootView();
    void step(double seconds);

    struct ActiveTouch {
        std::shared_ptr<UITouch> touch;
        std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers;
        bool viewCancelled = false;
    };

    std::shared_ptr<UIViewController> root_;
    UIWindowLevel level_ = UIWindowLevelNormal;
    std::weak_ptr<UIScreen> screen_;
    bool safeAreaSet_ = false;
    UIEdgeInsets safeArea_;
    std::vector<ActiveTouch> active_;
    double lastLiftTime_ = -1;
    CGPoint lastLiftPoint_;
    int lastTapCount_ = 0;
    double syntheticTime_ = 0;
};
