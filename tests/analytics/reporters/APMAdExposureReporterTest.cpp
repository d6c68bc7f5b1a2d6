// Ad exposure on the manual clock: nested begin and end per ad unit, pieces under a second left
// out, background time not counted, the cut at the engagement timer, and the limits.
#include "ReporterTestSupport.h"

#include "platform/foundation/NSNotificationCenter.h"

#include <gtest/gtest.h>

namespace {

class APMAdExposureReporterTest : public ReporterTest {
protected:
    void SetUp() override {
        ReporterTest::SetUp();
        ads = APMAdExposureReporter::sharedInstance();
        UIApplication::sharedApplication()->becomeActive();
        settle();
    }
    void advance(double seconds) {
        Clock::advance(seconds);
        settle();
    }
    std::shared_ptr<APMAdExposureReporter> ads;
};

TEST_F(APMAdExposureReporterTest, NestedExposuresAreReportedOnceTheLastEndComes) {
    ads->beginAdUnitExposure("banner");
    ads->beginAdUnitExposure("banner");
    advance(2.5);
    ads->endAdUnitExposure("banner");
    EXPECT_TRUE(names().empty());
    ads->endAdUnitExposure("banner");
    EXPECT_EQ(names(), (std::vector<std::string>{"_xu", "_xa"}));
    auto unit = eventsNamed(*context->sink, "_xu")[0];
    EXPECT_EQ(unit->origin(), "am");
    EXPECT_EQ(stringParameter(*unit, "_ai"), "banner");
    EXPECT_EQ(intParameter(*unit, "_xt"), 2500);
    EXPECT_EQ(intParameter(*eventsNamed(*context->sink, "_xa")[0], "_xt"), 2500);
    EXPECT_TRUE(APMIsAdExposureEvent(*unit));

    // Under a second: nothing.
    clearLogged();
    ads->beginAdUnitExposure("banner");
    advance(0.9);
    ads->endAdUnitExposure("banner");
    EXPECT_TRUE(names().empty());
}

// A clock time between 2^30 and 2^31 s is a multiple of 2^-22 s: an advance of 0.9995 s moves
// it by 999.50003 ms, one of 1.001 s by 1000.99993 ms.
TEST_F(APMAdExposureReporterTest, ExposureTimesAreTruncatedToTheMillisecondWithinAMicrosecond) {
    Clock::setManual(1'750'000'000);
    auto monitor = APMMeasurementMonitor();
    const bool verbose = monitor->isVerboseLoggingEnabled();
    monitor->setVerboseLoggingEnabled(true);
    {
        LogCapture log;
        ads->beginAdUnitExposure("banner");
        advance(0.9995);
        ads->endAdUnitExposure("banner");
        EXPECT_TRUE(names().empty());
        EXPECT_EQ(log.matching("I-ACS001009").size(), 1u);
        EXPECT_EQ(log.matching("I-ACS001006").size(), 1u);
    }
    monitor->setVerboseLoggingEnabled(verbose);

    ads->beginAdUnitExposure("banner");
    advance(1.001);
    ads->endAdUnitExposure("banner");
    auto units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(intParameter(*units[0], "_xt"), 1001);
    EXPECT_EQ(intParameter(*eventsNamed(*context->sink, "_xa")[0], "_xt"), 1001);
}

TEST_F(APMAdExposureReporterTest, BackgroundTimeIsNotCounted) {
    ads->beginAdUnitExposure("video");
    advance(2);
    UIApplication::sharedApplication()->enterBackground();
    settle();
    // The piece before resignation is reported then.
    auto units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(intParameter(*units[0], "_xt"), 2000);
    clearLogged();
    advance(100);
    UIApplication::sharedApplication()->enterForeground();
    settle();
    advance(1.5);
    ads->endAdUnitExposure("video");
    units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(intParameter(*units[0], "_xt"), 1500);
}

TEST_F(APMAdExposureReporterTest, TheEngagementTimerCutsTheRunningExposure) {
    ads->beginAdUnitExposure("banner");
    advance(30);
    NSNotificationCenter::defaultCenter()->postNotificationName(APMSessionReporter::kEngagementTimerDidFireNotification,
                                                                nullptr);
    auto units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(intParameter(*units[0], "_xt"), 30000);
    advance(4);
    ads->endAdUnitExposure("banner");
    units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(intParameter(*units[1], "_xt"), 4000);
}

TEST_F(APMAdExposureReporterTest, EmptyUnknownAndTooManyUnitsAreRefused) {
    // The sample keeps the last line of these levels: each refusal is looked at in turn.
    auto lastSampled = [] {
        LogCapture::flush();
        return monitorSample(true);
    };
    (void)lastSampled();
    ads->beginAdUnitExposure("");
    EXPECT_NE(lastSampled().find("Received empty ad unit ID"), std::string::npos);
    ads->endAdUnitExposure("never-begun");
    EXPECT_NE(lastSampled().find("Unknown ad unit"), std::string::npos);
    for (int unit = 0; unit < 101; ++unit) ads->beginAdUnitExposure("unit" + std::to_string(unit));
    advance(2);
    // The hundred-and-first was never opened; the others were.
    ads->endAdUnitExposure("unit100");
    ads->endAdUnitExposure("unit0");
    auto units = eventsNamed(*context->sink, "_xu");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(stringParameter(*units[0], "_ai"), "unit0");
    clearLogged();

    // Switched off: nothing is reported.
    ads->setReportingEnabled(false);
    advance(5);
    ads->endAdUnitExposure("unit1");
    EXPECT_TRUE(names().empty());
}

}  // namespace
