// Name tables and the debug display names.
#include "analytics/core/APMNameTables.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/ClassRegistry.h"

#include <gtest/gtest.h>

namespace {

class APMNameTablesTest : public testing::Test {
protected:
    void TearDown() override {
        APMMeasurementMonitor()->setDebugModeEnabled(false);
        ClassRegistry::unregisterClass("DUROrezurive");
    }
    void debugDisplay() {
        APMMeasurementMonitor()->setDebugModeEnabled(true);
        ClassRegistry::registerClass("DUROrezurive", [] { return std::make_shared<NSObject>(); });
    }
};

TEST_F(APMNameTablesTest, TablesHaveTheirEntries) {
    EXPECT_EQ(APMInternalParameterNamesByPublicName().size(), 54u);
    EXPECT_EQ(APMInternalUserPropertyNamesByPublicName().size(), 10u);
    EXPECT_EQ(APMInternalEventNamesByPublicName().size(), 33u);
    EXPECT_EQ(APMFailureCodeNames().size(), 24u);
    EXPECT_EQ(APMInternalEventNamesByPublicName().at("ad_click"), "_ac");
    EXPECT_EQ(APMPublicEventNamesByInternalName().at("_cmp"), "va_campaign");
    EXPECT_EQ(APMPublicEventNamesByInternalName().at("_vs"), "screen_view");
    EXPECT_EQ(APMFailureCodeNames().at(0), "NoError");
    EXPECT_EQ(APMFailureCodeNames().at(23), "CustomParamsInArrayElement");
    EXPECT_EQ(APMAllowedReservedPublicEventNames().size(), 1u);
}

TEST_F(APMNameTablesTest, PlainNamesOutsideDebugMode) {
    EXPECT_EQ(APMDisplayNameForParameter(Value("_et")), "_et");
    EXPECT_EQ(APMDisplayNameForUserProperty(Value("_exp_123")), "experiment_id (_exp_123)");
    const Value parameters(Value::Dictionary{{"_err", Value(2)}});
    EXPECT_EQ(APMDescriptionForParameters(parameters), parameters.description());
    // Debug mode without the public interface class present shows plain names too.
    APMMeasurementMonitor()->setDebugModeEnabled(true);
    EXPECT_EQ(APMDisplayNameForParameter(Value("_et")), "_et");
}

TEST_F(APMNameTablesTest, DebugDisplayNames) {
    debugDisplay();
    EXPECT_EQ(APMDisplayNameForParameter(Value("_et")), "engagement_time_msec (_et)");
    EXPECT_EQ(APMDisplayNameForParameter(Value("_c")), "va_conversion (_c)");
    EXPECT_EQ(APMDisplayNameForParameter(Value("_sn")), "va_screen (_sn)");
    EXPECT_EQ(APMDisplayNameForParameter(Value("_ffr")), "rezavivi_feature_rollouts (_ffr)");
    EXPECT_EQ(APMDisplayNameForParameter(Value("_zz")), "_zz");
    EXPECT_EQ(APMDisplayNameForParameter(Value("value")), "value");
    EXPECT_EQ(APMDisplayNameForParameter(Value(12)), "12");
    EXPECT_EQ(APMDisplayNameForEvent(Value("_vs")), "screen_view (_vs)");
    EXPECT_EQ(APMDisplayNameForUserProperty(Value("_fot")), "first_open_time (_fot)");
    EXPECT_EQ(APMDisplayNameFromTable(Value("_et"), {}), "_et");
}

TEST_F(APMNameTablesTest, DebugParameterDescription) {
    debugDisplay();
    const Value parameters(Value::Dictionary{{"_o", Value("auto")}, {"_err", Value(2)}, {"Zeta", Value(1)}});
    EXPECT_EQ(APMDescriptionForParameters(parameters),
              "{\n"
              "    va_error (_err) = InvalidEventName (2);\n"
              "    va_event_origin (_o) = auto;\n"
              "    Zeta = 1;\n"
              "}");
    EXPECT_EQ(APMDescriptionForParameters(Value(Value::Dictionary{{"_err", Value(99)}})),
              "{\n    va_error (_err) = 99;\n}");
    // As an event carries it.
    EXPECT_EQ(APMDescriptionForParameters(Value(Value::Dictionary{{"_err", Value(APMValue::initWithInt64(19))}})),
              "{\n    va_error (_err) = CurrencyCodeIsMissingOrInvalid (19);\n}");
    EXPECT_EQ(APMDescriptionForParameters(Value("x")), "x");
}

TEST_F(APMNameTablesTest, PublicNamesAndReservedPrefixes) {
    EXPECT_TRUE(APMIsPublicName(Value("screen_view")));
    EXPECT_FALSE(APMIsPublicName(Value("_vs")));
    EXPECT_FALSE(APMIsPublicName(Value("")));
    EXPECT_FALSE(APMIsPublicName(Value(3)));
    EXPECT_TRUE(APMDataTypeValidator::hasReservedPrefixes("rezavivi_x"));
    EXPECT_TRUE(APMDataTypeValidator::hasReservedPrefixes("vizudi_x"));
    EXPECT_TRUE(APMDataTypeValidator::hasReservedPrefixes("va_x"));
    EXPECT_FALSE(APMDataTypeValidator::hasReservedPrefixes("vax"));
}

}  // namespace
