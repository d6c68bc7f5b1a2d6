// Events as they are made: parameters sanitised under the public or internal rules with the
// first failure recorded, arrays only as ecommerce items, the public-parameter limit, the
// value-and-currency rule, the flags in parameters, defaults and screen parameters, the
// message form, and the counters' wrap.
#include "analytics/core/APMEvent.h"

#include "LogCapture.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::shared_ptr<APMValue> param(const std::shared_ptr<APMEvent>& event, const std::string& name) {
    return event->parameters().get(name).objectAs<APMValue>();
}
std::int64_t intParam(const std::shared_ptr<APMEvent>& event, const std::string& name) {
    auto value = param(event, name);
    return value && value->isInt64() ? value->int64Value() : -1;
}
std::string stringParam(const std::shared_ptr<APMEvent>& event, const std::string& name) {
    auto value = param(event, name);
    return value && value->isString() ? *value->stringValue() : "<none>";
}
Value items(std::size_t count, const Value::Dictionary& item) {
    return Value(Value::Array(count, Value(item)));
}

class APMEventTest : public testing::Test {
protected:
    void TearDown() override { APMSetMaxPublicEventParamsProvider(nullptr); }
};

TEST_F(APMEventTest, NamesAndOriginsDecideWhetherThereIsAnEvent) {
    EXPECT_EQ(APMEvent::initWithOrigin("app", true, "error", 1, 0, {}), nullptr);
    EXPECT_NE(APMEvent::initWithOrigin("app", true, "screen_view", 1, 0, {}), nullptr);
    EXPECT_NE(APMEvent::initWithOrigin("app", true, "ad_impression", 1, 0, {}), nullptr);
    EXPECT_EQ(APMEvent::initWithOrigin("app", true, "_vs", 1, 0, {}), nullptr);
    EXPECT_NE(APMEvent::initWithOrigin("auto", false, "_vs", 1, 0, {}), nullptr);
    EXPECT_EQ(APMEvent::initWithOrigin("bad origin", false, "_vs", 1, 0, {}), nullptr);
    auto forwarded = APMEvent::initWithOrigin("app+gtm", true, "level_up", 5, 0, {});
    ASSERT_NE(forwarded, nullptr);
    EXPECT_EQ(stringParam(forwarded, "_o"), "app+gtm");
    // A previous time after the time is only worth a (silent) note.
    EXPECT_NE(APMEvent::initWithOrigin("app", false, "_e", 1, 2, {}), nullptr);
}

// The message carries the time in int64 milliseconds: a time whose milliseconds an int64 cannot
// hold is no event, and no time is cast beyond that range when encoded (the sanitized build's
// float-cast check fails one that is).
TEST_F(APMEventTest, ATimeWhoseMillisecondsAreNoInt64IsNoEvent) {
    const double infinity = std::numeric_limits<double>::infinity();
    auto fits = [](double time) { return time * 1000.0 >= -0x1p63 && time * 1000.0 < 0x1p63; };
    // The times farthest from 1970 either way whose milliseconds fit (the earlier one, before
    // 1970, is no event all the same).
    auto farthest = [&](double toward) {
        double time = std::copysign(0x1p63, toward) / 1000.0;
        while (!fits(time)) time = std::nextafter(time, 0.0);
        while (fits(std::nextafter(time, toward))) time = std::nextafter(time, toward);
        return time;
    };
    const double greatest = farthest(infinity);
    const double least = farthest(-infinity);
    for (double time : {greatest, 1.5}) {
        auto event = APMEvent::initWithOrigin("app", false, "made", time, 0, {});
        ASSERT_NE(event, nullptr) << time;
        EXPECT_EQ(APMPBMessageGetInt64(event->protoEvent(), APMPBEvent::kTimestampMillis),
                  static_cast<std::int64_t>(time * 1000.0));
        EXPECT_EQ(event->encodedProtoEvent(true), *event->protoEvent()->protoBuffer());
    }
    LogCapture capture;
    for (double time : {std::nextafter(greatest, infinity), least, std::nextafter(least, -infinity), 9.3e15, 1e300,
                        infinity, -infinity, std::numeric_limits<double>::quiet_NaN()}) {
        auto event = APMEvent::initWithOrigin("app", false, "made", time, 0, {});
        EXPECT_EQ(event, nullptr) << time;
        if (event) (void)event->encodedProtoEvent(true);
    }
    const auto refused = capture.matching("Event not created. Timestamp out of range. Event name, timestamp");
    ASSERT_EQ(refused.size(), 8u);
    EXPECT_NE(refused[0].find("I-ACS016008"), std::string::npos) << refused[0];
    EXPECT_NE(refused[0].find("made"), std::string::npos) << refused[0];

    // A previous time is not refused (it comes back from stored rows): beyond the range it is
    // carried as the range's end, never cast past it.
    for (double previous : {0x1p63 / 1000.0, 1e300, infinity}) {
        auto event = APMEvent::initWithOrigin("app", false, "made", 1, previous, {});
        ASSERT_NE(event, nullptr) << previous;
        EXPECT_EQ(APMPBMessageGetInt64(event->protoEvent(), APMPBEvent::kPreviousTimestampMillis), INT64_MAX);
        EXPECT_EQ(event->encodedProtoEvent(true), *event->protoEvent()->protoBuffer());
    }
}

