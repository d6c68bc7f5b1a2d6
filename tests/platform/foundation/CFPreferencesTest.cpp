// The preferences functions: values, key lists and synchronization over the same stores and
// files as user defaults suites.
#include "platform/foundation/CFPreferences.h"

#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

class CFPreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        NSUserDefaults::resetStandardUserDefaults();
        app_ = std::string("test.cf.") + testing::UnitTest::GetInstance()->current_test_info()->name();
        NSUserDefaults::standardUserDefaults()->removePersistentDomainForName(app_);
    }
    void TearDown() override { NSUserDefaults::resetStandardUserDefaults(); }

    std::string app_;
};

bool contains(const std::vector<std::string>& keys, const std::string& key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

TEST_F(CFPreferencesTest, AppValuesRoundTripAndNullRemoves) {
    EXPECT_TRUE(CFPreferencesCopyAppValue("level", app_).isNull());
    CFPreferencesSetAppValue("level", Value(3), app_);
    EXPECT_EQ(CFPreferencesCopyAppValue("level", app_).integerValue(), 3);
    EXPECT_EQ(CFPreferencesCopyValue("level", app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost).integerValue(),
              3);
    CFPreferencesSetAppValue("level", Value(), app_);
    EXPECT_TRUE(CFPreferencesCopyAppValue("level", app_).isNull());

    CFPreferencesSetAppValue("bad", Value(std::make_shared<NSObject>()), app_);
    EXPECT_TRUE(CFPreferencesCopyAppValue("bad", app_).isNull());
}

TEST_F(CFPreferencesTest, ASuiteOfTheSameNameSeesOneStore) {
    auto suite = NSUserDefaults::initWithSuiteName(app_);
    CFPreferencesSetAppValue("fromCF", Value("cf"), app_);
    EXPECT_EQ(suite->stringForKey("fromCF"), "cf");
    suite->setDouble(1.5, "fromSuite");
    EXPECT_DOUBLE_EQ(CFPreferencesCopyAppValue("fromSuite", app_).doubleValue(), 1.5);

    // The registration domain belongs to user defaults only; the global values are shared.
    suite->registerDefaults({{"registeredOnly", Value(1)}});
    EXPECT_TRUE(CFPreferencesCopyAppValue("registeredOnly", app_).isNull());
    EXPECT_TRUE(CFPreferencesCopyAppValue("AppleLanguages", app_).isArray());
}

TEST_F(CFPreferencesTest, CurrentApplicationIsTheStandardDomain) {
    auto standard = NSUserDefaults::standardUserDefaults();
    standard->setInteger(12, "test.cf.standardKey");
    EXPECT_EQ(CFPreferencesCopyAppValue("test.cf.standardKey", kCFPreferencesCurrentApplication).integerValue(), 12);
    CFPreferencesSetAppValue("test.cf.standardKey", Value(), kCFPreferencesCurrentApplication);
    EXPECT_TRUE(standard->objectForKey("test.cf.standardKey").isNull());
}

TEST_F(CFPreferencesTest, KeyListsAndMultipleChanges) {
    CFPreferencesSetMultiple({{"a", Value(1)}, {"b", Value(2)}, {"c", Value(3)}}, {}, app_, kCFPreferencesCurrentUser,
                             kCFPreferencesAnyHost);
    auto keys = CFPreferencesCopyKeyList(app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_TRUE(contains(keys, "b"));

    // Sets first, then removes: a key in both lists ends up removed.
    CFPreferencesSetMultiple({{"d", Value(4)}, {"a", Value(10)}}, {"a", "b"}, app_, kCFPreferencesCurrentUser,
                             kCFPreferencesAnyHost);
    keys = CFPreferencesCopyKeyList(app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(keys, (std::vector<std::string>{"c", "d"}));

    // Clearing a domain the way the engine does: remove every listed key.
    CFPreferencesSetMultiple({}, keys, app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_TRUE(CFPreferencesCopyKeyList(app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost).empty());
}

TEST_F(CFPreferencesTest, SynchronizeWritesTheSharedFileAndValuesSurviveARestart) {
    CFPreferencesSetAppValue("persisted", Value(Value::Array{Value("x")}), app_);
    ASSERT_TRUE(CFPreferencesAppSynchronize(app_));
    const std::string path = Sandbox::preferences() + "/" + app_ + ".plist";
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(path)["persisted"][0].string(), "x");

    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(CFPreferencesCopyAppValue("persisted", app_)[0].string(), "x");
    EXPECT_EQ(NSUserDefaults::initWithSuiteName(app_)->arrayForKey("persisted").size(), 1u);
}

TEST_F(CFPreferencesTest, HostAndUserDomainsAreKeptApart) {
    CFPreferencesSetValue("host", Value(1), app_, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost);
    EXPECT_EQ(CFPreferencesCopyValue("host", app_, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost).integerValue(),
              1);
    EXPECT_TRUE(CFPreferencesCopyValue("host", app_, kCFPreferencesCurrentUser, kCFPreferencesAnyHost).isNull());
    ASSERT_TRUE(CFPreferencesSynchronize(app_, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost));
    EXPECT_TRUE(std::filesystem::exists(Sandbox::preferences() + "/ByHost/" + app_ + ".plist"));

    // Other users' domains are beyond this process.
    CFPreferencesSetValue("other", Value(1), app_, kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    EXPECT_TRUE(CFPreferencesCopyValue("other", app_, kCFPreferencesAnyUser, kCFPreferencesAnyHost).isNull());
    EXPECT_TRUE(CFPreferencesCopyAppValue("other", app_).isNull());
    EXPECT_TRUE(CFPreferencesCopyKeyList(app_, kCFPreferencesAnyUser, kCFPreferencesAnyHost).empty());
    EXPECT_FALSE(CFPreferencesSynchronize(app_, kCFPreferencesAnyUser, kCFPreferencesAnyHost));

    // Identifiers that would leave the preferences folder are refused.
    CFPreferencesSetAppValue("k", Value(1), "../outside");
    EXPECT_TRUE(CFPreferencesCopyAppValue("k", "../outside").isNull());
    EXPECT_FALSE(std::filesystem::exists(Sandbox::library() + "/outside.plist"));
}

}  // namespace
