// The 33 message classes: identities and field tables as the schemas give them, factories and round trips.
#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBAudience.h"
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBCustomProperty.h"
#include "analytics/proto/APMPBDataControl.h"
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventConfig.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBExperiment.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFilter.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBNumberFilter.h"
#include "analytics/proto/APMPBOgtActivities.h"
#include "analytics/proto/APMPBOgtActivity.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBPropertyFilter.h"
#include "analytics/proto/APMPBRegion.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/proto/APMPBSdkResponse.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/proto/APMPBSetting.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "analytics/proto/APMPBStringFilter.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct ClassInfo {
    std::string className;
    std::string messageID;
    std::size_t fields;
    std::function<std::shared_ptr<NANOMessageBase>()> make;
    std::function<std::shared_ptr<NANOMessageBase>(const NSData&)> parse;
};

template <class M>
ClassInfo info(const char* className, const char* messageID, std::size_t fields) {
    return {className, messageID, fields, [] { return M::make(); },
            [](const NSData& d) -> std::shared_ptr<NANOMessageBase> { return M::initWithBuffer(d); }};
}

// Every class with its message ID and field count.
const std::vector<ClassInfo>& allClasses() {
    static const std::vector<ClassInfo> classes = {
        info<APMPBAppProperty>("APMPBAppProperty", "AppProperty", 7),
        info<APMPBAudience>("APMPBAudience", "Audience", 5),
        info<APMPBAudienceLeafFilterResult>("APMPBAudienceLeafFilterResult", "AudienceLeafFilterResult", 4),
        info<APMPBClientProperty>("APMPBClientProperty", "ClientProperty", 5),
        info<APMPBCustomProperty>("APMPBCustomProperty", "CustomProperty", 2),
        info<APMPBDataControl>("APMPBDataControl", "DataControl", 3),
        info<APMPBDynamicFilterResultTimestamp>("APMPBDynamicFilterResultTimestamp", "DynamicFilterResultTimestamp", 2),
        info<APMPBEvent>("APMPBEvent", "Event", 5),
        info<APMPBEventConfig>("APMPBEventConfig", "EventConfig", 4),
        info<APMPBEventFilter>("APMPBEventFilter", "EventFilter", 8),
        info<APMPBEventParam>("APMPBEventParam", "EventParam", 6),
        info<APMPBExperiment>("APMPBExperiment", "Experiment", 2),
        info<APMPBExperimentRequest>("APMPBExperimentRequest", "ExperimentRequest", 2),
        info<APMPBExperimentResponse>("APMPBExperimentResponse", "ExperimentResponse", 2),
        info<APMPBFilter>("APMPBFilter", "Filter", 4),
        info<APMPBFlag>("APMPBFlag", "Flag", 5),
        info<APMPBMeasurementBatch>("APMPBMeasurementBatch", "MeasurementBatch", 1),
        info<APMPBMeasurementBundle>("APMPBMeasurementBundle", "MeasurementBundle", 46),
        info<APMPBMeasurementConfig>("APMPBMeasurementConfig", "MeasurementConfig", 11),
        info<APMPBNumberFilter>("APMPBNumberFilter", "NumberFilter", 5),
        info<APMPBOgtActivities>("APMPBOgtActivities", "OgtActivities", 1),
        info<APMPBOgtActivity>("APMPBOgtActivity", "OgtActivity", 2),
        info<APMPBProgram>("APMPBProgram", "Program", 2),
        info<APMPBPropertyFilter>("APMPBPropertyFilter", "PropertyFilter", 6),
        info<APMPBRegion>("APMPBRegion", "Region", 2),
        info<APMPBResultData>("APMPBResultData", "ResultData", 4),
        info<APMPBRuntimeEntity>("APMPBRuntimeEntity", "RuntimeEntity", 6),
        info<APMPBSdkResponse>("APMPBSdkResponse", "SdkResponse", 3),
        info<APMPBSequenceFilterResultTimestamp>("APMPBSequenceFilterResultTimestamp", "SequenceFilterResultTimestamp", 2),
        info<APMPBSetting>("APMPBSetting", "Setting", 2),
        info<APMPBSnapshot>("APMPBSnapshot", "Snapshot", 2),
        info<APMPBStringFilter>("APMPBStringFilter", "StringFilter", 4),
        info<APMPBUserAttribute>("APMPBUserAttribute", "UserAttribute", 6),
    };
    return classes;
}

// Sets every scalar, string and repeated scalar field to a value derived from its index.
void fillAll(NANOMessageBase* message) {
    const APMPBMessageSchema& schema = message->messageSchema();
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(schema.fieldCount()); ++i) {
        const APMPBFieldSchema& f = schema.field(i);
        const APMPBFieldType value = APMPBFieldTypeValue(f.type);
        if (APMPBFieldTypeIsRepeated(f.type)) {
            if (value == APMPBFieldTypeMessage) continue;
            if (value == APMPBFieldTypeString) APMPBMessageSetArray(message, i, Value::Array{"x" + std::to_string(i), ""});
            else APMPBMessageSetArray(message, i, Value::Array{i, -i, 1000 * i});
            continue;
        }
        switch (value) {
            case APMPBFieldTypeBool: APMPBMessageSetBool(message, i, i % 2 == 0); break;
            case APMPBFieldTypeEnum:
            case APMPBFieldTypeInt32: APMPBMessageSetInt32(message, i, -i); break;
            case APMPBFieldTypeInt64: APMPBMessageSetInt64(message, i, -1000000000000LL * i); break;
            case APMPBFieldTypeDouble: APMPBMessageSetDouble(message, i, i + 0.5); break;
            case APMPBFieldTypeString: APMPBMessageSetString(message, i, "s" + std::to_string(i)); break;
            default: break;
        }
    }
}

}  // namespace

