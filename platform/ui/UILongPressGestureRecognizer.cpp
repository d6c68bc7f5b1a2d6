// Long-press recognition on a clock timer.
#include "platform/ui/UILongPressGestureRecognizer.h"

#include "platform/ui/UITouch.h"

#include <cmath>

void UILongPressGestureRecognizer::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (state() != UIGestureRecognizerState::Possible) return;
    UIGestureRecognizer::touchesBegan(touches, event);
    if (!touches.empty()) start_ = touches.front()->windowLocation();
    std::weak_ptr<UILongPressGestureRecognizer> weak =
        std::static_pointer_cast<UILongPressGestureRecognizer>(shared_from_this());
    startTimer(minimumPressDuration_, [weak] {
        if (auto self = weak.lock())
            if (self->state() == UIGestureRecognizerState::Possible && !self->touches().empty())
                self->setState(UIGestureRecognizerState::Began);
    });
}

void UILongPressGestureRecognizer::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesMoved(touches, event);
    if (state() == UIGestureRecognizerState::Possible) {
        for (const auto& t : touches) {
            const CGPoint p = t->windowLocation();
            if (std::hypot(p.x - start_.x, p.y - start_.y) > allowableMovement_) {
                setState(UIGestureRecognizerState::Failed);
                return;
            }
        }
    } else if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed) {
        setState(UIGestureRecognizerState::Changed);
    }
}

void UILongPressGestureRecognizer::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    UIGestureRecognizer::touchesEnded(touches, event);
    if (!this->touches().empty()) return;
    if (state() == UIGestureRecognizerState::Began || state() == UIGestureRecognizerState::Changed)
        setState(UIGestureRecognizerState::Ended);
    else if (state() == UIGestureRecognizerState::Possible)
        setState(UIGestureRecognizerState::Failed);
}
