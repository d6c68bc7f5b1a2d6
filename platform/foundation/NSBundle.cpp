// Bundles: Info.plist, resource lookup, the choice of localization and the string tables
// ("key" = "value"; files in UTF-8 or UTF-16, or property lists), all cached per bundle
// and dropped when the preferred languages change.
#include "platform/foundation/NSBundle.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PathComponent.h"
#include "platform/foundation/StringsFile.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::optional<Value::Dictionary> loadStringsFile(const std::string& path) {
    NSErrorPtr error;
    std::string problem;
    const auto data = readDataFromFile(path, &error);
    if (!data) problem = error->localizedDescription();
    else if (auto table = stringsTableWithData(*data, &problem)) return table;
    Diagnostics::notef("Could not read the strings file %s: %s", path.c_str(), problem.c_str());
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------
// Localization choice

std::string canonicalTag(std::string tag) {
    std::replace(tag.begin(), tag.end(), '_', '-');
    static const std::map<std::string, std::string> legacyNames = {
        {"english", "en"}, {"french", "fr"},  {"german", "de"}, {"japanese", "ja"},
        {"spanish", "es"}, {"italian", "it"}, {"dutch", "nl"},
    };
    std::string lower = NSString::lowercaseString(tag);
    if (const auto found = legacyNames.find(lower); found != legacyNames.end()) return found->second;
    return lower;
}

std::string primaryLanguage(const std::string& canonical) { return canonical.substr(0, canonical.find('-')); }

// The script subtag ("hans" of "zh-hans-cn"), if any.
std::string scriptOf(const std::string& canonical) {
    std::size_t start = canonical.find('-');
    while (start != std::string::npos) {
        const std::size_t end = canonical.find('-', start + 1);
        const std::string part = canonical.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        if (part.size() == 4) return part;
        start = end;
    }
    return {};
}

std::optional<std::string> matchLanguage(const std::string& preferred, const std::vector<std::string>& available) {
    const std::string wanted = canonicalTag(preferred);
    // Exact, then shortened from the end: "zh-Hans-CN", "zh-Hans", "zh".
    for (std::string candidate = wanted; !candidate.empty();) {
        for (const auto& name : available)
            if (canonicalTag(name) == candidate) return name;
        const auto dash = candidate.rfind('-');
        candidate = dash == std::string::npos ? std::string() : candidate.substr(0, dash);
    }
    // Then another region of the same language and script ("pt-PT" takes "pt-BR").
    for (const auto& name : available) {
        const std::string have = canonicalTag(name);
        if (primaryLanguage(have) == primaryLanguage(wanted) && scriptOf(have) == scriptOf(wanted)) return name;
    }
    return std::nullopt;
}

std::string lprojFolder(const std::string& bundle, const std::string& localization) {
    return localization.empty() ? bundle : bundle + "/" + localization + ".lproj";
}

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

Mutex bundlesMutex;
// Never destroyed: threads still finishing work at exit may look strings up.
std::shared_ptr<NSBundle>& mainBundleInstance() REQUIRES(bundlesMutex) {
    static auto* bundle = new std::shared_ptr<NSBundle>;
    return *bundle;
}
std::map<std::string, std::shared_ptr<NSBundle>>& bundlesByPath() REQUIRES(bundlesMutex) {
    static auto* bundles = new std::map<std::string, std::shared_ptr<NSBundle>>;
    return *bundles;
}

std::map<std::string, std::string>& bundlePathsByClass() REQUIRES(bundlesMutex) {
    static auto* paths = new std::map<std::string, std::string>;
    return *paths;
}

std::string canonicalFolder(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    std::string text = (ec ? fs::path(path) : absolute).lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string executableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::shared_ptr<NSBundle> NSBundle::mainBundle() {
    MutexLock lock(bundlesMutex);
    if (!mainBundleInstance()) {
        const char* env = std::getenv("APP_BUNDLE");
        mainBundleInstance() = std::make_shared<NSBundle>(canonicalFolder(env && *env ? env : executableFolder()));
    }
    return mainBundleInstance();
}

void NSBundle::setMainBundlePath(const std::string& path) {
    auto bundle = std::make_shared<NSBundle>(canonicalFolder(path));
    MutexLock lock(bundlesMutex);
    mainBundleInstance() = std::move(bundle);
}

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !fs::is_directory(path, ec)) return nullptr;
    const std::string folder = canonicalFolder(path);
    MutexLock lock(bundlesMutex);
    if (mainBundleInstance() && mainBundleInstance()->path_ == folder) return mainBundleInstance();
    auto& bundle = bundlesByPath()[folder];
    if (!bundle) bundle = std::make_shared<NSBundle>(folder);
    return bundle;
}

