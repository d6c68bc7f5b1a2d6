// Conditional user properties: requests, their transactions, and the check at every event.
#include "analytics/audience/APMConditionalUserPropertyController.h"

#include "analytics/audience/APMAudienceContext.h"
#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ProcessSharedOver.h"
#include "platform/foundation/ThreadAnnotations.h"

namespace {

// Made over the context the engine hands in.
ProcessSharedOver<APMConditionalUserPropertyController, std::shared_ptr<APMAudienceContext>> gSharedController;

constexpr double kMinimumInterval = 0.001;
constexpr double kMaximumInterval = 15'552'000;  // 180 days


Value cupDisplayName(const std::string& name) { return Value(APMDisplayNameForUserProperty(Value(name))); }

// The event a property carries, to be logged now in the property's name: its origin, not public.
std::shared_ptr<APMEvent> eventToLog(const std::shared_ptr<APMEvent>& carried, const std::string& origin,
                                     double timestamp) {
    if (!carried) return nullptr;
    return APMEvent::initWithOrigin(origin, false, carried->name(), timestamp, 0, carried->parameters());
}

// The engine collects and has its database.
bool isEnabledIn(APMAudienceContext& context) {
    auto sink = context.eventSink();
    return sink && sink->isEnabled() && context.database();
}

}  // namespace

bool APMConditionalUserPropertyCheck(const APMConditionalUserProperty& property) {
    if (!APMDataTypeValidator::isValidConditionalUserPropertyOrigin(Value(property.origin()), nullptr)) return false;
    if (!APMDataTypeValidator::isValidConditionalUserPropertyName(Value(property.name()), nullptr)) return false;
    if (property.value() &&
        !APMDataTypeValidator::isValidConditionalUserPropertyValue(Value(property.value()), nullptr)) {
        return false;
    }
    const auto inRange = [](double seconds) { return seconds >= kMinimumInterval && seconds <= kMaximumInterval; };
    if (!inRange(property.triggerTimeout())) {
        APMMeasurementMonitor()->logWithLevel(2, 11000, "Invalid conditional user property trigger timeout",
                                Value(property.triggerTimeout()));
        return false;
    }
    if (!inRange(property.timeToLive())) {
        APMMeasurementMonitor()->logWithLevel(2, 11001, "Invalid conditional user property time to live", Value(property.timeToLive()));
        return false;
    }
    return true;
}

std::shared_ptr<APMConditionalUserPropertyController> APMConditionalUserPropertyController::sharedInstance() {
    // Asked again until the engine has handed its context in.
    return gSharedController.get(
        [](const std::shared_ptr<APMAudienceContext>& context) { return initWithContext(context); });
}

void APMConditionalUserPropertyController::setSharedContext(std::shared_ptr<APMAudienceContext> context) {
    gSharedController.hand(std::move(context));
}

void APMConditionalUserPropertyController::resetSharedInstance() { (void)gSharedController.take(); }

bool APMConditionalUserPropertyController::hasSharedInstance() { return gSharedController.current() != nullptr; }

std::shared_ptr<APMConditionalUserPropertyController> APMConditionalUserPropertyController::initWithContext(
    std::shared_ptr<APMAudienceContext> context) {
    if (!context) return nullptr;
    return std::make_shared<APMConditionalUserPropertyController>(std::move(context));
}

bool APMConditionalUserPropertyController::isEnabled() const { return isEnabledIn(*context_); }

// MARK: From any thread

void APMConditionalUserPropertyController::setConditionalUserProperty(
    const std::shared_ptr<APMConditionalUserProperty>& property, const std::string& name) {
    if (!property) {
        APMMeasurementMonitor()->logWithLevel(2, 11002, "Cannot set nil conditional user property");
        return;
    }
    auto request = property->copy();
    request->setName(name);
    if (!APMConditionalUserPropertyCheck(*request)) return;
    request->setCreationTimestamp(Clock::now());
    auto scheduler = context_->scheduler();
    if (!scheduler) return;
    std::weak_ptr<APMConditionalUserPropertyController> weak = weakSelf<APMConditionalUserPropertyController>();
    scheduler->scheduleOnWorkerQueueBlockID("APMConditionalUserPropertyController:88", [weak, request] {
        auto controller = weak.lock();
        if (!controller) return;
        if (request->value()) controller->setConditionalUserPropertyOnWorkerQueue(request);
        else controller->removeConditionalUserPropertyOnWorkerQueue(request);
    });
}

