// Identifiers from configuration that end up in SQL.
#include "config/OESQLIdentifier.h"

#include <gtest/gtest.h>

TEST(OESQLIdentifier, AcceptsOnlyPlainNames) {
    for (const char* name : {"subCat", "subCat2", "author", "_x", "name_en", "A1"}) {
        EXPECT_TRUE(OESQLIdentifier::isPlain(name)) << name;
    }
    for (const char* name : {"", "2subCat", "sub Cat", "author\"", "a;b", "images.subCat", "name-en", "ümlaut",
                             "x'--"}) {
        EXPECT_FALSE(OESQLIdentifier::isPlain(name)) << name;
        EXPECT_FALSE(OESQLIdentifier::quoted(name).has_value()) << name;
    }
}

TEST(OESQLIdentifier, QuotesPlainNames) {
    EXPECT_EQ(OESQLIdentifier::quoted("subCat2"), std::optional<std::string>("\"subCat2\""));
}
