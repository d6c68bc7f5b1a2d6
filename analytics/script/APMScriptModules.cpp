#include "analytics/script/APMScriptModules.h"

#include "analytics/core/APMLibraryVersion.h"
#include "analytics/script/APMPEventEditing.h"
#include "analytics/script/APMPLogger.h"
#include "analytics/script/APMPNativeModules.h"
#include "platform/foundation/NSBundle.h"

void APMRegisterScriptModules(APMPEventEditing& editing, std::weak_ptr<APMScriptContext> context,
                              std::shared_ptr<APMPLoggerDelegate> logger) {
    editing.setModuleCreator("internal.remoteConfig", [context](APMPRuntime& runtime) {
        return APMPRuntimeValue(runtime.heap().make<APMPKeyValueStore>(
            u"internal.remoteConfig", [context](const std::string& key) -> std::optional<std::string> {
                auto held = context.lock();
                return held ? held->remoteConfigValueForKey(key) : std::nullopt;
            }));
    });
    editing.setModuleCreator("internal.appMetadata", [context](APMPRuntime& runtime) {
        return APMPRuntimeValue(runtime.heap().make<APMPObjectProvider>(u"internal.appMetadata", [context] {
            Value::Dictionary metadata{{"platform", Value("ios")},
                                       {"package_name", Value(NSBundle::mainBundle()->bundleIdentifier())},
                                       {"vuv_version", Value(static_cast<long long>(APMZevUzeviroredaLibraryVersion()))}};
            auto held = context.lock();
            if (const auto version = held ? held->appVersion() : std::nullopt) metadata.set("app_version", Value(*version));
            return Value(std::move(metadata));
        }));
    });
    if (!logger) logger = std::make_shared<APMPixieLogger>();
    editing.setModuleCreator("internal.logger", [logger](APMPRuntime& runtime) {
        return APMPRuntimeValue(runtime.heap().make<APMPMessageLogger>(logger));
    });
}
