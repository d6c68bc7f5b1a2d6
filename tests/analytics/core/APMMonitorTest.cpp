// The monitor: level classes, console lines, context encoding, sampling feed, and the debug
// and verbose switches from launch arguments, stored values and the install source.
#include "analytics/core/APMMonitor.h"

#include "LogCapture.h"
#include "analytics/core/APMASLLogger.h"
#include "analytics/core/APMCaughtException.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"
#include "platform/services/VULAppEnvironmentUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

namespace {

struct Recorded {
    std::string message;
    std::string tag;
    std::int64_t code;
    std::int64_t level;
};

class RecordingLogger : public APMLogging {
public:
    void logMessage(const std::string& message, const std::string& logTag, std::int64_t messageCode,
                    std::int64_t logLevel) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back({message, logTag, messageCode, logLevel});
    }
    std::mutex mutex;
    std::vector<Recorded> lines;
};

class APMMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        launchArguments = NSProcessInfo::processInfo()->arguments();
        NSProcessInfo::setArguments(std::vector<std::string>{"app"});
        VULSetLoggerLevel(VULLoggerLevelDebug);
        logger = std::make_shared<RecordingLogger>();
    }
    void TearDown() override {
        // Their queued sample work finishes before the next test changes the stores.
        for (auto& monitor : made) monitor->monitorQueue()->sync([] {});
        NSProcessInfo::setArguments(launchArguments);
        auto standard = APMUserDefaults::standardUserDefaults();
        standard->removeObjectForKey("/vizudi/measurement/debug_mode");
        standard->removeObjectForKey("/vizudi/measurement/verbose_logging");
        VULSetLoggerLevel(VULLoggerLevelNotice);
        VULAppEnvironmentUtil::setDeviceModel("");
        Clock::setReal();
    }
    std::shared_ptr<APMMonitor> makeMonitor() {
        made.push_back(APMMonitor::initWithLogLevel(6, logger, 90000));
        return made.back();
    }
    std::vector<std::shared_ptr<APMMonitor>> made;
    std::vector<Recorded> printed(const std::shared_ptr<APMMonitor>& monitor) {
        monitor->monitorQueue()->sync([] {});
        std::lock_guard<std::mutex> lock(logger->mutex);
        return logger->lines;
    }
    std::shared_ptr<RecordingLogger> logger;
    std::vector<std::string> launchArguments;
};

TEST_F(APMMonitorTest, LevelClassesAndNames) {
    for (int level : {2, 5, 9, 100}) EXPECT_TRUE(APMMonitor::isSilentLevel(level)) << level;
    for (int level : {0, 1, 3, 4, 6, 7, 8}) EXPECT_FALSE(APMMonitor::isSilentLevel(level)) << level;
    for (int level : {1, 2, 4, 5, 9}) EXPECT_TRUE(APMMonitor::isMonitorableLevel(level)) << level;
    for (int level : {0, 3, 6, 7, 8}) EXPECT_FALSE(APMMonitor::isMonitorableLevel(level)) << level;
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(2), "ERROR");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(5), "WARNING");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(6), "NOTICE");
    EXPECT_EQ(APMMonitor::logLevelDescriptionFromLogLevel(7), "DEBUG");
    EXPECT_FALSE(APMMonitor::logLevelDescriptionFromLogLevel(8));
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(1), 3);
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(4), 4);
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(6), 5);
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(8), 7);
    EXPECT_EQ(APMASLLogger::VULLoggerLevelFromLogLevel(12), 4);
}

TEST_F(APMMonitorTest, SilentLevelsAreSampledNotPrinted) {
    auto monitor = makeMonitor();
    monitor->logWithLevel(2, 100, "silent error");
    monitor->logWithLevel(5, 101, "silent warning");
    monitor->logWithLevel(0, 102, "loud error");
    monitor->logWithLevel(3, 103, "loud warning");
    monitor->logWithLevel(6, 104, "notice");
    auto lines = printed(monitor);
    std::vector<std::int64_t> codes;
    for (const auto& line : lines) codes.push_back(line.code);
    EXPECT_EQ(codes, (std::vector<std::int64_t>{102, 103, 104}));
    EXPECT_EQ(lines[0].tag, "<ZevUzeviroreda>");

    Clock::setManual(1000);
    auto fresh = makeMonitor();
    fresh->clearMonitoringData();  // the suite still holds the first monitor's sample
    fresh->logWithLevel(0, 1, "not sampled");
    fresh->logWithLevel(2, 2, "sampled", Value(7));
    fresh->logWithLevel(3, 3, "not sampled either");
    fresh->monitorQueue()->sync([] {});
    Clock::advance(601);
    auto due = fresh->monitoringDataForDispatchWithSamplePeriod(600, 0);
    ASSERT_TRUE(due);
    EXPECT_EQ(*due, "1:1E_90000:sampled:7");
}

