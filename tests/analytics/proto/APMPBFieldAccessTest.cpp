// Field access by index: presence, typed reads and writes, misuse texts, arrays and copies.
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBResultData.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using T = APMPBTestAllTypes;

namespace {

// A message object without a record, as the platform's plain init would make.
class RecordlessMessage final : public NANOMessageBase {
public:
    const APMPBMessageSchema& messageSchema() const override { return APMPBEvent::schema(); }
    InitMessageInfoFn initMessageInfoFn() const override { return nullptr; }
};

}  // namespace

TEST(APMPBFieldAccess, EmptyMessageAnswersNeutralValuesAndRepeatedFieldsArePresent) {
    auto m = T::make();
    CaptureStderr();
    EXPECT_FALSE(APMPBMessageGetBool(m, T::kBool));
    EXPECT_EQ(APMPBMessageGetInt32(m, T::kInt32), 0);
    EXPECT_EQ(APMPBMessageGetInt64(m, T::kInt64), 0);
    EXPECT_EQ(APMPBMessageGetDouble(m, T::kDouble), 0.0);
    EXPECT_EQ(APMPBMessageGetString(m, T::kString), std::nullopt);
    EXPECT_EQ(APMPBMessageGetMessage<T>(m, T::kMessage), nullptr);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(T::schema().fieldCount()); ++i) {
        const bool repeated = APMPBFieldTypeIsRepeated(T::schema().field(i).type);
        EXPECT_EQ(APMPBMessageHasField(m, i), repeated) << "field " << i;
    }
    auto empty = APMPBMessageGetArray(m, T::kRepeatedInt64);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(APMPBFieldAccess, ScalarsRoundTripAndReuseTheirCell) {
    auto m = T::make();
    APMPBMessageSetBool(m, T::kBool, true);
    APMPBMessageSetInt32(m, T::kInt32, -7);
    APMPBMessageSetInt32(m, T::kEnum, 5);
    APMPBMessageSetInt64(m, T::kInt64, INT64_MIN);
    APMPBMessageSetDouble(m, T::kDouble, 2.5);
    APMPBMessageSetDouble(m, T::kDouble, -0.25);
    EXPECT_TRUE(APMPBMessageGetBool(m, T::kBool));
    EXPECT_EQ(APMPBMessageGetInt32(m, T::kInt32), -7);
    EXPECT_EQ(APMPBMessageGetInt32(m, T::kEnum), 5);
    EXPECT_EQ(APMPBMessageGetInt64(m, T::kInt64), INT64_MIN);
    EXPECT_EQ(APMPBMessageGetDouble(m, T::kDouble), -0.25);
    APMPBMessageSetBool(m, T::kBool, false);
    EXPECT_TRUE(APMPBMessageHasField(m, T::kBool)) << "false is a value, not absence";
    APMPBMessageClearField(m, T::kBool);
    EXPECT_FALSE(APMPBMessageHasField(m, T::kBool));
}

TEST(APMPBFieldAccess, UnsignedFieldsReadBitForBitThroughSignedAccessors) {
    auto m = T::make();
    APMPBMessageSetInt32(m, T::kUInt32, static_cast<std::int32_t>(3000000000u));
    APMPBMessageSetInt64(m, T::kUInt64, -1);
    EXPECT_EQ(APMPBMessageGetInt32(m, T::kUInt32), static_cast<std::int32_t>(3000000000u));
    EXPECT_LT(APMPBMessageGetInt32(m, T::kUInt32), 0);
    EXPECT_EQ(APMPBMessageGetInt64(m, T::kUInt64), -1);
    auto decoded = T::initWithBuffer(*m->protoBuffer());
    EXPECT_EQ(APMPBMessageGetInt32(decoded, T::kUInt32), static_cast<std::int32_t>(3000000000u));
}

