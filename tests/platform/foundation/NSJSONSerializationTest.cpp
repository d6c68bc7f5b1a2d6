// JSON: strict reading into Value (numbers keep their kind, keys their order), errors on
// malformed text, and writing with the platform's layout and refusals.
#include "platform/foundation/NSJSONSerialization.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

NSData bytes(std::string_view s) { return NSData(s.begin(), s.end()); }
std::string text(const NSData& d) { return std::string(d.begin(), d.end()); }

Value parse(std::string_view json, NSErrorPtr* error = nullptr, unsigned options = 0) {
    return NSJSONSerialization::JSONObjectWithData(bytes(json), options, error);
}

TEST(NSJSONReading, NumbersKeepTheirKind) {
    const Value v = parse(R"([1, -2, 3.5, 1e2, 18446744073709551615, 9223372036854775807, -0.5e-3, true, null, "s"])");
    ASSERT_EQ(v.count(), 10u);
    EXPECT_EQ(v[0].type(), Value::Type::Integer);
    EXPECT_EQ(v[1].integerValue(), -2);
    EXPECT_EQ(v[2].type(), Value::Type::Double);
    EXPECT_EQ(v[3].type(), Value::Type::Double);
    EXPECT_DOUBLE_EQ(v[3].doubleValue(), 100);
    EXPECT_EQ(v[4].type(), Value::Type::Unsigned);
    EXPECT_EQ(v[4].unsignedLongLongValue(), 18446744073709551615ULL);
    EXPECT_EQ(v[5].type(), Value::Type::Integer);
    EXPECT_DOUBLE_EQ(v[6].doubleValue(), -0.0005);
    EXPECT_TRUE(v[7].isBool());
    EXPECT_TRUE(v[8].isNull());
    EXPECT_EQ(v[9].string(), "s");
}

TEST(NSJSONReading, ObjectsKeepKeyOrderAndNesting) {
    NSErrorPtr error;
    const Value v = parse(R"({"zeta": {"b": [1, {"deep": "\u00e9\ud83d\ude00"}]}, "alpha": 2, "alpha": 3, "mid": {}})", &error);
    ASSERT_FALSE(error);
    EXPECT_EQ(v.dictionary().keys(), (std::vector<std::string>{"zeta", "alpha", "mid"}));
    EXPECT_EQ(v["alpha"].integerValue(), 3);  // the last duplicate wins
    EXPECT_EQ(v["zeta"]["b"][1]["deep"].string(), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_TRUE(v["mid"].isDictionary());
}

TEST(NSJSONReading, MalformedTextIsAnError) {
    const char* bad[] = {"",       "{",        "[1,]",        "{\"a\":1,}", "[1] x",     "{'a':1}", "[01]",
                         "[NaN]",  "[\"\\x\"]", "[\"\x01\"]", "[\"\xC3\"]",  "[\"\\ud800\"]", "{1:2}",   "nul"};
    for (const char* json : bad) {
        NSErrorPtr error;
        const Value v = parse(json, &error);
        EXPECT_TRUE(v.isNull()) << json;
        ASSERT_TRUE(error) << json;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), NSPropertyListReadCorruptError);
        EXPECT_FALSE(error->userInfo().get("NSDebugDescription").string().empty()) << json;
    }
    NSErrorPtr error;
    parse("[1, 2", &error);
    EXPECT_NE(error->userInfo().get("NSDebugDescription").string().find("column"), std::string::npos);
}

TEST(NSJSONReading, FragmentsNeedTheOption) {
    NSErrorPtr error;
    EXPECT_TRUE(parse("42", &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), NSPropertyListReadCorruptError);
    error.reset();
    EXPECT_EQ(parse("42", &error, NSJSONReadingFragmentsAllowed).integerValue(), 42);
    EXPECT_EQ(parse("\"s\"", &error, NSJSONReadingFragmentsAllowed).string(), "s");
    EXPECT_FALSE(error);
}

