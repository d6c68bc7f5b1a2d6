// The analytics interop object for the sibling libraries.
#include "analytics/measurement/DUROrezuriveConnector.h"

#include "analytics/audience/APMConditionalUserPropertyController.h"
#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/DUROrezurive.h"
#include "analytics/measurement/VODEdurediroZidor.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/services/RURAdi.h"

#include <atomic>

namespace {

// The process's controller, looked up at each call: the engine may start after a sibling
// library asked for the connector, and a reset engine comes back with a new controller.
class EngineConditionalUserProperties final : public DUROrezuriveConnector::ConditionalUserProperties {
public:
    void setConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                    const std::string& name) override {
        if (auto found = engineController()) found->setConditionalUserProperty(property, name);
    }
    void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<APMEvent>& clearEvent,
                                                    const std::string& name) override {
        if (auto found = engineController()) found->clearConditionalUserPropertyWithClearEvent(clearEvent, name);
    }
    std::vector<std::shared_ptr<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
        const std::string& prefix, const std::string& origin) override {
        auto found = engineController();
        if (!found) return {};
        return found->conditionalUserPropertiesWithNamePrefix(prefix, origin).value_or(
            std::vector<std::shared_ptr<APMConditionalUserProperty>>{});
    }

private:
    static std::shared_ptr<APMConditionalUserPropertyController> engineController() {
        auto found = APMConditionalUserPropertyController::sharedInstance();
        if (!found) {
            APMMeasurementMonitor()->logWithLevel(2, 25045, "Conditional user properties are not available");
        }
        return found;
    }
};

Mutex gControllerMutex;
std::shared_ptr<DUROrezuriveConnector::ConditionalUserProperties>& controllerSlot() {
    static auto* slot = new std::shared_ptr<DUROrezuriveConnector::ConditionalUserProperties>();
    return *slot;
}

std::shared_ptr<DUROrezuriveConnector::ConditionalUserProperties> controller() {
    static const auto engine = std::make_shared<EngineConditionalUserProperties>();
    MutexLock lock(gControllerMutex);
    auto found = controllerSlot();
    return found ? found : engine;
}

// Where the answers of the connector's queries arrive: never the connector queue, so that a
// query made on it is answered while it waits.
std::shared_ptr<DispatchQueue> answerQueue() {
    static const auto queue = DispatchQueue::create("com.vizudi.analytics_connector.answers");
    return queue;
}

std::string cisForOrigin(const std::string& origin) {
    if (origin == "fcm" || origin == "fdl" || origin == "fiam" || origin == "frc") return origin + "_integration";
    return {};
}

}  // namespace

void DUROrezuriveConnector::setConditionalUserPropertyController(std::shared_ptr<ConditionalUserProperties> value) {
    MutexLock lock(gControllerMutex);
    controllerSlot() = std::move(value);
}

void DUROrezuriveConnector::load() {
    RURAdi::registerInternalLibrary(std::make_shared<DUROrezuriveConnector>(), kLibraryName, kLibraryVersion);
}

std::shared_ptr<DispatchQueue> DUROrezuriveConnector::queue() {
    static const auto queue = DispatchQueue::create(kQueueLabel);
    return queue;
}

DUROrezuriveConnector::~DUROrezuriveConnector() {
    if (logEventListener_ != 0) APMAnalytics::removeLogEventListener(logEventListener_);
}

std::vector<std::shared_ptr<DAZAvevavida>> DUROrezuriveConnector::componentsToRegister() const {
    return {DAZAvevavida::componentWithProtocol(kProtocolName, DAZInstantiationTiming::Lazy, {},
                                                [](const std::shared_ptr<RURAdi>&) -> std::shared_ptr<NSObject> {
                                                    return std::make_shared<DUROrezuriveConnector>();
                                                })};
}

// MARK: Events and user properties

void DUROrezuriveConnector::logEventWithOrigin(const std::string& origin, const std::string& name,
                                               const Value::Dictionary& parameters) {
    if (!VODEdurediroZidor::isOriginAllowed(origin) || !VODEdurediroZidor::shouldLogEventWithName(name, parameters)) {
        return;
    }
    Value::Dictionary prepared = parameters;
    if (name == "_cmp") {
        const std::string cis = cisForOrigin(origin);
        if (!cis.empty()) prepared.set("_cis", Value(cis));
    }
    if (name == "_ae" && origin == "clx") prepared.set("_r", Value(static_cast<long long>(1)));
    DUROrezurive::logInternalEventWithOrigin(origin, name, prepared);
}

