// Bundles: Info.plist, resource lookup, the choice of localization and the string tables
// ("key" = "value"; files in UTF-8 or UTF-16, or property lists), all cached per bundle
// and dropped when the preferred languages change.
#include "platform/foundation/NSBundle.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------
// Strings files

// The text of a strings file as UTF-8: a byte-order mark picks UTF-16 LE/BE or UTF-8;
// without one, UTF-16 is recognised by its zero bytes and anything else is UTF-8.
std::optional<std::string> decodeStringsText(const NSData& data) {
    auto utf16 = [&](std::size_t start, bool littleEndian) -> std::optional<std::string> {
        if ((data.size() - start) % 2) return std::nullopt;
        std::u16string units;
        units.reserve((data.size() - start) / 2);
        for (std::size_t i = start; i + 1 < data.size(); i += 2)
            units.push_back(littleEndian ? static_cast<char16_t>(data[i] | data[i + 1] << 8)
                                         : static_cast<char16_t>(data[i] << 8 | data[i + 1]));
        for (std::size_t i = 0; i < units.size(); ++i) {
            // An unpaired surrogate means the file is damaged, not merely odd.
            const char16_t u = units[i];
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
                ++i;
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                return std::nullopt;
            }
        }
        return NSString::fromUTF16(units);
    };
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) return utf16(2, true);
    if (data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF) return utf16(2, false);
    std::size_t start = 0;
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) start = 3;
    else if (data.size() >= 2 && data.size() % 2 == 0 && data[0] != 0 && data[1] == 0) return utf16(0, true);
    else if (data.size() >= 2 && data.size() % 2 == 0 && data[0] == 0 && data[1] != 0) return utf16(0, false);
    std::string text(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
    if (!NSString::isValidUTF8(text)) return std::nullopt;
    return text;
}

class StringsParser {
public:
    explicit StringsParser(const std::string& text) : s_(text) {}

    std::optional<Value::Dictionary> parse(std::string& problem) {
        Value::Dictionary table;
        for (;;) {
            if (!skipSpaceAndComments(problem)) return std::nullopt;
            if (i_ >= s_.size()) return table;
            std::string key;
            if (!token(key, problem)) return std::nullopt;
            if (!skipSpaceAndComments(problem)) return std::nullopt;
            std::string value = key;  // "key"; alone stands for "key" = "key";
            if (i_ < s_.size() && s_[i_] == '=') {
                ++i_;
                if (!skipSpaceAndComments(problem)) return std::nullopt;
                if (!token(value, problem)) return std::nullopt;
                if (!skipSpaceAndComments(problem)) return std::nullopt;
            }
            if (i_ >= s_.size() || s_[i_] != ';') return fail(problem, "expected ';'");
            ++i_;
            table.set(key, Value(std::move(value)));
        }
    }

private:
    std::optional<Value::Dictionary> fail(std::string& problem, const std::string& what) {
        int line = 1;
        for (std::size_t k = 0; k < i_ && k < s_.size(); ++k) line += s_[k] == '\n';
        problem = what + " at line " + std::to_string(line);
        return std::nullopt;
    }

    bool skipSpaceAndComments(std::string& problem) {
        for (;;) {
            while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (s_.compare(i_, 2, "//") == 0) {
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                const auto end = s_.find("*/", i_ + 2);
                if (end == std::string::npos) {
                    fail(problem, "unterminated comment");
                    return false;
                }
                i_ = end + 2;
            } else {
                return true;
            }
        }
    }

    static bool isUnquotedCharacter(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_$+/:.-").find(c) != std::string_view::npos;
    }

