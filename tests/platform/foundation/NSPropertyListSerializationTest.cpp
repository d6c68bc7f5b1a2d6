// Property lists: exact round trips of every kind of value in both forms, agreement with an
// independent reader and writer (libplist), and errors, never crashes, on damaged input.
#include "platform/foundation/NSPropertyListSerialization.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace {

using Format = NSPropertyListSerialization::Format;
constexpr Format kXML = NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0;
constexpr Format kBinary = NSPropertyListSerialization::NSPropertyListBinaryFormat_v1_0;

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }

Value everyKind(bool fractionalDates) {
    NSData blob;
    for (int i = 0; i < 256; ++i) blob.push_back(static_cast<std::uint8_t>(i));
    Value::Dictionary nested{{"inner", Value(Value::Array{Value(1), Value("two"), Value(Value::Dictionary{})})}};
    return Value(Value::Dictionary{
        {"zeta", Value("last letter first")},
        {"alpha", Value(true)},
        {"mid", Value(false)},
        {"unicode <&> \"quotes\"", Value("Привет, 世界 👋🏽 e\u0301 <tag> & \t tab")},
        {"empty string", Value("")},
        {"zero", Value(0)},
        {"negative", Value(-1)},
        {"int64 min", Value(std::numeric_limits<long long>::min())},
        {"int64 max", Value(std::numeric_limits<long long>::max())},
        {"uint64 max", Value(std::numeric_limits<unsigned long long>::max())},
        {"uint64 just above int64", Value(static_cast<unsigned long long>(1) << 63)},
        {"real", Value(0.1)},
        {"tiny real", Value(-2.5e-300)},
        {"whole real", Value(3.0)},
        {"date", Value(NSDate{fractionalDates ? 1700000000.25 : 1700000000.0})},
        {"date before 1970", Value(NSDate{-1000000000.0})},
        {"data", Value(blob)},
        {"empty data", Value(NSData{})},
        {"array", Value(Value::Array{Value("a"), Value(2), Value(Value::Array{})})},
        {"dict", Value(nested)},
        {"empty dict", Value(Value::Dictionary{})},
    });
}

void expectSameKindsAndKeyOrder(const Value& expected, const Value& actual) {
    ASSERT_EQ(expected.type(), actual.type()) << expected.description();
    if (expected.isDictionary()) {
        EXPECT_EQ(expected.dictionary().keys(), actual.dictionary().keys());
        for (const auto& [key, value] : expected.dictionary()) expectSameKindsAndKeyOrder(value, actual[key]);
    } else if (expected.isArray()) {
        ASSERT_EQ(expected.count(), actual.count());
        for (std::size_t i = 0; i < expected.count(); ++i) expectSameKindsAndKeyOrder(expected[i], actual[i]);
    }
}

Value roundTrip(const Value& value, Format format, Format* readFormat = nullptr) {
    NSErrorPtr error;
    const NSData data = NSPropertyListSerialization::dataWithPropertyList(value, format, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->description() : "");
    EXPECT_FALSE(data.empty());
    const Value back = NSPropertyListSerialization::propertyListWithData(data, &error, readFormat);
    EXPECT_EQ(error, nullptr) << (error ? error->description() : "");
    return back;
}

void expectCorrupt(const NSData& data, const std::string& label) {
    NSErrorPtr error;
    const Value value = NSPropertyListSerialization::propertyListWithData(data, &error);
    EXPECT_TRUE(value.isNull()) << label;
    ASSERT_NE(error, nullptr) << label;
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain) << label;
    EXPECT_EQ(error->code(), NSPropertyListReadCorruptError) << label;
}

}  // namespace

