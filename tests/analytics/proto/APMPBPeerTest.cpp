// The wire form against protoc as a peer: what we encode it decodes, what it encodes we decode and re-encode byte for byte.
#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBAudienceLeafFilterResult.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBCustomProperty.h"
#include "analytics/proto/APMPBDynamicFilterResultTimestamp.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBExperiment.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBResultData.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/proto/APMPBSdkResponse.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

using prototest::Protoc;
using B = APMPBMeasurementBundle;

namespace {

template <class M>
std::shared_ptr<M> param(const char* name) {
    auto p = M::make();
    if (name) APMPBMessageSetString(p, APMPBEventParam::kName, name);
    return p;
}

// A bundle with all 46 fields set through the accessors.
std::shared_ptr<B> fullBundle() {
    auto origin = param<APMPBEventParam>("_o");
    APMPBMessageSetString(origin, APMPBEventParam::kStringValue, "auto");
    auto item1 = param<APMPBEventParam>(nullptr);
    auto id = param<APMPBEventParam>("id");
    APMPBMessageSetInt64(id, APMPBEventParam::kIntValue, 7);
    APMPBMessageSetArray(item1, APMPBEventParam::kParamValue, Value::Array{Value(id)});
    auto item2 = param<APMPBEventParam>(nullptr);
    auto price = param<APMPBEventParam>("price");
    APMPBMessageSetDouble(price, APMPBEventParam::kDoubleValue, 1.25);
    APMPBMessageSetArray(item2, APMPBEventParam::kParamValue, Value::Array{Value(price)});
    auto items = param<APMPBEventParam>("items");
    APMPBMessageSetArray(items, APMPBEventParam::kParamValue, Value::Array{Value(item1), Value(item2)});

    auto event = APMPBEvent::make();
    APMPBMessageSetArray(event, APMPBEvent::kParams, Value::Array{Value(origin), Value(items)});
    APMPBMessageSetString(event, APMPBEvent::kName, "_vs");
    APMPBMessageSetInt64(event, APMPBEvent::kTimestampMillis, 1700000000123);
    APMPBMessageSetInt64(event, APMPBEvent::kPreviousTimestampMillis, 1699999999000);

    auto fot = APMPBUserAttribute::make();
    APMPBMessageSetInt64(fot, APMPBUserAttribute::kSetTimestampMillis, 1);
    APMPBMessageSetString(fot, APMPBUserAttribute::kName, "_fot");
    APMPBMessageSetInt64(fot, APMPBUserAttribute::kIntValue, 3600000);
    auto ltv = APMPBUserAttribute::make();
    APMPBMessageSetString(ltv, APMPBUserAttribute::kName, "_ltv_USD");
    APMPBMessageSetDouble(ltv, APMPBUserAttribute::kDoubleValue, 1.5);

    auto dynamic = APMPBDynamicFilterResultTimestamp::make();
    APMPBMessageSetInt32(dynamic, 0, 0);
    APMPBMessageSetInt64(dynamic, 1, 10);
    auto sequence = APMPBSequenceFilterResultTimestamp::make();
    APMPBMessageSetInt32(sequence, 0, 1);
    APMPBMessageSetArray(sequence, 1, Value::Array{11, 12});
    auto current = APMPBResultData::make();
    APMPBMessageSetArray(current, APMPBResultData::kStatus, Value::Array{1});
    APMPBMessageSetArray(current, APMPBResultData::kResults, Value::Array{1});
    APMPBMessageSetArray(current, APMPBResultData::kDynamicFilterTimestamps, Value::Array{Value(dynamic)});
    APMPBMessageSetArray(current, APMPBResultData::kSequenceFilterTimestamps, Value::Array{Value(sequence)});
    auto audience = APMPBAudienceLeafFilterResult::make();
    APMPBMessageSetInt32(audience, APMPBAudienceLeafFilterResult::kAudienceId, 3);
    APMPBMessageSetMessage(audience, APMPBAudienceLeafFilterResult::kCurrentData, current);
    APMPBMessageSetBool(audience, APMPBAudienceLeafFilterResult::kNewAudience, true);

    auto b = B::make();
    APMPBMessageSetInt32(b, B::kProtocolVersion, 1);
    APMPBMessageSetArray(b, B::kEvents, Value::Array{Value(event)});
    APMPBMessageSetArray(b, B::kUserAttributes, Value::Array{Value(fot), Value(ltv)});
    APMPBMessageSetInt64(b, B::kUploadTimestampMillis, 4);
    APMPBMessageSetInt64(b, B::kStartTimestampMillis, 5);
    APMPBMessageSetInt64(b, B::kEndTimestampMillis, 6);
    APMPBMessageSetInt64(b, B::kPreviousBundleStartTimestampMillis, 26);
    APMPBMessageSetInt64(b, B::kPreviousBundleEndTimestampMillis, 7);
    APMPBMessageSetString(b, B::kPlatform, "ios");
    APMPBMessageSetString(b, B::kOsVersion, "17.1");
    APMPBMessageSetString(b, B::kDeviceModel, "iPhone15,2");
    APMPBMessageSetString(b, B::kUserDefaultLanguage, "en-us");
    APMPBMessageSetInt32(b, B::kTimezoneOffsetMinutes, -300);
    APMPBMessageSetString(b, B::kAppStore, "manual_install");
    APMPBMessageSetString(b, B::kAppId, "com.example.gallery");
    APMPBMessageSetInt64(b, B::kField15, 15);
    APMPBMessageSetString(b, B::kAppVersion, "2.0");
    APMPBMessageSetInt64(b, B::kLibraryVersion, 90000);
    APMPBMessageSetInt64(b, B::kUploadLibraryVersion, 90001);
    APMPBMessageSetString(b, B::kResettableDeviceId, "R");
    APMPBMessageSetString(b, B::kVendorDeviceId, "V");
    APMPBMessageSetBool(b, B::kLimitedAdTracking, true);
    APMPBMessageSetString(b, B::kAppInstanceId, "instance");
    APMPBMessageSetInt64(b, B::kField22, -22);
    APMPBMessageSetInt32(b, B::kBundleIndex, 2147483647);
    APMPBMessageSetString(b, B::kMonitoringData, "0:");
    APMPBMessageSetString(b, B::kVuvAppId, "1:123:ios:abc");
    APMPBMessageSetBool(b, B::kField28, false);
    APMPBMessageSetArray(b, B::kAudienceEvaluationResults, Value::Array{Value(audience)});
    APMPBMessageSetString(b, B::kRezaviviInstallationId, "fid");
    APMPBMessageSetInt32(b, B::kAppVersionMajor, 2);
    APMPBMessageSetInt32(b, B::kAppVersionMinor, 0);
    APMPBMessageSetInt32(b, B::kAppVersionRelease, 13);
    APMPBMessageSetString(b, B::kField34, "f34");
    APMPBMessageSetInt64(b, B::kConfigVersion, 1234567890123);
    APMPBMessageSetInt32(b, B::kRetryCount, 3);
    APMPBMessageSetString(b, B::kZevivAppId, "Z");
    APMPBMessageSetArray(b, B::kExperimentIds, Value::Array{3, 300});
    APMPBMessageSetInt64(b, B::kChecksum, -4611686018427387904);
    APMPBMessageSetString(b, B::kField50, "f50");
    APMPBMessageSetString(b, B::kConsentSignals, "G1--");
    APMPBMessageSetInt32(b, B::kTrackingAuthorizationStatus, 3);
    APMPBMessageSetBool(b, B::kField55, true);
    APMPBMessageSetString(b, B::kField63, "f63");
    APMPBMessageSetArray(b, B::kRedactedFields, Value::Array{"device_info", "custom"});
    APMPBMessageSetString(b, B::kEphemeralAppInstanceId, "eph");
    return b;
}

const char* kFullBundleText = R"(protocol_version: 1
events {
  params {
    name: "_o"
    string_value: "auto"
  }
  params {
    name: "items"
    param_value {
      param_value {
        name: "id"
        int_value: 7
      }
    }
    param_value {
      param_value {
        name: "price"
        double_value: 1.25
      }
    }
  }
  name: "_vs"
  timestamp_millis: 1700000000123
  previous_timestamp_millis: 1699999999000
}
user_attributes {
  set_timestamp_millis: 1
  name: "_fot"
  int_value: 3600000
}
user_attributes {
  name: "_ltv_USD"
  double_value: 1.5
}
upload_timestamp_millis: 4
start_timestamp_millis: 5
end_timestamp_millis: 6
previous_bundle_end_timestamp_millis: 7
platform: "ios"
os_version: "17.1"
device_model: "iPhone15,2"
user_default_language: "en-us"
timezone_offset_minutes: -300
app_store: "manual_install"
app_id: "com.example.gallery"
field_15: 15
app_version: "2.0"
library_version: 90000
upload_library_version: 90001
resettable_device_id: "R"
limited_ad_tracking: true
app_instance_id: "instance"
field_22: -22
bundle_index: 2147483647
monitoring_data: "0:"
vuv_app_id: "1:123:ios:abc"
previous_bundle_start_timestamp_millis: 26
vendor_device_id: "V"
field_28: false
audience_evaluation_results {
  audience_id: 3
  current_data {
    status: 1
    results: 1
    dynamic_filter_timestamps {
      filter_id: 0
      timestamp: 10
    }
    sequence_filter_timestamps {
      filter_id: 1
      eval_timestamps: 11
      eval_timestamps: 12
    }
  }
  new_audience: true
}
rezavivi_installation_id: "fid"
app_version_major: 2
app_version_minor: 0
app_version_release: 13
field_34: "f34"
config_version: 1234567890123
retry_count: 3
zeviv_app_id: "Z"
experiment_ids: 3
experiment_ids: 300
checksum: -4611686018427387904
field_50: "f50"
consent_signals: "G1--"
tracking_authorization_status: 3
field_55: true
field_63: "f63"
redacted_fields: "device_info"
redacted_fields: "custom"
ephemeral_app_instance_id: "eph"
)";

