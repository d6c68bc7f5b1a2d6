// Measurement utilities: decimal text, random identifiers, digests, query strings, UTF-32,
// environment checks, and the error objects with their monitor contexts.
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMEnvironment.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMLibraryVersion.h"
#include "analytics/core/APMNumericUtil.h"

#include "LogCapture.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/SecureRandom.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

namespace {

std::string sampled() {
    auto due = APMMeasurementMonitor()->monitoringDataForDispatchWithSamplePeriod(-1, 0);
    return due.value_or("");
}

TEST(APMUtilitiesTest, DecimalNumberStrings) {
    for (const char* good : {"12", "-3.", ".5", "+0.25"}) EXPECT_TRUE(APMIsDecimalNumberString(good)) << good;
    for (const char* bad : {"", "1e5", "1.2.3", " 1", "--1"}) EXPECT_FALSE(APMIsDecimalNumberString(bad)) << bad;
    EXPECT_EQ(APMDecimalNumberFromString("-.5")->stringValue(), "-0.5");
    EXPECT_EQ(APMDecimalNumberFromString("1.50")->stringValue(), "1.5");
    EXPECT_EQ(APMDecimalNumberFromString("+7")->stringValue(), "7");
    EXPECT_EQ(APMDecimalNumberFromString("007")->stringValue(), "7");
    EXPECT_EQ(APMDecimalNumberFromString("-0.000")->stringValue(), "0");
    EXPECT_EQ(APMDecimalNumberFromString("12345678901234567890123456789012345678")->stringValue(),
              "12345678901234567890123456789012345678");

    APMMeasurementMonitor()->clearMonitoringData();
    EXPECT_EQ(APMDecimalNumberFromString("abc"), nullptr);
    EXPECT_NE(sampled().find("1E_90000:String value does not represent a numeric value. Value:-"), std::string::npos);
    // More digits than the type keeps: rounded to "1", which the old substring test let through.
    APMMeasurementMonitor()->clearMonitoringData();
    EXPECT_EQ(APMDecimalNumberFromString("1." + std::string(40, '0') + "1"), nullptr);
    EXPECT_NE(sampled().find("loss of precision"), std::string::npos);
    EXPECT_EQ(APMDecimalNumberFromString("123456789012345678901234567890123456789"), nullptr);
}

TEST(APMUtilitiesTest, RandomIdentifiersReportFailure) {
    std::set<std::int64_t> seen;
    for (int i = 0; i < 20; ++i) {
        auto value = APMNumericUtil::randomInt64();
        ASSERT_TRUE(value);
        seen.insert(*value);
    }
    EXPECT_EQ(seen.size(), 20u);
    APMMeasurementMonitor()->clearMonitoringData();
    SecureRandom::setFailureForTesting(ENOSYS);
    EXPECT_FALSE(APMNumericUtil::randomInt64());
    SecureRandom::setFailureForTesting(0);
    EXPECT_NE(sampled().find("1W_90000:Unable to generate random integer:-"), std::string::npos);
}

TEST(APMUtilitiesTest, DigestsAndTheirFold) {
    EXPECT_EQ(apm_MD5String(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(apm_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_FALSE(apm_MD5String(std::string("\xff\xfe", 2)));
    const NSData nine = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(apm_64LeastSignificantBits(nine), 0x0102030405060708LL);
    EXPECT_EQ(apm_64LeastSignificantBits(NSData{1, 2}), 258);
    EXPECT_EQ(apm_64LeastSignificantBits(NSData{}), 0);
    // MD5("abc") bytes 8..15 are d6 96 3f 7d 28 e1 7f 72.
    EXPECT_EQ(static_cast<std::uint64_t>(apm_64LSBMD5(NSData{'a', 'b', 'c'})), 0xd6963f7d28e17f72ULL);
}

TEST(APMUtilitiesTest, QueryStringsBothWays) {
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("a+b%20c"), "a b c");
    EXPECT_FALSE(apm_stringByUnescapingFromURLArgument("%zz"));
    const auto parsed = apm_dictionaryWithHttpArgumentsString("a=1&b&a=2&&c=x%3Dy&bad=%zz");
    EXPECT_EQ(parsed.get("a").string(), "1");
    EXPECT_EQ(parsed.get("b").string(), "");
    EXPECT_EQ(parsed.get("c").string(), "x=y");
    EXPECT_EQ(parsed.get("bad").string(), "");
    Value::Dictionary dictionary;
    dictionary.set("k y", "v&w=x+é");
    dictionary.set("n", 5);
    EXPECT_EQ(apm_queryString(dictionary), "k%20y=v&w=x+%C3%A9&n=5");
}

TEST(APMUtilitiesTest, UTF32LengthAndBytes) {
    EXPECT_EQ(apm_UTF32Length("😀"), 1u);
    EXPECT_EQ(apm_UTF32Length("aé😀"), 3u);
    unsigned char buffer[12];
    std::memset(buffer, 0xAA, sizeof buffer);
    apm_getUTF32Bytes("a😀b", buffer, 10);  // room for two whole characters only
    const unsigned char expected[] = {'a', 0, 0, 0, 0x00, 0xF6, 0x01, 0x00, 0xAA, 0xAA};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
}

TEST(APMUtilitiesTest, EnvironmentChecks) {
    unsetenv("ActivePrewarm");
    EXPECT_FALSE(APMIsActivePrewarm());
    setenv("ActivePrewarm", "1", 1);
    EXPECT_TRUE(APMIsActivePrewarm());
    setenv("ActivePrewarm", "NO", 1);
    EXPECT_FALSE(APMIsActivePrewarm());
    unsetenv("ActivePrewarm");

    const std::string bundle = Sandbox::tmp() + "/Scene.app";
    std::filesystem::create_directories(bundle);
    Value::Dictionary info;
    info.set("CFBundleIdentifier", "com.test.scene");
    info.set("UIApplicationSceneManifest", Value::Dictionary{});
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(info), bundle + "/Info.plist",
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    ScopedMainBundle mainBundle(bundle);
    EXPECT_TRUE(APMHasSceneManifest());
    EXPECT_EQ(APMUIApplicationDidBecomeActiveNotification(), "UIApplicationDidBecomeActiveNotification");
    EXPECT_EQ(APMUIWindowDidResignKeyNotification(), "UIWindowDidResignKeyNotification");
}

TEST(APMUtilitiesTest, ErrorObjectsAndFillers) {
    auto error = apm_errorWithCode(12, "", "ctx");
    EXPECT_EQ(error->domain(), "com.vizudi.vuv.measurement.ErrorDomain");
    EXPECT_EQ(error->code(), 12);
    EXPECT_EQ(error->userInfo().size(), 1u);
    EXPECT_EQ(error->userInfo().get("APMMonitorContext").string(), "ctx");
    EXPECT_TRUE(apm_errorWithCode(1, "")->userInfo().empty());
    EXPECT_EQ(apm_errorWithCode(1, "described")->userInfo().get(NSLocalizedDescriptionKey).string(), "described");

    EXPECT_FALSE(APMCheckNonZero(0, nullptr, 1, "zero"));
    NSErrorPtr out;
    EXPECT_TRUE(APMCheckNonZero(3, &out, 1, "zero"));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(APMCheckNotNil(Value(), &out, 2, "nil"));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->code(), 2);
    EXPECT_TRUE(out->userInfo().get("APMMonitorContext").isNull());
    int handle = 0;
    EXPECT_TRUE(APMCheckNotNull(&handle, &out, 3, "null"));
    EXPECT_FALSE(APMCheckNotNull(nullptr, &out, 3, "null"));
    EXPECT_FALSE(APMCheckSuccess(false, &out, 4, "failed"));
    EXPECT_EQ(out->localizedDescription(), "failed");
    APMSetErrorWithContext(&out, 5, "d", "op,1,A,3");
    EXPECT_EQ(APMMonitorContextFromContexts({Value(out), Value(out)}), "op,1,A,3,op,1,A,3");
    EXPECT_EQ(APMMonitorContextFromContexts({}), "");
    APMSetError(nullptr, 1, "nothing stored");

    EXPECT_EQ(APMLibraryVersionNumber("90000000"), 90000);
    EXPECT_EQ(APMLibraryVersionNumber("123"), 0);
    EXPECT_EQ(APMZevUzeviroredaLibraryVersion(), 90000);
}

}  // namespace
