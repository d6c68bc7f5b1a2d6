// Value: the platform's conversions, numbers that remember their kind, equality and hashing
// by value, copy-on-write containers and descriptions.
#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace {

class Tagged : public NSObject {
public:
    explicit Tagged(int tag) : tag(tag) {}
    bool isEqual(const NSObject* other) const override {
        auto* t = dynamic_cast<const Tagged*>(other);
        return t && t->tag == tag;
    }
    std::size_t hash() const override { return static_cast<std::size_t>(tag); }
    std::string description() const override { return "tagged " + std::to_string(tag); }
    int tag;
};

TEST(ValueConversions, NumericStringsReadLeadingWhitespaceSignAndDigits) {
    EXPECT_EQ(Value("42").integerValue(), 42);
    EXPECT_EQ(Value("  -42abc").intValue(), -42);
    EXPECT_EQ(Value("\t\n+7").longLongValue(), 7);
    EXPECT_EQ(Value("12.7").integerValue(), 12);
    EXPECT_DOUBLE_EQ(Value(" 12.75xyz").doubleValue(), 12.75);
    EXPECT_DOUBLE_EQ(Value("-1.5e3").doubleValue(), -1500);
    EXPECT_DOUBLE_EQ(Value(".5").doubleValue(), 0.5);
    for (const char* zero : {"", "abc", "- 5", "x12", "inf", "nan", "0x10", "+"}) {
        EXPECT_EQ(Value(zero).integerValue(), 0) << zero;
        EXPECT_EQ(Value(zero).doubleValue(), 0) << zero;
    }
}

TEST(ValueConversions, OverflowSaturatesInsteadOfWrapping) {
    EXPECT_EQ(Value("99999999999999999999").longLongValue(), LLONG_MAX);
    EXPECT_EQ(Value("-99999999999999999999").longLongValue(), LLONG_MIN);
    EXPECT_EQ(Value("-9223372036854775808").longLongValue(), LLONG_MIN);
    EXPECT_EQ(Value("3000000000").intValue(), INT_MAX);
    EXPECT_EQ(Value("-3000000000").intValue(), INT_MIN);
    EXPECT_EQ(Value("18446744073709551615").unsignedLongLongValue(), ULLONG_MAX);
    EXPECT_EQ(Value(1e300).longLongValue(), LLONG_MAX);
    EXPECT_EQ(Value(-1e300).intValue(), INT_MIN);
    EXPECT_EQ(Value(std::nan("")).integerValue(), 0);
    EXPECT_EQ(Value(-2.9).intValue(), -2);
    EXPECT_TRUE(std::isinf(Value("1e999").doubleValue()));
}

TEST(ValueConversions, BoolValueOfStringsFollowsThePlatform) {
    for (const char* yes : {"Y", "yes", "T", "true", " 1", "-5", "007", "9lives"}) EXPECT_TRUE(Value(yes).boolValue()) << yes;
    for (const char* no : {"", "0", "00", "no", "false", "0.5", "N", " "}) EXPECT_FALSE(Value(no).boolValue()) << no;
    EXPECT_TRUE(Value(0.25).boolValue());
    EXPECT_FALSE(Value(0).boolValue());
    EXPECT_FALSE(Value().boolValue());
}

TEST(ValueConversions, NumbersRememberHowTheyWereMade) {
    EXPECT_STREQ(Value(true).objCType(), "c");
    EXPECT_STREQ(Value(5).objCType(), "q");
    EXPECT_STREQ(Value(5ULL).objCType(), "Q");
    EXPECT_STREQ(Value(5.0).objCType(), "d");
    EXPECT_STREQ(Value("5").objCType(), "");
    EXPECT_TRUE(Value(2.0f).isFloatType());
    EXPECT_FALSE(Value(2).isFloatType());
    EXPECT_TRUE(Value(false).isBool());
    EXPECT_FALSE(Value(0).isBool());
    EXPECT_EQ(Value(ULLONG_MAX).unsignedLongLongValue(), ULLONG_MAX);
    EXPECT_EQ(Value(ULLONG_MAX).longLongValue(), -1);  // the platform keeps the bits
}

