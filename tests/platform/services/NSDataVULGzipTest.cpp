// Gzip streams: real RFC 1952 output that zlib reads back, and failures reported as such.
#include "platform/services/NSDataVULGzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace {

NSData sampleData(size_t size) {
    NSData data(size);
    std::mt19937 random(7);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i % 17 == 0 ? random() : 'a' + i % 5);
    return data;
}

TEST(NSDataVULGzipTest, RoundTripsWithAGzipHeaderAtEitherEffort) {
    for (const VULGzipEffort effort : {VULGzipEffort::Default, VULGzipEffort::Fastest}) {
        for (size_t size : {size_t{0}, size_t{1}, size_t{1000}, size_t{300000}}) {
            const NSData data = sampleData(size);
            NSErrorPtr error;
            const NSData gz = NSDataVULGzip::vul_dataByGzippingData(data, &error, effort);
            ASSERT_FALSE(gz.empty());
            EXPECT_EQ(error, nullptr);
            EXPECT_EQ(gz[0], 0x1f);
            EXPECT_EQ(gz[1], 0x8b);
            EXPECT_EQ(NSDataVULGzip::vul_dataByInflatingGzippedData(gz, &error), data);
            EXPECT_EQ(error, nullptr);
        }
    }
    // The fastest effort still compresses, if less tightly.
    const NSData data = sampleData(300000);
    const std::size_t fastest = NSDataVULGzip::vul_dataByGzippingData(data, nullptr, VULGzipEffort::Fastest).size();
    EXPECT_LT(fastest, data.size() / 2);
    EXPECT_GE(fastest, NSDataVULGzip::vul_dataByGzippingData(data).size());
}

TEST(NSDataVULGzipTest, InflatesStreamsMadeByZlibItself) {
    const NSData data = sampleData(5000);
    // A zlib-wrapped stream (windowBits 15) is read too: inflate detects the wrapper.
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    NSData compressed(size);
    ASSERT_EQ(compress(compressed.data(), &size, data.data(), static_cast<uLong>(data.size())), Z_OK);
    compressed.resize(size);
    EXPECT_EQ(NSDataVULGzip::vul_dataByInflatingGzippedData(compressed), data);
}

TEST(NSDataVULGzipTest, MalformedAndTruncatedStreamsFail) {
    const NSData gz = NSDataVULGzip::vul_dataByGzippingData(sampleData(4000));
    NSData truncated(gz.begin(), gz.begin() + static_cast<long>(gz.size() / 2));
    NSErrorPtr error;
    EXPECT_TRUE(NSDataVULGzip::vul_dataByInflatingGzippedData(truncated, &error).empty());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), VULGzipErrorDomain);
    EXPECT_EQ(error->code(), VULGzipErrorDecompression);

    error.reset();
    NSData garbage = {'n', 'o', 't', ' ', 'g', 'z', 'i', 'p'};
    EXPECT_TRUE(NSDataVULGzip::vul_dataByInflatingGzippedData(garbage, &error).empty());
    EXPECT_NE(error, nullptr);

    NSData corrupted = gz;
    corrupted[corrupted.size() - 6] ^= 0xff;  // the CRC no longer matches
    error.reset();
    EXPECT_TRUE(NSDataVULGzip::vul_dataByInflatingGzippedData(corrupted, &error).empty());
    EXPECT_NE(error, nullptr);
}

TEST(NSDataVULGzipTest, AStreamInflatingPastItsBoundFails) {
    // A megabyte of zeros deflates to about a kilobyte.
    const NSData zeros(1024 * 1024, 0);
    const NSData gz = NSDataVULGzip::vul_dataByGzippingData(zeros);
    ASSERT_LT(gz.size(), 4096u);
    EXPECT_EQ(NSDataVULGzip::vul_dataByInflatingGzippedData(gz, nullptr, zeros.size()), zeros);
    NSErrorPtr error;
    EXPECT_TRUE(NSDataVULGzip::vul_dataByInflatingGzippedData(gz, &error, zeros.size() - 1).empty());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), VULGzipErrorDomain);
    EXPECT_EQ(error->code(), VULGzipErrorDecompression);
    error.reset();
    EXPECT_TRUE(NSDataVULGzip::vul_dataByInflatingGzippedData(gz, &error, 100).empty());
    EXPECT_NE(error, nullptr);
}

}  // namespace
