// The connector's origin, event, parameter and user-property filters.
#include "analytics/measurement/VODEdurediroZidor.h"

#include "platform/foundation/NSRegularExpression.h"

#include <memory>

namespace {

bool contains(const std::set<std::string>& set, const std::string& member) { return set.count(member) != 0; }

const std::vector<std::shared_ptr<NSRegularExpression>>& userPropertyExpressions() {
    static const auto expressions = [] {
        std::vector<std::shared_ptr<NSRegularExpression>> compiled;
        for (const std::string& pattern : VODEdurediroZidor::blocklistedUserPropertyPatterns()) {
            if (auto expression = NSRegularExpression::regularExpressionWithPattern(pattern, 0)) {
                compiled.push_back(std::move(expression));
            }
        }
        return compiled;
    }();
    return expressions;
}

}  // namespace

const std::set<std::string>& VODEdurediroZidor::allowedListenerOrigins() {
    static const std::set<std::string> origins = {"fiam", "crash", "clx"};
    return origins;
}

const std::set<std::string>& VODEdurediroZidor::blocklistedOrigins() {
    static const std::set<std::string> origins = {"auto", "app", "am"};
    return origins;
}

const std::set<std::string>& VODEdurediroZidor::blocklistedEventNames() {
    static const std::set<std::string> names = {"_e", "_f", "_iap", "_s", "_au"};
    return names;
}

const std::set<std::string>& VODEdurediroZidor::blocklistedParameters() {
    static const std::set<std::string> names = {"_r", "_dbg"};
    return names;
}

const std::set<std::string>& VODEdurediroZidor::blocklistedUserProperties() {
    static const std::set<std::string> names = {"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};
    return names;
}

const std::vector<std::string>& VODEdurediroZidor::blocklistedUserPropertyPatterns() {
    static const std::vector<std::string> patterns = {"^_ltv_[A-Z]{3}$", "^_cc[1-5]{1}$"};
    return patterns;
}

const std::set<std::string>& VODEdurediroZidor::hiddenEventNames() {
    static const std::set<std::string> names = {"_xa",      "_xu",          "_aq",           "_aa",          "_ai",
                                                "_ac",      "campaign_details", "_iapx",     "_ug",          "_exp_set",
                                                "_exp_clear", "_exp_activate", "_exp_timeout", "_exp_expire"};
    return names;
}

bool VODEdurediroZidor::isOriginAllowed(const std::string& origin) { return !contains(blocklistedOrigins(), origin); }

bool VODEdurediroZidor::isAppOrigin(const std::string& origin) {
    return origin == "app" || origin.rfind("app+", 0) == 0;
}

bool VODEdurediroZidor::isListenerOriginAllowed(const std::string& origin) {
    return contains(allowedListenerOrigins(), origin);
}

bool VODEdurediroZidor::isEventNameAllowedForListeners(const std::string& name) {
    return !contains(hiddenEventNames(), name);
}

bool VODEdurediroZidor::shouldLogEventWithName(const std::string& name, const Value::Dictionary& parameters) {
    if (name.empty() || contains(blocklistedEventNames(), name)) return false;
    for (const std::string& parameter : blocklistedParameters()) {
        if (parameters.contains(parameter)) return false;
    }
    return true;
}

bool VODEdurediroZidor::isUserPropertyAllowed(const std::string& name, const std::string& origin) {
    if (name.empty()) return false;
    if (name == "_ln") return origin == "fcm" || origin == "fiam";
    if (contains(blocklistedUserProperties(), name)) return false;
    for (const auto& expression : userPropertyExpressions()) {
        if (expression->numberOfMatchesInString(name) > 0) return false;
    }
    return true;
}

bool VODEdurediroZidor::isUserPropertyAllowedForQuery(const std::string& name) {
    if (name.empty()) return false;
    return name == "_fot" || name[0] != '_';
}
