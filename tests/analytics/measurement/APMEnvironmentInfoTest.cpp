// The environment fields of bundles, and where the service property list is found.
#include "analytics/measurement/APMEnvironmentInfo.h"
#include "analytics/measurement/APMInfoPlistFileUtil.h"

#include "MeasurementTestSupport.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/services/VULAppEnvironmentUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

namespace {

// Sets $TZ for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (previous_) setenv("TZ", previous_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

TEST(APMEnvironmentInfoTest, DeviceSystemLanguageAndTimeZone) {
    auto info = APMEnvironmentInfo::make();
    // The phone's model, kept once read.
    EXPECT_EQ(info->deviceModel(), "iPhone14,2");
    VULAppEnvironmentUtil::setDeviceModel("iPad13,1");
    EXPECT_EQ(info->deviceModel(), "iPhone14,2");
    EXPECT_EQ(APMEnvironmentInfo::make()->deviceModel(), "iPad13,1");
    VULAppEnvironmentUtil::setDeviceModel("");
    NSProcessInfo::setOperatingSystemVersion({16, 1, 0});
    EXPECT_EQ(info->deviceOSVersion(), "16.1");
    NSProcessInfo::setOperatingSystemVersion({15, 0, 0});

    NSLocale::setPreferredLanguages({"pt-BR", "en"});
    EXPECT_EQ(info->userDefaultLanguage(), "pt-br");
    NSLocale::setPreferredLanguages({});
    EXPECT_FALSE(info->userDefaultLanguage());
    NSLocale::resetPreferredLanguages();

    {
        TimeZone zone("<-0330>3:30");
        EXPECT_EQ(info->timeZoneOffsetMinutes(), -210);
    }
    {
        TimeZone zone("<+0545>-5:45");
        EXPECT_EQ(info->timeZoneOffsetMinutes(), 345);
    }
}

TEST(APMInfoPlistFileUtilTest, TheMainBundleFirstThenTheEnginesOwn) {
    TestBundle bundle;
    const std::string engineBundle = Sandbox::tmp() + "/Engine.bundle";
    EXPECT_FALSE(APMInfoPlistFileUtil::vizudiServiceInfoPlistPath());
    EXPECT_FALSE(APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist());

    bundle.writePlist("VizudiService-Info.plist", Value(Value::Dictionary{{"VIZUDI_APP_ID", Value("1:engine")}}),
                      engineBundle);
    NSBundle::setBundlePathForClass("APMInfoPlistFileUtil", engineBundle);
    ASSERT_TRUE(APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist());
    EXPECT_EQ(APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist()->get("VIZUDI_APP_ID").string(), "1:engine");

    bundle.writePlist("VizudiService-Info.plist", Value(Value::Dictionary{{"VIZUDI_APP_ID", Value("1:main")}}));
    EXPECT_EQ(*APMInfoPlistFileUtil::vizudiServiceInfoPlistPath(), bundle.path() + "/VizudiService-Info.plist");
    EXPECT_EQ(APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist()->get("VIZUDI_APP_ID").string(), "1:main");

    // A file that is no dictionary is no list.
    std::ofstream(bundle.path() + "/VizudiService-Info.plist") << "not a property list";
    EXPECT_FALSE(APMInfoPlistFileUtil::dictionaryFromVizudiServiceInfoPlist());

    NSBundle::setBundlePathForClass("APMInfoPlistFileUtil", "");
    std::filesystem::remove_all(engineBundle);
}

}  // namespace
