// The purchase reporter's product cache is checked state: made within a test it is only
// forgotten after it; made again after the test's end, by work it left running, it fails what
// follows, naming that test. A piece of state that describes nothing stops the binary.
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "tests/fixtures/ProcessState.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

namespace {

// Stands for work a test left running: it asks for the cache once each suite has ended and
// its instances were forgotten (the listeners hear of a suite's end after the test's).
class AskingAfterTheEnd : public testing::EmptyTestEventListener {
public:
    void OnTestSuiteEnd(const testing::TestSuite&) override { (void)APMInAppPurchaseProductCache::sharedInstance(); }
};

}  // namespace

// These two run only in the child started below, in this order.
TEST(ReportersStateChildFirst, DISABLED_LeavesWorkThatAsksAfterItsEnd) {
    EXPECT_TRUE(APMInAppPurchaseProductCache::sharedInstance()) << "made within the test, which is no leak";
    testing::UnitTest::GetInstance()->listeners().Append(new AskingAfterTheEnd);
}

TEST(ReportersStateChildSecond, DISABLED_Follows) {}

TEST(ReportersState, AProductCacheMadeAfterATestEndedIsReportedNamingThatTest) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const ProcessRun child = runCommand(self + " --gtest_filter=ReportersStateChildFirst.*:ReportersStateChildSecond.*"
                                               " --gtest_also_run_disabled_tests 2>&1");
    EXPECT_NE(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  FAILED  ] ReportersStateChildSecond.DISABLED_Follows"), std::string::npos)
        << child.output;
    // Made again after the first test's end, and after the second's, the binary's last.
    const std::pair<const char*, const char*> reports[] = {
        {"ReportersStateChildFirst.DISABLED_LeavesWorkThatAsksAfterItsEnd", "as this test starts."},
        {"ReportersStateChildSecond.DISABLED_Follows", "after the last test."},
    };
    for (const auto& [test, when] : reports) {
        EXPECT_NE(child.output.find("Work that " + std::string(test) +
                                    " left running changed process-wide state after that test ended: "
                                    "APMInAppPurchaseProductCache::sharedInstance() was none as it ended and is made " +
                                    when),
                  std::string::npos)
            << test << "\n"
            << child.output;
    }
}

TEST(ProcessStateDeathTest, APieceThatDescribesNothingStopsTheBinary) {
    EXPECT_DEATH(
        {
            ProcessState::add("nothing told", [] { return ProcessStateSnapshot{"", [] {}}; });
            (void)ProcessState::pieces().back().capture();
        },
        "\"nothing told\" describes nothing");
}