const char* kConfigText = R"(version: 42
vuv_app_id: "1:1:ios:a"
field_3: -3
settings {
  name: "measurement.upload.max_bundles"
  value: "100"
}
event_config {
  name: "purchase"
  blocklisted: false
  sampling_rate: 0
}
audiences {
  audience_id: 1
  property_filters {
    filter_id: 0
    property_name: "p"
    filter {
      string_filter {
        match_type: 6
        expression_list: "a"
        expression_list: "b"
      }
      complement: true
    }
  }
  event_filters {
    filter_id: 1
    event_name: "e"
    filters {
      number_filter {
        comparison_type: 4
        min_comparison_value: "5"
        max_comparison_value: "5"
      }
      param_name: "value"
    }
    event_count_filter {
      comparison_type: 2
      comparison_value: "1"
    }
    dynamic: true
    session_scoped: true
  }
  field_5: true
}
zeviv_app_id: "za"
field_8: false
dynamic_event_editing {
  instructions {
    type: 4
    value {
      type: 1
      string_value: "x"
    }
    value {
      type: 4
      value {
        type: 2
        number_value: 2.5
      }
      function_name: "inner"
    }
    function_name: "outer"
  }
  activities {
    activities {
      name: "rule"
      data {
        type: 3
        boolean_value: true
      }
    }
  }
}
dynamic_event_editing {
}
data_controls {
  name: "device_info"
  opt_out_regions {
    field_1: "EU"
    field_2: "DE"
  }
  field_3: true
}
upload_subdomain: "region1"
)";

