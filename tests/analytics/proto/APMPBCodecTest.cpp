// The wire rules of the table-driven codec: order, duplicates, packing, limits, hostile input and copies.
#include "analytics/proto/APMPBCodec.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/proto/APMPBSequenceFilterResultTimestamp.h"
#include "analytics/proto/APMPBSetting.h"
#include "tests/analytics/proto/ProtoTestSupport.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>

using prototest::bytes;
using prototest::hex;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using T = APMPBTestAllTypes;

namespace {

// A RuntimeEntity chain `depth` levels below the top one: each level is type 4 with the next in `value`.
NSData nestedEntities(int depth) {
    auto varintSize = [](std::size_t v) {
        std::size_t n = 1;
        while (v >= 0x80) v >>= 7, ++n;
        return n;
    };
    // Lengths from the innermost (type 1, two bytes) outwards, then written outermost first.
    std::vector<std::size_t> lengths = {2};
    for (int i = 0; i < depth; ++i) lengths.push_back(2 + 1 + varintSize(lengths.back()) + lengths.back());
    NSData out;
    out.reserve(lengths.back());
    for (int level = depth; level > 0; --level) {
        out.insert(out.end(), {0x08, 0x04, 0x12});
        for (std::size_t v = lengths[level - 1]; ; v >>= 7) {
            out.push_back(static_cast<std::uint8_t>(v >= 0x80 ? (v & 0x7F) | 0x80 : v));
            if (v < 0x80) break;
        }
    }
    out.insert(out.end(), {0x08, 0x01});
    return out;
}

}  // namespace

TEST(APMPBCodec, NothingDecodesToAnEmptyMessageAndEncodesToNothing) {
    auto fromEmpty = APMPBMeasurementBundle::initWithBuffer(NSData{});
    ASSERT_NE(fromEmpty, nullptr);
    auto fromNull = APMPBMeasurementBundle::initWithBuffer(nullptr, 0);
    ASSERT_NE(fromNull, nullptr);
    for (std::int32_t i = 0; i < 46; ++i) {
        if (!APMPBFieldTypeIsRepeated(APMPBMeasurementBundle::schema().field(i).type)) {
            EXPECT_FALSE(APMPBMessageHasField(fromEmpty, i)) << i;
        }
    }
    EXPECT_TRUE(APMPBMessageGetArray(fromEmpty, APMPBMeasurementBundle::kEvents)->empty());
    auto encoded = APMPBMeasurementBundle::make()->protoBuffer();
    ASSERT_TRUE(encoded.has_value());
    EXPECT_TRUE(encoded->empty());
}

TEST(APMPBCodec, FirstSingleStringWinsLastScalarWins) {
    // name "a", timestamp 1, name "b", timestamp 2
    auto event = APMPBEvent::initWithBuffer(bytes({0x12, 0x01, 'a', 0x18, 0x01, 0x12, 0x01, 'b', 0x18, 0x02}));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBMessageGetString(event, APMPBEvent::kName), "a");
    EXPECT_EQ(APMPBMessageGetInt64(event, APMPBEvent::kTimestampMillis), 2);
}

TEST(APMPBCodec, RepeatedItemsKeepWireOrderAndAbsentNestedStaysAbsent) {
    auto a = APMPBEventParam::make();
    APMPBMessageSetString(a, APMPBEventParam::kName, "first");
    auto b = APMPBEventParam::make();
    APMPBMessageSetString(b, APMPBEventParam::kName, "second");
    auto event = APMPBEvent::make();
    APMPBMessageSetArray(event, APMPBEvent::kParams, Value::Array{Value(a), Value(b)});
    auto decoded = APMPBEvent::initWithBuffer(*event->protoBuffer());
    auto params = APMPBMessageGetArray<APMPBEventParam>(decoded, APMPBEvent::kParams);
    ASSERT_EQ(params->size(), 2u);
    EXPECT_EQ(APMPBMessageGetString((*params)[0].objectAs<APMPBEventParam>(), APMPBEventParam::kName), "first");
    EXPECT_EQ(APMPBMessageGetString((*params)[1].objectAs<APMPBEventParam>(), APMPBEventParam::kName), "second");

    auto program = APMPBProgram::initWithBuffer(bytes({0x0A, 0x02, 0x08, 0x01}));
    ASSERT_NE(program, nullptr);
    EXPECT_FALSE(APMPBMessageHasField(program, APMPBProgram::kActivities));
    EXPECT_EQ(APMPBMessageGetArray<APMPBRuntimeEntity>(program, APMPBProgram::kInstructions)->size(), 1u);
}