// A bundle needs an end time of 1 ms or more: an event whose time is not after 1970 by at least
// a millisecond (zero, negative, or a fraction of a millisecond) is no event either.
TEST_F(APMEventTest, ATimeNotAfter1970IsNoEvent) {
    LogCapture capture;
    for (double time : {0.0, -0.0, -5.0, -1.5, 0.0009}) {
        EXPECT_EQ(APMEvent::initWithOrigin("app", false, "made", time, 0, {}), nullptr) << time;
        EXPECT_EQ(APMEvent::initWithOrigin("app", true, "made", time, 0, {}), nullptr) << time;
    }
    EXPECT_EQ(capture.matching("[I-ACS016008] Event not created. Timestamp out of range.").size(), 10u);
    auto first = APMEvent::initWithOrigin("app", false, "made", 0.001, 0, {});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(APMPBMessageGetInt64(first->protoEvent(), APMPBEvent::kTimestampMillis), 1);
    // An event made from its message keeps the rule.
    auto proto = first->protoEvent();
    APMPBMessageSetInt64(proto, APMPBEvent::kTimestampMillis, 0);
    EXPECT_EQ(APMEvent::initWithEventProto(proto), nullptr);
    APMPBMessageSetInt64(proto, APMPBEvent::kTimestampMillis, 1);
    EXPECT_NE(APMEvent::initWithEventProto(proto), nullptr);

    // An event a conditional user property carries is logged later at another time: its own
    // time need only fit the message, and its copies keep it.
    capture.clear();
    for (double time : {0.0, -5.0, -1.5}) {
        auto carried = APMEvent::initWithOrigin("app", false, "made", time, 0, {}, APMEvent::Time::Carried);
        ASSERT_NE(carried, nullptr) << time;
        EXPECT_EQ(carried->timestamp(), time);
        ASSERT_NE(carried->copy(), nullptr) << time;
        EXPECT_EQ(carried->copy()->timestamp(), time);
        auto back = APMEvent::initWithEventProto(carried->protoEvent(), APMEvent::Time::Carried);
        ASSERT_NE(back, nullptr) << time;
        EXPECT_EQ(back->timestamp(), time);
    }
    EXPECT_TRUE(capture.matching("[I-ACS016008]").empty());
    EXPECT_EQ(APMEvent::initWithOrigin("app", false, "made", 1e300, 0, {}, APMEvent::Time::Carried), nullptr);
}

