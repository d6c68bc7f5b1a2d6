// The preferred-language list, settable from any thread.
#include "platform/foundation/NSLocale.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstdlib>
#include <optional>

namespace {

Mutex languagesMutex;
// Never destroyed: threads still finishing work at exit may read it.
std::optional<std::vector<std::string>>& explicitLanguages() REQUIRES(languagesMutex) {
    static auto* languages = new std::optional<std::vector<std::string>>;
    return *languages;
}
std::atomic<std::uint64_t> generation{1};

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> languagesFromEnvironment() {
    std::vector<std::string> languages;
    if (const char* env = std::getenv("APP_LANGUAGES")) {
        std::string list = env;
        std::size_t start = 0;
        while (start <= list.size()) {
            const auto comma = list.find(',', start);
            const auto end = comma == std::string::npos ? list.size() : comma;
            std::string language = trimmed(list.substr(start, end - start));
            if (!language.empty()) languages.push_back(std::move(language));
            start = end + 1;
        }
    }
    if (languages.empty()) languages.push_back("en");
    return languages;
}

}  // namespace

std::vector<std::string> NSLocale::preferredLanguages() {
    MutexLock lock(languagesMutex);
    if (explicitLanguages()) return *explicitLanguages();
    return languagesFromEnvironment();
}

void NSLocale::setPreferredLanguages(std::vector<std::string> languages) {
    MutexLock lock(languagesMutex);
    explicitLanguages() = std::move(languages);
    generation.fetch_add(1);
}

void NSLocale::resetPreferredLanguages() {
    MutexLock lock(languagesMutex);
    explicitLanguages().reset();
    generation.fetch_add(1);
}

std::uint64_t NSLocale::preferredLanguagesGeneration() { return generation.load(); }