    bool token(std::string& out, std::string& problem) {
        out.clear();
        if (i_ < s_.size() && s_[i_] == '"') return quoted(out, problem);
        while (i_ < s_.size() && isUnquotedCharacter(s_[i_])) out += s_[i_++];
        if (out.empty()) {
            fail(problem, "expected a string");
            return false;
        }
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool quoted(std::string& out, std::string& problem) {
        ++i_;  // opening quote
        char16_t pendingHigh = 0;
        auto flushHigh = [&] {
            if (pendingHigh) NSString::appendUTF8(out, U'\uFFFD');
            pendingHigh = 0;
        };
        for (;;) {
            if (i_ >= s_.size()) {
                fail(problem, "unterminated string");
                return false;
            }
            const char c = s_[i_++];
            if (c == '"') {
                flushHigh();
                return true;
            }
            if (c != '\\') {
                flushHigh();
                out += c;
                continue;
            }
            if (i_ >= s_.size()) {
                fail(problem, "unterminated string");
                return false;
            }
            const char e = s_[i_++];
            if (e == 'U' || e == 'u') {
                // Up to four hex digits of a UTF-16 unit; surrogate pairs come as two escapes.
                char32_t unit = 0;
                int digits = 0;
                while (digits < 4 && i_ < s_.size() && hexDigit(s_[i_]) >= 0) unit = unit * 16 + hexDigit(s_[i_++]), ++digits;
                if (digits == 0) {
                    fail(problem, "\\U without hex digits");
                    return false;
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    flushHigh();
                    pendingHigh = static_cast<char16_t>(unit);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (pendingHigh) {
                        NSString::appendUTF8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
                        pendingHigh = 0;
                    } else {
                        NSString::appendUTF8(out, U'\uFFFD');
                    }
                } else {
                    flushHigh();
                    NSString::appendUTF8(out, unit);
                }
                continue;
            }
            flushHigh();
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
                // Up to three octal digits.
                unsigned code = static_cast<unsigned>(e - '0');
                for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k)
                    code = code * 8 + static_cast<unsigned>(s_[i_++] - '0');
                NSString::appendUTF8(out, static_cast<char32_t>(code));
                break;
            }
            default: out += e; break;  // \" \\ \' and any other character stand for themselves
            }
        }
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

std::optional<Value::Dictionary> loadStringsFile(const std::string& path) {
    const auto data = readDataFromFile(path);
    if (!data) return std::nullopt;
    std::string problem;
    // Tables may also be written as property lists.
    const auto text = decodeStringsText(*data);
    std::string head = text ? text->substr(0, 64) : std::string();
    head.erase(0, head.find_first_not_of(" \t\r\n"));
    if ((data->size() >= 6 && std::equal(data->begin(), data->begin() + 6, "bplist")) || head.rfind("<?xml", 0) == 0 ||
        head.rfind("<plist", 0) == 0 || head.rfind("<!DOCTYPE", 0) == 0) {
        NSErrorPtr error;
        const Value plist = NSPropertyListSerialization::propertyListWithData(*data, &error);
        if (plist.isDictionary()) return plist.dictionary();
        problem = error ? error->userInfo().get("NSDebugDescription").stringValue() : "not a dictionary";
    } else if (!text) {
        problem = "text is neither UTF-8 nor UTF-16";
    } else if (auto table = StringsParser(*text).parse(problem)) {
        return table;
    }
    std::fprintf(stderr, "Could not read the strings file %s: %s\n", path.c_str(), problem.c_str());
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

std::mutex bundlesMutex;
// Never destroyed: threads still finishing work at exit may look strings up.
std::shared_ptr<NSBundle>& mainBundleInstance() {
    static auto* bundle = new std::shared_ptr<NSBundle>;
    return *bundle;
}
std::map<std::string, std::shared_ptr<NSBundle>>& bundlesByPath() {
    static auto* bundles = new std::map<std::string, std::shared_ptr<NSBundle>>;
    return *bundles;
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
    std::lock_guard lock(bundlesMutex);
    if (!mainBundleInstance()) {
        const char* env = std::getenv("APP_BUNDLE");
        mainBundleInstance() = std::make_shared<NSBundle>(canonicalFolder(env && *env ? env : executableFolder()));
    }
    return mainBundleInstance();
}

void NSBundle::setMainBundlePath(const std::string& path) {
    auto bundle = std::make_shared<NSBundle>(canonicalFolder(path));
    std::lock_guard lock(bundlesMutex);
    mainBundleInstance() = std::move(bundle);
}

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !fs::is_directory(path, ec)) return nullptr;
    const std::string folder = canonicalFolder(path);
    std::lock_guard lock(bundlesMutex);
    if (mainBundleInstance() && mainBundleInstance()->path_ == folder) return mainBundleInstance();
    auto& bundle = bundlesByPath()[folder];
    if (!bundle) bundle = std::make_shared<NSBundle>(folder);
    return bundle;
}

void NSBundle::resetCaches() {
    std::vector<std::shared_ptr<NSBundle>> bundles;
    {
        std::lock_guard lock(bundlesMutex);
        if (mainBundleInstance()) bundles.push_back(mainBundleInstance());
        for (const auto& entry : bundlesByPath()) bundles.push_back(entry.second);
    }
    for (const auto& bundle : bundles) {
        std::lock_guard lock(bundle->mutex_);
        bundle->info_.reset();
        bundle->resetLocked();
    }
}

