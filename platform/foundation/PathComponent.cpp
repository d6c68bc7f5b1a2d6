// The check of one path component, and the fallback that says once why it was needed.
#include "platform/foundation/PathComponent.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/ThreadAnnotations.h"
#include <cstdio>
#include <set>

bool isSafePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= kMaxPathComponentLength &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string safePathComponent(const std::string& name, const std::string& fallback, std::string_view what) {
    if (isSafePathComponent(name)) return name;
    if (name.empty()) return fallback;
    static Mutex mutex;
    // Never destroyed: late threads may still ask.
    static auto* const told PT_GUARDED_BY(mutex) = new std::set<std::string>;
    MutexLock lock(mutex);
    if (told->insert(std::string(what) + '\0' + name).second) {
        std::string shown;
        for (const char c : name.substr(0, 2 * kMaxPathComponentLength)) {
            if (c == '\0') shown += "\\0";
            else shown += c;
        }
        if (name.size() > 2 * kMaxPathComponentLength) shown += "...";
        const std::string instead = fallback.empty() ? "it is left out" : "\"" + fallback + "\" is used instead";
        Diagnostics::notef("%.*s \"%s\" cannot be part of a file path; %s.", static_cast<int>(what.size()),
                           what.data(), shown.c_str(), instead.c_str());
    }
    return fallback;
}