void APMConditionalUserPropertyController::clearConditionalUserPropertyWithClearEvent(
    const std::shared_ptr<APMEvent>& clearEvent, const std::string& name) {
    if (!APMDataTypeValidator::isValidConditionalUserPropertyName(Value(name), nullptr)) return;
    auto request = APMConditionalUserProperty::make();
    request->setName(name);
    request->setExpiredEvent(clearEvent ? clearEvent->copy() : nullptr);
    auto scheduler = context_->scheduler();
    if (!scheduler) return;
    std::weak_ptr<APMConditionalUserPropertyController> weak = weakSelf<APMConditionalUserPropertyController>();
    scheduler->scheduleOnWorkerQueueBlockID("APMConditionalUserPropertyController:113", [weak, request] {
        if (auto controller = weak.lock()) controller->removeConditionalUserPropertyOnWorkerQueue(request);
    });
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMConditionalUserPropertyController::conditionalUserPropertiesWithNamePrefix(const std::optional<std::string>& prefix,
                                                                             const std::optional<std::string>& origin) {
    using Properties = std::vector<std::shared_ptr<APMConditionalUserProperty>>;
    // Shared with the block: an answer that comes after the wait gave up lands here harmlessly.
    struct Answer {
        Mutex mutex;
        std::optional<Properties> properties GUARDED_BY(mutex);
        NSErrorPtr error GUARDED_BY(mutex);
        std::shared_ptr<DispatchSemaphore> done = DispatchSemaphore::create(0);
    };
    auto answer = std::make_shared<Answer>();
    auto context = context_;
    auto read = [answer, context, prefix, origin] {
        if (!isEnabledIn(*context)) {
            APMMeasurementMonitor()->logWithLevel(3, 11005, "Cannot query for conditional user properties. Analytics is disabled");
        } else if (auto database = context->database()) {
            NSErrorPtr error;
            auto properties = database->conditionalUserPropertiesWithPrefix(prefix.value_or(""), origin.value_or(""), &error);
            MutexLock lock(answer->mutex);
            answer->properties = std::move(properties);
            answer->error = error;
        }
        answer->done->signal();
    };
    auto scheduler = context_->scheduler();
    if (!scheduler) return std::nullopt;
    if (scheduler->isOnWorkerQueue()) {
        // Waiting here for a block queued behind this one could only time out.
        read();
    } else {
        scheduler->scheduleOnWorkerQueueBlockID("APMConditionalUserPropertyController:161", read);
        if (!answer->done->wait(Clock::now() + queryTimeout_)) return std::nullopt;
    }
    MutexLock lock(answer->mutex);
    if (!answer->properties && answer->error) {
        APMMeasurementMonitor()->logWithLevel(2, 11006, "Cannot query for conditional user properties. Name prefix, origin, error",
                                Value(prefix.value_or("")), Value(origin.value_or("")), Value(answer->error));
    }
    return answer->properties;
}

// MARK: Set and remove on the worker queue

void APMConditionalUserPropertyController::setConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<APMConditionalUserProperty>& property) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setConditionalUserPropertyOnWorkerQueue");
    if (!isEnabled()) {
        APMMeasurementMonitor()->logWithLevel(3, 11007, "Cannot set conditional user property. Analytics is disabled");
        return;
    }
    if (!property) {
        APMMeasurementMonitor()->logWithLevel(2, 11008, "Cannot set nil conditional user property on worker queue");
        return;
    }
    auto database = context_->database();
    const std::string& name = property->name();
    std::shared_ptr<APMEvent> triggered;
    const bool committed = database->performTransaction([&] {
        NSErrorPtr error;
        auto stored = database->conditionalUserPropertyWithName(name, &error);
        if (!stored && error) {
            APMMeasurementMonitor()->logWithLevel(1, 11009, "Cannot query conditional user property. Name, origin, error",
                                    cupDisplayName(name), Value(property->origin()), Value(error));
            return false;
        }
        if (stored && stored->origin() != property->origin()) {
            APMMeasurementMonitor()->logWithLevel(5, 11010, "Updating a conditional user property with different origin. Name, origin, saved origin",
                                    cupDisplayName(name), Value(property->origin()), Value(stored->origin()));
        }
        bool newlyActivated = false;
        if (stored && stored->isActive()) {
            // In force already: it keeps its first trigger and triggered time (so its expiry does
            // not move) and takes the new value, which its user property takes at once too.
            property->setOrigin(stored->origin());
            property->setCreationTimestamp(stored->creationTimestamp());
            property->setTriggerEventName(stored->triggerEventName());
            property->setTriggeredEvent(stored->triggeredEvent());
            property->setTriggerTimeout(stored->triggerTimeout());
            property->setActive(true);
            property->setTriggeredTimestamp(stored->triggeredTimestamp());
        } else if (property->triggerEventName().empty()) {
            property->setActive(true);
            property->setTriggeredTimestamp(property->creationTimestamp());
            newlyActivated = true;
        } else {
            property->setActive(false);
        }
        if (property->isActive()) {
            auto attribute = APMUserAttribute::initWithOrigin(property->origin(), name, property->value(),
                                                              property->triggeredTimestamp());
            error.reset();
            if (!attribute || !database->updateUserAttribute(attribute, &error)) {
                // A user property without its conditional row would never expire: nothing is kept.
                APMMeasurementMonitor()->logWithLevel(1, 11011, "Cannot update user property from conditional user property. Name, origin, error",
                                        cupDisplayName(name), Value(property->origin()), Value(error));
                return false;
            }
            APMMeasurementMonitor()->logWithLevel(7, 11012, "User property updated. Name, origin", cupDisplayName(name),
                                    Value(property->origin()));
            if (newlyActivated) {
                triggered = eventToLog(property->triggeredEvent(), property->origin(), property->triggeredTimestamp());
            }
        }
        error.reset();
        if (!database->updateConditionalUserProperty(property, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 11014, "Cannot insert user property from conditional user property. Name, origin, error",
                                    cupDisplayName(name), Value(property->origin()), Value(error));
            return false;
        }
        APMMeasurementMonitor()->logWithLevel(7, 11013, "Conditional user property added. Name, origin", cupDisplayName(name),
                                Value(property->origin()));
        return true;
    });
    if (committed && triggered) context_->eventSink()->writeEventOnWorkerQueue(triggered);
}

