// The header scanners on well-formed lines, on the shapes servers get wrong, and on lines far
// longer than any real one.
#include "platform/net/HTTPHeaderParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(HTTPHeaderParserTest, StatusLinesAndFieldLinesAreReadAsLibcurlHandsThemOver) {
    auto status = parseHTTPStatusLine("HTTP/1.1 206 Partial Content\r\n");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->version, "HTTP/1.1");
    EXPECT_EQ(status->statusCode, 206);
    EXPECT_EQ(parseHTTPStatusLine("HTTP/2 200\r\n")->statusCode, 200);
    // A status line whose status is no three digits is still one, with no status.
    for (const std::string& line : std::vector<std::string>{"HTTP/1.1\r\n", "HTTP/1.1 2000 OK", "HTTP/1.1 20 OK", "HTTP/1.1 037 OK", "HTTP/1.1 abc",
                                   "HTTP/1.1 " + std::string(90'000, '9')})
        EXPECT_EQ(parseHTTPStatusLine(line)->statusCode, 0) << line.substr(0, 20);
    EXPECT_FALSE(parseHTTPStatusLine("Content-Type: text/plain"));

    auto field = parseHTTPHeaderField("Content-Range :  bytes 0-1/2 \r\n");
    ASSERT_TRUE(field);
    EXPECT_EQ(field->first, "Content-Range");
    EXPECT_EQ(field->second, "bytes 0-1/2");
    EXPECT_EQ(parseHTTPHeaderField("X-Empty:")->second, "");
    EXPECT_EQ(parseHTTPHeaderField("X-Colons: a:b:c")->second, "a:b:c");
    EXPECT_FALSE(parseHTTPHeaderField("no colon here"));
    EXPECT_FALSE(parseHTTPHeaderField("  : value"));
}

TEST(HTTPHeaderParserTest, LengthsAndRangesAreDigitsWithinTheirBoundOrNothing) {
    EXPECT_EQ(parseHTTPContentLength(" 1234 "), 1234);
    EXPECT_EQ(parseHTTPContentLength("0"), 0);
    EXPECT_EQ(parseHTTPContentLength(std::string(kHTTPMaxNumberDigits, '9')), 999'999'999'999'999'999);
    for (const std::string& value : std::vector<std::string>{"", " ", "-1", "12abc", "1 2", "+5", std::string(kHTTPMaxNumberDigits + 1, '1'),
                                    std::string(90'000, '7')})
        EXPECT_FALSE(parseHTTPContentLength(value)) << value.substr(0, 20);

    auto range = parseHTTPContentRange("bytes 1000-4999/5000");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->first, 1000);
    EXPECT_EQ(range->last, 4999);
    EXPECT_EQ(range->total, 5000);
    // Anchored at the start, "bytes" in any case, anything after the total left alone.
    EXPECT_EQ(parseHTTPContentRange("Bytes 0-0/1, trailing")->total, 1);
    const std::string digits(90'000, '7');
    for (const std::string& value : std::vector<std::string>
         {"", "bytes", "bytes ", "bytes 1-2", "bytes 1-2/", "bytes 1-2/*", "bytes */5000", " bytes 1-2/3",
          "bytes  1-2/3", "bytes 1 -2/3", "bytes=1-2/3", "bytes " + digits + "-2/3", "bytes 1-" + digits + "/3",
          "bytes 1-2/" + digits, "bytes 1-2/" + std::string(kHTTPMaxNumberDigits + 1, '9')})
        EXPECT_FALSE(parseHTTPContentRange(value)) << value.substr(0, 30);
}
