// Info.plist values of the main bundle, with one logged sentence when the engine's part is missing.
#include "config/AppInfo.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UIDevice.h"

#include <cstdio>
#include <set>

namespace {

constexpr const char* kEngineDictionaryKey = "OstrelEngine";

Mutex stateMutex;
std::set<std::string> reportedBundles GUARDED_BY(stateMutex);

// Says once per bundle folder why the engine runs on its defaults.
void reportOnce(const std::string& bundlePath, const std::string& sentence) {
    {
        MutexLock lock(stateMutex);
        if (!reportedBundles.insert(bundlePath).second) return;
    }
    Diagnostics::note(sentence);
}

Value::Dictionary infoDictionary() {
    auto bundle = NSBundle::mainBundle();
    return bundle ? bundle->infoDictionary() : Value::Dictionary{};
}

std::string infoString(const char* key) { return infoDictionary().get(key).stringValue(); }

std::string engineString(const char* key) {
    const Value v = AppInfo::ostrelEngineInfo().get(key);
    return v.isNull() ? std::string() : v.stringValue();
}

}  // namespace

std::string AppInfo::bundleId() {
    auto bundle = NSBundle::mainBundle();
    return bundle ? bundle->bundleIdentifier() : std::string();
}

std::string AppInfo::displayName() {
    auto bundle = NSBundle::mainBundle();
    if (!bundle) return {};
    const Value localized = bundle->localizedInfoDictionary().get("CFBundleDisplayName");
    if (!localized.isNull()) return localized.stringValue();
    return bundle->infoDictionary().get("CFBundleDisplayName").stringValue();
}

std::string AppInfo::appVersion() { return infoString("CFBundleShortVersionString"); }

std::string AppInfo::appBuild() { return infoString("CFBundleVersion"); }

std::string AppInfo::idiom() {
    const auto device = UIDevice::currentDevice();
    if (!device->canReportUserInterfaceIdiom()) return "iPhone";
    return device->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone ? "iPad" : "iPhone";
}

std::string AppInfo::appInfoString() {
    const NSOperatingSystemVersion v = NSProcessInfo::processInfo()->operatingSystemVersion();
    std::string system = NSString::format("%ld.%ld", v.majorVersion, v.minorVersion);
    if (v.patchVersion != 0) system += NSString::format(".%ld", v.patchVersion);
    return NSString::format("%@ (version %@(%@), %@ %@)", displayName(), appVersion(), appBuild(), idiom(), system);
}

std::string AppInfo::appStoreId() {
    const Value v = infoDictionary().get("AppId");
    return v.isNull() ? std::string() : v.stringValue();
}

Value::Dictionary AppInfo::ostrelEngineInfo() {
    auto bundle = NSBundle::mainBundle();
    if (!bundle) {
        reportOnce("", "No application bundle was found; the engine runs with its default configuration.");
        return {};
    }
    const std::string path = bundle->bundlePath();
    const Value::Dictionary info = bundle->infoDictionary();
    if (info.empty()) {
        const std::string plist = path + "/Info.plist";
        if (NSFileManager::defaultManager()->fileExistsAtPath(plist)) {
            reportOnce(path, NSString::format("The Info.plist at %@ could not be read; the engine runs with its "
                                              "default configuration.", plist));
        } else {
            reportOnce(path, NSString::format("The bundle at %@ has no Info.plist; the engine runs with its "
                                              "default configuration.", path));
        }
        return {};
    }
    const Value& engine = info.get(kEngineDictionaryKey);
    if (!engine.isDictionary()) {
        reportOnce(path, NSString::format("The Info.plist at %@ has no \"OstrelEngine\" dictionary; the content "
                                          "server and the product identifiers stay empty.", path + "/Info.plist"));
        return {};
    }
    return engine.dictionary();
}

std::string AppInfo::appServerLikesIdentifer() { return engineString("OEServerLikesIdentifer"); }

std::string AppInfo::appServerFamousIdentifer() { return engineString("OEServerFamousIdentifer"); }

std::string AppInfo::appServerFolder() { return engineString("OEServerFolder"); }

std::string AppInfo::appServerHost() {
    std::string host = engineString("OEServerHost");
    while (!host.empty() && host.back() == '/') host.pop_back();
    return host;
}

std::uint64_t AppInfo::articlesStyle() {
    const Value v = ostrelEngineInfo().get("OEArticlesStyle");
    if (v.isNull()) {
        Diagnostics::note(
            "Articles style not defined. Add OEArticlesStyle key to OstrelEngine in Info.plist or there will be no "
            "section with articles. You can ignore this warning.");
        return 0;
    }
    const long style = v.integerValue();
    return style > 0 ? static_cast<std::uint64_t>(style) : 0;
}
