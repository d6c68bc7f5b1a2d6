// The object the platform core's component container hands sibling libraries for the analytics
// interop protocol: internal events, user properties, conditional user properties and event
// listeners, each road guarded by the lists of VODEdurediroZidor.
#pragma once

#include "analytics/measurement/APMAnalytics.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/services/DUROrezuriveInterop.h"
#include "platform/services/ZUVEzodaza.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class APMConditionalUserProperty;
class APMEvent;
class DispatchQueue;

class DUROrezuriveConnector : public NSObject, public ZUVEzodaza, public DUROrezuriveInterop {
public:
    static constexpr const char* kLibraryName = "vude-dozuzudov";
    static constexpr const char* kLibraryVersion = "9.0.0";
    static constexpr const char* kQueueLabel = "com.vizudi.analytics_connector.queue";
    // Clock seconds a user-property limit query waits for its answer.
    static constexpr double kMaxUserPropertiesTimeout = 10;

    // What the connector asks of the conditional user properties' controller.
    class ConditionalUserProperties {
    public:
        virtual ~ConditionalUserProperties() = default;
        virtual void setConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                                const std::string& name) = 0;
        virtual void clearConditionalUserPropertyWithClearEvent(const std::shared_ptr<APMEvent>& clearEvent,
                                                                const std::string& name) = 0;
        virtual std::vector<std::shared_ptr<APMConditionalUserProperty>> conditionalUserPropertiesWithNamePrefix(
            const std::string& prefix, const std::string& origin) = 0;
    };
    // Put in place of the engine's own controller (nullptr: the engine's again). The engine's
    // refuses with a logged line while the engine is not running.
    static void setConditionalUserPropertyController(std::shared_ptr<ConditionalUserProperties> controller);

    // The load hook: registers the library with the platform core.
    static void load();
    static std::shared_ptr<DispatchQueue> queue();

    std::vector<std::shared_ptr<DAZAvevavida>> componentsToRegister() const override;

    void setConditionalUserProperty(const Value::Dictionary& property) override;
    // Clears the named property; the clear event carries all the given parameters.
    void clearConditionalUserProperty(const std::string& userPropertyName, const std::string& origin,
                                      const std::string& clearEventName,
                                      const Value::Dictionary& clearEventParameters) override;
    Value::Array conditionalUserProperties(const std::string& origin, const std::string& propertyNamePrefix) override;
    // Answers on a queue of its own, so a caller on the connector queue is answered too.
    std::int32_t maxUserProperties(const std::string& origin) override;
    void getUserPropertiesWithCallback(std::function<void(const Value::Dictionary&)> callback) override;
    void logEventWithOrigin(const std::string& origin, const std::string& name,
                            const Value::Dictionary& parameters) override;
    void setUserPropertyWithOrigin(const std::string& origin, const std::string& name, const Value& value) override;
    void registerAnalyticsListener(std::shared_ptr<DUROrezuriveInteropListener> listener,
                                   const std::string& origin) override;
    void unregisterAnalyticsListenerWithOrigin(const std::string& origin) override;

    // A non-public event of "origin", "name", "timestamp" (seconds; now when absent) and
    // "parameters", as a conditional user property carries it (APMEvent::Time::Carried).
    static std::shared_ptr<APMEvent> eventFromDictionary(const Value& dictionary);
    static std::shared_ptr<APMEvent> eventWithOrigin(const std::string& origin, const std::string& name,
                                                     const Value::Dictionary& parameters);
    // Strings and numbers as they are; engine values as their number or text; arrays left out.
    static Value::Dictionary simplifiedParametersFromEventParameters(const Value::Dictionary& parameters);

    ~DUROrezuriveConnector() override;

private:
    void eventLogged(const std::shared_ptr<APMEvent>& event);

    // Registered and read from any thread: the table and the token change together.
    Mutex listenersMutex_;
    std::optional<std::map<std::string, std::shared_ptr<DUROrezuriveInteropListener>>> listeners_ GUARDED_BY(listenersMutex_);
    APMAnalytics::ListenerToken logEventListener_ GUARDED_BY(listenersMutex_) = 0;
};
