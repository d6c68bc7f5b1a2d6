// Environment checks of the measurement side and the application notification names it observes.
#pragma once

#include <functional>
#include <string>

// Whether the application is active, as the screen-view reporter last saw it. The reporter
// installs its answer; without one the application counts as inactive.
bool APMIsAppActive();
void APMSetAppActiveProvider(std::function<bool()> provider);
// The process environment's "ActivePrewarm" is true (a launch made in advance by the system).
bool APMIsActivePrewarm();
// The main bundle's Info.plist has "UIApplicationSceneManifest".
bool APMHasSceneManifest();

std::string APMUIApplicationDidBecomeActiveNotification();
std::string APMUIApplicationDidFinishLaunchingNotification();
std::string APMUIApplicationWillResignActiveNotification();
std::string APMUIWindowDidResignKeyNotification();
std::string APMUIApplicationWillEnterForegroundNotification();
std::string APMUIApplicationDidEnterBackgroundNotification();