TEST(APMPBFieldAccess, StringsAreCopiesNilClearsAndEmptyIsPresent) {
    auto m = T::make();
    std::string source = "caf\xC3\xA9";
    APMPBMessageSetString(m, T::kString, source);
    source[0] = 'X';
    EXPECT_EQ(APMPBMessageGetString(m, T::kString), "caf\xC3\xA9");
    APMPBMessageSetString(m, T::kString, "");
    EXPECT_TRUE(APMPBMessageHasField(m, T::kString));
    EXPECT_EQ(APMPBMessageGetString(m, T::kString), std::string());
    APMPBMessageSetString(m, T::kString, std::nullopt);
    EXPECT_FALSE(APMPBMessageHasField(m, T::kString));
    EXPECT_EQ(APMPBMessageGetString(m, T::kString), std::nullopt);
}

TEST(APMPBFieldAccess, InvalidUTF8ReadsAsNilAndIsLeftOutOfArrays) {
    // Field 9 holds the bytes FF FE; the repeated string holds "ok", C0 80 (overlong) and "fine".
    NSData wire = prototest::bytes({0x4A, 0x02, 0xFF, 0xFE, 0x9A, 0x01, 0x02, 'o', 'k', 0x9A, 0x01, 0x02, 0xC0, 0x80,
                                    0x9A, 0x01, 0x04, 'f', 'i', 'n', 'e'});
    auto m = T::initWithBuffer(wire);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(APMPBMessageHasField(m, T::kString));
    EXPECT_EQ(APMPBMessageGetString(m, T::kString), std::nullopt);
    auto items = APMPBMessageGetArray(m, T::kRepeatedString);
    ASSERT_TRUE(items.has_value());
    EXPECT_EQ(*items, (Value::Array{"ok", "fine"}));
}

TEST(APMPBFieldAccess, WrongTypeOrIndexLogsItsTextAndChangesNothing) {
    auto event = APMPBEvent::make();
    APMPBMessageSetInt64(event, APMPBEvent::kTimestampMillis, 42);
    CaptureStderr();
    EXPECT_EQ(APMPBMessageGetInt32(event, APMPBEvent::kTimestampMillis), 0);
    APMPBMessageSetBool(event, APMPBEvent::kTimestampMillis, true);
    EXPECT_EQ(APMPBMessageGetString(event, APMPBEvent::kParams), std::nullopt);
    EXPECT_EQ(APMPBMessageGetArray(event, APMPBEvent::kName), std::nullopt);
    EXPECT_EQ(APMPBMessageGetInt64(event, 99), 0);
    const std::string log = GetCapturedStderr();
    EXPECT_EQ(log,
              "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar BOOL. Message: Event, field ID: 2\n"
              "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 0\n"
              "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1\n"
              "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 99\n");
    EXPECT_EQ(APMPBMessageGetInt64(event, APMPBEvent::kTimestampMillis), 42);
    EXPECT_FALSE(APMPBMessageHasField(event, 99));

    auto repeatedBool = T::make();
    CaptureStderr();
    EXPECT_FALSE(APMPBMessageGetBool(repeatedBool, T::kRepeatedBool));
    EXPECT_EQ(GetCapturedStderr(),
              "<Nano/Failure> Field type isn't a scalar BOOL. Message: TestAllTypes, field ID: 10\n");
}

TEST(APMPBFieldAccess, MessageWithoutRecordLogsMissingRecordTextOnce) {
    auto recordless = std::make_shared<RecordlessMessage>();
    CaptureStderr();
    EXPECT_FALSE(APMPBMessageHasField(recordless, 0));
    APMPBMessageClearField(recordless, 0);
    EXPECT_FALSE(APMPBMessageGetBool(recordless, 0));
    APMPBMessageSetInt64(recordless, 2, 1);
    EXPECT_EQ(APMPBMessageGetArray(recordless, 0), std::nullopt);
    EXPECT_EQ(APMPBMessageGetInt32(nullptr, 0), 0);
    EXPECT_EQ(GetCapturedStderr(),
              "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name Event\n"
              "ProtocolBuffer message hasn't been initialized. ClearField can't be performed\n"
              "ProtocolBuffer message hasn't been initialized. GetBool can't be performed\n"
              "ProtocolBuffer message hasn't been initialized. SetInt64 can't be performed\n"
              "ProtocolBuffer message hasn't been initialized. GetArray can't be performed\n"
              "ProtocolBuffer message hasn't been initialized. GetInt32 can't be performed\n");
    EXPECT_EQ(recordless->protoBuffer(), std::nullopt);
}

