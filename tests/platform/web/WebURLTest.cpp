// Link addresses made absolute against the page's address, as browsers make them.
#include "platform/web/WebURL.h"

#include <gtest/gtest.h>

TEST(WebURLTest, ReferencesResolveAsTheStandardSays) {
    // RFC 3986, 5.4.1 and 5.4.2.
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g:h", "g:h"},          {"g", "http://a/b/c/g"},       {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"}, {"/g", "http://a/g"},         {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"}, {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"}, {";x", "http://a/b/c/;x"},  {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},   {"..", "http://a/b/"},         {"../g", "http://a/b/g"},
        {"../..", "http://a/"},   {"../../g", "http://a/g"},     {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},   {"/../g", "http://a/g"},       {"g.", "http://a/b/c/g."},
        {"g/../h", "http://a/b/c/h"}, {"g;x=1/./y", "http://a/b/c/g;x=1/y"}};
    for (const auto& [reference, expected] : cases) EXPECT_EQ(WebURL::resolve(base, reference), expected) << reference;
}

TEST(WebURLTest, SchemesBlanksAndIllegalCharacters) {
    EXPECT_EQ(WebURL::scheme("MailTo:a@b"), "mailto");
    EXPECT_EQ(WebURL::scheme(" \tjavascript:x"), "javascript");
    EXPECT_EQ(WebURL::scheme("java\nscript:x"), "javascript");
    EXPECT_EQ(WebURL::scheme("imageLink_12"), "");
    EXPECT_EQ(WebURL::scheme("1abc:x"), "");
    // Blanks around are dropped, inside encoded; characters beyond ASCII encoded as UTF-8 bytes.
    EXPECT_EQ(WebURL::resolve("file:///b/", "  a b\u00e9.jpg \n"), "file:///b/a%20b%C3%A9.jpg");
    EXPECT_EQ(WebURL::resolve("", "x y"), "x%20y");
    EXPECT_EQ(WebURL::resolve("about:blank", "imagePath_%2Fa%20b.jpg"), "about:imagePath_%2Fa%20b.jpg");
    EXPECT_EQ(WebURL::withoutFragment("http://a/b#c#d"), "http://a/b");
}
