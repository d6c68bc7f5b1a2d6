// The validator's rules: name shapes and reserved names, lengths in code points (the currency
// in UTF-16 units), Unicode letters without combining marks, value kinds, array parameters,
// and the failure codes and messages each refusal gives.
#include "analytics/core/APMDataTypeValidator.h"

#include "LogCapture.h"
#include "analytics/core/APMValue.h"

#include <gtest/gtest.h>

namespace {

using V = APMDataTypeValidator;

Value text(const std::string& s) { return Value(s); }
Value stringValue(const std::string& s) { return Value(APMValue::initWithString(Value(s))); }

// The failure code of a check, 0 when it passed.
template <class Check>
std::int64_t codeOf(Check check) {
    std::int64_t code = -1;
    const bool valid = check(&code);
    return valid ? 0 : code;
}

TEST(APMDataTypeValidatorTest, NamesPublicAndInternal) {
    LogCapture capture;
    // A leading underscore is internal only.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(text("_e"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("_e"), c); }), V::kInvalidCharacters);
    EXPECT_TRUE(capture.contains("[I-ACS013003] Event name must start with a letter"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("level up"), c); }), V::kInvalidCharacters);
    EXPECT_TRUE(capture.contains("[I-ACS013002] Event name must contain only letters, numbers, or underscores"));

    // Reserved prefixes and names bind public names only.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("rezavivi_x"), c); }), V::kReserved);
    EXPECT_TRUE(capture.contains("[I-ACS013007] Event name uses reserved prefix. Ignoring event"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventParameterName(text("va_x"), c); }), V::kReserved);
    EXPECT_TRUE(capture.contains("[I-ACS013008]"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicUserAttributeName(text("vizudi_x"), c); }), V::kReserved);
    EXPECT_TRUE(capture.contains("[I-ACS013010]"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(text("rezavivi_x"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventParameterName(text("va_x"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("error"), c); }), V::kReserved);
    EXPECT_TRUE(capture.contains("[I-ACS013006] Event name is reserved. Ignoring event"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("screen_view"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("ad_impression"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicUserAttributeName(text("user_id"), c); }), V::kReserved);
    EXPECT_TRUE(capture.contains("[I-ACS013009] User property name is reserved. Ignoring user property"));

    // Origins: the forwarded form, then the internal one.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidForwardedEventOrigin(text("app+gtm"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidForwardedEventOrigin(text("app"), c); }), V::kNotForwardedOrigin);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidForwardedEventOrigin(text(""), c); }), V::kMissing);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventOrigin(text("app"), c); }), 0);
    const std::string longOrigin = std::string(33, 'o').append("+gtm");
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidForwardedEventOrigin(text(longOrigin), c); }), V::kTooLong);

    // Kinds and emptiness.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(Value(), c); }), V::kMissing);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(Value(5), c); }), V::kWrongType);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(text(""), c); }), V::kMissing);
    EXPECT_TRUE(capture.contains("[I-ACS013001] Event name is required and can't be empty"));
    // The out-argument is optional.
    EXPECT_FALSE(V::isValidPublicEventName(text("_e"), nullptr));
}

TEST(APMDataTypeValidatorTest, LengthsCountCodePointsAndLettersAreUnicodeLettersOnly) {
    LogCapture capture;
    const std::string forty(40, 'a');
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidPublicEventName(text(forty), c); }), 0);
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidPublicEventName(text(forty + "a"), c); }), V::kTooLong);
    EXPECT_TRUE(capture.contains("[I-ACS013000] Event name is too long. The maximum supported length is 40"));
    // A letter outside the basic plane is one unit (two in UTF-16).
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidPublicEventName(text(forty.substr(1) + "\U0001D49C"), c); }), 0);
    const std::string emoji = "\U0001F600";
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += emoji;
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidPublicEventParameterValue(stringValue(hundred), c); }), 0);
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidPublicEventParameterValue(stringValue(hundred + emoji), c); }),
              V::kTooLong);

    // Letters of any script, digits of any script after the first letter; no combining marks.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("名前_\u0663"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("\u0663x"), c); }), V::kInvalidCharacters);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventName(text("cafe\u0301"), c); }), V::kInvalidCharacters);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventName(text("a\xff"), c); }), V::kInvalidCharacters);

    // Currency: three letters counted in UTF-16 units.
    for (const char* good : {"usd", "EUR", "ÄÖÜ"}) {
        EXPECT_EQ(codeOf([&](auto c) { return V::isValidCurrencyCode(stringValue(good), c); }), 0) << good;
    }
    for (const char* bad : {"us1", "usdx", "us", "us\u0301", "\U0001D49Cx"}) {
        EXPECT_EQ(codeOf([&](auto c) { return V::isValidCurrencyCode(stringValue(bad), c); }), V::kInvalidCurrency)
            << bad;
    }
    EXPECT_EQ(codeOf([](auto c) { return V::isValidCurrencyCode(Value(APMValue::initWithInt64(840)), c); }),
              V::kInvalidCurrency);
    EXPECT_TRUE(capture.contains(
        "[I-ACS013012] Event parameter value must contain a 3-letter ISO_4217 currency code. value"));
}

