// Tap recognition: counts lifts, fails on movement, on a slow next touch or on extra taps.
#include "platform/ui/UITapGestureRecognizer.h"

#include "platform/ui/UITouch.h"

#include <cmath>

void UITapGestureRecognizer::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (state() != UIGestureRecognizerState::Possible) return;
    // A further touch after the required taps (or while recognition waits on another
    // recogniser) makes this a different gesture.
    if (taps_ >= tapsRequired_ || hasPendingRecognition()) {
        setState(UIGestureRecognizerState::Failed);
        return;
    }
    cancelTimer();
    UIGestureRecognizer::touchesBegan(touches, event);
    maxTouches_ = std::max(maxTouches_, this->touches().size());
    if (taps_ == 0 && !touches.empty()) start_ = touches.front()->windowLocation();
}

void UITapGestureRecognizer::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    if (state() != UIGestureRecognizerState::Possible) return;
    for (const auto& t : touches) {
        const CGPoint p = t->windowLocation();
        if (std::hypot(p.x - start_.x, p.y - start_.y) > allowableMovement()) {
            setState(UIGestureRecognizerState::Failed);
            return;
        }
    }
}

void UITapGestureRecognizer::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesEnded(touches, event);
    if (state() != UIGestureRecognizerState::Possible || hasPendingRecognition()) return;
    if (!this->touches().empty()) return;  // wait for every finger of this tap to lift
    if (static_cast<int>(maxTouches_) != touchesRequired_) {
        setState(UIGestureRecognizerState::Failed);
        return;
    }
    maxTouches_ = 0;
    ++taps_;
    if (taps_ >= tapsRequired_) {
        setState(UIGestureRecognizerState::Recognized);
        return;
    }
    std::weak_ptr<UITapGestureRecognizer> weak = std::static_pointer_cast<UITapGestureRecognizer>(shared_from_this());
    startTimer(maximumTapInterval(), [weak] {
        if (auto self = weak.lock())
            if (self->state() == UIGestureRecognizerState::Possible) self->setState(UIGestureRecognizerState::Failed);
    });
}

void UITapGestureRecognizer::reset() {
    UIGestureRecognizer::reset();
    taps_ = 0;
    maxTouches_ = 0;
}
