// Events: a type, a subtype, a time stamp and, for touch events, the touches.
#include "platform/ui/UIEvent.h"

#include "platform/foundation/Clock.h"
#include "platform/ui/UITouch.h"

UIEvent::UIEvent(UIEventType type, UIEventSubtype subtype, double timestamp, std::vector<std::shared_ptr<UITouch>> touches)
    : type_(type), subtype_(subtype), timestamp_(timestamp), touches_(std::move(touches)) {}

std::shared_ptr<UIEvent> UIEvent::make(UIEventType type, UIEventSubtype subtype, double timestamp) {
    return std::make_shared<UIEvent>(type, subtype, timestamp);
}

std::shared_ptr<UIEvent> UIEvent::touchEvent(std::vector<std::shared_ptr<UITouch>> touches) {
    return std::make_shared<UIEvent>(UIEventType::Touches, UIEventSubtype::None, Clock::uptime(), std::move(touches));
}

std::shared_ptr<UIEvent> UIEvent::remoteControlEvent(UIEventSubtype subtype) {
    return std::make_shared<UIEvent>(UIEventType::RemoteControl, subtype, Clock::uptime());
}

std::vector<std::shared_ptr<UITouch>> UIEvent::touchesForView(const std::shared_ptr<UIView>& view) const {
    std::vector<std::shared_ptr<UITouch>> out;
    for (const auto& touch : touches_)
        if (touch->view() == view) out.push_back(touch);
    return out;
}
