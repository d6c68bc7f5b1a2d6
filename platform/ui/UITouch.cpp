// Touches: window positions converted on request.
#include "platform/ui/UITouch.h"

#include "platform/ui/UIView.h"
#include "platform/ui/UIWindow.h"

std::shared_ptr<UITouch> UITouch::make(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view,
                                       CGPoint windowPoint, int tapCount, double timestamp) {
    auto touch = std::shared_ptr<UITouch>(new UITouch);
    touch->window_ = window;
    touch->view_ = view;
    touch->location_ = touch->previous_ = windowPoint;
    touch->tapCount_ = tapCount;
    touch->timestamp_ = timestamp;
    return touch;
}

void UITouch::update(UITouchPhase phase, CGPoint windowPoint, double timestamp) {
    phase_ = phase;
    previous_ = location_;
    location_ = windowPoint;
    timestamp_ = timestamp;
}

CGPoint UITouch::convert(CGPoint windowPoint, const std::shared_ptr<UIView>& view) const {
    if (!view) return windowPoint;
    auto window = window_.lock();
    return view->convertPointFromView(windowPoint, window);
}

CGPoint UITouch::locationInView(const std::shared_ptr<UIView>& view) const { return convert(location_, view); }