TEST(APMPBMessageClasses, NamesIdentitiesAndFieldCountsMatchTheSchemas) {
    ASSERT_EQ(allClasses().size(), 33u);
    for (const ClassInfo& c : allClasses()) {
        auto m = c.make();
        ASSERT_NE(m, nullptr) << c.className;
        EXPECT_EQ(m->className(), c.className);
        EXPECT_STREQ(m->messageID(), c.messageID.c_str());
        EXPECT_STREQ(m->messageInfo()->messageID(), c.messageID.c_str());
        EXPECT_EQ(m->messageSchema().fieldCount(), c.fields) << c.className;
        // Field index i has the i-th smallest tag and tag i+1, everywhere but in the bundle.
        if (c.messageID != "MeasurementBundle") {
            for (std::size_t i = 0; i < c.fields; ++i) EXPECT_EQ(m->messageSchema().field(i).tag, i + 1) << c.className;
        }
    }
}

TEST(APMPBMessageClasses, BundleIndicesMapToTheirTags) {
    const std::vector<std::uint32_t> tags = {1,  2,  3,  4,  5,  6,  26, 7,  8,  9,  10, 11, 12, 13, 14, 15,
                                             16, 17, 18, 19, 27, 20, 21, 22, 23, 24, 25, 28, 29, 30, 31, 32,
                                             33, 34, 35, 39, 41, 45, 47, 50, 52, 53, 55, 63, 64, 65};
    const APMPBMessageSchema& schema = APMPBMeasurementBundle::schema();
    ASSERT_EQ(schema.fieldCount(), tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(schema.field(i).tag, tags[i]) << "index " << i;
        EXPECT_EQ(schema.indexForTag(tags[i]), static_cast<std::int32_t>(i));
    }
    EXPECT_EQ(schema.field(APMPBMeasurementBundle::kExperimentIds).type, APMPBFieldTypeRepeated | APMPBFieldTypeUInt32);
    EXPECT_EQ(schema.field(APMPBMeasurementBundle::kTrackingAuthorizationStatus).type,
              APMPBFieldTypeOptional | APMPBFieldTypeEnum);
    EXPECT_EQ(schema.fieldTypes()[APMPBMeasurementBundle::kEvents], 0x4008u);
    EXPECT_EQ(schema.fieldTypes()[APMPBMeasurementBundle::kRedactedFields], 0x2008u);
    EXPECT_EQ(schema.indexForTag(36), -1);
}

TEST(APMPBMessageClasses, EveryClassRoundTripsByteForByte) {
    for (const ClassInfo& c : allClasses()) {
        auto m = c.make();
        fillAll(m.get());
        auto bytes = m->protoBuffer();
        ASSERT_TRUE(bytes.has_value()) << c.className;
        auto parsed = c.parse(*bytes);
        ASSERT_NE(parsed, nullptr) << c.className;
        EXPECT_EQ(*parsed->protoBuffer(), *bytes) << c.className;
        EXPECT_EQ(*c.parse(NSData{})->protoBuffer(), NSData{}) << c.className;
    }
}

TEST(APMPBMessageClasses, InitWithMessageInfoCopiesOnlyRecordsOfItsOwnMessage) {
    auto param = APMPBEventParam::make();
    APMPBMessageSetString(param, APMPBEventParam::kName, "p");
    EXPECT_EQ(APMPBEvent::initWithMessageInfo(param->messageInfo()), nullptr);

    auto copy = APMPBEventParam::initWithMessageInfo(param->messageInfo());
    ASSERT_NE(copy, nullptr);
    APMPBMessageSetString(copy, APMPBEventParam::kName, "changed");
    EXPECT_EQ(APMPBMessageGetString(param, APMPBEventParam::kName), "p");
}

TEST(APMPBMessageClasses, RecordFunctionsOfAnyMessageWorkWithoutItsClass) {
    std::shared_ptr<NANOMessageBase> message = APMPBFlag::make();
    APMPBMessageSetString(message, APMPBFlag::kName, "flag");
    APMPBMessageInfo fresh;
    ASSERT_TRUE(message->initMessageInfoFn()(&fresh));
    EXPECT_STREQ(fresh.messageID(), "Flag");
    EXPECT_EQ(fresh.fields.size(), 5u);
    std::unique_ptr<APMPBMessageInfo> copy;
    ASSERT_TRUE(message->copyMessageInfoFn()(&copy, message->messageInfo()));
    ASSERT_TRUE(message->deallocMessageFieldFn()(message->messageInfo(), APMPBFlag::kName));
    EXPECT_FALSE(APMPBMessageHasField(message, APMPBFlag::kName));
    EXPECT_EQ(APMPBMessageGetString(APMPBFlag::initWithMessageInfo(copy.get()), APMPBFlag::kName), "flag");
}