TEST_F(APMEventTest, InvalidParametersAreDroppedAndTheFirstFailureRecorded) {
    LogCapture capture;
    // A value too long for a public parameter.
    auto event = APMEvent::initWithOrigin("app", true, "level_up", 1, 0,
                                          {{"level", Value(7)}, {"note", Value(std::string(101, 'n'))}});
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(intParam(event, "level"), 7);
    EXPECT_FALSE(event->parameters().contains("note"));
    EXPECT_EQ(intParam(event, "_err"), 4);
    EXPECT_EQ(stringParam(event, "_ev"), "note");
    EXPECT_EQ(intParam(event, "_el"), 101);

    // Only the first failure is recorded; the rest are only dropped.
    event = APMEvent::initWithOrigin("app", true, "level_up", 1, 0,
                                     {{"va_score", Value(1)}, {"9lives", Value(2)}, {"ok", Value(3.5)},
                                      {"flag", Value(true)}, {"nested", Value(Value::Dictionary{{"a", Value(1)}})}});
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(intParam(event, "_err"), 14);
    EXPECT_EQ(stringParam(event, "_ev"), "va_score");
    EXPECT_FALSE(event->parameters().contains("_el"));
    EXPECT_EQ(event->parameters().keys(), (std::vector<std::string>{"ok", "flag", "_err", "_ev", "_o"}));
    EXPECT_TRUE(param(event, "ok")->isDouble());
    EXPECT_EQ(intParam(event, "flag"), 1);
    EXPECT_FALSE(event->parameters().contains("nested"));
    EXPECT_TRUE(capture.contains("[I-ACS018015] Event parameter value must be of type NSString, NSNumber or NSArray"));

    // A name of 41 units is recorded with its length; an internal event keeps names with "_".
    const std::string longName(41, 'p');
    event = APMEvent::initWithOrigin("auto", false, "_e", 1, 0, {{longName, Value(1)}, {"_et", Value(30)}});
    EXPECT_EQ(intParam(event, "_err"), 3);
    EXPECT_EQ(stringParam(event, "_ev"), std::string(40, 'p') + "...");
    EXPECT_EQ(intParam(event, "_el"), 41);
    EXPECT_EQ(intParam(event, "_et"), 30);

    // An internal event takes strings up to 256.
    event = APMEvent::initWithOrigin("auto", false, "_e", 1, 0,
                                     {{"a", Value(std::string(256, 'a'))}, {"b", Value(std::string(257, 'b'))}});
    EXPECT_TRUE(event->parameters().contains("a"));
    EXPECT_FALSE(event->parameters().contains("b"));
    EXPECT_EQ(intParam(event, "_el"), 257);
}

TEST_F(APMEventTest, FailureValuesAreCutOnceAndSurviveStorage) {
    const std::string long300(300, 'x');
    auto event = APMEvent::initWithOrigin("auto", false, "_err", 1, 0, {{"_err", Value(4)}, {"_ev", Value(long300)}});
    ASSERT_NE(event, nullptr);
    const std::string cut = stringParam(event, "_ev");
    EXPECT_EQ(cut, std::string(256, 'x') + "...");
    // Read back from its message, the cut value is kept as it is.
    auto back = APMEvent::initWithEventProto(event->protoEvent());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(stringParam(back, "_ev"), cut);
    EXPECT_EQ(intParam(back, "_err"), 4);
}

TEST_F(APMEventTest, PublicParametersBeyondTheLimitGoLastInSortedOrder) {
    Value::Dictionary parameters;
    for (int i = 0; i < 30; ++i) parameters.set("p" + std::string(i < 10 ? "0" : "") + std::to_string(i), Value(i));
    parameters.set("_internal", Value(1));
    auto event = APMEvent::initWithOrigin("app", false, "level_up", 1, 0, parameters);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMCountPublicParameters(event->parameters(), false), 25);
    for (int i = 25; i < 30; ++i) EXPECT_FALSE(event->parameters().contains("p" + std::to_string(i)));
    EXPECT_TRUE(event->parameters().contains("p24"));
    EXPECT_TRUE(event->parameters().contains("_internal"));
    EXPECT_EQ(intParam(event, "_err"), 5);

    // The limit is the remote configuration's.
    APMSetMaxPublicEventParamsProvider([] { return std::int64_t{10}; });
    event = APMEvent::initWithOrigin("app", false, "level_up", 1, 0, parameters);
    EXPECT_EQ(APMCountPublicParameters(event->parameters(), false), 10);
    EXPECT_TRUE(event->parameters().contains("p09"));
    EXPECT_FALSE(event->parameters().contains("p10"));
}

