// The utility logger: levels, line shape, and messages printed as they are.
#include "platform/services/VULLogger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class VULLoggerTest : public testing::Test {
protected:
    void SetUp() override {
        VULSetLogHandler([this](int level, const std::string& line) { lines.emplace_back(level, line); });
    }
    void TearDown() override {
        VULSetLogHandler(nullptr);
        VULSetLoggerLevel(VULLoggerLevelNotice);
    }
    std::vector<std::pair<int, std::string>> lines;
};

TEST_F(VULLoggerTest, LevelsFilterUnlessForced) {
    VULSetLoggerLevel(VULLoggerLevelWarning);
    EXPECT_TRUE(VULIsLoggableLevel(VULLoggerLevelError));
    EXPECT_FALSE(VULIsLoggableLevel(VULLoggerLevelNotice));
    VULLogBasic(VULLoggerLevelDebug, "<S>", false, "I-ACS000001", "hidden");
    VULLogBasic(VULLoggerLevelDebug, "<S>", true, "I-ACS000002", "forced");
    VULLogWarning("<S>", false, "I-ACS000003", "warned");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].second, "<S>[I-ACS000002] forced");
    EXPECT_EQ(lines[1].first, VULLoggerLevelWarning);
    // Out-of-range levels leave the level alone.
    VULSetLoggerLevel(42);
    EXPECT_EQ(VULLoggerLevel(), VULLoggerLevelWarning);
}

TEST_F(VULLoggerTest, MessageIsNeverAFormat) {
    VULLogError("<S>", false, "I-ACS041004", "100% done %s %n %@");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].second, "<S>[I-ACS041004] 100% done %s %n %@");
}

}  // namespace