const char* kRequestText = R"(app_property {
  platform: "ios"
  language: "en"
  bundle_id: "com.example.gallery"
  from_app_store: false
  sdk_version: 20000
}
client_properties {
  sdk_name: "zev_uzeviroreda"
  diversion_id: "key-zev_uzeviroreda"
  sdk_version: 9
  app_id: "1:1:ios:a"
  custom_properties {
    key: "k"
    value: "v"
  }
}
client_properties {
  sdk_name: "other"
}
)";

}  // namespace

TEST(APMPBPeer, ProtocDecodesAFullBundleBuiltThroughTheAccessors) {
    auto bytes = fullBundle()->protoBuffer();
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(Protoc::decode("MeasurementBundle", *bytes), kFullBundleText);

    auto batch = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, Value::Array{Value(fullBundle()), Value(B::make())});
    const std::string batchText = Protoc::decode("MeasurementBatch", *batch->protoBuffer());
    EXPECT_EQ(batchText.rfind("bundles {\n  protocol_version: 1\n", 0), 0u);
    EXPECT_NE(batchText.find("\n}\nbundles {\n}\n"), std::string::npos) << "an empty bundle is still an item";
}

TEST(APMPBPeer, ProtocsBundleDecodesToTheSameFieldsAndReencodesByteForByte) {
    const NSData peer = Protoc::encode("MeasurementBundle", kFullBundleText);
    ASSERT_FALSE(peer.empty());
    auto bundle = B::initWithBuffer(peer);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(APMPBMessageGetInt32(bundle, B::kTimezoneOffsetMinutes), -300);
    EXPECT_EQ(APMPBMessageGetInt64(bundle, B::kPreviousBundleStartTimestampMillis), 26);
    EXPECT_EQ(APMPBMessageGetString(bundle, B::kVendorDeviceId), "V");
    EXPECT_EQ(APMPBMessageGetInt64(bundle, B::kChecksum), -4611686018427387904);
    EXPECT_EQ(*APMPBMessageGetArray(bundle, B::kExperimentIds), (Value::Array{3, 300}));
    EXPECT_EQ(*APMPBMessageGetArray(bundle, B::kRedactedFields), (Value::Array{"device_info", "custom"}));
    auto events = APMPBMessageGetArray<APMPBEvent>(bundle, B::kEvents);
    ASSERT_EQ(events->size(), 1u);
    auto params = APMPBMessageGetArray<APMPBEventParam>((*events)[0].objectAs<APMPBEvent>(), APMPBEvent::kParams);
    ASSERT_EQ(params->size(), 2u);
    auto arrayItems = APMPBMessageGetArray<APMPBEventParam>((*params)[1].objectAs<APMPBEventParam>(),
                                                            APMPBEventParam::kParamValue);
    ASSERT_EQ(arrayItems->size(), 2u);
    auto secondItem = APMPBMessageGetArray<APMPBEventParam>((*arrayItems)[1].objectAs<APMPBEventParam>(),
                                                            APMPBEventParam::kParamValue);
    EXPECT_EQ(APMPBMessageGetDouble((*secondItem)[0].objectAs<APMPBEventParam>(), APMPBEventParam::kDoubleValue), 1.25);

    EXPECT_EQ(*bundle->protoBuffer(), peer);
    EXPECT_EQ(*fullBundle()->protoBuffer(), peer) << "built and decoded bundles write the same bytes";
}

