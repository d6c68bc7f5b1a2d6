// Typed values, user attributes and their upload message, and the event record's message form.
#include "analytics/core/APMValue.h"

#include "LogCapture.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBUserAttribute.h"

#include <gtest/gtest.h>

namespace {

class DerivedValue : public APMValue {
public:
    DerivedValue() : APMValue(kInt64, Value(3)) {}
};

TEST(APMValueTest, ConversionKeepsTheNumberKind) {
    EXPECT_EQ(APMValue::valueFromObject(Value(3))->valueType(), APMValue::kInt64);
    EXPECT_EQ(APMValue::valueFromObject(Value(3.0))->valueType(), APMValue::kDouble);
    EXPECT_EQ(APMValue::valueFromObject(Value(true))->int64Value(), 1);
    EXPECT_TRUE(APMValue::valueFromObject(Value("s"))->isString());
    auto same = APMValue::initWithDouble(1.5);
    EXPECT_EQ(APMValue::valueFromObject(Value(same)), same);
    LogCapture capture(VULLoggerLevelDebug);
    EXPECT_EQ(APMValue::valueFromObject(Value(Value::Array{Value(1)})), nullptr);
    EXPECT_NE(APMValue::valueFromObject(Value(Value::Array{Value(1)}), true), nullptr);
    EXPECT_EQ(APMValue::valueFromObject(Value()), nullptr);
    EXPECT_EQ(APMValue::initWithString(Value(4)), nullptr);
    EXPECT_EQ(APMValue::initWithArray(Value("x")), nullptr);
}

TEST(APMValueTest, NoCrossKindAccessOrEquality) {
    auto integer = APMValue::initWithInt64(2);
    auto real = APMValue::initWithDouble(2.0);
    EXPECT_FALSE(integer->isEqual(real.get()));
    EXPECT_TRUE(integer->isEqual(APMValue::initWithInt64(2).get()));
    DerivedValue derived;
    EXPECT_FALSE(APMValue::initWithInt64(3)->isEqual(&derived));
    EXPECT_EQ(integer->doubleValue(), 0.0);
    EXPECT_EQ(APMValue::initWithString(Value("7"))->int64Value(), 0);
    EXPECT_EQ(real->stringValue(), nullptr);
    EXPECT_EQ(integer->copy()->int64Value(), 2);
    EXPECT_EQ(integer->hash(), APMValue::initWithInt64(2)->hash());
}

TEST(APMValueTest, UserAttributesValidateAndBuildTheirMessage) {
    auto attribute = APMUserAttribute::initWithOrigin("app", "score", APMValue::initWithDouble(0.5), 1.9999);
    ASSERT_NE(attribute, nullptr);
    EXPECT_TRUE(attribute->isPublic());
    auto message = attribute->protoUserAttribute();
    EXPECT_EQ(APMPBMessageGetInt64(message, APMPBUserAttribute::kSetTimestampMillis), 1999);
    EXPECT_EQ(APMPBMessageGetDouble(message, APMPBUserAttribute::kDoubleValue), 0.5);
    EXPECT_FALSE(APMPBMessageHasField(message, APMPBUserAttribute::kFloatValue));
    EXPECT_FALSE(APMUserAttribute::initWithOrigin("auto", "_fot", APMValue::initWithInt64(1), 0)->isPublic());
    EXPECT_EQ(APMUserAttribute::initWithOrigin("app", "", APMValue::initWithInt64(1), 0), nullptr);
    EXPECT_EQ(APMUserAttribute::initWithOrigin("app", "bad name", APMValue::initWithInt64(1), 0), nullptr);
    EXPECT_EQ(APMUserAttribute::initWithOrigin("app", "x", APMValue::initWithString(Value(std::string(37, 'a'))), 0),
              nullptr);
    EXPECT_NE(APMUserAttribute::initWithOrigin("app", "_id", APMValue::initWithString(Value(std::string(200, 'a'))), 0),
              nullptr);
    auto array = APMUserAttribute::initWithOrigin("app", "list", APMValue::initWithArray(Value(Value::Array{})), 0);
    ASSERT_NE(array, nullptr);
    EXPECT_FALSE(APMPBMessageHasField(array->protoUserAttribute(), APMPBUserAttribute::kIntValue));
}

TEST(APMValueTest, EventMessageCarriesOriginAndTruncatedTimes) {
    auto event = APMEvent::initWithOrigin("app", false, "_e", 1.9999, 0, {{"n", Value(APMValue::initWithInt64(1))}});
    ASSERT_NE(event, nullptr);
    auto proto = event->protoEvent();
    EXPECT_EQ(APMPBMessageGetInt64(proto, APMPBEvent::kTimestampMillis), 1999);
    EXPECT_FALSE(APMPBMessageHasField(proto, APMPBEvent::kPreviousTimestampMillis));
    auto back = APMEvent::initWithEventProto(proto);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->origin(), "app");
    EXPECT_EQ(back->parameters().get("n").objectAs<APMValue>()->int64Value(), 1);
    EXPECT_EQ(APMEvent::initWithOrigin("no spaces allowed", false, "_e", 1, 0, {}), nullptr);
    EXPECT_NE(APMEvent::initWithOrigin("app+gtm", false, "_e", 1, 0, {}), nullptr);
    EXPECT_EQ(APMEvent::initWithOrigin("app", true, "error", 1, 0, {}), nullptr);
}

}  // namespace
