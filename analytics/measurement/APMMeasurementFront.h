// What the front that creates the engine hands it: the road through the front's door for the
// engine's own events and user properties, the log-event listeners registered at the door, and
// the door's queue. The engine reaches its front only through these.
#pragma once

#include <functional>
#include <memory>

class APMEvent;
class APMEventSink;

// The log-event listeners registered at the front.
class APMEventListenerHub {
public:
    virtual ~APMEventListenerHub() = default;
    // Some listener is registered: an event is not copied for nobody.
    virtual bool hasLogEventListeners() = 0;
    // Shown, in the door's order, to the listeners registered when it is handed in.
    virtual void notifyEventListeners(const std::shared_ptr<APMEvent>& event) = 0;
};

struct APMMeasurementFront {
    // Internal events and user properties through the door's queue and checks. The reporters
    // made before the engine are handed the same sink.
    std::shared_ptr<APMEventSink> eventSink;
    std::shared_ptr<APMEventListenerHub> listeners;
    // Runs the block on the door's serial queue, behind every call already queued there.
    std::function<void(std::function<void()>)> queueOperation;
};