void NSBundle::resetLocked() const {
    chosen_.reset();
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
            else std::fprintf(stderr, "Could not read %s: %s\n", file.c_str(),
                              error ? error->description().c_str() : "not a dictionary");
        }
    }
    return *info_;
}

Value::Dictionary NSBundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    return infoLocked();
}

std::string NSBundle::bundleIdentifier() const {
    std::lock_guard lock(mutex_);
    const Value& identifier = infoLocked().get("CFBundleIdentifier");
    return identifier.isString() ? identifier.string() : std::string();
}

std::string NSBundle::developmentLocalization() const {
    std::lock_guard lock(mutex_);
    const Value& region = infoLocked().get("CFBundleDevelopmentRegion");
    return region.isString() && !region.string().empty() ? region.string() : std::string("en");
}

std::vector<std::string> NSBundle::localizations() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(path_, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& entry = it->path();
        std::error_code typeError;
        if (entry.extension() == ".lproj" && fs::is_directory(entry, typeError)) names.push_back(entry.stem().string());
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
    if (choice.empty()) {
        const Value& region = infoLocked().get("CFBundleDevelopmentRegion");
        for (const std::string& fallback : {std::string("Base"), std::string("en"), region.stringValue()}) {
            if (fallback.empty()) continue;
            if (const auto match = matchLanguage(fallback, all)) {
                choice = *match;
                break;
            }
        }
    }
    chosen_ = choice;
    return choice;
}

std::vector<std::string> NSBundle::preferredLocalizations() const {
    std::lock_guard lock(mutex_);
    const std::string chosen = chosenLocked();
    if (chosen.empty()) return {};
    return {chosen};
}

// The localizations whose tables are consulted, in order, ending with the top folder ("").
std::vector<std::string> NSBundle::tableSearchOrderLocked() const {
    std::vector<std::string> order;
    auto add = [&](const std::string& name) {
        if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    };
    const std::string chosen = chosenLocked();
    if (!chosen.empty()) add(chosen);
    const std::vector<std::string> all = localizations();
    const Value& region = infoLocked().get("CFBundleDevelopmentRegion");
    for (const std::string& fallback : {std::string("Base"), std::string("en"), region.stringValue()}) {
        if (fallback.empty()) continue;
        if (const auto match = matchLanguage(fallback, all)) add(*match);
    }
    add("");
    return order;
}

const std::optional<Value::Dictionary>& NSBundle::tableLocked(const std::string& localization,
                                                              const std::string& table) const {
    const auto key = std::make_pair(localization, table);
    auto found = tables_.find(key);
    if (found == tables_.end()) {
        const std::string file = lprojFolder(path_, localization) + "/" + table + ".strings";
        found = tables_.emplace(key, isFile(file) ? loadStringsFile(file) : std::nullopt).first;
    }
    return found->second;
}

std::string NSBundle::localizedStringForKey(const std::string& key, const std::string& value,
                                            const std::string& table) const {
    const std::string tableName = table.empty() ? "Localizable" : table;
    {
        std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    const std::string chosen = chosenLocked();
    if (chosen.empty()) return {};
    const auto& strings = tableLocked(chosen, "InfoPlist");
    return strings ? *strings : Value::Dictionary{};
}

Value NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
    const Value::Dictionary localized = localizedInfoDictionary();
    if (const Value* value = localized.find(key)) return *value;
    std::lock_guard lock(mutex_);
    return infoLocked().get(key);
}

std::string NSBundle::pathForResource(const std::string& name, const std::string& type,
                                      const std::string& directory) const {
    if (name.empty()) return {};
    std::string extension = type;
    if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
    std::string file = name;
    if (!extension.empty() && !NSString::hasSuffix(name, "." + extension)) file += "." + extension;
    const std::string sub = directory.empty() ? std::string() : "/" + directory;

    std::vector<std::string> folders{""};
    {
        std::lock_guard lock(mutex_);
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
        std::lock_guard lock(mutex_);
        chosen = chosenLocked();
    }
    std::vector<std::string> paths;
    for (const std::string& folder : {top, chosen.empty() ? std::string() : top + "/" + chosen + ".lproj"}) {
        if (folder.empty()) continue;
        std::error_code ec;
        for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (NSString::hasSuffix(name, ".lproj")) continue;
            if (extension.empty() || NSString::pathExtension(name) == extension) paths.push_back(it->path().string());
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
