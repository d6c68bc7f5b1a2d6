// Base64: known vectors, round trips of every tail length, line options, and malformed input
// that must give nothing without reading past the text.
#include "platform/foundation/Base64.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

NSData bytes(std::string_view s) { return NSData(s.begin(), s.end()); }

TEST(Base64Encoding, KnownVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64EncodedString(bytes(plain)), encoded);
        EXPECT_EQ(dataFromBase64String(encoded), bytes(plain)) << encoded;
    }
    EXPECT_EQ(base64EncodedString(NSData{0xfb, 0xff, 0xbf}), "+/+/");
}

TEST(Base64Encoding, RoundTripsEveryLength) {
    NSData data;
    for (int n = 0; n < 70; ++n) {
        const auto decoded = dataFromBase64String(base64EncodedString(data));
        ASSERT_TRUE(decoded) << n;
        EXPECT_EQ(*decoded, data);
        data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
    }
}

TEST(Base64Encoding, LineLengthOptions) {
    const NSData data(60, 0);  // 80 characters encoded
    const std::string lines64 = base64EncodedString(data, NSDataBase64Encoding64CharacterLineLength);
    EXPECT_EQ(lines64, std::string(64, 'A') + "\r\n" + std::string(16, 'A'));
    const std::string lines76 = base64EncodedString(
        data, NSDataBase64Encoding76CharacterLineLength | NSDataBase64EncodingEndLineWithLineFeed);
    EXPECT_EQ(lines76, std::string(76, 'A') + "\n" + std::string(4, 'A'));
    EXPECT_FALSE(dataFromBase64String(lines64));  // line breaks are unknown characters
    EXPECT_EQ(dataFromBase64String(lines64, NSDataBase64DecodingIgnoreUnknownCharacters), data);
}

TEST(Base64Decoding, MalformedInputGivesNothing) {
    for (const char* bad : {"Zg", "Zg=", "Zm9", "Z===", "====", "=Zg=", "Zg==Zg==", "Zm=v", "Zm9v\n", "Zm 9v",
                            "Zm9v*", "\xC3\xA9\xC3\xA9"}) {
        EXPECT_FALSE(dataFromBase64String(bad)) << bad;
    }
    EXPECT_FALSE(dataFromBase64String(std::string_view("Zg==\0AAA", 8)));
}

TEST(Base64Decoding, IgnoringUnknownCharactersStillNeedsWholeQuartets) {
    const unsigned ignore = NSDataBase64DecodingIgnoreUnknownCharacters;
    EXPECT_EQ(dataFromBase64String(" Zm9v\r\nYmFy\t", ignore), bytes("foobar"));
    EXPECT_EQ(dataFromBase64String("Z-m*9~v", ignore), bytes("foo"));
    EXPECT_FALSE(dataFromBase64String("Zm9vY", ignore));
    EXPECT_FALSE(dataFromBase64String("Zg==Zg==", ignore));
}

TEST(Base64Decoding, ReadsOnlyTheGivenText) {
    // The text ends exactly at the end of a heap block: a read past it would be caught by the
    // address sanitizer; a view into a longer buffer must not see the bytes after it.
    const std::string text = "Zm9vYg";
    auto block = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), block.get());
    EXPECT_FALSE(dataFromBase64String(std::string_view(block.get(), text.size())));
    const std::string longer = "Zm9vYg==";
    EXPECT_FALSE(dataFromBase64String(std::string_view(longer).substr(0, 6)));
    EXPECT_EQ(dataFromBase64String(std::string_view(longer).substr(0, 4)), bytes("foo"));
}

}  // namespace