TEST_F(APMMonitorTest, VerboseLevelNeedsVerboseLogging) {
    auto monitor = makeMonitor();
    monitor->logWithLevel(8, 200, "chatty");
    EXPECT_TRUE(printed(monitor).empty());
    monitor->setVerboseLoggingEnabled(true);  // its own message is gated: verbose was off
    monitor->logWithLevel(8, 201, "chatty");
    auto lines = printed(monitor);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].code, 201);
    // Passes the verbose gate (still on) but the utility logger is back at notice first.
    monitor->setVerboseLoggingEnabled(false);
    EXPECT_EQ(printed(monitor).size(), 1u);
    EXPECT_EQ(VULLoggerLevel(), VULLoggerLevelNotice);
    EXPECT_EQ(monitor->logLevel(), 6);
    monitor->logWithLevel(8, 202, "chatty");
    EXPECT_EQ(printed(monitor).size(), 1u);
}

TEST_F(APMMonitorTest, ConsoleLineShapeThroughTheUtilityLogger) {
    LogCapture capture;
    APMMeasurementMonitor()->logWithLevel(0, 42, "100% sure", Value());
    APMMeasurementMonitor()->logWithLevel(3, 123456, "Two", Value("text"), Value(5));
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "<ZevUzeviroreda>[I-ACS000042] 100% sure: (nil)");
    EXPECT_EQ(lines[1], "<ZevUzeviroreda>[I-ACS123456] Two: text, 5");
    APMMeasurementMonitor()->setLogTag("<Custom>");
    APMMeasurementMonitor()->logWithLevel(0, 1, "");
    EXPECT_EQ(capture.lines().back(), "<Custom>[I-ACS000001] (Message was empty)");
    APMMeasurementMonitor()->setLogTag("<ZevUzeviroreda>");
}

TEST_F(APMMonitorTest, ContextTextsAndEncodings) {
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(42)), "42");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(-99)), "-99");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(100)), "100...999");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(-100)), "-999...-100");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(12345)), "10000...99999");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(-250)), "-999...-100");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(99.9)), "99");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(INT64_MIN)),
              "-9999999999999999999...-1000000000000000000");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value("secret")), "-");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(NSDate{5})), "?");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value()), "");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(apm_errorWithCode(1, "x"))),
              "com.vizudi.vuv.measurement.ErrorDomain");
    const Value::Array contexts{Value(1), Value("s"), Value(1000)};
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, true), "1, -, 1000...9999");
    EXPECT_EQ(APMMonitor::encodedStringWithContextArray(contexts, false), "1,-,1000...9999");
    EXPECT_EQ(APMMonitor::stringWithLogMessage(std::nullopt, 0, {}, false), "(Message was nil)");
    EXPECT_EQ(APMMonitor::stringWithLogMessage("m", 0, contexts, true), "m: 1, -, 1000...9999");
    EXPECT_EQ(APMMonitor::stringWithLogMessage("m", 0, contexts, false), "m: 1, s, 1000");
}

TEST_F(APMMonitorTest, InnermostMeasurementFrameOfAnException) {
    auto exception = APMCaughtException::initWithName(
        "NSInvalidArgumentException", "bad",
        {"0   CoreFoundation  0x1 __exceptionPreprocess + 1", "1   libobjc  0x2 objc_exception_throw + 2",
         "2   App  0x3 -[OEThing run] + 3", "3   App  0x4 -[APMDatabase open:] + 4",
         "4   App  0x5 APMRunOnce + 5"});
    EXPECT_EQ(APMMonitor::lastAPMSymbolFromException(Value(exception)), "-[APMDatabase open:]");
    EXPECT_EQ(APMMonitor::encodedStringWithContextObject(Value(exception)), "-[APMDatabase open:]");
    auto plain = APMCaughtException::initWithName("std::runtime_error", "boom");
    EXPECT_EQ(APMMonitor::lastAPMSymbolFromException(Value(plain)), "std::runtime_error");
    EXPECT_FALSE(APMMonitor::lastAPMSymbolFromException(Value()));
    EXPECT_EQ(APMMonitor::stringWithLogMessage("E", 1, {Value(plain)}, false),
              "E: std::runtime_error: std::runtime_error: boom");
}

