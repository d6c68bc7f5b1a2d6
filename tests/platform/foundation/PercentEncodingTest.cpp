// Percent-encoding with the platform's URL sets and custom sets; strict decoding.
#include "platform/foundation/PercentEncoding.h"

#include <gtest/gtest.h>

namespace {

using Set = URLAllowedCharacterSet;

std::string encode(std::string_view s, const Set& set) { return stringByAddingPercentEncodingWithAllowedCharacters(s, set); }

TEST(PercentEncodingSets, PredefinedURLSets) {
    const std::string text = "a b/c?d=e&f#g[h]:i@j;k%l+m~n\"o";
    EXPECT_EQ(encode(text, Set::URLQueryAllowed()), "a%20b/c?d=e&f%23g%5Bh%5D:i@j;k%25l+m~n%22o");
    EXPECT_EQ(encode(text, Set::URLFragmentAllowed()), "a%20b/c?d=e&f%23g%5Bh%5D:i@j;k%25l+m~n%22o");
    EXPECT_EQ(encode(text, Set::URLPathAllowed()), "a%20b/c%3Fd=e&f%23g%5Bh%5D:i@j%3Bk%25l+m~n%22o");
    EXPECT_EQ(encode(text, Set::URLHostAllowed()), "a%20b%2Fc%3Fd=e&f%23g[h]:i%40j;k%25l+m~n%22o");
    EXPECT_EQ(encode("\xC3\xA9 \xF0\x9F\x98\x80", Set::URLQueryAllowed()), "%C3%A9%20%F0%9F%98%80");
}

TEST(PercentEncodingSets, CustomAndInvertedSets) {
    const Set strict = Set::characterSetWithCharactersInString("!*'();:@&=+$,/?%#[] ").invertedSet();
    EXPECT_EQ(encode("a b&c=d/\xC3\xA9", strict), "a%20b%26c%3Dd%2F\xC3\xA9");  // beyond ASCII is in the inverted set
    const Set letters = Set::characterSetWithCharactersInString("abc");
    EXPECT_EQ(encode("abcd\xC3\xA9", letters), "abc%64%C3%A9");
    EXPECT_EQ(encode("a;b", Set::URLQueryAllowed().removingCharactersInString(";")), "a%3Bb");
    EXPECT_EQ(encode("a b", Set::URLQueryAllowed().unionWith(Set::characterSetWithCharactersInString(" "))), "a b");
    EXPECT_EQ(encode("\xFF", strict), "%FF");  // a stray byte is never passed through
}

TEST(PercentDecoding, ValidInput) {
    EXPECT_EQ(stringByRemovingPercentEncoding("a%20b%2Fc"), "a b/c");
    EXPECT_EQ(stringByRemovingPercentEncoding("%c3%A9t%C3%A9"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(stringByRemovingPercentEncoding("a+b"), "a+b");
    EXPECT_EQ(stringByRemovingPercentEncoding(""), "");
    const std::string text = "x y?z=\xE2\x82\xAC&%";
    EXPECT_EQ(stringByRemovingPercentEncoding(encode(text, Set::URLQueryAllowed())), text);
}

TEST(PercentDecoding, MalformedInputGivesNothing) {
    for (const char* bad : {"%zz", "%4", "%", "abc%", "%%41", "%C3", "%C3%28", "%FF", "%ED%A0%80", "%4g"})
        EXPECT_FALSE(stringByRemovingPercentEncoding(bad)) << bad;
    EXPECT_FALSE(stringByRemovingPercentEncoding("ok\xFF"));
    const std::string longer = "%41%42";
    EXPECT_FALSE(stringByRemovingPercentEncoding(std::string_view(longer).substr(0, 5)));
}

}  // namespace
