// A category or subcategory of the texts database.
#pragma once

#include <cstdint>
#include <string>

struct TextCat {
    std::int64_t catIndex = 0;
    std::string catName;
    // Subcategories only.
    std::string catDescription;
    // Subcategories only: 2 lists the texts by their index.
    std::int32_t sort = 0;

    // The same row of the same table.
    bool operator==(const TextCat& other) const { return catIndex == other.catIndex && catName == other.catName; }
};