TEST(PropertyListRoundTrip, XMLKeepsEveryKindValueAndKeyOrder) {
    const Value original = everyKind(false);
    Format format = kBinary;
    const Value back = roundTrip(original, kXML, &format);
    EXPECT_EQ(format, kXML);
    EXPECT_EQ(back, original);
    expectSameKindsAndKeyOrder(original, back);
    EXPECT_STREQ(back["uint64 max"].objCType(), "Q");
    EXPECT_EQ(back["uint64 max"].unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
    EXPECT_STREQ(back["negative"].objCType(), "q");
    EXPECT_TRUE(back["whole real"].isFloatType());
}

TEST(PropertyListRoundTrip, BinaryKeepsEveryKindValueKeyOrderAndFractionalDates) {
    const Value original = everyKind(true);
    Format format = kXML;
    const Value back = roundTrip(original, kBinary, &format);
    EXPECT_EQ(format, kBinary);
    EXPECT_EQ(back, original);
    expectSameKindsAndKeyOrder(original, back);
    EXPECT_DOUBLE_EQ(back["date"].date().timeIntervalSince1970, 1700000000.25);
    EXPECT_STREQ(back["uint64 just above int64"].objCType(), "Q");
    EXPECT_EQ(back["int64 min"].longLongValue(), std::numeric_limits<long long>::min());
}

TEST(PropertyListRoundTrip, BinaryWithManyObjectsAndLongItemsUsesWiderReferences) {
    Value::Array items;
    for (int i = 0; i < 70000; ++i) items.emplace_back(i % 3 ? Value(i * 1000003LL) : Value("item " + std::to_string(i)));
    items.emplace_back(std::string(100000, 'x'));
    items.emplace_back(NSData(70000, 0xAB));
    const Value original(items);
    EXPECT_EQ(roundTrip(original, kBinary), original);
    EXPECT_EQ(roundTrip(original, kXML), original);
}

TEST(PropertyListRoundTrip, SpecialRealsSurvive) {
    const Value original(Value::Array{Value(std::numeric_limits<double>::infinity()),
                                      Value(-std::numeric_limits<double>::infinity()), Value(1e308), Value(5e-324)});
    for (const Format format : {kXML, kBinary}) {
        const Value back = roundTrip(original, format);
        EXPECT_EQ(back, original);
        const Value nan = roundTrip(Value(Value::Array{Value(std::nan(""))}), format);
        EXPECT_TRUE(std::isnan(nan[0].doubleValue()));
    }
}

TEST(PropertyListRoundTrip, XMLDatesAreWholeSecondsInUTC) {
    const NSData data = NSPropertyListSerialization::dataWithPropertyList(
        Value(Value::Array{Value(NSDate{1700000000.75}), Value(NSDate{978307200.0})}), kXML);
    const std::string text(data.begin(), data.end());
    EXPECT_NE(text.find("<date>2023-11-14T22:13:20Z</date>"), std::string::npos) << text;
    EXPECT_NE(text.find("<date>2001-01-01T00:00:00Z</date>"), std::string::npos) << text;
}

TEST(PropertyListRoundTrip, FilesAreWrittenAndReadBack) {
    const std::string path = Sandbox::tmp() + "/roundtrip.plist";
    NSErrorPtr error;
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(everyKind(true), path, kBinary, &error));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error), everyKind(true));
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value("replaced"), path, kXML, &error));
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error), Value("replaced"));

    const Value missing = NSPropertyListSerialization::propertyListWithContentsOfFile(path + ".none", &error);
    EXPECT_TRUE(missing.isNull());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFileReadNoSuchFileError);
}

