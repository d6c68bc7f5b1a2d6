// An event handed to responders: touches (with the touches it carries) or a remote-control
// command such as play or next track.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <vector>

class UITouch;
class UIView;
class UIGestureRecognizer;

enum class UIEventType : int { Touches = 0, Motion = 1, RemoteControl = 2, Presses = 3 };

// Remote-control subtypes keep the platform's numbers; any other number may be injected.
enum class UIEventSubtype : int {
    None = 0,
    MotionShake = 1,
    RemoteControlPlay = 100,
    RemoteControlPause = 101,
    RemoteControlStop = 102,
    RemoteControlTogglePlayPause = 103,
    RemoteControlNextTrack = 104,
    RemoteControlPreviousTrack = 105,
    RemoteControlBeginSeekingBackward = 106,
    RemoteControlEndSeekingBackward = 107,
    RemoteControlBeginSeekingForward = 108,
    RemoteControlEndSeekingForward = 109,
};

class UIEvent : public NSObject {
public:
    static std::shared_ptr<UIEvent> make(UIEventType type, UIEventSubtype subtype, double timestamp);
    // A touch event over `touches`, stamped with the clock's uptime.
    static std::shared_ptr<UIEvent> touchEvent(std::vector<std::shared_ptr<UITouch>> touches);
    // A remote-control event of `subtype`, stamped with the clock's uptime.
    static std::shared_ptr<UIEvent> remoteControlEvent(UIEventSubtype subtype);

    UIEventType type() const { return type_; }
    UIEventSubtype subtype() const { return subtype_; }
    // Seconds of system uptime.
    double timestamp() const { return timestamp_; }

    // The touches whose view is `view`.
    std::vector<std::shared_ptr<UITouch>> touchesForView(const std::shared_ptr<UIView>& view) const;

    UIEvent(UIEventType type, UIEventSubtype subtype, double timestamp,
            std::vector<std::shared_ptr<UITouch>> touches = {});

private:
    UIEventType type_;
    UIEventSubtype subtype_;
    double timestamp_;
    std::vector<std::shared_ptr<UITouch>> touches_;
};