TEST(ValueConversions, StringValueOfNumbers) {
    EXPECT_EQ(Value(true).stringValue(), "1");
    EXPECT_EQ(Value(-12).stringValue(), "-12");
    EXPECT_EQ(Value(ULLONG_MAX).stringValue(), "18446744073709551615");
    EXPECT_EQ(Value(2.0).stringValue(), "2");
    EXPECT_EQ(Value(0.1).stringValue(), "0.1");
    EXPECT_EQ(Value(100.5).stringValue(), "100.5");
    EXPECT_EQ(Value(1.0 / 3).stringValue(), "0.3333333333333333");
    EXPECT_EQ(Value(1e20).stringValue(), "1e+20");
    EXPECT_EQ(Value(1.5e-7).stringValue(), "1.5e-07");
    EXPECT_EQ(Value(0.0001).stringValue(), "0.0001");
    EXPECT_EQ(Value(123456789012.0).stringValue(), "123456789012");
    EXPECT_EQ(Value().stringValue(), "");
    EXPECT_EQ(Value("as is").stringValue(), "as is");
}

TEST(ValueAccess, AbsentDiffersFromPresentZero) {
    Value v = Value::Dictionary{{"zero", 0}, {"list", Value::Array{1, "two"}}};
    EXPECT_TRUE(v["missing"].isNull());
    EXPECT_FALSE(v["zero"].isNull());
    EXPECT_EQ(v["zero"].integerValue(), 0);
    EXPECT_EQ(v["list"][1].string(), "two");
    EXPECT_TRUE(v["list"][7].isNull());
    EXPECT_TRUE(v["zero"]["deeper"].isNull());
    EXPECT_EQ(v.count(), 2u);
    EXPECT_EQ(Value(3).string(), "");
    EXPECT_TRUE(Value("x").array().empty());
}

TEST(ValueContainers, CopiesAreIndependentAfterWrites) {
    Value original = Value::Array{1, Value::Dictionary{{"k", "v"}}};
    Value copy = original;
    copy.mutableArray().push_back(3);
    EXPECT_EQ(original.count(), 2u);
    EXPECT_EQ(copy.count(), 3u);

    Value deep = original.deepCopy();
    deep.mutableArray()[1].mutableDictionary().set("k", "changed");
    EXPECT_EQ(original[1]["k"].string(), "v");

    Value nested = original;
    Value inner = nested[1];
    inner.mutableDictionary().set("new", true);
    EXPECT_FALSE(original[1].dictionary().contains("new"));

    Value scalar = 5;
    scalar.mutableDictionary().set("a", 1);  // a non-dictionary becomes an empty one first
    EXPECT_EQ(scalar.count(), 1u);
}

TEST(ValueContainers, DictionaryKeepsInsertionOrder) {
    Value::Dictionary d{{"zebra", 1}, {"apple", 2}, {"mango", 3}};
    d.set("apple", 20);
    d["kiwi"] = 4;
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"zebra", "apple", "mango", "kiwi"}));
    EXPECT_TRUE(d.erase("zebra"));
    EXPECT_FALSE(d.erase("zebra"));
    EXPECT_EQ(d.get("kiwi").integerValue(), 4);  // found through the rebuilt index
    EXPECT_EQ(d.get("apple").integerValue(), 20);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"apple", "mango", "kiwi"}));
    Value::Dictionary dup{{"a", 1}, {"a", 2}};
    EXPECT_EQ(dup.size(), 1u);
    EXPECT_EQ(dup.get("a").integerValue(), 2);
}

TEST(ValueEquality, NumbersCompareByValueAcrossKinds) {
    EXPECT_EQ(Value(1), Value(1.0));
    EXPECT_EQ(Value(1), Value(true));
    EXPECT_EQ(Value(1ULL), Value(1));
    EXPECT_NE(Value(1.5), Value(1));
    EXPECT_NE(Value(-1), Value(ULLONG_MAX));
    EXPECT_EQ(Value(18446744073709551615ULL), Value(18446744073709551615ULL));
    EXPECT_EQ(Value(9223372036854775808ULL), Value(9223372036854775808.0));
    EXPECT_NE(Value(LLONG_MAX), Value(9223372036854775808.0));  // no rounding of the integer
    EXPECT_EQ(Value(std::nan("")), Value(std::nan("")));
    EXPECT_NE(Value(1), Value("1"));
    EXPECT_EQ(Value(), Value(nullptr));
    EXPECT_NE(Value(), Value(0));
    EXPECT_EQ(Value(NSData{1, 2}), Value(NSData{1, 2}));
    EXPECT_EQ(Value(NSDate{5}), Value(NSDate{5}));
    EXPECT_NE(Value(NSDate{5}), Value(5));
}