TEST_F(APMMonitorTest, MeasurementErrorContextsJoinTheSample) {
    auto other = NSError::errorWithDomain("other", 1, Value::Dictionary{{"APMMonitorContext", "zz"}});
    auto withContext = apm_errorWithCode(3, "", "a,1");
    auto without = apm_errorWithCode(3, "failed");
    const Value::Array contexts{Value(other), Value(withContext), Value(without), Value(7)};
    EXPECT_EQ(APMMonitorContextFromContexts(contexts), "a,1");

    Clock::setManual(5000);
    auto monitor = makeMonitor();
    monitor->logWithLevel(1, 9, "Database failed", contexts);
    monitor->monitorQueue()->sync([] {});
    Clock::advance(100);
    EXPECT_EQ(monitor->monitoringDataForDispatchWithSamplePeriod(10, 0),
              "1:1E_90000:Database failed:other,com.vizudi.vuv.measurement.ErrorDomain,"
              "com.vizudi.vuv.measurement.ErrorDomain,7,a,1");
}

TEST_F(APMMonitorTest, SwitchesFromLaunchArgumentsPersistAcrossLaunches) {
    auto standard = APMUserDefaults::standardUserDefaults();
    NSProcessInfo::setArguments(std::vector<std::string>{"app", "-APMAnalyticsDebugEnabled"});
    auto first = makeMonitor();
    EXPECT_TRUE(first->isDebugModeEnabled());
    EXPECT_EQ(first->logLevel(), 7);
    EXPECT_TRUE(standard->objectForKey("/vizudi/measurement/debug_mode").boolValue());

    // The next launch has no switch: the stored value keeps debug mode on.
    NSProcessInfo::setArguments(std::vector<std::string>{"app"});
    EXPECT_TRUE(makeMonitor()->isDebugModeEnabled());

    // A disabling switch wins over every enabling one and removes the stored value.
    NSProcessInfo::setArguments(
        std::vector<std::string>{"app", "-APMAnalyticsDebugEnabled", "-noDUROrezuriveDebugEnabled"});
    auto off = makeMonitor();
    EXPECT_FALSE(off->isDebugModeEnabled());
    EXPECT_TRUE(standard->objectForKey("/vizudi/measurement/debug_mode").isNull());

    NSProcessInfo::setArguments(std::vector<std::string>{"app", "-DUROrezuriveVerboseLoggingEnabled"});
    auto verbose = makeMonitor();
    EXPECT_TRUE(verbose->isVerboseLoggingEnabled());
    EXPECT_EQ(verbose->logLevel(), 8);
    NSProcessInfo::setArguments(std::vector<std::string>{"app", "-APMAnalyticsVerboseLoggingDisabled"});
    EXPECT_FALSE(makeMonitor()->isVerboseLoggingEnabled());
    EXPECT_TRUE(standard->objectForKey("/vizudi/measurement/verbose_logging").isNull());
}

TEST_F(APMMonitorTest, StoreInstallationIgnoresSwitches) {
    const std::string bundle = Sandbox::tmp() + "/Store.app";
    std::filesystem::create_directories(bundle + "/SC_Info");
    ScopedMainBundle mainBundle(bundle);
    VULAppEnvironmentUtil::setDeviceModel("iPhone14,2");
    NSProcessInfo::setArguments(std::vector<std::string>{"app", "-APMAnalyticsDebugEnabled"});
    auto monitor = makeMonitor();
    EXPECT_FALSE(monitor->isDebugModeEnabled());
    monitor->setDebugModeEnabled(true);
    EXPECT_FALSE(monitor->isDebugModeEnabled());
    EXPECT_EQ(monitor->logLevel(), 6);
    EXPECT_TRUE(APMUserDefaults::standardUserDefaults()->objectForKey("/vizudi/measurement/debug_mode").isNull());
    // The same bundle on a simulator is not a store installation.
    VULAppEnvironmentUtil::setDeviceModel("x86_64");
    EXPECT_TRUE(makeMonitor()->isDebugModeEnabled());
    std::filesystem::remove_all(bundle);
}

TEST_F(APMMonitorTest, SwitchesAreSafeToFlipFromManyThreads) {
    auto monitor = makeMonitor();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([monitor, t] {
            for (int i = 0; i < 50; ++i) {
                if (t % 2) monitor->setEncodeContexts(i % 2);
                else monitor->logWithLevel(0, 1, "line", Value(i));
                (void)monitor->isDebugModeEnabled();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(printed(monitor).size(), 100u);
}

}  // namespace
