// Decoded trees live in their top record's arena: what leaves a tree is a copy that outlives it,
// what is set into it owns its memory, and a decode that merges or fails leaves the tree whole.
#include "analytics/proto/APMPBCodec.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::shared_ptr<APMPBEventParam> param(const std::string& name) {
    auto p = APMPBEventParam::make();
    APMPBMessageSetString(p, APMPBEventParam::kName, name);
    return p;
}

std::shared_ptr<APMPBEvent> event(const std::string& name, int params) {
    Value::Array items;
    for (int i = 0; i < params; ++i) items.emplace_back(param(name + " parameter " + std::to_string(i)));
    auto e = APMPBEvent::make();
    APMPBMessageSetArray(e, APMPBEvent::kParams, items);
    APMPBMessageSetString(e, APMPBEvent::kName, name);
    APMPBMessageSetInt64(e, APMPBEvent::kTimestampMillis, 1700000000000LL + params);
    return e;
}

std::shared_ptr<APMPBMeasurementBundle> bundle(const std::vector<std::string>& events) {
    Value::Array items;
    for (const std::string& name : events) items.emplace_back(event(name, 3));
    auto b = APMPBMeasurementBundle::make();
    APMPBMessageSetArray(b, APMPBMeasurementBundle::kEvents, items);
    APMPBMessageSetString(b, APMPBMeasurementBundle::kPlatform, "ios");
    APMPBMessageSetString(b, APMPBMeasurementBundle::kAppId, "com.example.gallery.measurement");
    return b;
}

std::vector<std::string> paramNames(const std::shared_ptr<APMPBEvent>& e) {
    std::vector<std::string> names;
    const auto params = APMPBMessageGetArray<APMPBEventParam>(e, APMPBEvent::kParams);
    for (const Value& v : *params)
        names.push_back(APMPBMessageGetString(v.objectAs<APMPBEventParam>(), APMPBEventParam::kName).value_or("?"));
    return names;
}

}  // namespace

TEST(APMPBArena, WhatLeavesADecodedTreeOutlivesIt) {
    const NSData bytes = *bundle({"first event", "second event", "third event"})->protoBuffer();
    auto decoded = APMPBMeasurementBundle::initWithBuffer(bytes);
    ASSERT_NE(decoded, nullptr);
    auto events = APMPBMessageGetArray<APMPBEvent>(decoded, APMPBMeasurementBundle::kEvents);
    std::unique_ptr<APMPBMessageInfo> copy;
    ASSERT_TRUE(APMPBCopyMessageInfo(&copy, decoded->messageInfo()));
    decoded.reset();

    ASSERT_EQ(events->size(), 3u);
    auto third = (*events)[2].objectAs<APMPBEvent>();
    EXPECT_EQ(APMPBMessageGetString(third, APMPBEvent::kName), "third event");
    EXPECT_EQ(paramNames(third),
              (std::vector<std::string>{"third event parameter 0", "third event parameter 1", "third event parameter 2"}));
    auto fromCopy = APMPBMeasurementBundle::initWithMessageInfo(copy.get());
    copy.reset();
    EXPECT_EQ(fromCopy->protoBuffer(), bytes);
}

TEST(APMPBArena, ADecodedMessageTakesChangesAndDecodesAgainOnceEmptied) {
    const NSData bytes = *bundle({"first event", "second event", "third event"})->protoBuffer();
    auto decoded = APMPBMeasurementBundle::initWithBuffer(bytes);
    ASSERT_NE(decoded, nullptr);
    // Its own events set back without the first, a longer application id, no platform.
    auto events = *APMPBMessageGetArray<APMPBEvent>(decoded, APMPBMeasurementBundle::kEvents);
    events.erase(events.begin());
    APMPBMessageSetArray(decoded, APMPBMeasurementBundle::kEvents, events);
    events.clear();
    APMPBMessageSetString(decoded, APMPBMeasurementBundle::kAppId, std::string(100, 'a'));
    APMPBMessageClearField(decoded, APMPBMeasurementBundle::kPlatform);

    auto expected = bundle({"second event", "third event"});
    APMPBMessageSetString(expected, APMPBMeasurementBundle::kAppId, std::string(100, 'a'));
    APMPBMessageClearField(expected, APMPBMeasurementBundle::kPlatform);
    EXPECT_EQ(decoded->protoBuffer(), expected->protoBuffer());

    ASSERT_TRUE(APMPBInitMessageInfo(APMPBMeasurementBundle::schema(), decoded->messageInfo()));
    EXPECT_TRUE(decoded->protoBuffer()->empty());
    ASSERT_TRUE(APMPBDecode(bytes.data(), bytes.size(), decoded->messageInfo()));
    EXPECT_EQ(decoded->protoBuffer(), bytes);
}

TEST(APMPBArena, ListsGrowPastTheirFirstSizeAndDecodingAppendsBehindSetItems) {
    // A long first item sizes the list for a few items; forty short ones follow.
    std::vector<std::string> names = {std::string(200, 'L')};
    for (int i = 0; i < 40; ++i) names.push_back("p" + std::to_string(i));
    NSData wire;
    for (const std::string& name : names)
        wire = prototest::append(wire, prototest::lengthDelimited(1, *param(name)->protoBuffer()));
    auto decoded = APMPBEvent::initWithBuffer(wire);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(paramNames(decoded), names);

    // Into a message whose list was set: the decoded items go behind, twice over.
    auto e = APMPBEvent::make();
    APMPBMessageSetArray(e, APMPBEvent::kParams, Value::Array{Value(param("set"))});
    ASSERT_TRUE(APMPBDecode(wire.data(), wire.size(), e->messageInfo()));
    ASSERT_TRUE(APMPBDecode(wire.data(), wire.size(), e->messageInfo()));
    std::vector<std::string> expected = {"set"};
    for (int round = 0; round < 2; ++round) expected.insert(expected.end(), names.begin(), names.end());
    EXPECT_EQ(paramNames(e), expected);
}

TEST(APMPBArena, EveryCutOfANestedBatchFailsUnlessItEndsBetweenBundles) {
    Value::Array bundles = {Value(bundle({"a", "b"})), Value(bundle({"c"}))};
    auto batch = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, bundles);
    const NSData bytes = *batch->protoBuffer();
    const std::size_t afterFirst =
        prototest::lengthDelimited(1, *bundles[0].objectAs<APMPBMeasurementBundle>()->protoBuffer()).size();

    CaptureStdout();
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        const NSData prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        auto decoded = APMPBMeasurementBatch::initWithBuffer(prefix);
        if (cut == 0 || cut == afterFirst || cut == bytes.size()) {
            ASSERT_NE(decoded, nullptr) << cut;
            EXPECT_EQ(decoded->protoBuffer(), prefix) << cut;
        } else {
            EXPECT_EQ(decoded, nullptr) << cut;
        }
    }
    EXPECT_NE(GetCapturedStdout().find("<ERROR> MeasurementBatch decoder failed: end-of-stream"), std::string::npos);
}
