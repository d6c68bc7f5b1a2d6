// Target-action dispatch and touch tracking of controls.
#include "platform/ui/UIControl.h"

#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UITouch.h"

#include <algorithm>

void UIControl::addTarget(const std::shared_ptr<NSObject>& target, UIAction action, unsigned controlEvents) {
    if (!action || controlEvents == 0) return;
    entries_.push_back({target, target != nullptr, std::move(action), controlEvents});
}

std::vector<std::shared_ptr<NSObject>> UIControl::allTargets() const {
    std::vector<std::shared_ptr<NSObject>> targets;
    for (const auto& entry : entries_) {
        auto t = entry.target.lock();
        if (t && std::find(targets.begin(), targets.end(), t) == targets.end()) targets.push_back(t);
    }
    return targets;
}

void UIControl::sendActionsForControlEvents(unsigned controlEvents) {
    auto self = std::static_pointer_cast<NSObject>(shared_from_this());
    // A copy: an action may add or remove targets.
    const auto entries = entries_;
    for (const auto& entry : entries) {
        if ((entry.events & controlEvents) == 0) continue;
        if (entry.hasTarget && entry.target.expired()) continue;
        entry.action(self);
    }
}

void UIControl::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (!enabled) highlighted_ = false;
    setNeedsDisplay();
}

void UIControl::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setNeedsDisplay();
}

void UIControl::setSelected(bool selected) {
    selected_ = selected;
    setNeedsDisplay();
}

unsigned UIControl::state() const {
    unsigned s = UIControlStateNormal;
    if (highlighted_) s |= UIControlStateHighlighted;
    if (!enabled_) s |= UIControlStateDisabled;
    if (selected_) s |= UIControlStateSelected;
    return s;
}

void UIControl::touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    (void)touches;
    (void)event;
    if (!enabled_) return;
    tracking_ = true;
    touchInside_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(UIControlEventTouchDown);
}

void UIControl::touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!tracking_ || touches.empty()) return;
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const bool inside = pointInside(touches.front()->locationInView(self), event);
    if (inside != touchInside_) {
        touchInside_ = inside;
        setHighlighted(inside);
        sendActionsForControlEvents(inside ? UIControlEventTouchDragEnter : UIControlEventTouchDragExit);
    }
    sendActionsForControlEvents(inside ? UIControlEventTouchDragInside : UIControlEventTouchDragOutside);
}

void UIControl::touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    if (!tracking_) return;
    bool inside = touchInside_;
    if (!touches.empty()) {
        auto self = std::static_pointer_cast<UIView>(shared_from_this());
        inside = pointInside(touches.front()->locationInView(self), event);
    }
    tracking_ = false;
    setHighlighted(false);
    if (inside) {
        didTapInside();
        sendActionsForControlEvents(UIControlEventTouchUpInside | UIControlEventPrimaryActionTriggered);
    } else {
        sendActionsForControlEvents(UIControlEventTouchUpOutside);
    }
}

void UIControl::touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) {
    (void)touches;
    (void)event;
    if (!tracking_) return;
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(UIControlEventTouchCancel);
}

void UIControl::simulateTap() {
    if (!enabled_ || isHidden() || !isUserInteractionEnabled() || !UIAlertModality::touchReaches(this)) return;
    auto keep = shared_from_this();
    touchesBegan({}, nullptr);
    touchesEnded({}, nullptr);
}