TEST(ValueEquality, ContainersAndObjects) {
    Value a = Value::Dictionary{{"x", 1}, {"y", Value::Array{1.0, "s"}}};
    Value b = Value::Dictionary{{"y", Value::Array{true, "s"}}, {"x", 1.0}};
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
    b.mutableDictionary().set("z", Value());
    EXPECT_NE(a, b);
    EXPECT_NE(Value(Value::Array{1, 2}), Value(Value::Array{2, 1}));

    auto first = std::make_shared<Tagged>(7), second = std::make_shared<Tagged>(7);
    EXPECT_EQ(Value(first), Value(second));
    EXPECT_EQ(Value(first).hash(), Value(second).hash());
    EXPECT_NE(Value(first), Value(std::make_shared<Tagged>(8)));
    EXPECT_TRUE(Value(std::shared_ptr<Tagged>()).isNull());
}

TEST(ValueEquality, EqualValuesHashAlike) {
    const std::vector<std::pair<Value, Value>> pairs = {
        {Value(1), Value(1.0)},
        {Value(true), Value(1ULL)},
        {Value(0.0), Value(-0.0)},
        {Value(9223372036854775808ULL), Value(9223372036854775808.0)},
        {Value("text"), Value(std::string("text"))},
        {Value(Value::Array{1, 2}), Value(Value::Array{1.0, 2ULL})},
    };
    for (const auto& [x, y] : pairs) {
        ASSERT_EQ(x, y) << x.description();
        EXPECT_EQ(x.hash(), y.hash()) << x.description();
    }
    std::unordered_set<Value> set{Value(1), Value(1.0), Value(true), Value("1"), Value(2)};
    EXPECT_EQ(set.size(), 3u);
}

TEST(ValueDescription, ScalarsDatesAndData) {
    EXPECT_EQ(Value().description(), "<null>");
    EXPECT_EQ(Value("plain text").description(), "plain text");
    EXPECT_EQ(Value(false).description(), "0");
    EXPECT_EQ(Value(NSDate{978307200}).description(), "2001-01-01 00:00:00 +0000");
    EXPECT_EQ(Value(NSDate{-1.5}).description(), "1969-12-31 23:59:58 +0000");
    EXPECT_EQ(Value(NSData{0x0a, 0x0b, 0xff}).description(), "{length = 3, bytes = 0x0a0bff}");
    NSData big(100);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(Value(big).description(), "{length = 100, bytes = 0x0001020304050607 ... 60616263}");
    EXPECT_EQ(Value(std::make_shared<Tagged>(3)).description(), "tagged 3");
}

TEST(ValueDescription, CollectionsInThePlatformLayout) {
    Value v = Value::Dictionary{
        {"name", "Ann Lee"},
        {"count", 3},
        {"list", Value::Array{"a", 1.5, Value(), Value::Array{}}},
        {"empty", Value::Dictionary{}},
        {"quote\"d", "caf\u00e9\n"},
    };
    EXPECT_EQ(v.description(),
              "{\n"
              "    count = 3;\n"
              "    empty =     {\n"
              "    };\n"
              "    list =     (\n"
              "        a,\n"
              "        \"1.5\",\n"
              "        \"<null>\",\n"
              "                (\n"
              "        )\n"
              "    );\n"
              "    name = \"Ann Lee\";\n"
              "    \"quote\\\"d\" = \"caf\\U00e9\\n\";\n"
              "}");
    EXPECT_EQ(Value(Value::Array{}).description(), "(\n)");
    EXPECT_EQ(Value(Value::Array{1, "x y"}).description(), "(\n    1,\n    \"x y\"\n)");
}

}  // namespace

TEST(ValueDictionary, CopiesShareNoKeysOnceEitherChanges) {
    Value::Dictionary prototype{{"a", Value(1)}, {"b", Value(2)}};
    Value::Dictionary copy = prototype;
    copy.set("c", Value(3));
    *copy.find("a") = Value(10);
    EXPECT_FALSE(prototype.contains("c"));
    EXPECT_EQ(prototype.get("a"), Value(1));
    EXPECT_EQ(copy.get("c"), Value(3));
    EXPECT_TRUE(prototype.erase("b"));
    EXPECT_EQ(copy.get("b"), Value(2));
    EXPECT_EQ(prototype.keys(), (std::vector<std::string>{"a"}));

    Value::Dictionary moved = std::move(copy);
    EXPECT_EQ(moved.get("a"), Value(10));
    copy.clear();  // a moved-from dictionary stays usable
    EXPECT_EQ(copy.find("a"), nullptr);
    copy.set("z", Value(1));
    EXPECT_EQ(copy.get("z"), Value(1));
}

