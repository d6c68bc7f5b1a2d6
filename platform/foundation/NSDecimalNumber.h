// Decimal numbers of up to 38 significant digits (mantissa x 10^exponent, exponent -128..127),
// exact for decimal text where binary doubles are not. Immutable.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSString.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class NSDecimalNumber : public NSObject {
public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMaxExponent = 127;
    static constexpr int kMinExponent = -128;

    // Reads the longest number at the start of the text (after white space): sign, digits with
    // the locale's decimal separator, optional exponent ("e5", "E-3"). Not a number when no
    // digit is found or the value is out of range. Digits beyond 38 are rounded half up.
    static std::shared_ptr<NSDecimalNumber> decimalNumberWithString(const std::string& text,
                                                                    const std::string& localeIdentifier = "en_US");
    static std::shared_ptr<NSDecimalNumber> decimalNumberWithMantissa(std::uint64_t mantissa, int exponent,
                                                                      bool isNegative);
    // Exact for every 64-bit integer.
    static std::shared_ptr<NSDecimalNumber> initWithLongLong(long long value);
    static std::shared_ptr<NSDecimalNumber> notANumber();
    static std::shared_ptr<NSDecimalNumber> zero();
    static std::shared_ptr<NSDecimalNumber> one();

    // Arithmetic rounds the result to 38 digits; anything with not-a-number, or a result out
    // of range, gives not-a-number.
    std::shared_ptr<NSDecimalNumber> decimalNumberByAdding(const NSDecimalNumber& other) const;
    std::shared_ptr<NSDecimalNumber> decimalNumberBySubtracting(const NSDecimalNumber& other) const;
    std::shared_ptr<NSDecimalNumber> decimalNumberByMultiplyingBy(const NSDecimalNumber& other) const;

    // The nearest whole number, a tie going away from zero (the platform's plain rounding).
    std::shared_ptr<NSDecimalNumber> decimalNumberByRoundingToInteger() const;
    // The value as a 64-bit integer when it is a whole number within that range; nothing
    // otherwise (a fraction, not-a-number, or too large).
    std::optional<std::int64_t> int64Value() const;

    // Not-a-number orders before every number and equals itself.
    NSComparisonResult compare(const NSDecimalNumber& other) const;
    bool isNotANumber() const { return nan_; }
    bool isNegative() const { return negative_; }

    // Canonical text: plain decimal notation, no leading or trailing zeros ("1.5", "-0.25",
    // "100", "0"), "NaN" for not-a-number.
    std::string stringValue() const;
    double doubleValue() const;

    std::string description() const override { return stringValue(); }
    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;

private:
    static std::shared_ptr<NSDecimalNumber> make(std::string digits, int exponent, bool negative);

    std::string digits_ = "0";  // magnitude, no leading or trailing zeros ("0" for zero)
    int exponent_ = 0;
    bool negative_ = false;
    bool nan_ = false;
};