// Each way a disk fails under a write: the error says which, and the old file is still there.
TEST(PropertyListRoundTrip, AFailingDiskKeepsTheOldFileAndSaysWhatHappened) {
    using Op = FaultyFileIO::Operation;
    struct Fault {
        Op operation;
        int err;
        long code;
    };
    const Fault faults[] = {{Op::Write, ENOSPC, NSFileWriteOutOfSpaceError},
                            {Op::Write, EIO, NSFileWriteUnknownError},
                            {Op::Rename, EIO, NSFileWriteUnknownError},
                            {Op::AnyChange, EROFS, NSFileWriteVolumeReadOnlyError},
                            {Op::AnyChange, EACCES, NSFileWriteNoPermissionError}};
    const std::string path = Sandbox::tmp() + "/faults.plist";
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value("old"), path, kBinary));
    for (const Format format : {kXML, kBinary}) {
        for (const Fault& fault : faults) {
            FaultInjection injection;
            injection->inject(fault.operation, Sandbox::tmp() + "/*faults.plist*", fault.err);
            NSErrorPtr error;
            EXPECT_FALSE(NSPropertyListSerialization::writePropertyList(everyKind(false), path, format, &error));
            ASSERT_NE(error, nullptr) << fault.err;
            EXPECT_EQ(error->code(), fault.code) << fault.err;
            EXPECT_EQ(NSPropertyListSerialization::propertyListWithContentsOfFile(path), Value("old")) << fault.err;
        }
    }
    FaultInjection injection;
    injection->ioError(Op::Read, path);
    NSErrorPtr error;
    EXPECT_TRUE(NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error).isNull());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileReadUnknownError);
}

// Whatever the writers write, the reader takes back: NUL characters in strings and keys, dates
// before year 1 and after year 9999. Files written earlier with NUL characters read too.
TEST(PropertyListRoundTrip, NulCharactersAndDatesBeyondFourDigitYearsReadBack) {
    const Value original(Value::Dictionary{
        {std::string("key\0with nul", 12), Value(std::string("/pictures/a\0b.jpg", 17))},
        {"controls", Value(std::string("\x01\x1f\x7f", 3))},
        {"year 14645", Value(NSDate{400000000000.0})},
        {"year -10706", Value(NSDate{-400000000000.0})},
        {"year 10000", Value(NSDate{253402300800.0})},
        {"year 0", Value(NSDate{-62167219200.0})},
    });
    for (const Format format : {kXML, kBinary}) EXPECT_EQ(roundTrip(original, format), original) << format;
    const NSData xml = NSPropertyListSerialization::dataWithPropertyList(original, kXML);
    const std::string text(xml.begin(), xml.end());
    EXPECT_NE(text.find("<date>10000-01-01T00:00:00Z</date>"), std::string::npos) << text;
    EXPECT_NE(text.find("<date>0000-01-01T00:00:00Z</date>"), std::string::npos) << text;

    const std::string earlier = "<plist><array><string>a&#x0;b</string><string>&#0;</string></array></plist>";
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(bytes(earlier)),
              Value(Value::Array{Value(std::string("a\0b", 3)), Value(std::string(1, '\0'))}));
}

// Dates the XML form has no text for are refused when written, and never read.
TEST(PropertyListErrors, DatesBeyondTheXMLFormAreRefusedWithAnError) {
    for (const double seconds : {1e16, -1e16, std::numeric_limits<double>::infinity(), std::nan("")}) {
        NSErrorPtr error;
        EXPECT_TRUE(NSPropertyListSerialization::dataWithPropertyList(Value(NSDate{seconds}), kXML, &error).empty());
        ASSERT_NE(error, nullptr) << seconds;
        EXPECT_EQ(error->code(), NSPropertyListWriteInvalidError);
        EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(Value(NSDate{seconds}), kBinary).empty());
    }
    const std::string head = "<plist><date>";
    for (const char* date : {"99999999-01-01T00:00:00Z", "1000000000-01-01T00:00:00Z", "123-01-01T00:00:00Z",
                             "2023-1-01T00:00:00Z", "+2023-01-01T00:00:00Z", "2023-01-01T00:00:00"})
        expectCorrupt(bytes(head + date + "</date></plist>"), date);
}

