// The check of names that become one path component, and the fallback for unsafe ones.
#include "platform/foundation/PathComponent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(PathComponent, OnlyOnePlainNameIsSafe) {
    const std::vector<std::string> safe{"com.example.gallery", "a", "...", ".hidden", "name with spaces", "Ünïcødé",
                                        std::string(kMaxPathComponentLength, 'x')};
    const std::vector<std::string> unsafe{"", ".", "..", "../x", "a/b", "/", "x/", std::string("a\0b", 3),
                                          std::string(kMaxPathComponentLength + 1, 'x')};
    for (const std::string& name : safe) EXPECT_TRUE(isSafePathComponent(name)) << name;
    for (const std::string& name : unsafe) EXPECT_FALSE(isSafePathComponent(name)) << name;
}

TEST(PathComponent, UnsafeNamesGiveTheFallback) {
    EXPECT_EQ(safePathComponent("com.example", "app", "The bundle identifier"), "com.example");
    EXPECT_EQ(safePathComponent("../../../x", "app", "The bundle identifier"), "app");
    EXPECT_EQ(safePathComponent("", "app", "The bundle identifier"), "app");
    EXPECT_EQ(safePathComponent("a/b", "", "The bundle identifier"), "");
}
