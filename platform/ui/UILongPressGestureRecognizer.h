// Long presses: a finger held still for the minimum duration begins the gesture; moving it
// afterwards changes it and lifting ends it.
#pragma once

#include "platform/ui/UIGestureRecognizer.h"

class UILongPressGestureRecognizer : public UIGestureRecognizer {
public:
    static std::shared_ptr<UILongPressGestureRecognizer> make() {
        return std::make_shared<UILongPressGestureRecognizer>();
    }
    template <class T, class U, class R>
    static std::shared_ptr<UILongPressGestureRecognizer> initWithTarget(const std::shared_ptr<T>& target,
                                                                        void (U::*method)(const std::shared_ptr<R>&)) {
        auto r = make();
        r->addTarget(target, method);
        return r;
    }

    // 10 points, as the platform.
    CGFloat allowableMovement() const { return allowableMovement_; }

    bool isContinuous() const override { return true; }
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

private:
    double minimumPressDuration_ = 0.5;
    CGFloat allowableMovement_ = 10;
    CGPoint start_;
};
