// The reading settings over the user defaults, and the process's one instance of them.
#include "config/AppConfig.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/NSUserDefaults.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The settings start unset and are taken out again, so no test sees another's.
class AppConfigTest : public testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        // Defaults of the bundle the process has now, as a restart would read them.
        NSUserDefaults::resetStandardUserDefaults();
        auto defaults = NSUserDefaults::standardUserDefaults();
        for (const char* key : {kFontSizeKey, kFontSizeTextsKey, kTextAlignInfoKey, kTextAlignKey, kFontNameKey}) {
            defaults->removeObjectForKey(key);
        }
        ASSERT_TRUE(defaults->synchronize());
    }
};

using AppConfigDefaults = AppConfigTest;
using AppConfigStorage = AppConfigTest;

}  // namespace

TEST_F(AppConfigDefaults, FromTheTableAndTheTextConfiguration) {
    auto config = OEConfigFactory::initWithAppServerLikesIdentifer("", "", "", "")->makeConfig();
    auto settings = AppConfig::sharedAppConfig();
    settings->setTextsConfig(config->text());
    EXPECT_EQ(settings->intValue("FONT_SIZE_KEY"), 12);
    EXPECT_EQ(settings->intValue("FONT_SIZE_TEXTS_KEY"), 16);
    EXPECT_EQ(settings->intValue("text_align_info"), 1);
    EXPECT_EQ(settings->intValue("text_align"), 1);
    EXPECT_EQ(settings->intValue("unknown"), 0);
    EXPECT_EQ(settings->strValue("fontName"), "Times New Roman");
    EXPECT_EQ(settings->strValue("unknown"), "");
    config->text()->setDefFontSize(14);
    EXPECT_EQ(settings->intValue("FONT_SIZE_KEY"), 14);
    settings->setTextsConfig(nullptr);
    EXPECT_EQ(settings->intValue("FONT_SIZE_KEY"), 0);
}

TEST_F(AppConfigStorage, WrittenAtOnceAndKeptAcrossARestart) {
    auto settings = AppConfig::sharedAppConfig();
    settings->setInt(2, "text_align");
    settings->setStr("Georgia", "fontName");
    settings->setInt(0, "FONT_SIZE_KEY");  // a stored 0 is a value, not "nothing stored"
    NSUserDefaults::resetStandardUserDefaults();
    EXPECT_EQ(settings->intValue("text_align"), 2);
    EXPECT_EQ(settings->strValue("fontName"), "Georgia");
    EXPECT_EQ(settings->intValue("FONT_SIZE_KEY"), 0);
}

TEST_F(AppConfigStorage, ReadsStoredValuesAs32BitIntegers) {
    auto settings = AppConfig::sharedAppConfig();
    settings->setInt(4294967296LL + 18, "FONT_SIZE_TEXTS_KEY");
    EXPECT_EQ(settings->intValue("FONT_SIZE_TEXTS_KEY"), 18);
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value("15pt"), "text_align_info"));
    EXPECT_EQ(settings->intValue("text_align_info"), 15);
}

TEST(AppConfigShared, IsOneInstanceMadeOnceEvenWhenManyThreadsAskAtOnce) {
    AppConfig::resetSharedAppConfig();
    const auto answers = askedAtOnce([] { return AppConfig::sharedAppConfig(); });
    ASSERT_TRUE(answers[0]);
    for (const auto& answer : answers) EXPECT_EQ(answer, answers[0]);
    EXPECT_EQ(AppConfig::sharedAppConfig(), answers[0]);
    EXPECT_EQ(AppConfig::sharedAppConfig(), AppConfig::sharedAppConfig());
}
