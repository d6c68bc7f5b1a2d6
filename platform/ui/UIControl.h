// Controls: target-action per control event, and the enabled, highlighted and selected states.
#pragma once

#include "platform/ui/UIView.h"

#include <functional>
#include <memory>
#include <vector>

enum UIControlEvents : unsigned {
    UIControlEventTouchDown = 1 << 0,
    UIControlEventTouchDownRepeat = 1 << 1,
    UIControlEventTouchDragInside = 1 << 2,
    UIControlEventTouchDragOutside = 1 << 3,
    UIControlEventTouchDragEnter = 1 << 4,
    UIControlEventTouchDragExit = 1 << 5,
    UIControlEventTouchUpInside = 1 << 6,
    UIControlEventTouchUpOutside = 1 << 7,
    UIControlEventTouchCancel = 1 << 8,
    UIControlEventValueChanged = 1 << 12,
    UIControlEventPrimaryActionTriggered = 1 << 13,
    UIControlEventEditingDidBegin = 1 << 16,
    UIControlEventEditingChanged = 1 << 17,
    UIControlEventEditingDidEnd = 1 << 18,
    UIControlEventEditingDidEndOnExit = 1 << 19,
    UIControlEventAllTouchEvents = 0x00000FFF,
    UIControlEventAllEditingEvents = 0x000F0000,
    UIControlEventAllEvents = 0xFFFFFFFF,
};

enum UIControlState : unsigned {
    UIControlStateNormal = 0,
    UIControlStateHighlighted = 1 << 0,
    UIControlStateDisabled = 1 << 1,
    UIControlStateSelected = 1 << 2,
    UIControlStateFocused = 1 << 3,
};

enum UIControlContentHorizontalAlignment : int {
    UIControlContentHorizontalAlignmentCenter = 0,
    UIControlContentHorizontalAlignmentLeft = 1,
    UIControlContentHorizontalAlignmentRight = 2,
    UIControlContentHorizontalAlignmentFill = 3,
};

enum UIControlContentVerticalAlignment : int {
    UIControlContentVerticalAlignmentCenter = 0,
    UIControlContentVerticalAlignmentTop = 1,
    UIControlContentVerticalAlignmentBottom = 2,
    UIControlContentVerticalAlignmentFill = 3,
};

// An action: called with the sender (the control or bar item).
using UIAction = std::function<void(const std::shared_ptr<NSObject>& sender)>;

class UIControl : public UIView {
public:
    static std::shared_ptr<UIControl> make() { return std::make_shared<UIControl>(); }
    static std::shared_ptr<UIControl> initWithFrame(const CGRect& frame) { return std::make_shared<UIControl>(frame); }
    using UIView::UIView;

    // The target is held weakly, as the platform does: once it is gone its actions no longer
    // run. An empty target means the action stands alone.
    void addTarget(const std::shared_ptr<NSObject>& target, UIAction action, unsigned controlEvents);
    template <class T>
    void addTarget(const std::shared_ptr<T>& target, void (T::*method)(const std::shared_ptr<NSObject>&),
                   unsigned controlEvents) {
        std::weak_ptr<T> weak = target;
        addTarget(std::static_pointer_cast<NSObject>(target),
                  [weak, method](const std::shared_ptr<NSObject>& sender) {
                      if (auto t = weak.lock()) ((*t).*method)(sender);
                  },
                  controlEvents);
    }
    // Removes the target's actions for those events (every target's with an empty one).
    // The live targets with an action for any of `controlEvents`.
    std::vector<std::shared_ptr<NSObject>> allTargets() const;
    // Runs the actions registered for any of `controlEvents`, in the order they were added.
    virtual void sendActionsForControlEvents(unsigned controlEvents);

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool highlighted);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected);
    unsigned state() const;

    UIControlContentHorizontalAlignment contentHorizontalAlignment() const { return horizontalAlignment_; }
    void setContentHorizontalAlignment(UIControlContentHorizontalAlignment a) { horizontalAlignment_ = a; }

    // Touches: down highlights and sends touch-down; up inside sends touch-up-inside (a
    // disabled control takes no touches).
    void touchesBegan(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesMoved(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesEnded(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;
    void touchesCancelled(const UITouchList& touches, const std::shared_ptr<UIEvent>& event) override;

    // A tap as the simulator and tests make it: touch down, then touch up inside.
    virtual void simulateTap();

protected:
    // Called for a completed tap inside, before the actions; controls that toggle override it.
    virtual void didTapInside() {}

private:
    struct Entry {
        std::weak_ptr<NSObject> target;
        bool hasTarget;
        UIAction action;
        unsigned events;
    };
    std::vector<Entry> entries_;
    bool enabled_ = true;
    bool highlighted_ = false;
    bool selected_ = false;
    bool tracking_ = false;
    bool touchInside_ = false;
    UIControlContentHorizontalAlignment horizontalAlignment_ = UIControlContentHorizontalAlignmentCenter;
};