TEST(APMPBPeer, ConfigurationWithAudiencesAndNestedProgramsGoesBothWays) {
    const NSData peer = Protoc::encode("MeasurementConfig", kConfigText);
    auto config = APMPBMeasurementConfig::initWithBuffer(peer);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(*config->protoBuffer(), peer);
    EXPECT_EQ(Protoc::decode("MeasurementConfig", *config->protoBuffer()), kConfigText);

    EXPECT_EQ(APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId), "1:1:ios:a");
    auto programs = APMPBMessageGetArray<APMPBProgram>(config, APMPBMeasurementConfig::kDynamicEventEditing);
    ASSERT_EQ(programs->size(), 2u);
    auto program = (*programs)[0].objectAs<APMPBProgram>();
    auto instructions = APMPBMessageGetArray<APMPBRuntimeEntity>(program, APMPBProgram::kInstructions);
    auto outer = (*instructions)[0].objectAs<APMPBRuntimeEntity>();
    EXPECT_EQ(APMPBMessageGetInt32(outer, APMPBRuntimeEntity::kType), 4);
    EXPECT_EQ(APMPBMessageGetString(outer, APMPBRuntimeEntity::kFunctionName), "outer");
    auto arguments = APMPBMessageGetArray<APMPBRuntimeEntity>(outer, APMPBRuntimeEntity::kValue);
    ASSERT_EQ(arguments->size(), 2u);
    auto inner = (*arguments)[1].objectAs<APMPBRuntimeEntity>();
    auto innerArguments = APMPBMessageGetArray<APMPBRuntimeEntity>(inner, APMPBRuntimeEntity::kValue);
    EXPECT_EQ(APMPBMessageGetDouble((*innerArguments)[0].objectAs<APMPBRuntimeEntity>(),
                                    APMPBRuntimeEntity::kNumberValue),
              2.5);
    EXPECT_TRUE(APMPBMessageHasField(program, APMPBProgram::kActivities));
    EXPECT_FALSE(APMPBMessageHasField((*programs)[1].objectAs<APMPBProgram>(), APMPBProgram::kActivities));
}