std::shared_ptr<NSBundle> NSBundle::bundleForClass(const std::string& className) {
    std::string path;
    {
        MutexLock lock(bundlesMutex);
        auto it = bundlePathsByClass().find(className);
        if (it != bundlePathsByClass().end()) path = it->second;
    }
    if (!path.empty()) {
        if (auto bundle = bundleWithPath(path)) return bundle;
    }
    return mainBundle();
}

void NSBundle::setBundlePathForClass(const std::string& className, const std::string& path) {
    MutexLock lock(bundlesMutex);
    if (path.empty()) bundlePathsByClass().erase(className);
    else bundlePathsByClass()[className] = path;
}

void NSBundle::resetCaches() {
    std::vector<std::shared_ptr<NSBundle>> bundles;
    {
        MutexLock lock(bundlesMutex);
        if (mainBundleInstance()) bundles.push_back(mainBundleInstance());
        for (const auto& entry : bundlesByPath()) bundles.push_back(entry.second);
    }
    for (const auto& bundle : bundles) {
        MutexLock lock(bundle->mutex_);
        bundle->info_.reset();
        bundle->resetLocked();
    }
}

void NSBundle::resetLocked() const {
    chosen_.reset();
    searchOrder_.reset();
    tables_.clear();
}

void NSBundle::refreshIfLanguagesChanged() const {
    const std::uint64_t generation = NSLocale::preferredLanguagesGeneration();
    if (generation != languagesGeneration_) {
        resetLocked();
        languagesGeneration_ = generation;
    }
}

const Value::Dictionary& NSBundle::infoLocked() const {
    if (!info_) {
        const std::string file = path_ + "/Info.plist";
        info_.emplace();
        if (isFile(file)) {
            NSErrorPtr error;
            const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(file, &error);
            if (plist.isDictionary()) info_ = plist.dictionary();
            else Diagnostics::notef("Could not read %s: %s", file.c_str(),
                                    error ? error->description().c_str() : "not a dictionary");
        }
    }
    return *info_;
}

Value::Dictionary NSBundle::infoDictionary() const {
    MutexLock lock(mutex_);
    return infoLocked();
}

std::string NSBundle::bundleIdentifier() const {
    MutexLock lock(mutex_);
    const Value& identifier = infoLocked().get("CFBundleIdentifier");
    return identifier.isString() ? identifier.string() : std::string();
}

std::string NSBundle::developmentLocalization() const {
    MutexLock lock(mutex_);
    const Value& region = infoLocked().get("CFBundleDevelopmentRegion");
    return region.isString() && !region.string().empty() ? region.string() : std::string("en");
}

namespace {

// The names in a folder, none when it cannot be listed. Plain names, not paths: a bundle's top
// folder holds hundreds of pictures, and a launch lists it more than once.
std::vector<std::string> entryNames(const std::string& folder) {
    std::vector<std::string> names;
    if (FileIO::current()->listFolder(folder, names) != 0) names.clear();
    return names;
}

}  // namespace