TEST(NSJSONReading, DeepNestingIsRefusedNotOverflowed) {
    NSErrorPtr error;
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_TRUE(parse(deep, &error).isNull());
    ASSERT_TRUE(error);
    const std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(parse(fine).isArray());
}

TEST(NSJSONWriting, CompactPrettyAndSorted) {
    const Value v = Value::Dictionary{{"b", Value::Array{1, 2.5, true, Value()}}, {"a", "x/y \"q\"\n\x01"}, {"c", Value::Array{}}};
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(v)),
              R"({"b":[1,2.5,true,null],"a":"x\/y \"q\"\n\u0001","c":[]})");
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(v, NSJSONWritingSortedKeys | NSJSONWritingWithoutEscapingSlashes)),
              R"({"a":"x/y \"q\"\n\u0001","b":[1,2.5,true,null],"c":[]})");
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(Value::Dictionary{{"k", Value::Array{1, "\xC3\xA9"}}}, true)),
              "{\n  \"k\" : [\n    1,\n    \"\xC3\xA9\"\n  ]\n}");
}

TEST(NSJSONWriting, RoundTripKeepsValuesAndOrder) {
    const Value v = Value::Dictionary{
        {"int", -7}, {"big", 18446744073709551615ULL}, {"pi", 3.141592653589793}, {"tiny", 1e-300},
        {"text", "\xF0\x9F\x98\x80 \\ /"}, {"list", Value::Array{Value::Dictionary{{"z", 1}, {"a", 2}}, false}},
    };
    NSErrorPtr error;
    const Value back = NSJSONSerialization::JSONObjectWithData(NSJSONSerialization::dataWithJSONObject(v, 0, &error), &error);
    ASSERT_FALSE(error);
    EXPECT_EQ(back, v);
    EXPECT_EQ(back["big"].type(), Value::Type::Unsigned);
    EXPECT_EQ(back["pi"].type(), Value::Type::Double);
    EXPECT_EQ(back["list"][0].dictionary().keys(), (std::vector<std::string>{"z", "a"}));
}

// Whole doubles between 2^53 and 10^17 are written with their own digits: the shortest digits
// padded with zeros would read back as another integer.
TEST(NSJSONWriting, LargeWholeDoublesReadBackAsTheSameNumber) {
    for (const double d : {88888088888888896.0, -9007199254740994.0, 1e16, 9007199254740992.0}) {
        const NSData written = NSJSONSerialization::dataWithJSONObject(Value(d), NSJSONWritingFragmentsAllowed);
        NSErrorPtr error;
        const Value back = NSJSONSerialization::JSONObjectWithData(written, NSJSONReadingFragmentsAllowed, &error);
        EXPECT_EQ(back, Value(d)) << text(written);
    }
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(Value(88888088888888896.0), NSJSONWritingFragmentsAllowed)),
              "88888088888888896");
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(Value(1e17), NSJSONWritingFragmentsAllowed)), "1e+17");
}

TEST(NSJSONWriting, UnrepresentableValuesAreErrors) {
    const Value cases[] = {
        Value::Array{NSDate{0}},          Value::Array{NSData{1}},
        Value::Array{std::nan("")},       Value::Dictionary{{"x", HUGE_VAL}},
        Value::Array{std::make_shared<NSObject>()}, Value::Array{std::string("\xFF")},
        Value(5),
    };
    for (const Value& v : cases) {
        NSErrorPtr error;
        EXPECT_TRUE(NSJSONSerialization::dataWithJSONObject(v, 0, &error).empty()) << v.description();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_FALSE(NSJSONSerialization::isValidJSONObject(v));
    }
    EXPECT_TRUE(NSJSONSerialization::isValidJSONObject(Value::Dictionary{{"a", Value::Array{1, "b", Value()}}}));
    EXPECT_EQ(text(NSJSONSerialization::dataWithJSONObject(Value(5), NSJSONWritingFragmentsAllowed)), "5");
}

}  // namespace