TEST_F(APMEventTest, ArraysAreOnlyTheItemsOfEcommerceEvents) {
    LogCapture capture;
    const Value::Dictionary item{{"item_id", Value("sku")}, {"price", Value(9.5)}};
    auto purchase = APMEvent::initWithOrigin("app", true, "purchase", 1, 0, {{"items", items(250, item)}});
    ASSERT_NE(purchase, nullptr);
    ASSERT_TRUE(param(purchase, "items") && param(purchase, "items")->isArray());
    EXPECT_EQ(APMCountArrayParameterItems(*purchase), 200);
    EXPECT_EQ(intParam(purchase, "_err"), 17);
    EXPECT_EQ(stringParam(purchase, "_ev"), "items");
    // Items hold typed values.
    const Value& first = param(purchase, "items")->arrayValue()->front();
    EXPECT_TRUE(first["price"].objectAs<APMValue>()->isDouble());

    auto levelUp = APMEvent::initWithOrigin("app", true, "level_up", 1, 0, {{"items", items(2, item)}});
    EXPECT_FALSE(levelUp->parameters().contains("items"));
    EXPECT_EQ(intParam(levelUp, "_err"), 21);
    EXPECT_EQ(stringParam(levelUp, "_ev"), "level_up");

    auto misnamed = APMEvent::initWithOrigin("app", true, "purchase", 1, 0, {{"lines", items(2, item)}});
    EXPECT_EQ(intParam(misnamed, "_err"), 20);
    EXPECT_EQ(stringParam(misnamed, "_ev"), "lines");

    // Custom parameters leave an item, which says so; ecommerce names stay. A nested array and
    // an item that is not a dictionary go too.
    Value::Array mixed{Value(Value::Dictionary{{"item_id", Value("a")}, {"colour", Value("red")}}),
                       Value(Value::Dictionary{{"item_id", Value("b")}, {"items", items(1, item)}}), Value("loose")};
    auto cart = APMEvent::initWithOrigin("app", true, "add_to_cart", 1, 0, {{"items", Value(mixed)}});
    ASSERT_NE(cart, nullptr);
    const Value::Array& kept = *param(cart, "items")->arrayValue();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_TRUE(kept[0].dictionary().contains("item_id"));
    EXPECT_FALSE(kept[0].dictionary().contains("colour"));
    EXPECT_EQ(kept[0]["_err"].objectAs<APMValue>()->int64Value(), 23);
    EXPECT_FALSE(kept[1].dictionary().contains("items"));
    EXPECT_EQ(kept[1]["_err"].objectAs<APMValue>()->int64Value(), 22);
    EXPECT_EQ(intParam(cart, "_err"), 4);
    EXPECT_EQ(stringParam(cart, "_ev"), "items[2]");
    EXPECT_TRUE(capture.contains("[I-ACS018016] Item cannot contain custom parameters"));

    // Items travel one level deep in the message; reading a message back keeps plain values only.
    auto proto = cart->protoEvent();
    bool sawItems = false;
    for (const Value& entry : APMPBMessageGetArray<APMPBEventParam>(proto, APMPBEvent::kParams).value_or(Value::Array{})) {
        auto message = entry.objectAs<APMPBEventParam>();
        if (APMPBMessageGetString(message, APMPBEventParam::kName) != std::optional<std::string>("items")) continue;
        sawItems = true;
        EXPECT_EQ(APMPBMessageGetArray<APMPBEventParam>(message, APMPBEventParam::kParamValue)->size(), 2u);
    }
    EXPECT_TRUE(sawItems);
    auto back = APMEvent::initWithEventProto(proto);
    ASSERT_NE(back, nullptr);
    EXPECT_FALSE(back->parameters().contains("items"));
    EXPECT_EQ(intParam(back, "_err"), 4);
}

