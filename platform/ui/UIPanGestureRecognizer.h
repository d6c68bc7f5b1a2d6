// Pans: a drag that begins once the fingers have moved past a small threshold; reports the
// translation from where the drag started and the velocity of the latest movement.
#pragma once

#include "platform/ui/UIGestureRecognizer.h"

#include <limits>

class UIPanGestureRecognizer : public UIGestureRecognizer {
public:
    static std::shared_ptr<UIPanGestureRecognizer> make() { return std::make_shared<UIPanGestureRecognizer>(); }
    template <class T, class U, class R>
    static std::shared_ptr<UIPanGestureRecognizer> initWithTarget(const std::shared_ptr<T>& target,
                                                                  void (U::*method)(const std::shared_ptr<R>&)) {
        auto r = make();
        r->addTarget(target, method);
        return r;
    }

    // A touch sequence with more fingers than this fails the pan.
    void setMaximumNumberOfTouches(std::size_t n) { maxTouches_ = n; }
    // The distance a finger moves before the pan begins.
    static double hysteresis() { return 10.0; }

    // The movement since the touch began (or since setTranslation), in `view`'s coordinates.
    CGPoint translationInView(const std::shared_ptr<UIView>& view) const;
    void setTranslation(CGPoint translation, const std::shared_ptr<UIView>& view);
    // Points per second in `view`'s coordinates, from the latest two positions.
    CGPoint velocityInView(const std::shared_ptr<UIView>& view) const;

    bool isContinuous() const override { return true; }
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void reset() override;

private:
    CGPoint centroid() const;

    std::size_t minTouches_ = 1;
    std::size_t maxTouches_ = std::numeric_limits<std::size_t>::max();
    CGPoint origin_;    // window coordinates
    CGPoint current_;   // window coordinates
    CGPoint velocity_;  // window points per second
    CGPoint lastPoint_;
    double lastTime_ = 0;
    bool tracking_ = false;
};
