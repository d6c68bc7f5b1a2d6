// Environment checks of the measurement side and the application notification names it observes.
#pragma once

#include <string>

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