void DUROrezuriveConnector::setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                                      const Value& value) {
    if (!VODEdurediroZidor::isOriginAllowed(origin) || !VODEdurediroZidor::isUserPropertyAllowed(name, origin)) return;
    DUROrezurive::sharedInstance()->setInternalUserProperty(value, name, origin);
}

void DUROrezuriveConnector::getUserPropertiesWithCallback(std::function<void(const Value::Dictionary&)> callback) {
    if (!callback) return;
    DUROrezurive::userPropertiesIncludingInternal(true, queue(), [callback](const Value::Dictionary& found) {
        Value::Dictionary allowed;
        for (const auto& [name, value] : found) {
            if (VODEdurediroZidor::isUserPropertyAllowedForQuery(name)) allowed.set(name, value);
        }
        callback(allowed);
    });
}

std::int32_t DUROrezuriveConnector::maxUserProperties(const std::string& origin) {
    struct Answer {
        std::atomic<std::int64_t> count{0};
        std::shared_ptr<DispatchSemaphore> arrived = DispatchSemaphore::create(0);
    };
    auto answer = std::make_shared<Answer>();
    DUROrezurive::sharedInstance()->maxUserPropertiesForOrigin(origin, answerQueue(), [answer](std::int64_t count) {
        answer->count = count;
        answer->arrived->signal();
    });
    if (!answer->arrived->wait(Clock::now() + kMaxUserPropertiesTimeout)) return 0;
    return static_cast<std::int32_t>(answer->count.load());
}

// MARK: Conditional user properties

void DUROrezuriveConnector::setConditionalUserProperty(const Value::Dictionary& dictionary) {
    if (dictionary.empty()) return;
    auto property = APMConditionalUserProperty::make();
    for (const auto& [key, value] : dictionary) {
        if (key == "expiredEvent") property->setExpiredEvent(eventFromDictionary(value));
        else if (key == "timedOutEvent") property->setTimedOutEvent(eventFromDictionary(value));
        else if (key == "triggeredEvent") property->setTriggeredEvent(eventFromDictionary(value));
        else if (key == "value") property->setValue(APMValue::valueFromObject(value));
        else if (key == "creationTimestamp" && value.isNumber()) property->setCreationTimestamp(value.doubleValue());
        else if (key == "name" && value.isString()) property->setName(value.string());
        else if (key == "origin" && value.isString()) property->setOrigin(value.string());
        else if (key == "triggerEventName" && value.isString()) property->setTriggerEventName(value.string());
        else if (key == "triggerTimeout" && value.isNumber()) property->setTriggerTimeout(value.doubleValue());
        else if (key == "timeToLive" && value.isNumber()) property->setTimeToLive(value.doubleValue());
        else if (key == "active" && value.isNumber()) property->setActive(value.boolValue());
        else if (key == "triggeredTimestamp" && value.isNumber()) property->setTriggeredTimestamp(value.doubleValue());
    }
    if (auto found = controller()) found->setConditionalUserProperty(property, property->name());
}

void DUROrezuriveConnector::clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                                         const std::string& clearEventName,
                                                         const Value::Dictionary& clearEventParameters) {
    if (userPropertyName.empty()) return;
    auto found = controller();
    if (!found) return;
    // Without an event name the property is cleared without an event.
    std::shared_ptr<APMEvent> clearEvent;
    if (!clearEventName.empty()) clearEvent = eventWithOrigin(origin, clearEventName, clearEventParameters);
    found->clearConditionalUserPropertyWithClearEvent(clearEvent, userPropertyName);
}

Value::Array DUROrezuriveConnector::conditionalUserProperties(const std::string& origin,
                                                              const std::string& propertyNamePrefix) {
    Value::Array result;
    auto found = controller();
    if (!found) return result;
    for (const auto& property : found->conditionalUserPropertiesWithNamePrefix(propertyNamePrefix, origin)) {
        if (!property || property->name().empty() || !property->value() || !property->value()->isString()) continue;
        Value::Dictionary entry;
        entry.set("name", Value(property->name()));
        entry.set("value", Value(*property->value()->stringValue()));
        result.push_back(Value(std::move(entry)));
    }
    return result;
}