// Stored events are written straight to their bytes; they must be the bytes of the message form,
// whatever the parameters hold: every kind of value, long texts and bodies whose lengths take
// more than one byte, items, and the values the message form leaves out.
TEST_F(APMEventTest, TheStoredBytesAreTheMessageFormsBytes) {
    const Value::Dictionary item{{"item_id", Value(std::string(150, 'i'))}, {"price", Value(-9.5)}, {"quantity", Value(-3)}};
    auto purchase = APMEvent::initWithOrigin(
        "app", true, "purchase", 1700000000.123, 1699999999.5,
        {{"items", items(3, item)}, {"currency", Value("EUR")}, {"value", Value(12.25)}, {"empty", Value("")},
         {"big", Value(std::numeric_limits<long long>::max())}, {"small", Value(std::numeric_limits<long long>::min())}});
    ASSERT_NE(purchase, nullptr);
    auto plain = APMEvent::initWithOrigin("auto", false, "_e", 5, 0, {});
    ASSERT_NE(plain, nullptr);
    // Made directly, past the checks: a value that is not typed, and items nested twice.
    Value::Array nestedItems{Value(Value::Dictionary{{"inner", Value(APMValue::initWithArray(items(1, {})))},
                                                     {"kept", Value(APMValue::initWithInt64(1))}})};
    auto odd = std::make_shared<APMEvent>(
        "app", "odd", 3, 0,
        Value::Dictionary{{"untyped", Value("raw")}, {"items", Value(APMValue::initWithArray(Value(nestedItems)))}});
    for (const auto& event : {purchase, plain, odd}) {
        auto message = event->protoEvent();
        EXPECT_EQ(event->encodedProtoEvent(true), *message->protoBuffer()) << event->name();
        APMPBMessageClearField(message, APMPBEvent::kName);
        EXPECT_EQ(event->encodedProtoEvent(false), *message->protoBuffer()) << event->name();
    }
    // The untyped value and the twice-nested items are left out of both.
    EXPECT_LT(odd->encodedProtoEvent(true).size(), 40u);
}

TEST_F(APMEventTest, ConversionsNeedAValueWithACurrency) {
    LogCapture capture;
    auto bad = APMEvent::initWithOrigin("app", false, "purchase", 1, 0,
                                        {{"_c", Value(1)}, {"value", Value(9.99)}, {"currency", Value("us")}});
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(bad->isConversion());
    EXPECT_FALSE(bad->parameters().contains("value"));
    EXPECT_EQ(intParam(bad, "_err"), 19);
    EXPECT_EQ(stringParam(bad, "_ev"), "currency");
    EXPECT_TRUE(capture.contains("[I-ACS018014] Value parameter discarded."));

    auto notNumeric = APMEvent::initWithOrigin("app", false, "ad_impression", 1, 0, {{"value", Value("ten")}});
    EXPECT_FALSE(notNumeric->parameters().contains("value"));
    EXPECT_EQ(intParam(notNumeric, "_err"), 18);

    auto good = APMEvent::initWithOrigin("app", false, "purchase", 1, 0,
                                         {{"value", Value(9.99)}, {"currency", Value("usd")}});
    EXPECT_FALSE(good->isConversion());
    good->setConversion(true);
    EXPECT_TRUE(good->isConversion());
    // Clearing records why, and setting it again clears that record.
    good->setConversion(false);
    EXPECT_FALSE(good->isConversion());
    EXPECT_EQ(intParam(good, "_err"), 10);
    good->setConversion(true);
    EXPECT_TRUE(good->isConversion());
    EXPECT_FALSE(good->parameters().contains("_err"));

    auto noCurrency = APMEvent::initWithOrigin("app", false, "refund", 1, 0, {{"value", Value(1)}});
    noCurrency->setConversion(true);
    EXPECT_FALSE(noCurrency->isConversion());
    EXPECT_EQ(intParam(noCurrency, "_err"), 19);
}

