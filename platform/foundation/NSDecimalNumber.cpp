// Decimal numbers over a string of decimal digits and a power-of-ten exponent.
#include "platform/foundation/NSDecimalNumber.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <limits>
#include <vector>

namespace {

std::string stripLeadingZeros(std::string digits) {
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    return digits.substr(first);
}

// Compares magnitudes of two digit strings without leading zeros.
int compareDigits(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string addDigits(const std::string& a, const std::string& b) {
    std::string out;
    int carry = 0;
    for (size_t i = 0; i < std::max(a.size(), b.size()) || carry; ++i) {
        int da = i < a.size() ? a[a.size() - 1 - i] - '0' : 0;
        int db = i < b.size() ? b[b.size() - 1 - i] - '0' : 0;
        int sum = da + db + carry;
        out.push_back(static_cast<char>('0' + sum % 10));
        carry = sum / 10;
    }
    std::reverse(out.begin(), out.end());
    return stripLeadingZeros(out);
}

// a - b where a >= b.
std::string subtractDigits(const std::string& a, const std::string& b) {
    std::string out;
    int borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int da = a[a.size() - 1 - i] - '0' - borrow;
        int db = i < b.size() ? b[b.size() - 1 - i] - '0' : 0;
        borrow = da < db ? 1 : 0;
        out.push_back(static_cast<char>('0' + da + borrow * 10 - db));
    }
    std::reverse(out.begin(), out.end());
    return stripLeadingZeros(out);
}

std::string multiplyDigits(const std::string& a, const std::string& b) {
    std::vector<int> acc(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); ++i) {
        for (size_t j = 0; j < b.size(); ++j) {
            acc[a.size() - 1 - i + b.size() - 1 - j] += (a[i] - '0') * (b[j] - '0');
        }
    }
    std::string out;
    int carry = 0;
    for (size_t k = 0; k < acc.size(); ++k) {
        int v = acc[k] + carry;
        out.push_back(static_cast<char>('0' + v % 10));
        carry = v / 10;
    }
    while (carry) {
        out.push_back(static_cast<char>('0' + carry % 10));
        carry /= 10;
    }
    std::reverse(out.begin(), out.end());
    return stripLeadingZeros(out);
}