TEST(APMDataTypeValidatorTest, ValuesAndTheirBounds) {
    LogCapture capture;
    // Public parameter strings may be empty; user property values may not, and say nothing.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventParameterValue(stringValue(""), c); }), 0);
    capture.clear();
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicUserAttributeValue(stringValue(""), c); }), V::kMissing);
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicUserAttributeValue(stringValue(std::string(37, 'v')), c); }),
              V::kTooLong);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidInternalEventParameterValue(stringValue(std::string(256, 'v')), c); }),
              0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventParameterValue(stringValue(std::string(101, 'v')), c); }),
              V::kTooLong);
    // Long values for the three identifiers only.
    const Value twoHundred = stringValue(std::string(200, 'i'));
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidInternalUserAttributeValue(twoHundred, "_id", c); }), 0);
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidInternalUserAttributeValue(twoHundred, "_psmvalue", c); }), 0);
    EXPECT_EQ(codeOf([&](auto c) { return V::isValidInternalUserAttributeValue(twoHundred, "_x", c); }), V::kTooLong);
    // Numbers and arrays pass as values; a plain text or nothing is not a value.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicUserAttributeValue(Value(APMValue::initWithDouble(1.5)), c); }),
              0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventParameterValue(text("plain"), c); }), V::kWrongType);
    EXPECT_TRUE(capture.contains("[I-ACS013005] Event parameter value must be a APMValue instance. value"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidPublicEventParameterValue(Value(), c); }), V::kMissing);
    EXPECT_TRUE(capture.contains("[I-ACS013004] Event parameter value cannot be nil"));

    // Screen texts are plain texts of 1 to 100.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidScreenParameterValue(text("Home"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidScreenParameterValue(text(""), c); }), V::kMissing);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidScreenParameterValue(stringValue("Home"), c); }), V::kWrongType);
    // Conditional user properties.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidConditionalUserPropertyOrigin(text("app"), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidConditionalUserPropertyName(text(std::string(25, 'n')), c); }),
              V::kTooLong);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidConditionalUserPropertyValue(stringValue(""), c); }), V::kMissing);

    // Numeric values.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidNumericValue(Value(APMValue::initWithInt64(3)), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidNumericValue(stringValue("3"), c); }), V::kNotNumeric);
    EXPECT_TRUE(capture.contains("[I-ACS013011] Event parameter value must be specified with a numeric type. value"));
}

TEST(APMDataTypeValidatorTest, ArrayParametersInOrderOfTheirRules) {
    LogCapture capture;
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamForEvent("purchase", "items", 200, false, c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamForEvent("purchase", "items", 201, false, c); }),
              V::kTooManyArrayItems);
    EXPECT_TRUE(capture.contains("The maximum number of supported items is 200. Invalid array size"));
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamForEvent("purchase", "lines", 1, false, c); }),
              V::kArrayNotNamedItems);
    EXPECT_TRUE(capture.contains("The name of array parameters for ecommerce should be \"items\""));
    // The event comes before the name, nesting before both.
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamForEvent("level_up", "lines", 1, false, c); }),
              V::kArrayInNonEcommerceEvent);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamForEvent("level_up", "lines", 500, true, c); }),
              V::kNestedArray);
    EXPECT_EQ(capture.matching("[I-ACS013013]").size(), 4u);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamItem(Value(Value::Dictionary{}), c); }), 0);
    EXPECT_EQ(codeOf([](auto c) { return V::isValidArrayParamItem(Value("item"), c); }), V::kArrayItemNotDictionary);
    EXPECT_TRUE(capture.contains("[I-ACS013014] Array param must be a dictionary. Parameters"));
}

}  // namespace
