// Class-level reader of the main bundle's Info.plist and its engine dictionary "OstrelEngine".
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

class AppInfo {
public:
    static std::string bundleId();
    // "CFBundleDisplayName" of the localised Info.plist dictionary, else of Info.plist.
    static std::string displayName();
    static std::string appVersion();  // "CFBundleShortVersionString"
    static std::string appBuild();    // "CFBundleVersion"
    // "iPad" when the current device reports any idiom other than the phone's (0), "iPhone"
    // otherwise and when it cannot report one.
    static std::string idiom();
    // "<name> (version <version>(<build>), <idiom> <system version>)".
    static std::string appInfoString();
    // "AppId", whatever its kind, as a string; "" when absent.
    static std::string appStoreId();

    // The Info.plist dictionary "OstrelEngine"; empty when missing, with one logged sentence
    // per bundle (a malformed or missing Info.plist is logged the same way).
    static Value::Dictionary ostrelEngineInfo();
    static std::string appServerLikesIdentifer();   // "OEServerLikesIdentifer"
    static std::string appServerFamousIdentifer();  // "OEServerFamousIdentifer"
    static std::string appServerFolder();           // "OEServerFolder"
    // "OEServerHost", scheme and host, without trailing slashes.
    static std::string appServerHost();
    // The integer value of "OEArticlesStyle"; when missing, 0 and the log line about it.
    static std::uint64_t articlesStyle();
};
