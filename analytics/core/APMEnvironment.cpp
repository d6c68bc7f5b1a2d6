// Environment checks and notification names.
#include "analytics/core/APMEnvironment.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Value.h"

bool APMIsActivePrewarm() {
    const auto environment = NSProcessInfo::processInfo()->environment();
    auto it = environment.find("ActivePrewarm");
    return it != environment.end() && Value(it->second).boolValue();
}

bool APMHasSceneManifest() {
    auto bundle = NSBundle::mainBundle();
    return bundle && bundle->infoDictionary().contains("UIApplicationSceneManifest");
}

std::string APMUIApplicationDidBecomeActiveNotification() { return "UIApplicationDidBecomeActiveNotification"; }
std::string APMUIApplicationDidFinishLaunchingNotification() { return "UIApplicationDidFinishLaunchingNotification"; }
std::string APMUIApplicationWillResignActiveNotification() { return "UIApplicationWillResignActiveNotification"; }
std::string APMUIWindowDidResignKeyNotification() { return "UIWindowDidResignKeyNotification"; }
std::string APMUIApplicationWillEnterForegroundNotification() { return "UIApplicationWillEnterForegroundNotification"; }
std::string APMUIApplicationDidEnterBackgroundNotification() { return "UIApplicationDidEnterBackgroundNotification"; }
