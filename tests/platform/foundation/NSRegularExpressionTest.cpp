// Regular expressions: options, UTF-16 match ranges, and patterns that do not compile.
#include "platform/foundation/NSRegularExpression.h"

#include <gtest/gtest.h>

namespace {

TEST(NSRegularExpressionTest, FirstMatchWithOptions) {
    auto regex = NSRegularExpression::regularExpressionWithPattern("^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$",
                                                                   NSRegularExpressionCaseInsensitive);
    ASSERT_NE(regex, nullptr);
    for (const char* good : {"12", "-3.", ".5", "+0.25"}) {
        EXPECT_NE(regex->rangeOfFirstMatchInString(good).location, NSNotFound) << good;
    }
    for (const char* bad : {"", "1e5", "1.2.3", " 1", "--1"}) {
        EXPECT_EQ(regex->rangeOfFirstMatchInString(bad).location, NSNotFound) << bad;
    }
    auto insensitive = NSRegularExpression::regularExpressionWithPattern("abc", NSRegularExpressionCaseInsensitive);
    EXPECT_EQ(insensitive->rangeOfFirstMatchInString("xxABCxx"), NSMakeRange(2, 3));
    auto literal = NSRegularExpression::regularExpressionWithPattern("a.c", NSRegularExpressionIgnoreMetacharacters);
    EXPECT_EQ(literal->rangeOfFirstMatchInString("abc a.c"), NSMakeRange(4, 3));
    auto dotAll = NSRegularExpression::regularExpressionWithPattern("a.c", NSRegularExpressionDotMatchesLineSeparators);
    EXPECT_EQ(dotAll->rangeOfFirstMatchInString("a\nc").location, 0u);
    auto lines = NSRegularExpression::regularExpressionWithPattern("^b$", NSRegularExpressionAnchorsMatchLines);
    EXPECT_EQ(lines->rangeOfFirstMatchInString("a\nb\nc"), NSMakeRange(2, 1));
}

TEST(NSRegularExpressionTest, RangesCountUTF16Units) {
    auto regex = NSRegularExpression::regularExpressionWithPattern("b+", 0);
    // "😀" is two UTF-16 units, "é" one.
    EXPECT_EQ(regex->rangeOfFirstMatchInString("😀ébb"), NSMakeRange(3, 2));
    EXPECT_EQ(regex->rangeOfFirstMatchInString("bb😀bbb", NSMakeRange(2, 5)), NSMakeRange(4, 3));
    EXPECT_EQ(regex->numberOfMatchesInString("b a bb c bbb"), 3u);
    auto groups = NSRegularExpression::regularExpressionWithPattern("(a)|(b)", 0)->matchesInString("b");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0][1].location, NSNotFound);
    EXPECT_EQ(groups[0][2], NSMakeRange(0, 1));
}

TEST(NSRegularExpressionTest, BadPatternGivesAnError) {
    NSErrorPtr error;
    EXPECT_EQ(NSRegularExpression::regularExpressionWithPattern("([a-", 0, &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFormattingError);
}

}  // namespace
