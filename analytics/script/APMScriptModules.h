// The modules the engine gives event-editing programs: "internal.remoteConfig" (the settings
// of the configuration that carried the program), "internal.appMetadata" (platform, bundle
// identifier, library and application versions) and "internal.logger" (the monitor's log).
#pragma once

#include "analytics/script/APMScriptContext.h"

#include <memory>

class APMPEventEditing;
class APMPLoggerDelegate;

// The context is held weakly: once it is gone, settings read as absent and the application
// version as unknown. Without a logger delegate, lines go to the measurement monitor.
void APMRegisterScriptModules(APMPEventEditing& editing, std::weak_ptr<APMScriptContext> context,
                              std::shared_ptr<APMPLoggerDelegate> logger = nullptr);