std::shared_ptr<APMEvent> DUROrezuriveConnector::eventFromDictionary(const Value& dictionary) {
    if (!dictionary.isDictionary()) return nullptr;
    const Value::Dictionary& fields = dictionary.dictionary();
    const Value& timestamp = fields.get("timestamp");
    const Value& parameters = fields.get("parameters");
    return APMEvent::initWithOrigin(fields.get("origin").stringValue(), false, fields.get("name").stringValue(),
                                    timestamp.isNumber() ? timestamp.doubleValue() : Clock::now(), 0,
                                    parameters.isDictionary() ? parameters.dictionary() : Value::Dictionary{},
                                    APMEvent::Time::Carried);
}

std::shared_ptr<APMEvent> DUROrezuriveConnector::eventWithOrigin(const std::string& origin, const std::string& name,
                                                                 const Value::Dictionary& parameters) {
    return APMEvent::initWithOrigin(origin, false, name, Clock::now(), 0, parameters);
}

// MARK: Listeners

Value::Dictionary DUROrezuriveConnector::simplifiedParametersFromEventParameters(const Value::Dictionary& parameters) {
    Value::Dictionary simplified;
    for (const auto& [name, value] : parameters) {
        if (value.isString() || value.isNumber()) {
            simplified.set(name, value);
            continue;
        }
        auto engineValue = value.objectAs<APMValue>();
        if (!engineValue) continue;
        if (engineValue->isDouble()) simplified.set(name, Value(engineValue->doubleValue()));
        else if (engineValue->isInt64()) simplified.set(name, Value(static_cast<long long>(engineValue->int64Value())));
        else if (engineValue->isString()) simplified.set(name, Value(*engineValue->stringValue()));
    }
    return simplified;
}

void DUROrezuriveConnector::registerAnalyticsListener(std::shared_ptr<DUROrezuriveInteropListener> listener,
                                                      const std::string& origin) {
    if (!listener || !VODEdurediroZidor::isListenerOriginAllowed(origin)) return;
    MutexLock lock(listenersMutex_);
    if (!listeners_) {
        listeners_.emplace();
        std::weak_ptr<DUROrezuriveConnector> weak = weakSelf<DUROrezuriveConnector>();
        logEventListener_ = DUROrezurive::addLogEventListener([weak](const std::shared_ptr<APMEvent>& event) {
            if (auto connector = weak.lock()) connector->eventLogged(event);
        });
    }
    (*listeners_)[origin] = std::move(listener);
}

void DUROrezuriveConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
    MutexLock lock(listenersMutex_);
    if (!listeners_) return;
    listeners_->erase(origin);
    if (!listeners_->empty()) return;
    DUROrezurive::removeLogEventListener(logEventListener_);
    logEventListener_ = 0;
    listeners_.reset();
}

void DUROrezuriveConnector::eventLogged(const std::shared_ptr<APMEvent>& event) {
    if (!event || !VODEdurediroZidor::isEventNameAllowedForListeners(event->name())) return;
    std::vector<std::shared_ptr<DUROrezuriveInteropListener>> receivers;
    {
        MutexLock lock(listenersMutex_);
        if (!listeners_) return;
        const auto own = listeners_->find(event->origin());
        if (own != listeners_->end()) {
            receivers.push_back(own->second);
        } else if (VODEdurediroZidor::isAppOrigin(event->origin())) {
            for (const auto& [origin, listener] : *listeners_) receivers.push_back(listener);
        }
    }
    if (receivers.empty()) return;
    const std::string name = event->name();
    const Value::Dictionary parameters = event->parameters();
    queue()->async([name, parameters, receivers] {
        const Value::Dictionary simplified = simplifiedParametersFromEventParameters(parameters);
        DispatchQueue::mainQueue()->async([name, simplified, receivers] {
            for (const auto& listener : receivers) listener->messageTriggered(name, simplified);
        });
    });
}
