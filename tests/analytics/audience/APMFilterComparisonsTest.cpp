// Number and string filters: their checks, the three number comparisons, the six string
// matches with and without case, and patterns that compile badly or keep the matcher busy.
#include "analytics/audience/APMFilterComparisons.h"

#include "AudienceTestSupport.h"
#include "analytics/core/APMNumericUtil.h"
#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSRegularExpression.h"
#include "tests/analytics/core/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace audience_test;

namespace {

std::optional<bool> decimal(const std::shared_ptr<APMPBNumberFilter>& filter, const std::string& value) {
    return APMEvaluateNumberFilterWithDecimal(filter, *APMDecimalNumberFromString(value));
}

std::optional<bool> matches(const std::shared_ptr<APMPBStringFilter>& filter, const std::string& value) {
    return APMEvaluateStringFilter(filter, &value);
}

}  // namespace

TEST(APMFilterComparisonsTest, NumberFilterChecksNeedAKnownTypeAndDecimalText) {
    LogCapture capture;
    EXPECT_TRUE(APMIsValidNumberFilter(numberFilter(1, "10")));
    EXPECT_TRUE(APMIsValidNumberFilter(numberFilter(3, "-0.5")));
    EXPECT_TRUE(APMIsValidNumberFilter(between("1", "10")));

    EXPECT_FALSE(APMIsValidNumberFilter(numberFilter(std::nullopt, "1")));
    EXPECT_TRUE(capture.contains("[I-ACS008006]"));
    // An exponent is no decimal text.
    EXPECT_FALSE(APMIsValidNumberFilter(numberFilter(2, "1e3")));
    EXPECT_TRUE(capture.contains("[I-ACS008008]"));
    EXPECT_FALSE(APMIsValidNumberFilter(numberFilter(0, "1")));
    EXPECT_TRUE(capture.contains("[I-ACS008007]"));
    EXPECT_FALSE(APMIsValidNumberFilter(numberFilter(9, "1")));
    EXPECT_TRUE(capture.contains("[I-ACS008011]"));

    // Both missing bounds are reported before the answer.
    capture.clear();
    EXPECT_FALSE(APMIsValidNumberFilter(numberFilter(4, std::nullopt)));
    EXPECT_TRUE(capture.contains("[I-ACS008009]"));
    EXPECT_TRUE(capture.contains("[I-ACS008010]"));
    // A filter that fails its check gives no outcome in every comparison.
    EXPECT_EQ(APMEvaluateNumberFilterWithInt64(numberFilter(2, "1e3"), 5), std::nullopt);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(numberFilter(2, "1e3"), 5), std::nullopt);
}

TEST(APMFilterComparisonsTest, DecimalAndIntegerComparisonsIncludeBothBounds) {
    const auto range = between("1", "10");
    EXPECT_EQ(decimal(range, "1"), true);
    EXPECT_EQ(decimal(range, "10"), true);
    EXPECT_EQ(decimal(range, "0.999"), false);
    EXPECT_EQ(decimal(range, "10.001"), false);
    EXPECT_EQ(decimal(numberFilter(1, "5"), "4.9"), true);
    EXPECT_EQ(decimal(numberFilter(2, "5"), "4.9"), false);
    EXPECT_EQ(decimal(numberFilter(3, "0.10"), "0.1"), true);

    // Integers compare exactly, at both ends of their range too.
    EXPECT_EQ(APMEvaluateNumberFilterWithInt64(numberFilter(3, "9223372036854775807"),
                                               std::numeric_limits<std::int64_t>::max()),
              true);
    EXPECT_EQ(APMEvaluateNumberFilterWithInt64(numberFilter(1, "-9223372036854775807"),
                                               std::numeric_limits<std::int64_t>::min()),
              true);
    EXPECT_EQ(APMEvaluateNumberFilterWithInt64(numberFilter(2, "2"), 2), false);

    // Comparison values that lose precision as decimal numbers: no outcome.
    LogCapture capture;
    EXPECT_EQ(decimal(numberFilter(3, "1." + std::string(45, '1')), "1"), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS008002]"));
    EXPECT_TRUE(capture.contains("[I-ACS008015]"));
}

TEST(APMFilterComparisonsTest, DoubleEqualityAllowsOneRepresentableStepEitherSide) {
    const auto filter = numberFilter(3, "0.1");
    const double value = 0.1;
    const double up1 = std::nextafter(value, 1.0);
    const double down1 = std::nextafter(value, 0.0);
    const double up2 = std::nextafter(up1, 1.0);
    const double up3 = std::nextafter(up2, 1.0);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(filter, value), true);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(filter, up1), true);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(filter, down1), true);
    // Two steps away is the bound itself, which is excluded; three steps is plainly outside.
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(filter, up2), false);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(filter, up3), false);

    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(numberFilter(1, "+2."), 1.5), true);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(numberFilter(2, "-.5"), -0.25), true);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(between("-1", "1"), 1.0), true);
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(between("-1", "1"), 1.0000001), false);
    // A bound beyond the range of doubles is not read.
    LogCapture capture;
    EXPECT_EQ(APMEvaluateNumberFilterWithDouble(numberFilter(1, "1" + std::string(400, '0')), 1), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS008012]"));
}

