// The byte examples of the upload and audience result messages.
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

using prototest::bytes;
using prototest::hex;
using B = APMPBMeasurementBundle;

namespace {

std::shared_ptr<APMPBResultData> resultData(const Value::Array& status, const Value::Array& results) {
    auto data = APMPBResultData::make();
    APMPBMessageSetArray(data, APMPBResultData::kStatus, status);
    APMPBMessageSetArray(data, APMPBResultData::kResults, results);
    return data;
}

}  // namespace

TEST(APMPBWireExamples, BundleTags26And27SitAtIndices6And20AndGoOutAfterTag25) {
    // Written out of order on purpose: tag 27 "v", tag 26 = 5, tag 25 "a", tag 1 = 1.
    auto bundle = B::initWithBuffer(bytes({0xDA, 0x01, 0x01, 'v', 0xD0, 0x01, 0x05, 0xCA, 0x01, 0x01, 'a', 0x08, 0x01}));
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(B::kPreviousBundleStartTimestampMillis, 6);
    EXPECT_EQ(B::kVendorDeviceId, 20);
    EXPECT_EQ(APMPBMessageGetInt64(bundle, 6), 5);
    EXPECT_EQ(APMPBMessageGetString(bundle, 20), "v");
    EXPECT_EQ(APMPBMessageGetString(bundle, B::kVuvAppId), "a");
    EXPECT_EQ(hex(*bundle->protoBuffer()), "08 01 CA 01 01 61 D0 01 05 DA 01 01 76");
}

TEST(APMPBWireExamples, ExperimentIdsAreOneTagPerItem) {
    auto bundle = B::make();
    APMPBMessageSetArray(bundle, B::kExperimentIds, Value::Array{3, 300});
    EXPECT_EQ(hex(*bundle->protoBuffer()), "E8 02 03 E8 02 AC 02");
}

TEST(APMPBWireExamples, TagsAbove62TakeTwoByteKeys) {
    auto bundle = B::make();
    APMPBMessageSetString(bundle, B::kField63, "a");
    APMPBMessageSetArray(bundle, B::kRedactedFields, Value::Array{"b"});
    APMPBMessageSetString(bundle, B::kEphemeralAppInstanceId, "c");
    EXPECT_EQ(hex(*bundle->protoBuffer()), "FA 03 01 61 82 04 01 62 8A 04 01 63");
}

TEST(APMPBWireExamples, FieldsThisSystemNeverSetsSurviveDecodeAndEncode) {
    // Bundle: field_15 (tag 15), field_22, field_28, field_34, field_50, field_55, field_63; an event with
    // field_5 and a parameter with float_value; a user attribute with float_value.
    const NSData param = bytes({0x0A, 0x01, 'p', 0x25, 0x00, 0x00, 0x20, 0x40});
    const NSData event = prototest::append(prototest::lengthDelimited(1, param), bytes({0x28, 0x7F}));
    const NSData attribute = bytes({0x12, 0x01, 'u', 0x2D, 0x00, 0x00, 0x80, 0xBF});
    NSData wire = prototest::append(prototest::lengthDelimited(2, event), prototest::lengthDelimited(3, attribute));
    wire = prototest::append(wire, bytes({0x78, 0x0F, 0xB0, 0x01, 0x16, 0xE0, 0x01, 0x01, 0x92, 0x02, 0x01, 'x',
                                          0x92, 0x03, 0x01, 'y', 0xB8, 0x03, 0x01, 0xFA, 0x03, 0x01, 'z'}));
    auto bundle = B::initWithBuffer(wire);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(APMPBMessageGetInt64(bundle, B::kField15), 15);
    EXPECT_EQ(APMPBMessageGetInt64(bundle, B::kField22), 22);
    EXPECT_TRUE(APMPBMessageGetBool(bundle, B::kField28));
    EXPECT_EQ(APMPBMessageGetString(bundle, B::kField34), "x");
    EXPECT_EQ(APMPBMessageGetString(bundle, B::kField50), "y");
    EXPECT_TRUE(APMPBMessageGetBool(bundle, B::kField55));
    EXPECT_EQ(APMPBMessageGetString(bundle, B::kField63), "z");
    EXPECT_EQ(*bundle->protoBuffer(), wire);
}

TEST(APMPBWireExamples, ResultDataWordsAreUnpackedItems) {
    EXPECT_EQ(hex(*resultData({0}, {0})->protoBuffer()), "08 00 10 00");
    EXPECT_EQ(hex(*resultData({1, 2}, {1, 0})->protoBuffer()), "08 01 08 02 10 01 10 00");
    // Filter 63 is the top bit of word 0, a ten-byte varint; filter 64 is bit 0 of word 1.
    auto high = resultData({Value(0x8000000000000000ULL), 1}, {Value(0x8000000000000000ULL), 0});
    EXPECT_EQ(hex(*high->protoBuffer()),
              "08 80 80 80 80 80 80 80 80 80 01 08 01 10 80 80 80 80 80 80 80 80 80 01 10 00");
    auto back = APMPBResultData::initWithBuffer(*high->protoBuffer());
    EXPECT_EQ((*APMPBMessageGetArray(back, APMPBResultData::kStatus))[0].unsignedLongLongValue(),
              0x8000000000000000ULL);
}

TEST(APMPBWireExamples, AudienceReportsCarryTag3OnlyForDifferingPreviousResults) {
    auto current = resultData({1}, {1});
    auto report = APMPBAudienceLeafFilterResult::make();
    APMPBMessageSetInt32(report, APMPBAudienceLeafFilterResult::kAudienceId, 7);
    APMPBMessageSetMessage(report, APMPBAudienceLeafFilterResult::kCurrentData, current);
    APMPBMessageSetBool(report, APMPBAudienceLeafFilterResult::kNewAudience, true);
    EXPECT_EQ(hex(*report->protoBuffer()), "08 07 12 04 08 01 10 01 20 01");

    APMPBMessageSetBool(report, APMPBAudienceLeafFilterResult::kNewAudience, false);
    EXPECT_EQ(hex(*report->protoBuffer()), "08 07 12 04 08 01 10 01 20 00");

    APMPBMessageSetMessage(report, APMPBAudienceLeafFilterResult::kPreviousData, resultData({1}, {0}));
    EXPECT_EQ(hex(*report->protoBuffer()), "08 07 12 04 08 01 10 01 1A 04 08 01 10 00 20 00");
}
