// Random identifiers carry the version-4 marks; text forms round-trip and malformed ones are refused.
#include "platform/foundation/NSUUID.h"

#include "platform/foundation/SecureRandom.h"

#include <gtest/gtest.h>

#include <set>

TEST(NSUUIDTest, RandomIdentifiersAreVersionFourAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string text = NSUUID::UUID()->UUIDString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
    // The kernel refusing does not stop identifiers from being made.
    SecureRandom::setFailureForTesting(EIO);
    const std::string fallback = NSUUID::UUID()->UUIDString();
    SecureRandom::setFailureForTesting(0);
    EXPECT_EQ(fallback[14], '4');
    EXPECT_EQ(seen.count(fallback), 0u);
}

TEST(NSUUIDTest, TextFormsRoundTripAndMalformedOnesAreRefused) {
    auto uuid = NSUUID::initWithUUIDString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->UUIDString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(uuid->isEqual(NSUUID::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").get()));
    EXPECT_EQ(NSUUID::initWithUUIDString("00000000-0000-0000-0000-000000000000")->UUIDString(),
              "00000000-0000-0000-0000-000000000000");
    for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                            "E621E1F8-C36C-495A-93FC_0C247A3E6E5F", "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",
                            "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"}) {
        EXPECT_FALSE(NSUUID::initWithUUIDString(bad)) << bad;
    }
}