TEST(APMPBFieldAccess, ArraysRoundTripEveryValueType) {
    auto m = T::make();
    auto inner = T::make();
    APMPBMessageSetString(inner, T::kString, "inner");
    const std::vector<std::pair<std::int32_t, Value::Array>> cases = {
        {T::kRepeatedBool, {true, false, true}},
        {T::kRepeatedEnum, {0, 6, -1}},
        {T::kRepeatedInt32, {INT32_MIN, -1, 0, INT32_MAX}},
        {T::kRepeatedUInt32, {0u, 300u, 4294967295u}},
        {T::kRepeatedInt64, {INT64_MIN, -1LL, INT64_MAX}},
        {T::kRepeatedUInt64, {0ULL, 18446744073709551615ULL}},
        {T::kRepeatedFloat, {1.5f, -0.0f}},
        {T::kRepeatedDouble, {3.25, -1e300}},
        {T::kRepeatedString, {"a", "", "\xE2\x82\xAC"}},
        {T::kRepeatedBytes, {NSData{0, 255, 7}, NSData{}}},
    };
    for (const auto& [index, values] : cases) APMPBMessageSetArray(m, index, values);
    APMPBMessageSetArray(m, T::kRepeatedMessage, Value::Array{Value(inner), Value(T::make())});
    // Through the wire and back, so the decoder's cells read the same as the setter's.
    for (const auto& message : {m, T::initWithBuffer(*m->protoBuffer())}) {
        ASSERT_NE(message, nullptr);
        for (const auto& [index, values] : cases) {
            auto got = APMPBMessageGetArray(message, index);
            ASSERT_TRUE(got.has_value()) << index;
            EXPECT_EQ(*got, values) << "field " << index;
        }
        auto enums = APMPBMessageGetArray(message, T::kRepeatedEnum);
        EXPECT_EQ((*enums)[2].longLongValue(), -1) << "enum items read back as signed 32-bit";
        auto unsignedItems = APMPBMessageGetArray(message, T::kRepeatedUInt64);
        EXPECT_EQ((*unsignedItems)[1].unsignedLongLongValue(), 18446744073709551615ULL);
        auto messages = APMPBMessageGetArray<T>(message, T::kRepeatedMessage);
        ASSERT_EQ(messages->size(), 2u);
        auto first = (*messages)[0].objectAs<T>();
        ASSERT_NE(first, nullptr);
        EXPECT_NE(first, inner) << "a new object, not the one stored";
        EXPECT_EQ(APMPBMessageGetString(first, T::kString), "inner");
    }
}

TEST(APMPBFieldAccess, SetArrayIsAllOrNothing) {
    auto data = APMPBResultData::make();
    APMPBMessageSetArray(data, APMPBResultData::kStatus, Value::Array{1, 2});
    CaptureStderr();
    APMPBMessageSetArray(data, APMPBResultData::kStatus, Value::Array{1, "two", 3});
    EXPECT_EQ(GetCapturedStderr(), "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: NSString\n");
    EXPECT_TRUE(APMPBMessageGetArray(data, APMPBResultData::kStatus)->empty());

    APMPBMessageSetArray(data, APMPBResultData::kStatus, Value::Array{5});
    APMPBMessageSetArray(data, APMPBResultData::kStatus, std::nullopt);
    EXPECT_TRUE(APMPBMessageGetArray(data, APMPBResultData::kStatus)->empty());
    EXPECT_TRUE(APMPBMessageHasField(data, APMPBResultData::kStatus));

    CaptureStderr();
    APMPBMessageSetArray(data, APMPBResultData::kDynamicFilterTimestamps, Value::Array{Value(42)});
    EXPECT_EQ(GetCapturedStderr(),
              "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: NSNumber\n");
    EXPECT_TRUE(APMPBMessageGetArray(data, APMPBResultData::kDynamicFilterTimestamps)->empty());
}