TEST_F(APMEventTest, FlagsDefaultsAndScreenParameters) {
    LogCapture capture;
    auto event = APMEvent::initWithOrigin("app", false, "level_up", 1, 0, {{"level", Value(3)}});
    event->setRealtime(true);
    event->setDebug(true);
    EXPECT_TRUE(event->isRealtime());
    EXPECT_TRUE(event->isDebug());
    event->setRealtime(false);
    EXPECT_FALSE(event->parameters().contains("_r"));
    auto oddFlag = APMEvent::initWithOrigin("app", false, "level_up", 1, 0, {{"_r", Value("yes")}});
    EXPECT_FALSE(oddFlag->isRealtime());

    // Defaults go under the event's own parameters; invalid ones are dropped as public ones.
    event->applyParameters({{"level", Value(99)}, {"mode", Value("hard")}, {"_private", Value(1)}});
    EXPECT_EQ(intParam(event, "level"), 3);
    EXPECT_EQ(stringParam(event, "mode"), "hard");
    EXPECT_FALSE(event->parameters().contains("_private"));

    // Screen parameters: once, complete and valid.
    EXPECT_FALSE(event->addScreenParameters({{"_sn", Value("Home")}}));
    EXPECT_FALSE(event->addScreenParameters({{"_si", Value(5)}, {"_sc", Value(std::string(101, 'c'))}}));
    EXPECT_TRUE(capture.contains("[I-ACS016003] Received invalid screen class"));
    EXPECT_FALSE(APMHasScreenParameters(event->parameters()));
    EXPECT_TRUE(event->addScreenParameters(
        {{"_si", Value(APMValue::initWithInt64(5))}, {"_sn", Value(APMValue::initWithString(Value("Home")))}}));
    EXPECT_EQ(intParam(event, "_si"), 5);
    EXPECT_EQ(stringParam(event, "_sn"), "Home");
    EXPECT_EQ(APMScreenParametersFromParameters(event->parameters()).size(), 2u);
    EXPECT_FALSE(event->addScreenParameters({{"_si", Value(6)}}));
    EXPECT_EQ(intParam(event, "_si"), 5);

    // Copies are internal events: parameters sanitised again, times replaced as asked.
    auto copy = event->copyWithPreviousTimestamp(0.5);
    EXPECT_EQ(copy->previousTimestamp(), 0.5);
    EXPECT_EQ(copy->parameters(), event->parameters());
    auto replaced = event->copyWithParameters({{"_x", Value(1)}});
    EXPECT_EQ(intParam(replaced, "_x"), 1);
    EXPECT_EQ(stringParam(replaced, "_o"), "app");

    EXPECT_TRUE(APMIsSubscriptionEvent(*APMEvent::initWithOrigin("auto", false, "_assr", 1, 0, {})));
    EXPECT_TRUE(APMIsSubscriptionEvent(*APMEvent::initWithOrigin("auto", false, "_iap", 1, 0, {{"subscription", Value(1)}})));
    EXPECT_FALSE(APMIsSubscriptionEvent(*APMEvent::initWithOrigin("auto", false, "_iap", 1, 0, {})));
    EXPECT_TRUE(APMIsErrorEvent(*APMEvent::initWithOrigin("auto", false, "_err", 1, 0, {})));
}

TEST_F(APMEventTest, CountersWrapToZeroAtTheLargestInt32) {
    const std::int32_t max = std::numeric_limits<std::int32_t>::max();
    auto aggregates = APMEventAggregates::initWithName("_e", max, max - 1, 0, 1);
    ASSERT_NE(aggregates, nullptr);
    aggregates->incrementLifetimeCount();
    aggregates->incrementCurrentBundleCount();
    EXPECT_EQ(aggregates->lifetimeCount(), 0);
    EXPECT_EQ(aggregates->currentBundleCount(), max);
    EXPECT_EQ(aggregates->lastSamplingRate(), 1);
    EXPECT_EQ(APMEventAggregates::initWithName("_e", -1, 0, 0, 1), nullptr);
    EXPECT_EQ(APMEventAggregates::initWithName("not valid", 0, 0, 0, 1), nullptr);
}

}  // namespace
