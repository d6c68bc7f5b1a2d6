// Index paths of tables and collections: a section and a row (or item) within it.
#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <string>

struct NSIndexPath {
    long section = 0;
    long row = 0;

    static NSIndexPath indexPathForRow(long row, long section) { return {section, row}; }

    long item() const { return row; }

    // Section first, then row, as the platform's compare:.
    auto operator<=>(const NSIndexPath&) const = default;
    bool operator==(const NSIndexPath&) const = default;

    std::string description() const { return "{" + std::to_string(section) + ", " + std::to_string(row) + "}"; }
};

template <>
struct std::hash<NSIndexPath> {
    std::size_t operator()(const NSIndexPath& p) const noexcept {
        return std::hash<long>()(p.section) * 1000003u ^ std::hash<long>()(p.row);
    }
};
