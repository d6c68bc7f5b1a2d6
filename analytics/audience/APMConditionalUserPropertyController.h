// Conditional user properties: a user property that comes into force when its trigger event is
// logged within a time-out, stays for a time to live, and has the engine log the events of the
// sibling library that asked for it when it is triggered, times out and expires or is removed.
// The front operations may be called from any thread; the others run on the worker queue, and
// each set, removal and event check is one database transaction.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMAudienceContext;
class APMConditionalUserProperty;
class APMEvent;

class APMConditionalUserPropertyController : public NSObject {
public:
    // How long a query waits for the worker queue (clock seconds).
    static constexpr double kQueryTimeout = 30;

    // The process's controller, the one the engine and the connector use: made on first use
    // with the context the engine handed in (setSharedContext); none before.
    static std::shared_ptr<APMConditionalUserPropertyController> sharedInstance();
    // The engine's context, which the process's controller is made with; a controller already
    // made stays until the reset.
    static void setSharedContext(std::shared_ptr<APMAudienceContext> context);
    // Forgets the process's controller and the context, as a new process would start (tests).
    static void resetSharedInstance();
    // Whether the process's controller is made, without making it.
    static bool hasSharedInstance();
    [[nodiscard]] static std::shared_ptr<APMConditionalUserPropertyController> initWithContext(
        std::shared_ptr<APMAudienceContext> context);

    // MARK: From any thread

    // Sets the property under `name`, or removes it when it has no value; the request is
    // checked here and carried out later on the worker queue.
    void setConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                    const std::string& name);
    // Removes the property, logging `clearEvent` (when given) once it is gone.
    void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<APMEvent>& clearEvent,
                                                    const std::string& name);
    // The stored properties whose names begin with the prefix, of the origin when given. Waits
    // for the worker queue at most kQueryTimeout; called on it, it answers at once. Nothing when
    // collection is off, the read failed or the answer did not come in time.
    std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>> conditionalUserPropertiesWithNamePrefix(
        const std::optional<std::string>& prefix, const std::optional<std::string>& origin);

    // Tests shorten the wait.
    void setQueryTimeout(double seconds) { queryTimeout_ = seconds; }

    // MARK: Worker queue

    void setConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<APMConditionalUserProperty>& property);
    void removeConditionalUserPropertyOnWorkerQueue(const std::shared_ptr<APMConditionalUserProperty>& property);
    // For each logged event: timed-out and expired properties go (their events are written
    // here) and those this event triggers come into force; their events are returned, to be
    // written after the event. Nothing when the transaction was abandoned.
    std::optional<std::vector<std::shared_ptr<APMEvent>>> processEventOnWorkerQueue(
        const std::shared_ptr<APMEvent>& event);
    [[nodiscard]] bool removeTimedOutCUPWithTimedOutEvents(std::vector<std::shared_ptr<APMEvent>>& timedOutEvents);
    [[nodiscard]] bool removeExpiredCUPWithExpiredEvents(std::vector<std::shared_ptr<APMEvent>>& expiredEvents);
    std::optional<std::vector<std::shared_ptr<APMEvent>>> updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
        const std::string& eventName);

    explicit APMConditionalUserPropertyController(std::shared_ptr<APMAudienceContext> context)
        : context_(std::move(context)) {}

private:
    bool isEnabled() const;

    std::shared_ptr<APMAudienceContext> context_;
    double queryTimeout_ = kQueryTimeout;
};

// The checks of a request: origin, name and value as the validator wants them, and a trigger
// time-out and time to live of 0.001 to 15,552,000 seconds (180 days).
[[nodiscard]] bool APMConditionalUserPropertyCheck(const APMConditionalUserProperty& property);
