// One text of the texts database.
#pragma once

#include <cstdint>
#include <string>

struct TextEntry {
    // Its key in the favourites and the new marks.
    std::int32_t index = 0;
    // The title.
    std::string shortText;
    // The body, in HTML.
    std::string fullText;
    std::int32_t wordCount = 0;
    // The body without markup: the preview line.
    std::string textWithoutTags;
    std::string date;
    // The name of the subcategory it was listed under.
    std::string subCat;
    // Never filled.
    std::string bigCat;
};
