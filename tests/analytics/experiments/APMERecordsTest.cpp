// Experiment, snapshot and flag records and the experiments request: what goes into the
// messages and what comes back out of them.
#include "ExperimentsTestSupport.h"

#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBExperiment.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLocale.h"
#include "tests/analytics/measurement/MeasurementTestSupport.h"

namespace {

using APMERecordsTest = ExperimentsTest;

TEST_F(APMERecordsTest, FlagsCarryTheirValueInTheFieldOfItsKindAndReadBackInOrder) {
    const auto text = flag("a", Value("on"));
    const auto real = flag("b", Value(1.5));
    const auto whole = flag("c", Value(3));
    const auto boolean = flag("d", Value(true));
    EXPECT_EQ(APMPBMessageGetString(text, APMPBFlag::kStringValue), "on");
    EXPECT_EQ(APMPBMessageGetDouble(real, APMPBFlag::kDoubleValue), 1.5);
    EXPECT_EQ(APMPBMessageGetInt64(whole, APMPBFlag::kIntValue), 3);
    // Booleans are numbers here: they travel as integers.
    EXPECT_EQ(APMPBMessageGetInt64(boolean, APMPBFlag::kIntValue), 1);
    EXPECT_FALSE(APMPBMessageHasField(boolean, APMPBFlag::kBoolValue));
    EXPECT_EQ(flag("date", Value(NSDate{5})), nullptr);
    EXPECT_EQ(flag("list", Value(Value::Array{})), nullptr);

    EXPECT_EQ(APMEFlagValue(text), Value("on"));
    EXPECT_TRUE(APMEFlagValue(real).isFloatType());
    EXPECT_EQ(APMEFlagValue(whole).longLongValue(), 3);
    // Integer before double before text before boolean; nothing without a value.
    auto both = APMPBFlag::make();
    APMPBMessageSetString(both, APMPBFlag::kName, "e");
    EXPECT_TRUE(APMEFlagValue(both).isNull());
    APMPBMessageSetBool(both, APMPBFlag::kBoolValue, true);
    EXPECT_TRUE(APMEFlagValue(both).isBool());
    APMPBMessageSetString(both, APMPBFlag::kStringValue, "x");
    EXPECT_EQ(APMEFlagValue(both), Value("x"));
    APMPBMessageSetDouble(both, APMPBFlag::kDoubleValue, 2.5);
    EXPECT_EQ(APMEFlagValue(both).doubleValue(), 2.5);
    APMPBMessageSetInt64(both, APMPBFlag::kIntValue, 7);
    EXPECT_EQ(APMEFlagValue(both).longLongValue(), 7);
    EXPECT_FALSE(APMEFlagValue(both).isFloatType());
}

TEST_F(APMERecordsTest, ExperimentsKeepOneFlagPerNameAndSnapshotsOneExperimentPerID) {
    auto experiment = APMEExperiment::initWithExperimentID(7, {flag("a", Value(1)), flag("a", Value(2))});
    ASSERT_NE(experiment, nullptr);
    ASSERT_EQ(experiment->flags().size(), 1u);
    EXPECT_EQ(APMEFlagValue(experiment->flagWithName("a")).longLongValue(), 2);
    EXPECT_EQ(experiment->flagWithName(""), nullptr);
    EXPECT_EQ(APMEExperiment::initWithExperimentID(7, {nullptr}), nullptr);
    // A flag without a name has nowhere to go.
    experiment->addFlag(APMPBFlag::make());
    EXPECT_EQ(experiment->flags().size(), 1u);

    auto message = APMPBSnapshot::make();
    APMPBMessageSetString(message, APMPBSnapshot::kSdkName, kTestSDK);
    auto first = APMEExperiment::initWithExperimentID(4, {flag("x", Value(1))})->proto();
    auto second = APMEExperiment::initWithExperimentID(4, {flag("x", Value(2))})->proto();
    // No id: the launched experiment, 0.
    auto launched = APMEExperiment::initWithExperimentID(0, {flag("y", Value("z"))})->proto();
    APMPBMessageClearField(launched, APMPBExperiment::kExperimentId);
    APMPBMessageSetArray(message, APMPBSnapshot::kExperiments, Value::Array{Value(first), Value(second), Value(launched)});
    auto decoded = APMESnapshot::initWithProtobuf(APMPBSnapshot::initWithBuffer(*message->protoBuffer()));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->SDKName(), kTestSDK);
    ASSERT_EQ(decoded->experiments().size(), 2u);
    EXPECT_EQ(APMEFlagValue(decoded->experimentWithID(4)->flagWithName("x")).longLongValue(), 2);
    EXPECT_EQ(APMEFlagValue(decoded->experimentWithID(0)->flagWithName("y")), Value("z"));
    EXPECT_EQ(APMEFlagValue(decoded->flagByName("y")), Value("z"));
    EXPECT_EQ(decoded->flagByName("none"), nullptr);

