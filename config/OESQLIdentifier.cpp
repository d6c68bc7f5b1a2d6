// Validation and quoting of SQL identifiers taken from configuration.
#include "config/OESQLIdentifier.h"

namespace {
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool OESQLIdentifier::isPlain(std::string_view name) {
    if (name.empty() || !isLetter(name.front())) return false;
    for (char c : name) {
        if (!isLetter(c) && !isDigit(c)) return false;
    }
    return true;
}

std::optional<std::string> OESQLIdentifier::quoted(std::string_view name) {
    if (!isPlain(name)) return std::nullopt;
    return "\"" + std::string(name) + "\"";
}
