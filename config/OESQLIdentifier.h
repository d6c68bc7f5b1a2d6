// SQL identifiers that come from configuration (table and column names): only plain names
// ([A-Za-z_][A-Za-z0-9_]*) are accepted, and they go into statements double-quoted.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class OESQLIdentifier {
public:
    [[nodiscard]] static bool isPlain(std::string_view name);
    // "\"name\"" for a plain name; empty otherwise.
    [[nodiscard]] static std::optional<std::string> quoted(std::string_view name);
};