TEST(APMFilterComparisonsTest, StringFilterChecks) {
    LogCapture capture;
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(std::nullopt, "a")));
    EXPECT_TRUE(capture.contains("[I-ACS009000]"));
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(0, "a")));
    EXPECT_TRUE(capture.contains("[I-ACS009001]"));
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(2, std::nullopt)));
    EXPECT_TRUE(capture.contains("[I-ACS009002]"));
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(6, std::nullopt)));
    EXPECT_TRUE(capture.contains("[I-ACS009003]"));
    EXPECT_TRUE(APMIsValidStringFilter(stringFilter(6, std::nullopt, std::nullopt, {"a"})));

    std::shared_ptr<NSRegularExpression> compiled;
    EXPECT_FALSE(APMIsValidStringFilter(stringFilter(1, "("), &compiled));
    EXPECT_TRUE(capture.contains("[I-ACS009004]"));
    EXPECT_FALSE(compiled);
    EXPECT_TRUE(APMIsValidStringFilter(stringFilter(1, "^ab"), &compiled));
    ASSERT_TRUE(compiled);
    EXPECT_EQ(compiled->options() & NSRegularExpressionCaseInsensitive, unsigned{NSRegularExpressionCaseInsensitive});

    // An unknown match type passes the check and compares false.
    EXPECT_TRUE(APMIsValidStringFilter(stringFilter(7, "a")));
    EXPECT_EQ(matches(stringFilter(7, "a"), "a"), false);
    EXPECT_EQ(matches(stringFilter(0, "a"), "a"), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS009006]"));
    EXPECT_EQ(APMEvaluateStringFilter(stringFilter(2, "a"), nullptr), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS009005]"));
}

TEST(APMFilterComparisonsTest, MatchesWithAndWithoutCase) {
    EXPECT_EQ(matches(stringFilter(2, "ab"), "ABc"), true);
    EXPECT_EQ(matches(stringFilter(2, "ab", true), "ABc"), false);
    EXPECT_EQ(matches(stringFilter(2, "ab", true), "abc"), true);
    EXPECT_EQ(matches(stringFilter(2, "bc"), "abc"), false);

    EXPECT_EQ(matches(stringFilter(3, "BC"), "abc"), true);
    EXPECT_EQ(matches(stringFilter(3, "BC", true), "abc"), false);
    EXPECT_EQ(matches(stringFilter(3, "abcd"), "bcd"), false);
    EXPECT_EQ(matches(stringFilter(3, "ab"), "abcab"), true);

    EXPECT_EQ(matches(stringFilter(4, "B"), "abc"), true);
    EXPECT_EQ(matches(stringFilter(4, "B", true), "abc"), false);
    EXPECT_EQ(matches(stringFilter(4, "x"), "abc"), false);

    EXPECT_EQ(matches(stringFilter(5, "ABC"), "abc"), true);
    EXPECT_EQ(matches(stringFilter(5, "AB"), "abc"), false);
    EXPECT_EQ(matches(stringFilter(5, "ABC", true), "abc"), false);
    // Lengths count as the platform does: an accented letter and an emoji in UTF-16 units.
    EXPECT_EQ(matches(stringFilter(5, "Été 🎨"), "été 🎨"), true);

    EXPECT_EQ(matches(stringFilter(6, std::nullopt, std::nullopt, {"a", "B"}), "b"), true);
    EXPECT_EQ(matches(stringFilter(6, std::nullopt, true, {"a", "B"}), "b"), false);
    EXPECT_EQ(matches(stringFilter(6, std::nullopt, std::nullopt, {"a", "B"}), "c"), false);
}

TEST(APMFilterComparisonsTest, RegularExpressionsMatchAnywhereUnlessAnchored) {
    EXPECT_EQ(matches(stringFilter(1, "a"), "cab"), true);
    EXPECT_EQ(matches(stringFilter(1, "^a"), "cab"), false);
    EXPECT_EQ(matches(stringFilter(1, "^c"), "cab"), true);
    EXPECT_EQ(matches(stringFilter(1, "CAB$"), "cab"), true);
    EXPECT_EQ(matches(stringFilter(1, "CAB$", true), "cab"), false);
    EXPECT_EQ(matches(stringFilter(1, "\\d{3}-\\d{4}"), "call 555-1234 now"), true);

    // A pattern that does not compile, or one that would keep the matcher busy without end,
    // gives no outcome rather than an answer or a hang.
    LogCapture capture;
    std::string nearMiss(5000, 'a');
    nearMiss.push_back('!');
    EXPECT_EQ(matches(stringFilter(1, "(a"), "a"), std::nullopt);
    EXPECT_EQ(matches(stringFilter(1, "(a+)+$"), nearMiss), std::nullopt);
    EXPECT_TRUE(capture.contains("[I-ACS009006]"));
    EXPECT_EQ(matches(stringFilter(1, "(a+)+$"), "aaaa"), true);
}