TEST(PropertyListInterop, LibplistReadsWhatWeWrite) {
    const Value original(Value::Dictionary{{"b", Value("Ünïcødé 👋")}, {"a", Value(-42)}, {"c", Value(2.5)},
                                           {"d", Value(Value::Array{Value(true), Value(NSData{1, 2, 3})})}});
    for (const Format format : {kXML, kBinary}) {
        const NSData data = NSPropertyListSerialization::dataWithPropertyList(original, format);
        plist_t root = nullptr;
        plist_from_memory(reinterpret_cast<const char*>(data.data()), static_cast<uint32_t>(data.size()), &root);
        ASSERT_NE(root, nullptr) << format;
        char* text = nullptr;
        plist_get_string_val(plist_dict_get_item(root, "b"), &text);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "Ünïcødé 👋");
        std::free(text);
        uint64_t number = 0;
        plist_get_uint_val(plist_dict_get_item(root, "a"), &number);
        EXPECT_EQ(static_cast<int64_t>(number), -42);
        double real = 0;
        plist_get_real_val(plist_dict_get_item(root, "c"), &real);
        EXPECT_EQ(real, 2.5);
        plist_t array = plist_dict_get_item(root, "d");
        ASSERT_EQ(plist_array_get_size(array), 2u);
        EXPECT_EQ(plist_bool_val_is_true(plist_array_get_item(array, 0)), 1);
        // Keys come out in the order they were written.
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(root, &it);
        std::string order;
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(root, it, &key, &item);
            if (!item) break;
            order += key;
            std::free(key);
        }
        std::free(it);
        EXPECT_EQ(order, "bacd");
        plist_free(root);
    }
}

TEST(PropertyListInterop, WeReadWhatLibplistWrites) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "name", plist_new_string("caf\xC3\xA9 \xF0\x9F\x8E\xA8"));
    plist_dict_set_item(root, "count", plist_new_uint(300));
    plist_dict_set_item(root, "ratio", plist_new_real(0.75));
    plist_dict_set_item(root, "when", plist_new_date(100, 0));  // seconds after 2001-01-01
    plist_dict_set_item(root, "blob", plist_new_data("\x00\x01\x02", 3));
    plist_dict_set_item(root, "flag", plist_new_bool(1));
    for (const bool binary : {false, true}) {
        char* out = nullptr;
        uint32_t length = 0;
        if (binary) plist_to_bin(root, &out, &length);
        else plist_to_xml(root, &out, &length);
        ASSERT_NE(out, nullptr);
        NSErrorPtr error;
        const Value value = NSPropertyListSerialization::propertyListWithData(NSData(out, out + length), &error);
        std::free(out);
        ASSERT_EQ(error, nullptr) << (error ? error->description() : "");
        EXPECT_EQ(value["name"], Value("café 🎨"));
        EXPECT_EQ(value["count"], Value(300));
        EXPECT_EQ(value["ratio"], Value(0.75));
        EXPECT_EQ(value["when"].date().timeIntervalSince1970, 978307200.0 + 100);
        EXPECT_EQ(value["blob"].data(), (NSData{0, 1, 2}));
        EXPECT_EQ(value["flag"], Value(true));
    }
    plist_free(root);
}

TEST(PropertyListErrors, ValuesAPropertyListCannotHoldAreRefused) {
    const Value withNull(Value::Dictionary{{"ok", Value(1)}, {"bad", Value()}});
    const Value withObject(Value::Array{Value(std::make_shared<NSObject>())});
    const Value badText(std::string("\xFF\xFE not UTF-8"));
    for (const Format format : {kXML, kBinary}) {
        for (const Value* value : {&withNull, &withObject, &badText}) {
            NSErrorPtr error;
            EXPECT_TRUE(NSPropertyListSerialization::dataWithPropertyList(*value, format, &error).empty());
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
            EXPECT_EQ(error->code(), NSPropertyListWriteInvalidError);
        }
    }
    const std::string path = Sandbox::tmp() + "/refused.plist";
    EXPECT_FALSE(NSPropertyListSerialization::writePropertyList(withNull, path, kXML));
    EXPECT_FALSE(readDataFromFile(path).has_value());
}