    // Without an SDK name there is no snapshot.
    APMPBMessageClearField(message, APMPBSnapshot::kSdkName);
    EXPECT_EQ(APMESnapshot::initWithProtobuf(message), nullptr);
    EXPECT_EQ(APMESnapshot::initWithSDKName("", {}), nullptr);
}

TEST_F(APMERecordsTest, ACopyKeepsTheExperimentsButNotTheTimeOrTheManualMark) {
    auto original = snapshot(kTestSDK, {{3, {flag("a", Value(1))}}});
    original->setTimestamp(kNow - 500);
    original->setManuallyActivated(true);
    Clock::advance(20);
    auto copy = original->copy();
    EXPECT_EQ(copy->timestamp(), kNow + 20);
    EXPECT_FALSE(copy->manuallyActivated());
    EXPECT_EQ(APMEFlagValue(copy->flagByName("a")).longLongValue(), 1);
    // The copy's experiments are its own.
    copy->addFlag(flag("b", Value(2)), 3);
    EXPECT_EQ(original->flagByName("b"), nullptr);
    copy->addFlags({flag("c", Value(3))}, 9);
    EXPECT_NE(copy->experimentWithID(9), nullptr);
}

TEST_F(APMERecordsTest, TheRequestCarriesTheAppAndEverySDKThatHasADiversionKey) {
    TestBundle bundle;
    bundle.writePlist("Info.plist", Value(Value::Dictionary{{"CFBundleIdentifier", Value("com.example.gallery")}}));
    NSLocale::setPreferredLanguages({"de-AT", "en"});
    struct LanguagesReset {
        ~LanguagesReset() { NSLocale::resetPreferredLanguages(); }
    } languagesReset;
    context->fromAppStore = true;
    auto builder = APMEExperimentRequestBuilder::make();
    auto measurement = APMESDKProperty::initWithName(kTestSDK);
    measurement->setVersion(90000);
    builder->addSDKProperty(measurement);
    auto other = APMESDKProperty::initWithName("other_sdk");
    other->setDiversionKey("own");
    other->setAppID("1:2:ios:3");
    other->setCustomProperties({{"tier", "gold"}, {"region", "eu"}});
    struct Provider : APMESDKPropertyProviderDelegate {
        std::optional<std::map<std::string, std::string>> dynamicCustomPropertiesForSDKProperty(
            const APMESDKProperty&) override {
            return std::map<std::string, std::string>{{"tier", "platinum"}};
        }
    };
    auto provider = std::make_shared<Provider>();
    other->setDelegate(provider);
    builder->addSDKProperty(other);
    builder->addSDKProperty(nullptr);

    const auto sent = MeasurementService::decodeExperimentRequest(
        [&] {
            const NSData bytes = *builder->request(*context)->protoBuffer();
            return std::string(bytes.begin(), bytes.end());
        }());
    ASSERT_TRUE(sent.decoded);
    EXPECT_EQ(sent.platform, "ios");
    EXPECT_EQ(sent.language, "de-at");
    EXPECT_EQ(sent.bundleID, "com.example.gallery");
    EXPECT_TRUE(sent.fromAppStore);
    EXPECT_EQ(sent.sdkVersion, 10000);
    EXPECT_EQ(APMEManager::version(), 10000);
    ASSERT_EQ(sent.clients.size(), 2u);
    const auto& second = sent.clients[0].sdkName == "other_sdk" ? sent.clients[0] : sent.clients[1];
    const auto& first = sent.clients[0].sdkName == "other_sdk" ? sent.clients[1] : sent.clients[0];
    // The identity's key for an SDK without one of its own: the key, a hyphen, the SDK.
    EXPECT_EQ(first.diversionID, std::string("abcde-") + kTestSDK);
    EXPECT_EQ(first.version, 90000);
    EXPECT_TRUE(first.appID.empty());
    EXPECT_TRUE(first.customProperties.empty());
    EXPECT_EQ(second.diversionID, "own-other_sdk");
    EXPECT_EQ(second.appID, "1:2:ios:3");
    EXPECT_EQ(second.customProperties, (std::map<std::string, std::string>{{"region", "eu"}, {"tier", "platinum"}}));

    // No key anywhere: the SDK stays out, the request still goes with the app's properties.
    context->setDiversionKey("");
    NSLocale::setPreferredLanguages({});
    auto request = builder->request(*context);
    const auto clients = APMPBMessageGetArray<APMPBClientProperty>(request, APMPBExperimentRequest::kClientProperties)
                             .value_or(Value::Array{});
    ASSERT_EQ(clients.size(), 1u);
    auto app = APMPBMessageGetMessage<APMPBAppProperty>(request, APMPBExperimentRequest::kAppProperty);
    EXPECT_FALSE(APMPBMessageHasField(app, APMPBAppProperty::kLanguage));
    EXPECT_EQ(APMPBMessageGetString(app, APMPBAppProperty::kPlatform), "ios");
}

}  // namespace
