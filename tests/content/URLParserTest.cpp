// Joining parameters onto URLs and splitting query strings.
#include "content/URLParser.h"

#include <gtest/gtest.h>

TEST(URLParserTest, JoinsParametersWithTheRightSeparatorAndStrictEncoding) {
    EXPECT_EQ(URLParser::constructURL("http://h/p", std::nullopt), "http://h/p");
    EXPECT_EQ(URLParser::constructURL("http://h/p", Value::Dictionary{}), "http://h/p?");
    EXPECT_EQ(URLParser::constructURL("http://h/p?a=1", Value::Dictionary{{"b", Value(2)}}), "http://h/p?a=1&b=2");
    EXPECT_EQ(URLParser::constructURL("http://h/p#frag?x", Value::Dictionary{{"b", Value(true)}}), "http://h/p#frag?x?b=1");
    const Value::Dictionary params{{"name", Value("Woman's & Child=1/2 100%")},
                                   {"picture", Value(NSData{1, 2, 3})},
                                   {"object", Value(std::make_shared<NSObject>())},
                                   {"n", Value(1.5)},
                                   {"word", Value("Ünïcode-._~")}};
    EXPECT_EQ(URLParser::constructURL("http://h/p", params),
              "http://h/p?name=Woman%27s%20%26%20Child%3D1%2F2%20100%25&n=1.5&word=%C3%9Cn%C3%AFcode-._~");
}

TEST(URLParserTest, SplitsTheQueryAtTheFirstEqualsSign) {
    EXPECT_EQ(URLParser::parseURL("http://h/p"), std::nullopt);
    const auto query = URLParser::parseURL("http://h/p?a=1&token=YWJj==&name=Caf%C3%A9%20au%20lait&a=2&flag&&bad=%zz");
    ASSERT_TRUE(query);
    EXPECT_EQ(query->get("a").string(), "2");
    EXPECT_EQ(query->get("token").string(), "YWJj==");
    EXPECT_EQ(query->get("name").string(), "Café au lait");
    EXPECT_EQ(query->get("flag").string(), "");
    EXPECT_EQ(query->get("bad").string(), "%zz");
    EXPECT_EQ(query->size(), 5u);

    const auto fragment = URLParser::parseURL("app://open#picture=12&mode=hd");
    ASSERT_TRUE(fragment);
    EXPECT_EQ(fragment->get("picture").string(), "12");
    EXPECT_EQ(fragment->get("mode").string(), "hd");
}
