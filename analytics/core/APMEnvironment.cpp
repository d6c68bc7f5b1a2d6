// Environment checks and notification names.
#include "analytics/core/APMEnvironment.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Value.h"

#include <mutex>

namespace {

std::mutex gMutex;
std::function<bool()> gAppActiveProvider;

}  // namespace

bool APMIsAppActive() {
    std::function<bool()> provider;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        provider = gAppActiveProvider;
    }
    return provider ? provider() : false;
}

void APMSetAppActiveProvider(std::function<bool()> provider) {
    std::lock_guard<std::mutex> lock(gMutex);
    gAppActiveProvider = std::move(provider);
}

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