void APMConditionalUserPropertyController::removeConditionalUserPropertyOnWorkerQueue(
    const std::shared_ptr<APMConditionalUserProperty>& property) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeConditionalUserPropertyOnWorkerQueue:");
    if (!isEnabled()) {
        APMMeasurementMonitor()->logWithLevel(3, 11015, "Cannot remove conditional user property. Analytics is disabled");
        return;
    }
    if (!property) {
        APMMeasurementMonitor()->logWithLevel(0, 11016, "Cannot remove nil conditional user property on worker queue");
        return;
    }
    auto database = context_->database();
    const std::string& name = property->name();
    std::shared_ptr<APMEvent> expired;
    const bool committed = database->performTransaction([&] {
        NSErrorPtr error;
        auto stored = database->conditionalUserPropertyWithName(name, &error);
        if (!stored) {
            if (error) {
                APMMeasurementMonitor()->logWithLevel(1, 11017, "Cannot query conditional user property to remove. Name, origin, error",
                                        cupDisplayName(name), Value(property->origin()), Value(error));
                return false;
            }
            APMMeasurementMonitor()->logWithLevel(4, 11018, "Cannot remove nonexistent conditional user property. Name, origin",
                                    cupDisplayName(name), Value(property->origin()));
            return true;
        }
        if (!database->deleteConditionalUserPropertyWithName(name, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 11019, "Cannot delete conditional user property. Name, origin, error",
                                    cupDisplayName(name), Value(stored->origin()), Value(error));
            return false;
        }
        if (stored->isActive() && !database->deleteUserAttributeWithName(name, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 11020,
                                    "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error",
                                    cupDisplayName(name), Value(stored->origin()), Value(error));
            return false;
        }
        expired = eventToLog(property->expiredEvent(), stored->origin(), Clock::now());
        return true;
    });
    if (committed && expired) context_->eventSink()->writeEventOnWorkerQueue(expired);
}

// MARK: Each logged event

std::optional<std::vector<std::shared_ptr<APMEvent>>> APMConditionalUserPropertyController::processEventOnWorkerQueue(
    const std::shared_ptr<APMEvent>& event) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("processEventOnWorkerQueue:");
    if (!event) {
        APMMeasurementMonitor()->logWithLevel(2, 10000, "Cannot process nil event for conditional user property");
        return std::nullopt;
    }
    auto database = context_->database();
    if (!database) return std::nullopt;
    // With none stored there is nothing to time out, expire or trigger: no transaction for the
    // event. A failed question takes the long way, which reports the failure.
    NSErrorPtr emptyError;
    if (database->conditionalUserPropertiesEmptyWithError(&emptyError).value_or(false))
        return std::vector<std::shared_ptr<APMEvent>>{};
    std::vector<std::shared_ptr<APMEvent>> timedOut, expired;
    std::optional<std::vector<std::shared_ptr<APMEvent>>> triggered;
    const bool committed = database->performTransaction([&] {
        if (!removeTimedOutCUPWithTimedOutEvents(timedOut)) return false;
        if (!removeExpiredCUPWithExpiredEvents(expired)) return false;
        triggered = updateConditionalUserPropertiesWithEventNameOnWorkerQueue(event->name());
        return triggered.has_value();
    });
    if (!committed) return std::nullopt;
    auto sink = context_->eventSink();
    for (const auto& written : timedOut) sink->writeEventOnWorkerQueue(written);
    for (const auto& written : expired) sink->writeEventOnWorkerQueue(written);
    return triggered;
}

