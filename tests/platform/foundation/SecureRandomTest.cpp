// Randomness: kernel bytes, the forced-failure hook, and the uniform source with its seed hook.
#include "platform/foundation/SecureRandom.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(SecureRandomBytes, FillsWholeBuffers) {
    NSData a(4096, 0), b(4096, 0);
    int error = 0;
    ASSERT_TRUE(SecureRandom::randomBytes(a.data(), a.size(), &error));
    ASSERT_TRUE(SecureRandom::randomBytes(b.data(), b.size(), &error));
    EXPECT_NE(a, b);
    // Every byte value shows up in 4 KiB of random data with overwhelming probability.
    EXPECT_GT(std::set<std::uint8_t>(a.begin(), a.end()).size(), 200u);
    EXPECT_TRUE(SecureRandom::randomBytes(nullptr, 0));
}

TEST(SecureRandomBytes, ForcedFailureIsReportedNotHidden) {
    SecureRandom::setFailureForTesting(EIO);
    std::uint64_t value = 0x1234;
    int error = 0;
    EXPECT_FALSE(SecureRandom::randomBytes(&value, sizeof value, &error));
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_FALSE(SecureRandom::randomUInt64());
    EXPECT_FALSE(SecureRandom::randomData(8));
    // The uniform source never fails.
    EXPECT_LT(SecureRandom::uniform(10), 10u);
    SecureRandom::setFailureForTesting(0);
    EXPECT_TRUE(SecureRandom::randomUInt64());
    EXPECT_EQ(SecureRandom::randomData(8)->size(), 8u);
}

TEST(SecureRandomUniform, SeededSequencesRepeat) {
    SecureRandom::seedForTesting(42);
    std::vector<std::uint32_t> first;
    for (int i = 0; i < 20; ++i) first.push_back(SecureRandom::uniform(1000));
    SecureRandom::seedForTesting(42);
    std::vector<std::uint32_t> second;
    for (int i = 0; i < 20; ++i) second.push_back(SecureRandom::uniform(1000));
    EXPECT_EQ(first, second);
    SecureRandom::seedForTesting(43);
    std::vector<std::uint32_t> other;
    for (int i = 0; i < 20; ++i) other.push_back(SecureRandom::uniform(1000));
    EXPECT_NE(first, other);
    SecureRandom::clearSeedForTesting();
}

TEST(SecureRandomUniform, StaysInRangeAndSpreadsEvenly) {
    EXPECT_EQ(SecureRandom::uniform(0), 0u);
    EXPECT_EQ(SecureRandom::uniform(1), 0u);
    // A bound just above 2^31 is where modulo bias would double the low half's odds.
    const std::uint32_t bound = 0x80000001u;
    int low = 0;
    const int draws = 20000;
    for (int i = 0; i < draws; ++i) {
        const std::uint32_t r = SecureRandom::uniform(bound);
        ASSERT_LT(r, bound);
        if (r < bound / 2) ++low;
    }
    EXPECT_NEAR(low, draws / 2, draws / 20);
    std::vector<int> counts(6);
    for (int i = 0; i < 60000; ++i) ++counts[SecureRandom::uniform(6)];
    for (int c : counts) EXPECT_NEAR(c, 10000, 600);
}

TEST(SecureRandomUniform, SeededSourceIsSafeAcrossThreads) {
    SecureRandom::seedForTesting(7);
    std::vector<std::thread> threads;
    std::atomic<int> outOfRange{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i)
                if (SecureRandom::uniform(17) >= 17) ++outOfRange;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(outOfRange.load(), 0);
    SecureRandom::clearSeedForTesting();
}

}  // namespace