TEST(APMPBCodec, RepeatedSingleMessageOccurrencesMerge) {
    // m { i64: 1, s: "x" } then m { i64: 2, s: "y", rs: "z" }: scalar last, string first, lists appended.
    NSData first = prototest::lengthDelimited(10, bytes({0x28, 0x01, 0x4A, 0x01, 'x', 0x9A, 0x01, 0x01, 'w'}));
    NSData second = prototest::lengthDelimited(10, bytes({0x28, 0x02, 0x4A, 0x01, 'y', 0x9A, 0x01, 0x01, 'z'}));
    auto m = T::initWithBuffer(prototest::append(first, second));
    ASSERT_NE(m, nullptr);
    auto inner = APMPBMessageGetMessage<T>(m, T::kMessage);
    EXPECT_EQ(APMPBMessageGetInt64(inner, T::kInt64), 2);
    EXPECT_EQ(APMPBMessageGetString(inner, T::kString), "x");
    EXPECT_EQ(*APMPBMessageGetArray(inner, T::kRepeatedString), (Value::Array{"w", "z"}));
}

TEST(APMPBCodec, NegativeInt32AndEnumAreTenByteVarints) {
    auto m = T::make();
    APMPBMessageSetInt32(m, T::kInt32, -1);
    EXPECT_EQ(hex(*m->protoBuffer()), "18 FF FF FF FF FF FF FF FF FF 01");
    auto back = T::initWithBuffer(*m->protoBuffer());
    EXPECT_EQ(APMPBMessageGetInt32(back, T::kInt32), -1);
    auto e = T::make();
    APMPBMessageSetInt32(e, T::kEnum, -1);
    EXPECT_EQ(hex(*e->protoBuffer()), "10 FF FF FF FF FF FF FF FF FF 01");
    APMPBMessageSetInt32(e, T::kEnum, -2147483647 - 1);
    EXPECT_EQ(hex(*e->protoBuffer()), "10 80 80 80 80 F8 FF FF FF FF 01");
    back = T::initWithBuffer(*e->protoBuffer());
    EXPECT_EQ(APMPBMessageGetInt32(back, T::kEnum), -2147483647 - 1);
    // The five-byte form other writers send reads the same.
    back = T::initWithBuffer(bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(APMPBMessageGetInt32(back, T::kEnum), -1);
    // Non-negative values keep their short form.
    APMPBMessageSetInt32(e, T::kEnum, 3);
    EXPECT_EQ(hex(*e->protoBuffer()), "10 03");
}

TEST(APMPBCodec, FloatAndDoubleAreLittleEndianFixedWidth) {
    auto m = T::initWithBuffer(bytes({0x3D, 0x00, 0x00, 0xC0, 0x3F, 0x41, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(APMPBMessageGetDouble(m, T::kDouble), 1.0);
    EXPECT_EQ(hex(*m->protoBuffer()), "3D 00 00 C0 3F 41 00 00 00 00 00 00 F0 3F");
}

TEST(APMPBCodec, PackedIntegersAreReadAndWrittenBackUnpacked) {
    // eval_timestamps (tag 2) packed as [1, 300], then one unpacked 5.
    auto s = APMPBSequenceFilterResultTimestamp::initWithBuffer(
        bytes({0x08, 0x07, 0x12, 0x03, 0x01, 0xAC, 0x02, 0x10, 0x05}));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(*APMPBMessageGetArray(s, APMPBSequenceFilterResultTimestamp::kEvalTimestamps), (Value::Array{1, 300, 5}));
    EXPECT_EQ(hex(*s->protoBuffer()), "08 07 10 01 10 AC 02 10 05");
}

TEST(APMPBCodec, UnknownTagsAreSkippedAndNotWrittenBack) {
    // tag 99 varint, tag 100 string, tag 101 fixed32, tag 102 fixed64 around the name.
    auto event = APMPBEvent::initWithBuffer(bytes({0x98, 0x06, 0x05, 0xA2, 0x06, 0x01, 'z', 0x12, 0x01, 'n', 0xAD,
                                                   0x06, 1, 2, 3, 4, 0xB1, 0x06, 1, 2, 3, 4, 5, 6, 7, 8}));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(hex(*event->protoBuffer()), "12 01 6E");
}

TEST(APMPBCodec, StringsUpToOneMebibyteDecodeAndLongerOnesFail) {
    auto stringField = [](std::size_t n) {
        return prototest::lengthDelimited(2, NSData(n, 'x'));
    };
    auto ok = APMPBEvent::initWithBuffer(stringField(APMPBMaxStringLength));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(APMPBMessageGetString(ok, APMPBEvent::kName)->size(), APMPBMaxStringLength);
    CaptureStdout();
    auto tooLong = APMPBEvent::initWithBuffer(stringField(APMPBMaxStringLength + 1));
    EXPECT_EQ(tooLong, nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "Unable to process proto stream. Buffer is too big. 1048577 > 1048576"
              "<ERROR> Event decoder failed: string too long\n");
}

TEST(APMPBCodec, EmptyStringsSurviveEveryPath) {
    // A two-pass message (Event has a repeated field) whose name is the empty string.
    auto event = APMPBEvent::initWithBuffer(bytes({0x12, 0x00}));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBMessageGetString(event, APMPBEvent::kName), std::string());
    EXPECT_EQ(hex(*event->protoBuffer()), "12 00");
    auto copy = APMPBEvent::initWithMessageInfo(event->messageInfo());
    EXPECT_EQ(hex(*copy->protoBuffer()), "12 00");
}

TEST(APMPBCodec, HostileInputFailsWithTheStreamsErrorText) {
    struct Case {
        const char* what;
        NSData input;
        const char* output;
    };
    const std::vector<Case> cases = {
        {"truncated varint", bytes({0x18, 0x80}), "<ERROR> Event decoder failed: end-of-stream\n"},
        {"length past the end", bytes({0x12, 0x05, 'a'}), "<ERROR> Event decoder failed: end-of-stream\n"},
        {"item length past the end", bytes({0x0A, 0x05, 0x0A}), "<ERROR> Event decoder failed: end-of-stream\n"},
        {"wrong wire type for a string", bytes({0x10, 0x01}), "<ERROR> Event decoder failed: wrong wire type\n"},
        {"wrong wire type for a scalar", bytes({0x1A, 0x00}), "<ERROR> Event decoder failed: wrong wire type\n"},
        {"zero tag", bytes({0x00, 0x00}), "<ERROR> Event decoder failed: zero tag\n"},
        {"group wire type", bytes({0x9B, 0x06}), "<ERROR> Event decoder failed: invalid wire_type\n"},
        {"eleven-byte varint", bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
         "<ERROR> Event decoder failed: varint overflow\n"},
    };
    for (const Case& c : cases) {
        CaptureStdout();
        EXPECT_EQ(APMPBEvent::initWithBuffer(c.input), nullptr) << c.what;
        EXPECT_EQ(GetCapturedStdout(), c.output) << c.what;
    }
}

TEST(APMPBCodec, ACutShortItemFailsTheWholeDecode) {
    // params item claims 4 bytes and holds a name cut short inside it.
    CaptureStdout();
    EXPECT_EQ(APMPBEvent::initWithBuffer(bytes({0x0A, 0x04, 0x0A, 0x05, 'a', 'b', 0x12, 0x01, 'n'})), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "<ERROR> EventParam decoder failed: end-of-stream\n"
              "<ERROR> EventParam decoder failed: Unable to decode repeated EventParam\n"
              "<ERROR> Event decoder failed: end-of-stream\n");
}

TEST(APMPBCodec, NestingIsCappedAndDeepInputFailsCleanly) {
    auto atCap = APMPBRuntimeEntity::initWithBuffer(nestedEntities(APMPBMaxNestingDepth));
    ASSERT_NE(atCap, nullptr);
    int depth = 0;
    for (auto e = atCap; e; ++depth) {
        auto values = APMPBMessageGetArray<APMPBRuntimeEntity>(e, APMPBRuntimeEntity::kValue);
        e = values->empty() ? nullptr : (*values)[0].objectAs<APMPBRuntimeEntity>();
    }
    EXPECT_EQ(depth, APMPBMaxNestingDepth + 1);

    CaptureStdout();
    EXPECT_EQ(APMPBRuntimeEntity::initWithBuffer(nestedEntities(APMPBMaxNestingDepth + 1)), nullptr);
    const std::string text = GetCapturedStdout();
    EXPECT_NE(text.find("<ERROR> RuntimeEntity decoder failed: nesting too deep\n"), std::string::npos);

    // 100000 levels inside a configuration's program: the configuration decodes, and only the
    // program fails, at the cap and without exhausting the stack, when it is read.
    NSData program = prototest::lengthDelimited(1, nestedEntities(100000));
    NSData config = prototest::lengthDelimited(9, program);
    auto decoded = APMPBMeasurementConfig::initWithBuffer(config);
    ASSERT_NE(decoded, nullptr);
    auto encoded = APMPBMessageGetEncodedArray(decoded, APMPBMeasurementConfig::kDynamicEventEditing);
    ASSERT_TRUE(encoded);
    ASSERT_EQ(encoded->size(), 1u);
    CaptureStdout();
    EXPECT_EQ(APMPBProgram::initWithBuffer(encoded->front()), nullptr);
    EXPECT_NE(GetCapturedStdout().find("nesting too deep"), std::string::npos);
}

TEST(APMPBCodec, ProgramsOfAConfigurationCountTheirNestingFromThemselves) {
    // A setting, then a program just within the cap, which sits more than the cap below the
    // configuration's root, and a damaged program.
    NSData deep = prototest::lengthDelimited(1, nestedEntities(APMPBMaxNestingDepth - 1));
    NSData damaged = {0x0A, 0x05, 0x08};
    NSData config = prototest::lengthDelimited(4, prototest::lengthDelimited(1, NSData{0x6B}));
    for (const NSData& piece : {prototest::lengthDelimited(9, deep), prototest::lengthDelimited(9, damaged)}) {
        config.insert(config.end(), piece.begin(), piece.end());
    }
    auto decoded = APMPBMeasurementConfig::initWithBuffer(config);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(APMPBMessageGetArray<APMPBSetting>(decoded, APMPBMeasurementConfig::kSettings)->size(), 1u);

    // Kept as they came, written back as they came, copied with the configuration.
    EXPECT_EQ(*decoded->protoBuffer(), config);
    auto copy = APMPBMeasurementConfig::initWithMessageInfo(decoded->messageInfo());
    const auto items = APMPBMessageGetEncodedArray(copy, APMPBMeasurementConfig::kDynamicEventEditing);
    ASSERT_TRUE(items);
    EXPECT_EQ(*items, (std::vector<NSData>{deep, damaged}));

    // Read as messages: the deep one decodes whole, the damaged one is left out.
    CaptureStdout();
    const auto programs = APMPBMessageGetArray<APMPBProgram>(decoded, APMPBMeasurementConfig::kDynamicEventEditing);
    EXPECT_NE(GetCapturedStdout().find("Program decoder failed"), std::string::npos);
    ASSERT_EQ(programs->size(), 1u);
    auto entity = APMPBMessageGetArray<APMPBRuntimeEntity>((*programs)[0].objectAs<APMPBProgram>(),
                                                           APMPBProgram::kInstructions);
    ASSERT_EQ(entity->size(), 1u);

    // A program set as a message is handed out encoded too.
    auto made = APMPBMeasurementConfig::make();
    APMPBMessageSetArray(made, APMPBMeasurementConfig::kDynamicEventEditing, Value::Array{(*programs)[0]});
    EXPECT_EQ(*APMPBMessageGetEncodedArray(made, APMPBMeasurementConfig::kDynamicEventEditing),
              (std::vector<NSData>{deep}));

    // A program whose length runs past the end still fails the configuration.
    NSData truncated = {0x4A, 0x09, 0x0A};
    CaptureStdout();
    EXPECT_EQ(APMPBMeasurementConfig::initWithBuffer(truncated), nullptr);
    EXPECT_NE(GetCapturedStdout().find("end-of-stream"), std::string::npos);
}

TEST(APMPBCodec, CopiesShareNothingWithTheirSource) {
    auto param = APMPBEventParam::make();
    APMPBMessageSetString(param, APMPBEventParam::kName, "p");
    auto event = APMPBEvent::make();
    APMPBMessageSetString(event, APMPBEvent::kName, "e");
    APMPBMessageSetArray(event, APMPBEvent::kParams, Value::Array{Value(param)});
    const NSData before = *event->protoBuffer();

    std::unique_ptr<APMPBMessageInfo> copy;
    ASSERT_TRUE(APMPBCopyMessageInfo(&copy, event->messageInfo()));
    auto fromCopy = APMPBEvent::initWithMessageInfo(copy.get());
    APMPBMessageSetString(event, APMPBEvent::kName, "changed");
    APMPBMessageClearField(event, APMPBEvent::kParams);
    event.reset();
    EXPECT_EQ(*fromCopy->protoBuffer(), before);
    copy.reset();
    EXPECT_EQ(*fromCopy->protoBuffer(), before);
}

TEST(APMPBCodec, RecordFunctionsRefuseBadArguments) {
    auto event = APMPBEvent::make();
    CaptureStdout();
    EXPECT_FALSE(APMPBDeallocMessageField(event->messageInfo(), 5));
    EXPECT_FALSE(APMPBDeallocMessageField(event->messageInfo(), -1));
    EXPECT_EQ(GetCapturedStdout(),
              "<ERROR> Event: Cannot deallocate field 5: Unknown field\n"
              "<ERROR> Event: Cannot deallocate field -1: Unknown field\n");
    EXPECT_FALSE(APMPBDeallocMessageField(nullptr, 0));
    EXPECT_FALSE(APMPBInitMessageInfo(APMPBEvent::schema(), nullptr));
    EXPECT_FALSE(APMPBCopyMessageInfo(nullptr, event->messageInfo()));
    EXPECT_EQ(APMPBEncode(event->messageInfo(), nullptr), -1);
    CaptureStdout();
    APMPBMessageInfo uninitialised;
    EXPECT_FALSE(APMPBDecode(nullptr, 0, &uninitialised));
    EXPECT_EQ(GetCapturedStdout(), "<ERROR> (null) decoder failed: message_info is NULL\n");
}

namespace {

// A message of every kind of field, with repeated messages that nest in turn.
std::shared_ptr<T> nestedSample() {
    auto leaf = T::make();
    APMPBMessageSetString(leaf, T::kString, "caf\xC3\xA9 \xF0\x9F\x8E\xA8");
    APMPBMessageSetInt64(leaf, T::kInt64, INT64_MIN);
    APMPBMessageSetDouble(leaf, T::kDouble, -0.5);
    auto item = T::make();
    APMPBMessageSetInt32(item, T::kInt32, -7);
    APMPBMessageSetArray(item, T::kRepeatedMessage, Value::Array{Value(leaf), Value(leaf)});
    APMPBMessageSetArray(item, T::kRepeatedString, Value::Array{"", "x"});
    auto top = T::make();
    APMPBMessageSetString(top, T::kString, "top");
    APMPBMessageSetMessage(top, T::kMessage, leaf);
    APMPBMessageSetArray(top, T::kRepeatedMessage, Value::Array{Value(item), Value(T::make()), Value(leaf)});
    APMPBMessageSetArray(top, T::kRepeatedInt64, Value::Array{Value(1LL), Value(-1LL)});
    return top;
}

}  // namespace

TEST(APMPBCodec, ItemsKeptEncodedGoOutAsTheyCameAndDecodeWhenRead) {
    const NSData wire = *nestedSample()->protoBuffer();
    auto kept = T::initWithBufferKeepingItemsEncoded(wire);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(hex(*kept->protoBuffer()), hex(wire));

    // Read, the items are the messages a full decode gives; the single message is decoded anyway.
    auto full = T::initWithBuffer(wire);
    auto keptItems = *APMPBMessageGetArray<T>(kept, T::kRepeatedMessage);
    auto fullItems = *APMPBMessageGetArray<T>(full, T::kRepeatedMessage);
    ASSERT_EQ(keptItems.size(), 3u);
    for (std::size_t i = 0; i < keptItems.size(); ++i) {
        EXPECT_EQ(hex(*keptItems[i].objectAs<T>()->protoBuffer()), hex(*fullItems[i].objectAs<T>()->protoBuffer()));
    }
    EXPECT_EQ(APMPBMessageGetString(APMPBMessageGetMessage<T>(kept, T::kMessage), T::kString),
              "caf\xC3\xA9 \xF0\x9F\x8E\xA8");

    // Top fields change as usual; copies keep the items; read without a factory they are left out.
    APMPBMessageSetString(kept, T::kString, "changed");
    APMPBMessageSetString(full, T::kString, "changed");
    auto copy = T::initWithMessageInfo(kept->messageInfo());
    kept.reset();
    EXPECT_EQ(hex(*copy->protoBuffer()), hex(*full->protoBuffer()));
    EXPECT_TRUE(APMPBMessageGetArray(copy, T::kRepeatedMessage)->empty());
}

TEST(APMPBCodec, KeepingItemsEncodedRefusesWhatAFullDecodeRefuses) {
    const NSData wire = *nestedSample()->protoBuffer();
    const auto seed = static_cast<std::uint32_t>(std::random_device{}());
    std::cout << "seed " << seed << std::endl;
    std::mt19937 random(seed);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        NSData mutated = wire;
        // One to three bytes overwritten, or the tail cut off.
        if (round % 5 == 4) {
            mutated.resize(random() % mutated.size());
        } else {
            for (unsigned n = 1 + random() % 3; n > 0; --n) {
                mutated[random() % mutated.size()] = static_cast<std::uint8_t>(random());
            }
        }
        CaptureStdout();
        auto full = T::initWithBuffer(mutated);
        auto kept = T::initWithBufferKeepingItemsEncoded(mutated);
        GetCapturedStdout();
        ASSERT_EQ(full == nullptr, kept == nullptr) << "seed " << seed << " round " << round << ": " << hex(mutated);
        if (!full) {
            ++refused;
            continue;
        }
        // What is accepted reads back as the full decode's message.
        auto again = T::initWithBuffer(*kept->protoBuffer());
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(hex(*again->protoBuffer()), hex(*full->protoBuffer())) << "seed " << seed << " round " << round;
    }
    EXPECT_GT(refused, 100);
}

TEST(APMPBCodec, EncodedItemsAreCheckedWhenSet) {
    auto item = nestedSample();
    const NSData itemWire = *item->protoBuffer();
    auto byRecord = T::make();
    APMPBMessageSetArray(byRecord, T::kRepeatedMessage, Value::Array{Value(item), Value(T::make())});
    auto byBytes = T::make();
    EXPECT_TRUE(APMPBMessageSetEncodedArray(byBytes, T::kRepeatedMessage, {itemWire, NSData{}}));
    EXPECT_EQ(hex(*byBytes->protoBuffer()), hex(*byRecord->protoBuffer()));
    ASSERT_EQ(APMPBMessageGetArray<T>(byBytes, T::kRepeatedMessage)->size(), 2u);

    // Bytes that are not the field's message leave it empty; so do fields that take no messages.
    CaptureStdout();
    EXPECT_FALSE(APMPBMessageSetEncodedArray(byBytes, T::kRepeatedMessage, {itemWire, bytes({0x0A, 0x05, 'a'})}));
    EXPECT_TRUE(APMPBMessageGetArray<T>(byBytes, T::kRepeatedMessage)->empty());
    EXPECT_FALSE(APMPBMessageSetEncodedArray(byBytes, T::kRepeatedString, {itemWire}));
    EXPECT_FALSE(APMPBMessageSetEncodedArray(byBytes, T::kMessage, {itemWire}));
    EXPECT_FALSE(APMPBMessageSetEncodedArray(nullptr, T::kRepeatedMessage, {itemWire}));
    GetCapturedStdout();
    EXPECT_EQ(hex(*byBytes->protoBuffer()), "");
}

// Every nested length is written after its body; bodies around each change of the length's
// varint width, three levels deep, come out as the wire lays them down by hand.
TEST(APMPBCodec, NestedLengthsOfEveryWidthAreWrittenExactly) {
    using prototest::append;
    using prototest::lengthDelimited;
    // Each level adds at most 32 bytes around the string, so each crosses an edge in its window;
    // at the widest edge, only each side of it.
    constexpr std::size_t kWidest = std::size_t{1} << 21;
    std::vector<std::size_t> sizes = {kWidest - 40, kWidest};
    for (const std::size_t edge : {std::size_t{0}, std::size_t{1} << 7, std::size_t{1} << 14}) {
        for (std::size_t k = edge >= 32 ? edge - 32 : 0; k <= edge + 2; ++k) sizes.push_back(k);
    }
    for (const std::size_t size : sizes) {
        const std::string text(size, static_cast<char>('a' + size % 26));
        auto inner = APMPBEventParam::make();
        APMPBMessageSetString(inner, APMPBEventParam::kName, text);
        auto outer = APMPBEventParam::make();
        APMPBMessageSetArray(outer, APMPBEventParam::kParamValue, Value::Array{Value(inner)});
        APMPBMessageSetInt64(outer, APMPBEventParam::kIntValue, -1);
        auto event = APMPBEvent::make();
        // Items of one list whose lengths change width from one to the next.
        APMPBMessageSetArray(event, APMPBEvent::kParams,
                             Value::Array{Value(outer), Value(APMPBEventParam::make()), Value(outer)});
        APMPBMessageSetString(event, APMPBEvent::kName, "e");
        auto bundle = APMPBMeasurementBundle::make();
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, Value::Array{Value(event)});
        APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kProtocolVersion, 1);

        const NSData innerBody = lengthDelimited(1, NSData(text.begin(), text.end()));
        const NSData outerBody = append(bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
                                        lengthDelimited(6, innerBody));
        NSData eventBody = append(lengthDelimited(1, outerBody), lengthDelimited(1, {}));
        eventBody = append(append(eventBody, lengthDelimited(1, outerBody)), lengthDelimited(2, bytes({'e'})));
        const NSData expected = append(bytes({0x08, 0x01}), lengthDelimited(2, eventBody));

        const auto encoded = bundle->protoBuffer();
        ASSERT_TRUE(encoded.has_value()) << size;
        ASSERT_EQ(*encoded, expected) << "string of " << size << " bytes";
        if (size > APMPBMaxStringLength) continue;
        auto decoded = APMPBMeasurementBundle::initWithBuffer(expected);
        ASSERT_NE(decoded, nullptr) << size;
        EXPECT_EQ(*decoded->protoBuffer(), expected) << "decoded, string of " << size << " bytes";
    }
}
