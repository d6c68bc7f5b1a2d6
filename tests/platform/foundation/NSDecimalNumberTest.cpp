// Decimal numbers: reading text, canonical text, 38-digit rounding, arithmetic and order.
#include "platform/foundation/NSDecimalNumber.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

std::string canonical(const std::string& text) { return NSDecimalNumber::decimalNumberWithString(text)->stringValue(); }

TEST(NSDecimalNumberTest, ReadsAndPrintsCanonicalText) {
    EXPECT_EQ(canonical("1.50"), "1.5");
    EXPECT_EQ(canonical("+7"), "7");
    EXPECT_EQ(canonical("007"), "7");
    EXPECT_EQ(canonical("-.5"), "-0.5");
    EXPECT_EQ(canonical(".25"), "0.25");
    EXPECT_EQ(canonical("-3."), "-3");
    EXPECT_EQ(canonical("0.000"), "0");
    EXPECT_EQ(canonical("-0"), "0");
    EXPECT_EQ(canonical("1e5"), "100000");
    EXPECT_EQ(canonical("12.5E-3"), "0.0125");
    EXPECT_EQ(canonical("  42abc"), "42");
    EXPECT_TRUE(NSDecimalNumber::decimalNumberWithString("abc")->isNotANumber());
    EXPECT_TRUE(NSDecimalNumber::decimalNumberWithString("")->isNotANumber());
    EXPECT_TRUE(NSDecimalNumber::decimalNumberWithString(".")->isNotANumber());
    EXPECT_EQ(NSDecimalNumber::notANumber()->stringValue(), "NaN");
}

TEST(NSDecimalNumberTest, KeepsThirtyEightSignificantDigits) {
    const std::string exact38 = "12345678901234567890123456789012345678";
    EXPECT_EQ(canonical(exact38), exact38);
    // The 39th digit rounds half up.
    EXPECT_EQ(canonical(exact38 + "5"), "123456789012345678901234567890123456790");
    EXPECT_EQ(canonical("1." + std::string(40, '0') + "1"), "1");
    EXPECT_EQ(canonical(std::string(39, '9')), "1" + std::string(39, '0'));
    EXPECT_TRUE(NSDecimalNumber::decimalNumberWithString("1e200")->isNotANumber());
    EXPECT_EQ(canonical("1e-200"), "0");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithMantissa(125, -2, true)->stringValue(), "-1.25");
}

TEST(NSDecimalNumberTest, ArithmeticAndComparison) {
    auto a = NSDecimalNumber::decimalNumberWithString("0.1");
    auto b = NSDecimalNumber::decimalNumberWithString("0.2");
    EXPECT_EQ(a->decimalNumberByAdding(*b)->stringValue(), "0.3");
    EXPECT_EQ(a->decimalNumberBySubtracting(*b)->stringValue(), "-0.1");
    auto minusOne = NSDecimalNumber::decimalNumberWithString("-1");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("-2.50")->decimalNumberByMultiplyingBy(*minusOne)->stringValue(),
              "2.5");
    EXPECT_EQ(a->compare(*b), NSOrderedAscending);
    EXPECT_EQ(b->compare(*a), NSOrderedDescending);
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("2.0")->compare(*NSDecimalNumber::decimalNumberWithString("2")),
              NSOrderedSame);
    EXPECT_EQ(minusOne->compare(*NSDecimalNumber::decimalNumberWithString("-10")), NSOrderedDescending);
    EXPECT_EQ(NSDecimalNumber::notANumber()->compare(*minusOne), NSOrderedAscending);
    EXPECT_TRUE(a->decimalNumberByAdding(*NSDecimalNumber::notANumber())->isNotANumber());
    EXPECT_TRUE(a->isEqual(NSDecimalNumber::decimalNumberWithString("0.10").get()));
    EXPECT_DOUBLE_EQ(NSDecimalNumber::decimalNumberWithString("-12.25")->doubleValue(), -12.25);
}

TEST(NSDecimalNumberTest, LocaleDecimalSeparator) {
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("1,5", "de_DE")->stringValue(), "1.5");
    EXPECT_EQ(NSDecimalNumber::decimalNumberWithString("1,5", "en_US")->stringValue(), "1");
}

}  // namespace

TEST(NSDecimalNumberTest, IntegersInAndOutWithPlainRounding) {
    const auto min = std::numeric_limits<std::int64_t>::min();
    const auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(NSDecimalNumber::initWithLongLong(min)->stringValue(), "-9223372036854775808");
    EXPECT_EQ(NSDecimalNumber::initWithLongLong(max)->int64Value(), max);
    EXPECT_EQ(NSDecimalNumber::initWithLongLong(min)->int64Value(), min);
    EXPECT_EQ(NSDecimalNumber::initWithLongLong(-120)->int64Value(), -120);
    // One past either end, a fraction and not-a-number have no 64-bit value.
    EXPECT_FALSE(NSDecimalNumber::decimalNumberWithString("9223372036854775808")->int64Value());
    EXPECT_FALSE(NSDecimalNumber::decimalNumberWithString("-9223372036854775809")->int64Value());
    EXPECT_FALSE(NSDecimalNumber::decimalNumberWithString("1.5")->int64Value());
    EXPECT_FALSE(NSDecimalNumber::notANumber()->int64Value());

    const auto rounded = [](const char* text) {
        return NSDecimalNumber::decimalNumberWithString(text)->decimalNumberByRoundingToInteger()->stringValue();
    };
    EXPECT_EQ(rounded("2.5"), "3");
    EXPECT_EQ(rounded("-2.5"), "-3");
    EXPECT_EQ(rounded("2.4999"), "2");
    EXPECT_EQ(rounded("0.5"), "1");
    EXPECT_EQ(rounded("0.05"), "0");
    EXPECT_EQ(rounded("1990000"), "1990000");
    EXPECT_EQ(rounded("9.99"), "10");
}