char decimalSeparatorForLocale(const std::string& identifier) {
    const std::string language = identifier.substr(0, identifier.find_first_of("_-"));
    static const char* const commaLanguages[] = {"de", "fr", "es", "it", "ru", "pt", "nl", "pl", "sv", "da", "fi",
                                                 "nb", "no", "cs", "tr", "uk", "el", "hu", "ro", "id", "vi"};
    for (const char* lang : commaLanguages) {
        if (language == lang) return ',';
    }
    return '.';
}

}  // namespace

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::make(std::string digits, int exponent, bool negative) {
    long long exp = exponent;
    digits = stripLeadingZeros(std::move(digits));
    if (digits == "0") return zero();
    if (digits.size() > static_cast<size_t>(kMaxDigits)) {
        const size_t drop = digits.size() - kMaxDigits;
        const bool roundUp = digits[kMaxDigits] >= '5';
        digits.resize(kMaxDigits);
        exp += static_cast<long long>(drop);
        if (roundUp) digits = addDigits(digits, "1");
        if (digits.size() > static_cast<size_t>(kMaxDigits)) {
            digits.pop_back();  // a carry gave 10^38, whose last digit is 0
            ++exp;
        }
    }
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
        ++exp;
    }
    while (exp < kMinExponent) {
        // Below the smallest exponent only whole digits can go.
        if (digits.size() <= 1) return zero();
        digits.pop_back();
        ++exp;
        digits = stripLeadingZeros(digits);
        if (digits == "0") return zero();
    }
    if (exp > kMaxExponent) return notANumber();
    auto number = std::make_shared<NSDecimalNumber>();
    number->digits_ = std::move(digits);
    number->exponent_ = static_cast<int>(exp);
    number->negative_ = negative;
    return number;
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberWithString(const std::string& text,
                                                                          const std::string& localeIdentifier) {
    const char separator = decimalSeparatorForLocale(localeIdentifier);
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::string digits;
    long long exponent = 0;
    bool sawDigit = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        digits.push_back(text[i++]);
        sawDigit = true;
    }
    if (i < text.size() && text[i] == separator) {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            digits.push_back(text[i++]);
            --exponent;
            sawDigit = true;
        }
    }
    if (!sawDigit) return notANumber();
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool expNegative = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            expNegative = text[j] == '-';
            ++j;
        }
        if (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
            long long e = 0;
            while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
                if (e < 100000) e = e * 10 + (text[j] - '0');
                ++j;
            }
            exponent += expNegative ? -e : e;
        }
    }
    // Fold the exponent of leading digits that rounding will drop before range checks.
    std::string magnitude = stripLeadingZeros(digits);
    if (magnitude == "0") return zero();
    const long long adjusted = exponent + static_cast<long long>(magnitude.size());
    if (adjusted > kMaxExponent + kMaxDigits + 1) return notANumber();
    if (adjusted < kMinExponent - 1) return zero();
    return make(std::move(magnitude), static_cast<int>(exponent), negative);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberWithMantissa(std::uint64_t mantissa, int exponent,
                                                                            bool isNegative) {
    if (exponent > kMaxExponent + kMaxDigits || exponent < kMinExponent - 40) return notANumber();
    return make(std::to_string(mantissa), exponent, isNegative);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::initWithLongLong(long long value) {
    // The magnitude of the smallest value does not fit its own type: take it unsigned.
    const std::uint64_t magnitude =
        value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return make(std::to_string(magnitude), 0, value < 0);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberByRoundingToInteger() const {
    if (nan_) return notANumber();
    if (exponent_ >= 0) return make(digits_, exponent_, negative_);
    const long long point = static_cast<long long>(digits_.size()) + exponent_;
    if (point < 0) return zero();
    std::string whole = point == 0 ? "0" : digits_.substr(0, static_cast<size_t>(point));
    if (digits_[static_cast<size_t>(point)] >= '5') whole = addDigits(whole, "1");
    return make(std::move(whole), 0, negative_);
}

std::optional<std::int64_t> NSDecimalNumber::int64Value() const {
    if (nan_) return std::nullopt;
    if (digits_ == "0") return 0;
    if (exponent_ < 0) return std::nullopt;  // trailing zeros are stripped: a fraction is left
    const std::string magnitude = digits_ + std::string(static_cast<size_t>(exponent_), '0');
    static const std::string maxPositive = std::to_string(std::numeric_limits<std::int64_t>::max());
    static const std::string maxNegative = "9223372036854775808";
    if (compareDigits(magnitude, negative_ ? maxNegative : maxPositive) > 0) return std::nullopt;
    const std::uint64_t value = std::strtoull(magnitude.c_str(), nullptr, 10);
    return negative_ ? static_cast<std::int64_t>(std::uint64_t{0} - value) : static_cast<std::int64_t>(value);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::notANumber() {
    static const std::shared_ptr<NSDecimalNumber> nan = [] {
        auto n = std::make_shared<NSDecimalNumber>();
        n->nan_ = true;
        return n;
    }();
    return nan;
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::zero() {
    static const std::shared_ptr<NSDecimalNumber> z = std::make_shared<NSDecimalNumber>();
    return z;
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::one() {
    static const std::shared_ptr<NSDecimalNumber> o = make("1", 0, false);
    return o;
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberByAdding(const NSDecimalNumber& other) const {
    if (nan_ || other.nan_) return notANumber();
    const int e = std::min(exponent_, other.exponent_);
    const std::string a = digits_ + std::string(static_cast<size_t>(exponent_ - e), '0');
    const std::string b = other.digits_ + std::string(static_cast<size_t>(other.exponent_ - e), '0');
    if (negative_ == other.negative_) return make(addDigits(a, b), e, negative_);
    const int c = compareDigits(a, b);
    if (c == 0) return zero();
    return c > 0 ? make(subtractDigits(a, b), e, negative_) : make(subtractDigits(b, a), e, other.negative_);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberBySubtracting(const NSDecimalNumber& other) const {
    if (nan_ || other.nan_) return notANumber();
    NSDecimalNumber negated;
    negated.digits_ = other.digits_;
    negated.exponent_ = other.exponent_;
    negated.negative_ = other.digits_ != "0" && !other.negative_;
    return decimalNumberByAdding(negated);
}

std::shared_ptr<NSDecimalNumber> NSDecimalNumber::decimalNumberByMultiplyingBy(const NSDecimalNumber& other) const {
    if (nan_ || other.nan_) return notANumber();
    const std::string product = multiplyDigits(digits_, other.digits_);
    if (product == "0") return zero();
    const long long exp = static_cast<long long>(exponent_) + other.exponent_;
    const long long adjusted = exp + static_cast<long long>(product.size());
    if (adjusted > kMaxExponent + kMaxDigits + 1) return notANumber();
    if (adjusted < kMinExponent - 1) return zero();
    return make(product, static_cast<int>(exp), negative_ != other.negative_);
}

NSComparisonResult NSDecimalNumber::compare(const NSDecimalNumber& other) const {
    if (nan_ || other.nan_) {
        if (nan_ && other.nan_) return NSOrderedSame;
        return nan_ ? NSOrderedAscending : NSOrderedDescending;
    }
    const bool zeroA = digits_ == "0";
    const bool zeroB = other.digits_ == "0";
    const int signA = zeroA ? 0 : (negative_ ? -1 : 1);
    const int signB = zeroB ? 0 : (other.negative_ ? -1 : 1);
    if (signA != signB) return signA < signB ? NSOrderedAscending : NSOrderedDescending;
    if (signA == 0) return NSOrderedSame;
    int magnitude;
    const long long posA = exponent_ + static_cast<long long>(digits_.size());
    const long long posB = other.exponent_ + static_cast<long long>(other.digits_.size());
    if (posA != posB) {
        magnitude = posA < posB ? -1 : 1;
    } else {
        const size_t n = std::max(digits_.size(), other.digits_.size());
        std::string a = digits_ + std::string(n - digits_.size(), '0');
        std::string b = other.digits_ + std::string(n - other.digits_.size(), '0');
        int c = a.compare(b);
        magnitude = c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (signA < 0) magnitude = -magnitude;
    return static_cast<NSComparisonResult>(magnitude);
}

std::string NSDecimalNumber::stringValue() const {
    if (nan_) return "NaN";
    if (digits_ == "0") return "0";
    std::string out = negative_ ? "-" : "";
    if (exponent_ >= 0) {
        out += digits_ + std::string(static_cast<size_t>(exponent_), '0');
        return out;
    }
    const long long point = static_cast<long long>(digits_.size()) + exponent_;
    if (point > 0) {
        out += digits_.substr(0, static_cast<size_t>(point)) + "." + digits_.substr(static_cast<size_t>(point));
    } else {
        out += "0." + std::string(static_cast<size_t>(-point), '0') + digits_;
    }
    return out;
}

double NSDecimalNumber::doubleValue() const {
    if (nan_) return std::numeric_limits<double>::quiet_NaN();
    std::string text = (negative_ ? "-" : "") + digits_ + "e" + std::to_string(exponent_);
    return std::strtod(text.c_str(), nullptr);
}

bool NSDecimalNumber::isEqual(const NSObject* other) const {
    auto* number = dynamic_cast<const NSDecimalNumber*>(other);
    return number && compare(*number) == NSOrderedSame;
}

std::size_t NSDecimalNumber::hash() const {
    if (nan_) return 0x7ff8;
    return std::hash<std::string>()(stringValue());
}