// Small dictionaries find their keys by a scan, larger ones by an index made as they grow past
// eight keys: both ways must answer alike through growth, erasure and copies.
TEST(ValueDictionary, KeysAreFoundAlikeBelowAndAboveTheScannedSize) {
    Value::Dictionary growing;
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        const std::string key = "key" + std::to_string(i);
        growing.set(key, Value(i));
        expected.push_back(key);
        Value::Dictionary copy = growing;
        for (int j = 0; j <= i; ++j) ASSERT_EQ(copy.get("key" + std::to_string(j)), Value(j)) << i << " " << j;
        ASSERT_FALSE(copy.contains("key" + std::to_string(i + 1)));
        ASSERT_EQ(copy.keys(), expected);
    }
    // Erased from the front, the middle and the end, down below eight and to nothing.
    for (const int i : {0, 10, 19, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4}) {
        const std::string key = "key" + std::to_string(i);
        ASSERT_TRUE(growing.erase(key));
        std::erase(expected, key);
        EXPECT_FALSE(growing.contains(key));
        EXPECT_EQ(growing.keys(), expected);
        for (std::size_t p = 0; p < expected.size(); ++p) EXPECT_EQ(growing.get(expected[p]), Value(std::stoi(expected[p].substr(3))));
    }
    EXPECT_TRUE(growing.empty());
    const auto table = Value::Dictionary::Keys::make({"a", "b", "c", "d", "e", "f", "g", "h", "i", "a", "j"});
    EXPECT_EQ(table->size(), 10u);
    EXPECT_EQ(table->position("j"), 9u);
    EXPECT_EQ(table->position("a"), 0u);
    EXPECT_EQ(table->position("k"), Value::Dictionary::Keys::npos);
}

TEST(ValueDictionary, DictionariesOverOneKeyTableAnswerByNameAndChangeAlone) {
    const auto keys = Value::Dictionary::Keys::make({"b", "a", "b", "c"});
    ASSERT_EQ(keys->size(), 3u);  // "b" keeps its first place
    EXPECT_EQ(keys->position("c"), 2u);
    EXPECT_EQ(keys->position("z"), Value::Dictionary::Keys::npos);

    Value::Dictionary few(keys, {Value(1)});  // missing values are null
    Value::Dictionary many(keys, {Value(1), Value(2), Value(3), Value(4)});  // extra ones dropped
    EXPECT_EQ(few.size(), 3u);
    EXPECT_TRUE(few.contains("c"));
    EXPECT_TRUE(few.get("c").isNull());
    EXPECT_EQ(many.get("c"), Value(3));
    std::vector<std::pair<std::string, Value>> entries(many.begin(), many.end());
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, Value>>{{"b", 1}, {"a", 2}, {"c", 3}}));

    many.set("d", Value(5));
    EXPECT_FALSE(few.contains("d"));
    EXPECT_EQ(keys->size(), 3u);
    EXPECT_TRUE(few.erase("b"));
    EXPECT_EQ(many.get("b"), Value(1));
    EXPECT_EQ(many.keys(), (std::vector<std::string>{"b", "a", "c", "d"}));
    EXPECT_EQ(few.keys(), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(few.get("a"), Value());
}

// A copy taken under a lock and read on another thread after the lock is gone (as the user
// defaults' writer reads its snapshot) while the holder goes on changing its own: the reader
// sees the state it copied, and the holder never writes into storage the reader may still be
// reading, even once the reader has let go of it (ThreadSanitizer checks the second).
TEST(ValueThreads, ACopyReadOnAnotherThreadKeepsWhatItCopiedWhileTheHolderChanges) {
    constexpr int kRounds = 2000;
    std::mutex mutex;
    Value held = Value::Dictionary{{"list", Value::Array{0}}, {"inner", Value::Dictionary{{"n", 0}}}};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        for (int round = 0; round < kRounds; ++round) {
            Value snapshot;
            {
                std::lock_guard lock(mutex);
                snapshot = held;
            }
            // Round n of the holder shows as "key1".."keyN", a list 0..n and an inner n.
            const long long n = snapshot["inner"]["n"].longLongValue();
            const Value::Array& list = snapshot["list"].array();
            bool whole = snapshot.count() == static_cast<std::size_t>(n) + 2 &&
                         list.size() == static_cast<std::size_t>(n) + 1 && list.back() == Value(n);
            for (const auto& [key, value] : snapshot.dictionary())
                if (key.rfind("key", 0) == 0) whole = whole && key == "key" + value.stringValue();
            if (!whole) ++torn;
        }
    });
    for (int n = 1; n <= kRounds; ++n) {
        std::lock_guard lock(mutex);
        Value::Dictionary& top = held.mutableDictionary();
        top.set("key" + std::to_string(n), Value(n));
        top["list"].mutableArray().push_back(Value(n));
        top["inner"].mutableDictionary().set("n", Value(n));
    }
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(held.count(), static_cast<std::size_t>(kRounds) + 2);
}