TEST(PropertyListErrors, MalformedXMLIsAnError) {
    const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    const char* bodies[] = {
        "<dict><key>a</key></dict>",
        "<dict><key>a</key><string>x</string><string>y</string></dict>",
        "<array><integer>abc</integer></array>",
        "<integer>99999999999999999999</integer>",
        "<integer>-9223372036854775809</integer>",
        "<integer></integer>",
        "<real>1.5x</real>",
        "<date>2023-02-30T00:00:00Z</date>",
        "<date>2023-01-01 00:00:00</date>",
        "<data>@@@@</data>",
        "<string>a &bogus; b</string>",
        "<string>unterminated",
        "<string>a<b/>c</string>",
        "<string>\xC3\x28</string>",
        "<true>yes</true>",
        "<unknown/>",
        "",
        "<string>one</string><string>two</string>",
        "<array><string>x</string>",
        "<dict><string>not a key</string><string>v</string></dict>",
    };
    for (const char* body : bodies) expectCorrupt(bytes(head + body + "</plist>"), body);
    expectCorrupt(bytes(""), "empty");
    expectCorrupt(bytes("<plist><string>x</string></plist> trailing"), "trailing text");
    expectCorrupt(bytes("<array><string>no plist element</string></array>"), "no <plist>");
    expectCorrupt(bytes("{ a = b; }"), "old-style text");
    expectCorrupt(bytes("<!-- never closed"), "open comment");
}

TEST(PropertyListErrors, DeepNestingIsRefusedNotAStackOverflow) {
    std::string deep = "<plist>";
    for (int i = 0; i < 100000; ++i) deep += "<array>";
    expectCorrupt(bytes(deep), "deep XML");

    Value nested("leaf");
    for (int i = 0; i < 600; ++i) nested = Value(Value::Array{nested});
    NSErrorPtr error;
    EXPECT_TRUE(NSPropertyListSerialization::dataWithPropertyList(nested, kBinary, &error).empty());
    EXPECT_NE(error, nullptr);
}

TEST(PropertyListErrors, DamagedBinaryIsAnErrorNeverACrash) {
    const NSData good = NSPropertyListSerialization::dataWithPropertyList(everyKind(true), kBinary);
    ASSERT_FALSE(good.empty());
    // Every truncation.
    for (std::size_t length = 0; length < good.size(); length += 7) {
        NSData cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        NSErrorPtr error;
        const Value value = NSPropertyListSerialization::propertyListWithData(cut, &error);
        EXPECT_TRUE(value.isNull() && error) << "length " << length;
    }
    // Random corruption: any outcome but a crash or a silent partial result is acceptable.
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        NSData damaged = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        NSErrorPtr error;
        const Value value = NSPropertyListSerialization::propertyListWithData(damaged, &error);
        EXPECT_NE(value.isNull(), error == nullptr) << "round " << round;
    }
}

namespace {

// A binary property list of arrays (each a list of object numbers) followed by the string "a",
// whose number is arrays.size(); two-byte offsets and references.
NSData binaryOfArrays(const std::vector<std::vector<int>>& arrays) {
    NSData data = bytes("bplist00");
    auto appendTwo = [&](std::uint64_t n) {
        data.push_back(static_cast<std::uint8_t>(n >> 8));
        data.push_back(static_cast<std::uint8_t>(n));
    };
    std::vector<std::uint64_t> offsets;
    for (const auto& array : arrays) {
        offsets.push_back(data.size());
        data.push_back(static_cast<std::uint8_t>(0xA0 | array.size()));
        for (const int ref : array) appendTwo(static_cast<std::uint64_t>(ref));
    }
    offsets.push_back(data.size());
    data.push_back(0x51);
    data.push_back('a');
    const std::uint64_t table = data.size();
    for (const auto offset : offsets) appendTwo(offset);
    NSData trailer(32, 0);
    trailer[6] = trailer[7] = 2;
    for (int i = 0; i < 8; ++i) {
        trailer[15 - i] = static_cast<std::uint8_t>(offsets.size() >> (8 * i));
        trailer[31 - i] = static_cast<std::uint8_t>(table >> (8 * i));
    }
    data.insert(data.end(), trailer.begin(), trailer.end());
    return data;
}

}  // namespace

