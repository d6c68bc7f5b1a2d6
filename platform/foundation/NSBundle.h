// A bundle folder: Info.plist, resources, and string tables in <language>.lproj folders,
// read in the language chosen from the user's preferred languages.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class NSBundle : public NSObject {
public:
    // The folder set by setMainBundlePath (the simulator's --bundle option), else $APP_BUNDLE,
    // else the folder of the executable.
    static std::shared_ptr<NSBundle> mainBundle();
    static void setMainBundlePath(const std::string& path);
    // One object per folder; empty when `path` is not a folder.
    [[nodiscard]] static std::shared_ptr<NSBundle> bundleWithPath(const std::string& path);
    // The bundle holding the code of the class `className`: the folder set for it (a framework
    // shipped as a bundle of its own), else the main bundle, into which code links here.
    static std::shared_ptr<NSBundle> bundleForClass(const std::string& className);
    // An empty path forgets the class's folder.
    static void setBundlePathForClass(const std::string& className, const std::string& path);
    // Drops every bundle's cached Info.plist, tables and language choice (files changed on disk).
    static void resetCaches();

    std::string bundlePath() const { return path_; }
    // Resources live at the top of the folder, as in the platform's flat application bundles.
    std::string resourcePath() const { return path_; }
    // CFBundleIdentifier, or "" when Info.plist has none.
    std::string bundleIdentifier() const;

    // Info.plist (XML or binary); empty when absent or unreadable.
    Value::Dictionary infoDictionary() const;
    // The InfoPlist string table of the chosen language.
    Value::Dictionary localizedInfoDictionary() const;
    // Localized value first, then Info.plist; null when neither has the key.
    Value objectForInfoDictionaryKey(const std::string& key) const;

    // CFBundleDevelopmentRegion, else "en".
    std::string developmentLocalization() const;
    // The .lproj folders present (without the extension), sorted.
    std::vector<std::string> localizations() const;
    // The localization chosen for NSLocale::preferredLanguages(): an exact or shortened
    // match ("en-GB" finds "en"), else "Base", "en" or the development region, when present.
    // Empty when the bundle has no .lproj folder at all.
    std::vector<std::string> preferredLocalizations() const;

    // `name` with the extension `type` ("" when the name has it), in `directory` of the
    // bundle: the top first, then the chosen .lproj; "" when absent or not one file name.
    std::string pathForResource(const std::string& name, const std::string& type,
                                const std::string& directory = "") const;
    // Every file with the extension (all files for ""), in the top of `directory` and in the
    // chosen .lproj, sorted by path.
    std::vector<std::string> pathsForResourcesOfType(const std::string& type, const std::string& directory = "") const;

    // The entry of <table>.strings ("Localizable" for "") in the chosen language, falling back
    // to the fall-back localizations when the chosen one lacks the table; a missing key gives
    // `value`, or the key itself when `value` is empty.
    std::string localizedStringForKey(const std::string& key, const std::string& value, const std::string& table) const;

    std::string description() const override;

    explicit NSBundle(std::string path) : path_(std::move(path)) {}

private:
    void refreshIfLanguagesChanged() const REQUIRES(mutex_);
    const Value::Dictionary& infoLocked() const REQUIRES(mutex_);
    std::string chosenLocked() const REQUIRES(mutex_);
    const std::vector<std::string>& tableSearchOrderLocked() const REQUIRES(mutex_);
    const std::optional<Value::Dictionary>& tableLocked(const std::string& localization, const std::string& table) const
        REQUIRES(mutex_);
    void resetLocked() const REQUIRES(mutex_);

    std::string path_;
    mutable Mutex mutex_;
    mutable std::optional<Value::Dictionary> info_ GUARDED_BY(mutex_);
    mutable std::optional<std::string> chosen_ GUARDED_BY(mutex_);
    // Worked out with the choice: every localized string goes through it.
    mutable std::optional<std::vector<std::string>> searchOrder_ GUARDED_BY(mutex_);
    mutable std::uint64_t languagesGeneration_ GUARDED_BY(mutex_) = 0;
    mutable std::map<std::pair<std::string, std::string>, std::optional<Value::Dictionary>> tables_
        GUARDED_BY(mutex_);
};

// The platform's localization macros, as functions over the main bundle.
std::string NSLocalizedString(const std::string& key, const std::string& comment = "");
std::string NSLocalizedStringFromTable(const std::string& key, const std::string& table, const std::string& comment = "");
