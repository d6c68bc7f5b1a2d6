// Raw events read for bundling: the stored form is kept only for the event's own bytes, and
// whatever a row holds, what is read and written is what the event made from it reads and writes.
#include "analytics/core/APMRawEventData.h"
#include "analytics/core/APMStoredEvent.h"
#include "analytics/proto/APMPBWire.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>

namespace {

class APMStoredEventTest : public APMDatabaseTestBase {
protected:
    static APMDatabase::Row row(const std::string& name, const NSData& data, double timestamp = kNow - 60) {
        return APMDatabase::Row{{"rowid", Value(7LL)},
                                {"name", Value(name)},
                                {"timestamp", Value(timestamp)},
                                {"metadata_fingerprint", Value(42LL)},
                                {"data", Value(data)},
                                {"is_realtime", Value(0)}};
    }
    static APMDatabase::Row row(const std::shared_ptr<APMEvent>& event) {
        return row(event->name(), event->encodedProtoEvent(false), event->timestamp());
    }

    static std::string hex(const std::optional<NSData>& bytes) {
        if (!bytes) return "<none>";
        std::string out;
        for (std::uint8_t byte : *bytes) out += "0123456789abcdef"[byte >> 4], out += "0123456789abcdef"[byte & 15];
        return out;
    }

    // Reads the row both ways and checks that they agree; the stored event, or nil when neither reads it.
    std::shared_ptr<APMStoredEvent> readAgreeing(const APMDatabase::Row& stored, const std::string& context) {
        NSErrorPtr referenceError;
        NSErrorPtr storedError;
        auto reference = database_->rawEventDataFromDictionary(stored, &referenceError);
        auto event = APMStoredEvent::fromRow(*database_, stored, &storedError);
        EXPECT_EQ(reference == nullptr, event == nullptr) << context;
        if (!reference || !event) {
            EXPECT_EQ(referenceError == nullptr, storedError == nullptr) << context;
            return nullptr;
        }
        const APMEvent& made = *reference->rawEvent();
        EXPECT_EQ(event->name(), made.name()) << context;
        EXPECT_EQ(event->timestamp(), made.timestamp()) << context;
        EXPECT_EQ(event->rowID(), reference->rowID()) << context;
        EXPECT_EQ(event->metadataFingerprint(), reference->metadataFingerprint()) << context;
        for (const char* name : {"_et", "_fr", "_r", "_c", "_o", "_si"}) {
            auto value = made.parameters().get(name).objectAs<APMValue>();
            EXPECT_EQ(event->hasParameter(name), made.parameters().contains(name)) << context << " " << name;
            EXPECT_EQ(event->int64Parameter(name),
                      value && value->isInt64() ? std::optional<std::int64_t>(value->int64Value()) : std::nullopt)
                << context << " " << name;
        }
        for (const double previous : {0.0, made.previousTimestamp(), made.timestamp() - 5.5}) {
            APMEvent withPrevious(made.origin(), made.name(), made.timestamp(), previous, made.parameters());
            EXPECT_EQ(hex(event->encodedWithPreviousTimestamp(previous)), hex(withPrevious.encodedProtoEvent(true)))
                << context << " previous " << previous;
        }
        return event;
    }
};

TEST_F(APMStoredEventTest, TheStoredFormIsKeptForTheEventsOwnBytesAndWritesWhatTheEventWrites) {
    auto item = Value(Value::Dictionary{{"item_id", Value("a")}, {"price", Value(2.5)}, {"quantity", Value(3LL)}});
    struct Case {
        std::shared_ptr<APMEvent> event;
        bool storedForm;
    };
    std::shared_ptr<APMEvent> realtime = event("_vs", kNow - 3, {{"_si", Value(APMValue::initWithInt64(5))}});
    realtime->setRealtime(true);
    const std::vector<Case> cases = {
        {event("_vs", kNow - 10,
               {{"_si", Value(APMValue::initWithInt64(INT64_MIN))},
                {"_sc", Value(APMValue::initWithString("Gallery \xF0\x9F\x96\xBC"))},
                {"_et", Value(APMValue::initWithInt64(1250))}}),
         true},
        {event("numbers", kNow - 9,
               {{"big", Value(APMValue::initWithInt64(INT64_MAX))},
                {"tiny", Value(APMValue::initWithDouble(-5e-324))},
                {"empty", Value(APMValue::initWithString(""))}}),
         true},
        {event("bare", kNow - 8), true},
        {realtime, true},
        // Forms the event may change when made again are made at once.
        {event("list", kNow - 7, {{"items", Value(Value::Array{item, item})}}), false},
        {event("ad_impression", kNow - 6, {{"value", Value(1.5)}, {"currency", Value("EUR")}}), false},
        {event("forwarded", kNow - 5, {}, "app+gtm"), false},
        {event("long", kNow - 4, {{"text", Value(std::string(300, 'x'))}}), false},
        {event("_err", kNow - 2, {{"_ev", Value("x")}}), false},
        {APMEvent::initWithOrigin("app", false, "later", kNow - 1, kNow - 30, {}), false},
    };
    for (const auto& [made, storedForm] : cases) {
        ASSERT_NE(made, nullptr);
        auto stored = readAgreeing(row(made), made->name());
        ASSERT_NE(stored, nullptr) << made->name();
        EXPECT_EQ(stored->isStoredForm(), storedForm) << made->name();
    }

    // Reading what is there changes nothing; a change makes the event, which then writes itself.
    auto stored = APMStoredEvent::fromRow(*database_, row(realtime), nullptr);
    ASSERT_TRUE(stored->isRealtime());
    stored->setRealtime(true);
    EXPECT_TRUE(stored->isStoredForm());
    stored->rename("_vs2");
    EXPECT_TRUE(stored->isStoredForm());
    EXPECT_EQ(stored->name(), "_vs2");
    stored->setRealtime(false);
    EXPECT_FALSE(stored->isStoredForm());
    EXPECT_FALSE(stored->isRealtime());
    ASSERT_NE(stored->event(), nullptr);
    EXPECT_EQ(stored->event()->name(), "_vs2");
    EXPECT_EQ(hex(stored->encodedWithPreviousTimestamp(0)), hex(stored->event()->encodedProtoEvent(true)));
}

// Bytes that are not the event's own form: odd encodings and damage, as a disk or another
// writer may leave them. Each row is read as the event made from it reads, or dropped as it is.
TEST_F(APMStoredEventTest, DamagedOrUnusualBytesAreReadAsTheEventMadeFromThemOrDropped) {
    auto made = event("_vs", kNow - 10,
                      {{"_si", Value(APMValue::initWithInt64(-4377112298001823465LL))},
                       {"_sc", Value(APMValue::initWithString("GalleryViewController"))},
                       {"_et", Value(APMValue::initWithInt64(1250))},
                       {"_r", Value(APMValue::initWithInt64(1))}});
    const NSData good = made->encodedProtoEvent(false);
    auto param = [](const std::string& name, std::uint32_t field, std::uint64_t value) {
        NSData body;
        APMPBWire::appendBytesField(body, 1, name);
        APMPBWire::appendTag(body, field, APMPBWire::kVarint);
        APMPBWire::appendVarint(body, value);
        NSData out;
        APMPBWire::appendBytesField(out, 1, std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        return out;
    };
    auto join = [](NSData a, const NSData& b) {
        a.insert(a.begin(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::pair<std::string, NSData>> unusual = {
        {"duplicate parameter", join(good, param("_et", 3, 5))},
        {"origin of another kind", join(good, param("_o", 3, 5))},
        {"unknown field", join(good, NSData{0x38, 0x01})},
        {"previous time", [&] {
             NSData out = good;
             APMPBWire::appendInt64Field(out, 4, 1699999000000);
             return out;
         }()},
        {"overlong varint", join(good, NSData{0x0A, 0x08, 0x0A, 0x02, 'a', 'b', 0x18, 0x81, 0x80, 0x00})},
        {"invalid UTF-8", join(good, NSData{0x0A, 0x07, 0x0A, 0x01, 'a', 0x12, 0x02, 0xC3, 0x28})},
        {"empty", NSData{}},
        {"nothing readable", NSData{0xff, 0xff, 0xff}},
    };
    for (const auto& [context, bytes] : unusual) {
        auto stored = readAgreeing(row("_vs", bytes), context);
        if (stored) {
            EXPECT_FALSE(stored->isStoredForm()) << context;
        }
    }
    // Sound bytes under a time that makes no event (not after 1970, or beyond what milliseconds
    // hold) are read by neither.
    for (double time : {0.0, -5.0, 0.0004, 1e300}) {
        EXPECT_EQ(readAgreeing(row("_vs", good, time), "time " + std::to_string(time)), nullptr) << time;
    }

    const auto seed = static_cast<std::uint32_t>(std::random_device{}());
    std::cout << "seed " << seed << std::endl;
    std::mt19937 random(seed);
    int read = 0;
    int keptStored = 0;
    for (int round = 0; round < 3000; ++round) {
        NSData damaged = good;
        switch (round % 4) {
            case 0:
                damaged.resize(random() % damaged.size());
                break;
            case 1:
                damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(random() % damaged.size()),
                               static_cast<std::uint8_t>(random()));
                break;
            default:
                for (unsigned n = 1 + random() % 3; n > 0; --n) {
                    damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
                }
        }
        testing::internal::CaptureStdout();
        auto stored = readAgreeing(row("_vs", damaged), "seed " + std::to_string(seed) + " round " +
                                                            std::to_string(round) + ": " + hex(damaged));
        testing::internal::GetCapturedStdout();
        if (!stored) continue;
        ++read;
        if (stored->isStoredForm()) ++keptStored;
        if (HasFailure()) break;
    }
    // Damage mostly makes the row unreadable; some of it leaves an event, some in the stored form.
    EXPECT_GT(read, 0);
    EXPECT_GT(keptStored, 0);
}

}  // namespace
