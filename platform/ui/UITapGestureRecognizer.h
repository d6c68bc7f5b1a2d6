// Taps: a number of quick touches close together; recognised on the last lift.
#pragma once

#include "platform/ui/UIGestureRecognizer.h"

class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    static std::shared_ptr<UITapGestureRecognizer> make() { return std::make_shared<UITapGestureRecognizer>(); }
    template <class T, class U, class R>
    static std::shared_ptr<UITapGestureRecognizer> initWithTarget(const std::shared_ptr<T>& target,
                                                                  void (U::*method)(const std::shared_ptr<R>&)) {
        auto r = make();
        r->addTarget(target, method);
        return r;
    }

    int numberOfTapsRequired() const { return tapsRequired_; }
    void setNumberOfTapsRequired(int taps) { tapsRequired_ = taps < 1 ? 1 : taps; }

    // The longest wait between one lift and the next touch, and the farthest a finger may move.
    static double maximumTapInterval() { return 0.35; }
    static double allowableMovement() { return 10.0; }

    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void reset() override;

private:
    int tapsRequired_ = 1;
    int touchesRequired_ = 1;
    int taps_ = 0;
    std::size_t maxTouches_ = 0;
    CGPoint start_;
};