TEST(APMPBPeer, ExperimentRequestAndResponse) {
    auto app = APMPBAppProperty::make();
    APMPBMessageSetString(app, APMPBAppProperty::kPlatform, "ios");
    APMPBMessageSetString(app, APMPBAppProperty::kLanguage, "en");
    APMPBMessageSetString(app, APMPBAppProperty::kBundleId, "com.example.gallery");
    APMPBMessageSetBool(app, APMPBAppProperty::kFromAppStore, false);
    APMPBMessageSetInt64(app, APMPBAppProperty::kSdkVersion, 20000);
    auto custom = APMPBCustomProperty::make();
    APMPBMessageSetString(custom, APMPBCustomProperty::kKey, "k");
    APMPBMessageSetString(custom, APMPBCustomProperty::kValue, "v");
    auto client = APMPBClientProperty::make();
    APMPBMessageSetString(client, APMPBClientProperty::kSdkName, "zev_uzeviroreda");
    APMPBMessageSetString(client, APMPBClientProperty::kDiversionId, "key-zev_uzeviroreda");
    APMPBMessageSetInt64(client, APMPBClientProperty::kSdkVersion, 9);
    APMPBMessageSetString(client, APMPBClientProperty::kAppId, "1:1:ios:a");
    APMPBMessageSetArray(client, APMPBClientProperty::kCustomProperties, Value::Array{Value(custom)});
    auto other = APMPBClientProperty::make();
    APMPBMessageSetString(other, APMPBClientProperty::kSdkName, "other");
    auto request = APMPBExperimentRequest::make();
    APMPBMessageSetMessage(request, APMPBExperimentRequest::kAppProperty, app);
    APMPBMessageSetArray(request, APMPBExperimentRequest::kClientProperties, Value::Array{Value(client), Value(other)});
    EXPECT_EQ(Protoc::decode("ExperimentRequest", *request->protoBuffer()), kRequestText);
    EXPECT_EQ(*request->protoBuffer(), Protoc::encode("ExperimentRequest", kRequestText));

    const NSData response = Protoc::encode("ExperimentResponse",
        "snapshots { sdk_name: \"a\" experiments { experiment_id: 5 flags { name: \"f\" int_value: 1 double_value: 2.5 } } }\n"
        "sdk_responses { sdk_name: \"b\" status: 7 snapshot { sdk_name: \"b\" } }\n");
    auto decoded = APMPBExperimentResponse::initWithBuffer(response);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(*decoded->protoBuffer(), response);
    auto snapshots = APMPBMessageGetArray<APMPBSnapshot>(decoded, APMPBExperimentResponse::kSnapshots);
    auto experiments = APMPBMessageGetArray<APMPBExperiment>((*snapshots)[0].objectAs<APMPBSnapshot>(),
                                                             APMPBSnapshot::kExperiments);
    auto flags = APMPBMessageGetArray<APMPBFlag>((*experiments)[0].objectAs<APMPBExperiment>(), APMPBExperiment::kFlags);
    auto flag = (*flags)[0].objectAs<APMPBFlag>();
    EXPECT_EQ(APMPBMessageGetInt64(flag, APMPBFlag::kIntValue), 1);
    EXPECT_EQ(APMPBMessageGetDouble(flag, APMPBFlag::kDoubleValue), 2.5);
    auto answers = APMPBMessageGetArray<APMPBSdkResponse>(decoded, APMPBExperimentResponse::kSdkResponses);
    EXPECT_EQ(APMPBMessageGetInt32((*answers)[0].objectAs<APMPBSdkResponse>(), APMPBSdkResponse::kStatus), 7);
}

TEST(APMPBPeer, RawViewShowsTagsAndWireTypesIndependentlyOfTheSchema) {
    const std::string raw = Protoc::decodeRaw(*fullBundle()->protoBuffer());
    EXPECT_NE(raw.find("\n25: \"1:123:ios:abc\"\n26: 26\n27: \"V\"\n28: 0\n29 {\n"), std::string::npos) << raw;
    EXPECT_NE(raw.find("\n45: 3\n45: 300\n47: 13835058055282163712\n"), std::string::npos) << raw;
    EXPECT_NE(raw.find("\n12: 18446744073709551316\n"), std::string::npos) << "-300 as a ten-byte varint";
    EXPECT_NE(raw.find("\n53: 3\n55: 1\n63: \"f63\"\n64: \"device_info\"\n64: \"custom\"\n65: \"eph\"\n"),
              std::string::npos);
}

TEST(APMPBPeer, PackedInputIsReadAndWrittenBackUnpacked) {
    const NSData packed = Protoc::encode("ResultData",
        "status: 1 status: 18446744073709551615 results: 1 results: 0\n"
        "sequence_filter_timestamps { filter_id: 2 eval_timestamps: -5 eval_timestamps: 6 }\n",
        true);
    const NSData unpacked = Protoc::encode("ResultData",
        "status: 1 status: 18446744073709551615 results: 1 results: 0\n"
        "sequence_filter_timestamps { filter_id: 2 eval_timestamps: -5 eval_timestamps: 6 }\n");
    ASSERT_NE(packed, unpacked) << "the packed schema must really pack";
    auto data = APMPBResultData::initWithBuffer(packed);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data->protoBuffer(), unpacked);

    const NSData packedIds = Protoc::encode("MeasurementBundle", "experiment_ids: 3 experiment_ids: 300", true);
    EXPECT_EQ(prototest::hex(packedIds), "EA 02 03 03 AC 02");
    auto bundle = B::initWithBuffer(packedIds);
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(prototest::hex(*bundle->protoBuffer()), "E8 02 03 E8 02 AC 02");
}
