// File locations and the moves of the settings file between Preferences and Application Support.
#include "analytics/core/APMFileLocations.h"

#include "LogCapture.h"
#include "analytics/core/APMError.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSSearchPath.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

namespace {

std::string readText(const std::string& path) {
    auto data = NSFileManager::defaultManager()->contentsAtPath(path);
    return data ? std::string(data->begin(), data->end()) : std::string();
}

void writeText(const std::string& path, const std::string& text) {
    ASSERT_TRUE(NSFileManager::defaultManager()->createFileAtPath(path, NSData(text.begin(), text.end())));
}

TEST(APMFileLocationsTest, PathsUnderLibraryAndApplicationSupport) {
    EXPECT_EQ(APMPreferencesPlistPath("suite"), Sandbox::preferences() + "/suite.plist");
    EXPECT_EQ(APMApplicationSupportPath("db.sql"), Sandbox::applicationSupport() + "/Vizudi/Measurement/db.sql");
    EXPECT_EQ(APMApplicationSupportPlistPath("a.plist"), Sandbox::applicationSupport() + "/Vizudi/Measurement/a.plist");
    EXPECT_EQ(APMApplicationSupportPlistPath("a"), Sandbox::applicationSupport() + "/Vizudi/Measurement/a.plist");
    EXPECT_EQ(APMApplicationSupportPlistPath(""), "");
    EXPECT_EQ(APMPreferencesPlistPath(""), "");
}

TEST(APMFileLocationsTest, MissingSearchPathsAreLogged) {
    LogCapture capture;
    APMMeasurementMonitor()->clearMonitoringData();
    NSSearchPathSetUnavailable(true);
    EXPECT_EQ(APMPreferencesPlistPath("x"), "");
    EXPECT_EQ(APMApplicationSupportPath("x"), "");
    NSSearchPathSetUnavailable(false);
    // Level 2 is silent: sampled, not printed.
    EXPECT_FALSE(capture.contains("I-ACS019000"));
    auto due = APMMeasurementMonitor()->monitoringDataForDispatchWithSamplePeriod(-1, 0);
    ASSERT_TRUE(due);
    EXPECT_NE(due->find("NSSearchPath for"), std::string::npos);
}

TEST(APMFileLocationsTest, DeleteAndBackupExclusion) {
    const std::string path = Sandbox::tmp() + "/file";
    writeText(path, "x");
    EXPECT_TRUE(APMExcludePathFromBackup(path, nullptr));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(path));
    EXPECT_TRUE(APMDeleteFileAtPath(path, nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(APMDeleteFileAtPath("", &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorInvalidArgument);
    EXPECT_EQ(error->localizedDescription(), "Received empty path for deleting file");
    EXPECT_FALSE(APMDeleteFileAtPath(path, &error));  // already gone
}

TEST(APMFileLocationsTest, MoveFileRules) {
    const std::string dir = Sandbox::tmp();
    EXPECT_TRUE(APMMoveFile(dir + "/missing", dir + "/anywhere", false));
    EXPECT_FALSE(APMMoveFile("", dir + "/x", false));
    EXPECT_FALSE(APMMoveFile(dir, dir + "/x", false));  // a folder source

    writeText(dir + "/src", "new");
    writeText(dir + "/dst", "old");
    EXPECT_TRUE(APMMoveFile(dir + "/src", dir + "/dst", false));
    EXPECT_EQ(readText(dir + "/dst"), "old");
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(dir + "/src"));

    writeText(dir + "/src", "new");
    EXPECT_TRUE(APMMoveFile(dir + "/src", dir + "/dst", true));
    EXPECT_EQ(readText(dir + "/dst"), "new");

    writeText(dir + "/src", "deep");
    EXPECT_TRUE(APMMoveFile(dir + "/src", dir + "/a/b/c/file", false));
    EXPECT_EQ(readText(dir + "/a/b/c/file"), "deep");
    writeText(dir + "/src", "x");
    EXPECT_FALSE(APMMoveFile(dir + "/src", dir + "/a", true));  // a folder destination
}

TEST(APMFileLocationsTest, SuitePlistMovesBothWays) {
    const std::string suite = "com.test.moves";
    auto defaults = NSUserDefaults::initWithSuiteName(suite);
    ASSERT_TRUE(defaults->setObject(Value("value"), "key"));
    ASSERT_TRUE(defaults->synchronize());
    ASSERT_TRUE(NSFileManager::defaultManager()->fileExistsAtPath(APMPreferencesPlistPath(suite)));

    EXPECT_TRUE(APMMoveSuitePlistToApplicationSupport(suite));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(APMPreferencesPlistPath(suite)));
    const Value moved = NSPropertyListSerialization::propertyListWithContentsOfFile(APMApplicationSupportPlistPath(suite));
    EXPECT_EQ(moved["key"].string(), "value");
    // The defaults no longer serve a stale copy.
    EXPECT_TRUE(NSUserDefaults::initWithSuiteName(suite)->objectForKey("key").isNull());

    EXPECT_TRUE(APMMoveSuitePlistToPreferences(suite));
    EXPECT_FALSE(NSFileManager::defaultManager()->fileExistsAtPath(APMApplicationSupportPlistPath(suite)));
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(suite)->objectForKey("key").string(), "value");
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(suite)->objectForKey("key").string(), "value");

    // Nothing in Application Support: nothing moves, the defaults stay as they are.
    EXPECT_TRUE(APMMoveSuitePlistToPreferences(suite));
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(suite)->objectForKey("key").string(), "value");
    EXPECT_FALSE(APMMoveSuitePlistToApplicationSupport(""));
    EXPECT_FALSE(APMMoveSuitePlistToPreferences(""));
}

}  // namespace