bool APMConditionalUserPropertyController::removeTimedOutCUPWithTimedOutEvents(
    std::vector<std::shared_ptr<APMEvent>>& timedOutEvents) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeTimedOutCUPWithTimedOutEvents:");
    auto database = context_->database();
    NSErrorPtr error;
    auto properties = database ? database->timedOutConditionalUserPropertiesWithError(&error) : std::nullopt;
    if (!properties) {
        APMMeasurementMonitor()->logWithLevel(1, 10001, "Cannot fetch timed out conditional user properties. Error", Value(error));
        return false;
    }
    for (const auto& property : *properties) {
        APMMeasurementMonitor()->logWithLevel(7, 10002, "Conditional user property has timed out. Name", cupDisplayName(property->name()));
        if (!database->deleteConditionalUserPropertyWithName(property->name(), &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 10003, "Cannot delete timed out condition user property. Name, error",
                                    cupDisplayName(property->name()), Value(error));
            return false;
        }
        if (auto event = eventToLog(property->timedOutEvent(), property->origin(), Clock::now())) {
            timedOutEvents.push_back(std::move(event));
        }
    }
    return true;
}

bool APMConditionalUserPropertyController::removeExpiredCUPWithExpiredEvents(
    std::vector<std::shared_ptr<APMEvent>>& expiredEvents) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("removeExpiredCUPWithExpiredEvents:");
    auto database = context_->database();
    NSErrorPtr error;
    auto properties = database ? database->expiredConditionalUserPropertiesWithError(&error) : std::nullopt;
    if (!properties) {
        APMMeasurementMonitor()->logWithLevel(1, 10004, "Cannot fetch expired conditional user properties. Error", Value(error));
        return false;
    }
    for (const auto& property : *properties) {
        APMMeasurementMonitor()->logWithLevel(7, 10005, "Conditional user property has expired. Name, expired event",
                                cupDisplayName(property->name()), Value(property->expiredEvent()));
        if (!database->deleteUserAttributeWithName(property->name(), &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 10006,
                                    "Cannot remove conditional user property. Failed to delete the user property. Name, origin, error",
                                    cupDisplayName(property->name()), Value(property->origin()), Value(error));
            return false;
        }
        if (!database->deleteConditionalUserPropertyWithName(property->name(), &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 10007, "Cannot delete expired condition user property. Name, error",
                                    cupDisplayName(property->name()), Value(error));
            return false;
        }
        if (auto event = eventToLog(property->expiredEvent(), property->origin(), Clock::now())) {
            expiredEvents.push_back(std::move(event));
        }
    }
    return true;
}

std::optional<std::vector<std::shared_ptr<APMEvent>>>
APMConditionalUserPropertyController::updateConditionalUserPropertiesWithEventNameOnWorkerQueue(
    const std::string& eventName) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("updateConditionalUserPropertiesBasedOnEventNameOnWorkerQueue:");
    auto database = context_->database();
    NSErrorPtr error;
    auto properties = database ? database->triggeredConditionalUserPropertiesWithEventName(eventName, &error) : std::nullopt;
    if (!properties) {
        APMMeasurementMonitor()->logWithLevel(1, 10008, "Cannot fetch triggering conditional user properties. Event name, error",
                                Value(APMDisplayNameForEvent(Value(eventName))), Value(error));
        return std::nullopt;
    }
    std::vector<std::shared_ptr<APMEvent>> events;
    for (const auto& property : *properties) {
        const double now = Clock::now();
        auto attribute = APMUserAttribute::initWithOrigin(property->origin(), property->name(), property->value(), now);
        error.reset();
        if (!attribute || !database->updateUserAttribute(attribute, &error)) {
            // A row marked in force without its user property: the whole check is abandoned.
            APMMeasurementMonitor()->logWithLevel(1, 10009, "Cannot update user property from conditional user property. Name, origin, error",
                                    cupDisplayName(property->name()), Value(property->origin()), Value(error));
            return std::nullopt;
        }
        APMMeasurementMonitor()->logWithLevel(7, 10010, "User property updated. Name, origin, value", cupDisplayName(property->name()),
                                Value(property->origin()), Value(property->value()));
        if (auto event = eventToLog(property->triggeredEvent(), property->origin(), now)) events.push_back(std::move(event));
        property->setActive(true);
        property->setTriggeredTimestamp(now);
        if (!database->updateConditionalUserProperty(property, &error)) {
            APMMeasurementMonitor()->logWithLevel(1, 10011, "Cannot update conditional user property. Name, origin, error",
                                    cupDisplayName(property->name()), Value(property->origin()), Value(error));
            return std::nullopt;
        }
    }
    return events;
}
