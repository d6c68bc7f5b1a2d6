// The process's monitor keeps the health sample of what every component logged; the test main
// forgets it after each test, once the monitor's queued work is done, as a new process starting
// in the next test's home would hold none.
#include "LogCapture.h"
#include "analytics/core/APMASLLogger.h"
#include "analytics/core/APMMonitor.h"
#include "tests/fixtures/DisabledTestsChild.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// These two run only in the child started below, in this order.
TEST(APMMonitorStateChildFirst, DISABLED_LogsThroughTheProcessMonitor) {
    APMMeasurementMonitor()->logWithLevel(2, 1, "left by the test before");
}

TEST(APMMonitorStateChildSecond, DISABLED_FindsNoSampleOfIt) {
    EXPECT_EQ(monitorSample(), "") << "the process's monitor kept it";
    auto fresh = APMMonitor::initWithLogLevel(6, std::make_shared<APMASLLogger>(), 1);
    EXPECT_EQ(fresh->monitoringDataForDispatchWithSamplePeriod(-1, 0), std::nullopt) << "it was saved into this home";
}

TEST(APMMonitorState, TheProcessMonitorsSampleIsForgottenAfterEachTest) {
    const ProcessRun child = runDisabledTestsInChild("APMMonitorStateChildFirst.*:APMMonitorStateChildSecond.*");
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 2 tests."), std::string::npos) << child.output;
}