TEST(APMPBFieldAccess, ClearingARepeatedFieldEmptiesItButKeepsItPresent) {
    auto data = APMPBResultData::make();
    APMPBMessageSetArray(data, APMPBResultData::kResults, Value::Array{7, 8});
    APMPBMessageClearField(data, APMPBResultData::kResults);
    EXPECT_TRUE(APMPBMessageHasField(data, APMPBResultData::kResults));
    EXPECT_TRUE(APMPBMessageGetArray(data, APMPBResultData::kResults)->empty());
    EXPECT_EQ(data->protoBuffer()->size(), 0u);
}

TEST(APMPBFieldAccess, NestedMessagesAreCopiedInAndOut) {
    auto event = APMPBEvent::make();
    auto param = APMPBEventParam::make();
    APMPBMessageSetString(param, APMPBEventParam::kName, "_o");
    APMPBMessageSetArray(event, APMPBEvent::kParams, Value::Array{Value(param)});
    APMPBMessageSetString(param, APMPBEventParam::kName, "changed after set");

    auto params = APMPBMessageGetArray<APMPBEventParam>(event, APMPBEvent::kParams);
    auto got = (*params)[0].objectAs<APMPBEventParam>();
    EXPECT_EQ(APMPBMessageGetString(got, APMPBEventParam::kName), "_o");
    APMPBMessageSetString(got, APMPBEventParam::kName, "changed after get");
    auto again = APMPBMessageGetArray<APMPBEventParam>(event, APMPBEvent::kParams);
    EXPECT_EQ(APMPBMessageGetString((*again)[0].objectAs<APMPBEventParam>(), APMPBEventParam::kName), "_o");

    auto outer = T::make();
    auto inner = T::make();
    APMPBMessageSetInt64(inner, T::kInt64, 9);
    APMPBMessageSetMessage(outer, T::kMessage, inner);
    APMPBMessageSetInt64(inner, T::kInt64, 10);
    auto copy = APMPBMessageGetMessage<T>(outer, T::kMessage);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(APMPBMessageGetInt64(copy, T::kInt64), 9);
    APMPBMessageSetInt64(copy, T::kInt64, 11);
    EXPECT_EQ(APMPBMessageGetInt64(APMPBMessageGetMessage<T>(outer, T::kMessage), T::kInt64), 9);

    // A message set into its own field holds a copy of what it was.
    APMPBMessageSetMessage(outer, T::kMessage, outer);
    auto self = APMPBMessageGetMessage<T>(outer, T::kMessage);
    EXPECT_EQ(APMPBMessageGetInt64(APMPBMessageGetMessage<T>(self, T::kMessage), T::kInt64), 9);

    APMPBMessageSetMessage(outer, T::kMessage, nullptr);
    EXPECT_FALSE(APMPBMessageHasField(outer, T::kMessage));
}

TEST(APMPBFieldAccess, NestedRecordOfAnotherMessageConvertsToNothing) {
    auto bundle = APMPBMeasurementBundle::make();
    auto event = APMPBEvent::make();
    APMPBMessageSetString(event, APMPBEvent::kName, "_vs");
    APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, Value::Array{Value(event), Value(event)});
    auto asParams = APMPBMessageGetArray<APMPBEventParam>(bundle, APMPBMeasurementBundle::kEvents);
    ASSERT_TRUE(asParams.has_value());
    EXPECT_TRUE(asParams->empty());
    CaptureStderr();
    auto noClass = APMPBMessageGetArray(bundle, APMPBMeasurementBundle::kEvents);
    EXPECT_TRUE(noClass->empty());
    EXPECT_EQ(GetCapturedStderr(),
              "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n"
              "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n");
}
