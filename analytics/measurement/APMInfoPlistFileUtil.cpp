// Finding and reading the service property list.
#include "analytics/measurement/APMInfoPlistFileUtil.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"

std::optional<std::string> APMInfoPlistFileUtil::vizudiServiceInfoPlistPath() {
    for (const auto& bundle : {NSBundle::mainBundle(), NSBundle::bundleForClass("APMInfoPlistFileUtil")}) {
        if (!bundle) continue;
        const std::string path = bundle->pathForResource("VizudiService-Info", "plist");
        if (!path.empty()) return path;
    }
    return std::nullopt;
}

std::optional<Value::Dictionary> APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist() {
    const std::optional<std::string> path = vizudiServiceInfoPlistPath();
    if (!path) return std::nullopt;
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(*path);
    if (!plist.isDictionary()) return std::nullopt;
    return plist.dictionary();
}
