// The service property list "VizudiService-Info.plist", which carries the app ids: found in
// the main bundle, else in the bundle holding the engine's own code.
#pragma once

#include "platform/foundation/Value.h"

#include <optional>
#include <string>

class APMInfoPlistFileUtil {
public:
    static std::optional<std::string> vizudiServiceInfoPlistPath();
    // None when there is no file or it is not a dictionary property list.
    static std::optional<Value::Dictionary> dictionaryFromVizudiServiceInfoPlist();
};
