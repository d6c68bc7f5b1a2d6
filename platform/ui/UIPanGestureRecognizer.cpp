// Pan recognition: threshold, translation and velocity from time-stamped touch positions.
#include "platform/ui/UIPanGestureRecognizer.h"

#include "platform/ui/UITouch.h"
#include "platform/ui/UIView.h"

#include <cmath>

CGPoint UIPanGestureRecognizer::centroid() const {
    CGPoint sum;
    for (const auto& t : touches()) {
        sum.x += t->windowLocation().x;
        sum.y += t->windowLocation().y;
    }
    const double n = touches().empty() ? 1.0 : static_cast<double>(touches().size());
    return {sum.x / n, sum.y / n};
}

void UIPanGestureRecognizer::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesBegan(touches, event);
    if (this->touches().size() > maxTouches_) {
        if (state() == UIGestureRecognizerState::Possible) setState(UIGestureRecognizerState::Failed);
        return;
    }
    if (state() != UIGestureRecognizerState::Possible) return;
    origin_ = current_ = lastPoint_ = centroid();
    lastTime_ = touches.empty() ? 0 : touches.front()->timestamp();
    velocity_ = {};
    tracking_ = true;
}

void UIPanGestureRecognizer::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    if (!tracking_ || touches.empty()) return;
    const CGPoint p = centroid();
    const double t = touches.front()->timestamp();
    if (t > lastTime_) {
        velocity_ = {(p.x - lastPoint_.x) / (t - lastTime_), (p.y - lastPoint_.y) / (t - lastTime_)};
        lastPoint_ = p;
        lastTime_ = t;
    }
    current_ = p;
    if (state() == UIGestureRecognizerState::Possible) {
        if (this->touches().size() < minTouches_) return;
        if (std::hypot(p.x - origin_.x, p.y - origin_.y) >= hysteresis()) setState(UIGestureRecognizerState::Began);
    } else if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed) {
        setState(UIGestureRecognizerState::Changed);
    }
}

void UIPanGestureRecognizer::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!touches.empty() && tracking_) {
        const double t = touches.front()->timestamp();
        const CGPoint p = touches.front()->windowLocation();
        if (t > lastTime_) {
            velocity_ = {(p.x - lastPoint_.x) / (t - lastTime_), (p.y - lastPoint_.y) / (t - lastTime_)};
            lastPoint_ = p;
            lastTime_ = t;
        }
        current_ = p;
    }
    UIGestureRecognizer::touchesEnded(touches, event);
    if (!this->touches().empty()) return;
    tracking_ = false;
    if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed)
        setState(UIGestureRecognizerState::Ended);
    else if (state() == UIGestureRecognizerState::Possible)
        setState(UIGestureRecognizerState::Failed);
}

void UIPanGestureRecognizer::reset() {
    UIGestureRecognizer::reset();
    tracking_ = false;
    velocity_ = {};
}

CGPoint UIPanGestureRecognizer::translationInView(const std::shared_ptr<UIView>& view) const {
    if (!view) return {current_.x - origin_.x, current_.y - origin_.y};
    const CGPoint a = view->convertPointFromView(origin_, nullptr);
    const CGPoint b = view->convertPointFromView(current_, nullptr);
    return {b.x - a.x, b.y - a.y};
}

void UIPanGestureRecognizer::setTranslation(CGPoint translation, const std::shared_ptr<UIView>& view) {
    if (!view) {
        origin_ = {current_.x - translation.x, current_.y - translation.y};
        return;
    }
    const CGPoint b = view->convertPointFromView(current_, nullptr);
    origin_ = view->convertPointToView({b.x - translation.x, b.y - translation.y}, nullptr);
}

CGPoint UIPanGestureRecognizer::velocityInView(const std::shared_ptr<UIView>& view) const {
    if (!view) return velocity_;
    // A velocity is a vector: convert two points one second apart.
    const CGPoint a = view->convertPointFromView(lastPoint_, nullptr);
    const CGPoint b = view->convertPointFromView({lastPoint_.x + velocity_.x, lastPoint_.y + velocity_.y}, nullptr);
    return {b.x - a.x, b.y - a.y};
}