std::vector<std::string> NSBundle::localizations() const {
    std::vector<std::string> names;
    constexpr std::string_view suffix = ".lproj";
    for (const auto& name : entryNames(path_)) {
        if (name.size() <= suffix.size() || !NSString::hasSuffix(name, suffix)) continue;
        std::error_code typeError;
        if (fs::is_directory(path_ + "/" + name, typeError)) names.push_back(name.substr(0, name.size() - suffix.size()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string NSBundle::chosenLocked() const {
    refreshIfLanguagesChanged();
    if (chosen_) return *chosen_;
    const std::vector<std::string> all = localizations();
    std::vector<std::string> languages;
    for (const auto& name : all)
        if (name != "Base") languages.push_back(name);
    std::string choice;
    for (const auto& preferred : NSLocale::preferredLanguages()) {
        if (const auto match = matchLanguage(preferred, languages)) {
            choice = *match;
            break;
        }
    }
    const Value& region = infoLocked().get("CFBundleDevelopmentRegion");
    if (choice.empty()) {
        for (const std::string& fallback : {std::string("Base"), std::string("en"), region.stringValue()}) {
            if (fallback.empty()) continue;
            if (const auto match = matchLanguage(fallback, all)) {
                choice = *match;
                break;
            }
        }
    }
    // The tables' search order from the same listing: reading the folder is the costly part.
    std::vector<std::string> order;
    auto add = [&](const std::string& name) {
        if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    };
    if (!choice.empty()) add(choice);
    for (const std::string& fallback : {std::string("Base"), std::string("en"), region.stringValue()}) {
        if (fallback.empty()) continue;
        if (const auto match = matchLanguage(fallback, all)) add(*match);
    }
    add("");
    searchOrder_ = std::move(order);
    chosen_ = choice;
    return choice;
}

std::vector<std::string> NSBundle::preferredLocalizations() const {
    MutexLock lock(mutex_);
    const std::string chosen = chosenLocked();
    if (chosen.empty()) return {};
    return {chosen};
}

// The localizations whose tables are consulted, in order, ending with the top folder (""),
// worked out with the choice.
const std::vector<std::string>& NSBundle::tableSearchOrderLocked() const {
    (void)chosenLocked();  // a change of languages resets both
    return *searchOrder_;
}

const std::optional<Value::Dictionary>& NSBundle::tableLocked(const std::string& localization,
                                                              const std::string& table) const {
    const auto key = std::make_pair(localization, table);
    auto found = tables_.find(key);
    if (found == tables_.end()) {
        // A table name is one file name in the folder; anything else names no table.
        const std::string file = lprojFolder(path_, localization) + "/" + table + ".strings";
        const bool present = isSafePathComponent(table) && isFile(file);
        found = tables_.emplace(key, present ? loadStringsFile(file) : std::nullopt).first;
    }
    return found->second;
}

std::string NSBundle::localizedStringForKey(const std::string& key, const std::string& value,
                                            const std::string& table) const {
    const std::string tableName = table.empty() ? "Localizable" : table;
    {
        MutexLock lock(mutex_);
        for (const auto& localization : tableSearchOrderLocked()) {
            const auto& strings = tableLocked(localization, tableName);
            if (!strings) continue;
            // The first table found decides, even when it lacks the key.
            const Value* entry = strings->find(key);
            if (entry && entry->isString()) return entry->string();
            break;
        }
    }
    return value.empty() ? key : value;
}

Value::Dictionary NSBundle::localizedInfoDictionary() const {
    MutexLock lock(mutex_);
    const std::string chosen = chosenLocked();
    if (chosen.empty()) return {};
    const auto& strings = tableLocked(chosen, "InfoPlist");
    return strings ? *strings : Value::Dictionary{};
}

Value NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
    const Value::Dictionary localized = localizedInfoDictionary();
    if (const Value* value = localized.find(key)) return *value;
    MutexLock lock(mutex_);
    return infoLocked().get(key);
}

std::string NSBundle::pathForResource(const std::string& name, const std::string& type,
                                      const std::string& directory) const {
    if (name.empty()) return {};
    std::string extension = type;
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    std::string file = name;
    if (!extension.empty() && !NSString::hasSuffix(name, "." + extension)) file += "." + extension;
    // The name is one file name in the folder; folders below come through `directory`.
    if (!isSafePathComponent(file)) return {};
    const std::string sub = directory.empty() ? std::string() : "/" + directory;

    std::vector<std::string> folders{""};
    {
        MutexLock lock(mutex_);
        for (const auto& localization : tableSearchOrderLocked())
            if (!localization.empty()) folders.push_back(localization);
    }
    for (const auto& localization : folders) {
        const std::string base = localization.empty() ? path_ + sub : path_ + sub + "/" + localization + ".lproj";
        const std::string candidate = base + "/" + file;
        std::error_code ec;
        if (fs::exists(candidate, ec)) return candidate;
    }
    return {};
}

std::vector<std::string> NSBundle::pathsForResourcesOfType(const std::string& type, const std::string& directory) const {
    std::string extension = type;
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    const std::string top = directory.empty() ? path_ : path_ + "/" + directory;
    std::string chosen;
    {
        MutexLock lock(mutex_);
        chosen = chosenLocked();
    }
    std::vector<std::string> paths;
    for (const std::string& folder : {top, chosen.empty() ? std::string() : top + "/" + chosen + ".lproj"}) {
        if (folder.empty()) continue;
        for (const auto& name : entryNames(folder)) {
            if (NSString::hasSuffix(name, ".lproj")) continue;
            if (extension.empty() || NSString::pathExtension(name) == extension) paths.push_back(folder + "/" + name);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string NSBundle::description() const { return "NSBundle <" + path_ + ">"; }

std::string NSLocalizedString(const std::string& key, const std::string&) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "");
}

std::string NSLocalizedStringFromTable(const std::string& key, const std::string& table, const std::string&) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", table);
}
