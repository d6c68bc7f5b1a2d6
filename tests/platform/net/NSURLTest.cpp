// URLs and requests: the parts of a URL, strings that are not URLs, and header fields that
// ignore case.
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"

#include <gtest/gtest.h>

TEST(NSURLTest, AbsoluteURLsSplitIntoTheirPartsAndKeepTheirString) {
    auto url = NSURL::URLWithString("HTTPS://Gallery.Example:8443/a%20b/c.jpg?id=12,40&sort=desc#top");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), "HTTPS://Gallery.Example:8443/a%20b/c.jpg?id=12,40&sort=desc#top");
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(url->host(), "Gallery.Example");
    EXPECT_EQ(url->port(), 8443);
    EXPECT_EQ(url->path(), "/a b/c.jpg");
    EXPECT_EQ(url->query(), "id=12,40&sort=desc");
    EXPECT_EQ(url->fragment(), "top");
    EXPECT_FALSE(NSURL::URLWithString("http://h/")->port());
    EXPECT_TRUE(url->isEqual(NSURL::URLWithString(url->absoluteString()).get()));

    auto file = NSURL::fileURLWithPath("/tmp/with space/x.tmp");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->isFileURL());
    EXPECT_EQ(file->path(), "/tmp/with space/x.tmp");

    for (const char* notURL : {"", "no scheme here", "http://host/a b", "http://host/\xc3\xa9", "http://host/<x>",
                               "relative/path"}) {
        EXPECT_FALSE(NSURL::URLWithString(notURL)) << notURL;
    }
}

TEST(NSURLTest, RequestHeaderFieldsAreSetReplacedAndRemovedWithoutRegardToCase) {
    auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString("http://127.0.0.1/x"));
    EXPECT_EQ(request->HTTPMethod(), "GET");
    EXPECT_EQ(request->timeoutInterval(), 60);
    EXPECT_FALSE(request->hasExplicitTimeoutInterval());
    request->setValue("bytes=1000-", "Range");
    request->setValue("bytes=2000-", "range");
    request->addValue("a", "X-Tags");
    request->addValue("b", "x-tags");
    EXPECT_EQ(request->valueForHTTPHeaderField("RANGE"), "bytes=2000-");
    EXPECT_EQ(request->headerFields().size(), 2u);
    EXPECT_EQ(request->headerFields()[0].first, "Range");
    EXPECT_EQ(request->allHTTPHeaderFields().get("X-Tags").string(), "a, b");

    auto copy = request->mutableCopy();
    copy->setValue(std::nullopt, "RANGE");
    copy->setTimeoutInterval(90);
    EXPECT_FALSE(copy->valueForHTTPHeaderField("Range"));
    EXPECT_EQ(request->valueForHTTPHeaderField("Range"), "bytes=2000-");
    EXPECT_TRUE(copy->hasExplicitTimeoutInterval());
    EXPECT_EQ(request->timeoutInterval(), 60);
}
