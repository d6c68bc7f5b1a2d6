// One finger on the screen: its phase, tap count, time stamp, the view it began in and where
// it is, kept in window coordinates and converted for any view on request.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <vector>

class UIView;
class UIWindow;
class UIGestureRecognizer;

enum class UITouchPhase : int { Began = 0, Moved = 1, Stationary = 2, Ended = 3, Cancelled = 4 };

class UITouch : public NSObject {
public:
    // A touch beginning at `windowPoint` of `window` over `view` (the hit-tested view).
    static std::shared_ptr<UITouch> make(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view,
                                         CGPoint windowPoint, int tapCount, double timestamp);

    UITouchPhase phase() const { return phase_; }
    int tapCount() const { return tapCount_; }
    double timestamp() const { return timestamp_; }
    std::shared_ptr<UIView> view() const { return view_.lock(); }
    std::shared_ptr<UIWindow> window() const { return window_.lock(); }

    // The position in `view`'s coordinates; with no view, in the window's.
    CGPoint locationInView(const std::shared_ptr<UIView>& view) const;

    // The recognisers this touch is delivered to (those of its view and the view's ancestors).
    const std::vector<std::weak_ptr<UIGestureRecognizer>>& gestureRecognizers() const { return recognizers_; }

    // Moves the touch (the event driver): phase, position and time stamp together.
    void update(UITouchPhase phase, CGPoint windowPoint, double timestamp);
    void setGestureRecognizers(std::vector<std::weak_ptr<UIGestureRecognizer>> recognizers) {
        recognizers_ = std::move(recognizers);
    }
    CGPoint windowLocation() const { return location_; }

private:
    UITouch() = default;
    CGPoint convert(CGPoint windowPoint, const std::shared_ptr<UIView>& view) const;

    UITouchPhase phase_ = UITouchPhase::Began;
    int tapCount_ = 1;
    double timestamp_ = 0;
    CGPoint location_;
    CGPoint previous_;
    std::weak_ptr<UIView> view_;
    std::weak_ptr<UIWindow> window_;
    std::vector<std::weak_ptr<UIGestureRecognizer>> recognizers_;
};
