// Alert actions: a handler that can fire once.
#include "platform/ui/UIAlertAction.h"

std::shared_ptr<UIAlertAction> UIAlertAction::actionWithTitle(const std::string& title, UIAlertActionStyle style,
                                                              Handler handler) {
    auto action = std::make_shared<UIAlertAction>();
    action->title_ = title;
    action->style_ = style;
    action->handler_ = std::move(handler);
    return action;
}

bool UIAlertAction::perform() {
    if (performed_ || !enabled_) return false;
    performed_ = true;
    // The handler may drop the last reference to the alert holding this action.
    auto self = std::static_pointer_cast<UIAlertAction>(shared_from_this());
    auto handler = std::move(handler_);
    handler_ = nullptr;
    if (handler) handler(self);
    return true;
}

std::string UIAlertAction::description() const {
    const char* style = style_ == UIAlertActionStyle::Cancel ? "cancel"
                        : style_ == UIAlertActionStyle::Destructive ? "destructive" : "default";
    return "<UIAlertAction \"" + title_ + "\" " + style + ">";
}