// Objects shared by reference count at every place they appear: a chain of arrays each holding
// the next twice is tiny on disk and astronomically large once read, and an object read first
// near the top may be shared again far below, nesting deeper than the writers go.
TEST(PropertyListErrors, BinarySharingThatExpandsBeyondBoundsIsRefused) {
    auto doubling = [](int links) {
        std::vector<std::vector<int>> arrays;
        for (int i = 0; i < links; ++i) arrays.push_back({i + 1, i + 1});
        return binaryOfArrays(arrays);
    };
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(doubling(4))[0][1][0][1], Value("a"));
    expectCorrupt(doubling(64), "2^64 elements once expanded");

    // Object 0 holds chain S (objects 1..n) and chain C (objects n+1..2n), whose end holds S again.
    auto sharedDeep = [](int n) {
        std::vector<std::vector<int>> arrays{{1, n + 1}};
        for (int i = 1; i < n; ++i) arrays.push_back({i + 1});
        arrays.push_back({2 * n + 1});
        for (int i = n + 1; i < 2 * n; ++i) arrays.push_back({i + 1});
        arrays.push_back({1});
        return binaryOfArrays(arrays);
    };
    const Value shared = NSPropertyListSerialization::propertyListWithData(sharedDeep(200));
    ASSERT_FALSE(shared.isNull());
    EXPECT_FALSE(NSPropertyListSerialization::dataWithPropertyList(shared, kBinary).empty());
    expectCorrupt(sharedDeep(300), "shared chain reaching depth 601");
}

TEST(PropertyListErrors, BinaryCyclesAndBadReferencesAreRefused) {
    auto binary = [](std::vector<std::uint8_t> objects, std::uint8_t count, std::uint8_t top,
                     std::vector<std::uint8_t> offsets) {
        NSData data = bytes("bplist00");
        data.insert(data.end(), objects.begin(), objects.end());
        const auto tableOffset = static_cast<std::uint8_t>(data.size());
        data.insert(data.end(), offsets.begin(), offsets.end());
        const std::uint8_t trailer[32] = {0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, count,
                                          0, 0, 0, 0, 0, 0, 0, top, 0, 0, 0, 0, 0, 0, 0, tableOffset};
        data.insert(data.end(), trailer, trailer + 32);
        return data;
    };
    // Sanity: a one-element array holding "a" reads.
    EXPECT_EQ(NSPropertyListSerialization::propertyListWithData(binary({0xA1, 0x01, 0x51, 'a'}, 2, 0, {8, 10})),
              Value(Value::Array{Value("a")}));
    expectCorrupt(binary({0xA1, 0x00}, 1, 0, {8}), "array holding itself");
    expectCorrupt(binary({0xA1, 0x01, 0xA1, 0x00}, 2, 0, {8, 10}), "two arrays holding each other");
    expectCorrupt(binary({0xA1, 0x05}, 1, 0, {8}), "reference past the objects");
    expectCorrupt(binary({0x5F, 0x10, 0xFF, 'a'}, 1, 0, {8}), "string longer than the data");
    expectCorrupt(binary({0x51, 'a'}, 1, 3, {8}), "top object out of range");
    expectCorrupt(binary({0x51, 'a'}, 1, 0, {200}), "offset past the table");
    expectCorrupt(binary({0xD1, 0x01, 0x01, 0x10, 0x05}, 2, 0, {8, 11}), "non-string key");
    expectCorrupt(binary({0x00}, 1, 0, {8}), "null object");
}
