// Conversions, method dispatch and equality of runtime values, and the number rules they share.
#include "analytics/script/APMPRuntimeValue.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPControlValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStatementValue.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <iterator>
#include <set>
#include <utility>

namespace {
namespace values {

// Nested containers compared further than this compare by identity.
constexpr int kMaxEqualityDepth = 64;

bool isBlankUnit(char16_t c) {
    switch (c) {
        case u' ': case u'\t': case u'\n': case u'\v': case u'\f': case u'\r': case 0x85: case 0xA0: case 0x1680:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The whole text as a decimal number (sign, digits, fraction, exponent), or none.
std::optional<double> scanDecimal(std::u16string_view text) {
    std::string ascii;
    ascii.reserve(text.size());
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    std::size_t digits = 0;
    long long integerDigits = 0;
    bool leading = true;
    for (; i < text.size() && isDigit(text[i]); ++i, ++digits) {
        ascii += static_cast<char>(text[i]);
        if (leading && text[i] == u'0') continue;
        leading = false;
        ++integerDigits;
    }
    if (i < text.size() && text[i] == u'.') {
        ascii += '.';
        for (++i; i < text.size() && isDigit(text[i]); ++i, ++digits) ascii += static_cast<char>(text[i]);
    }
    if (digits == 0) return std::nullopt;
    long long exponent = 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii += 'e';
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii += static_cast<char>(text[i++]);
        const std::size_t first = i;
        for (; i < text.size() && isDigit(text[i]); ++i) {
            ascii += static_cast<char>(text[i]);
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - u'0');
        }
        if (i == first) return std::nullopt;
        if (ascii[ascii.size() - (i - first) - 1] == '-') exponent = -exponent;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: infinity or zero, as a decimal scanner gives.
        value = integerDigits + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc() || end != ascii.data() + ascii.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// The containers of the comparison in progress, against cycles.
struct EqualityWalk {
    std::set<std::pair<const APMPObject*, const APMPObject*>> open;

    bool equal(const APMPRuntimeValue& a, const APMPRuntimeValue& b, int depth) {
        using Kind = APMPRuntimeValue::Kind;
        if (a.kind() != b.kind()) return false;
        switch (a.kind()) {
            case Kind::Undefined: case Kind::Null: case Kind::Hole: case Kind::Break: case Kind::Continue:
                return true;
            case Kind::Boolean:
                return a.booleanFlag() == b.booleanFlag();
            case Kind::Number:
                return a.number() == b.number() || (std::isnan(a.number()) && std::isnan(b.number()));
            case Kind::String:
                return a.text() == b.text();
            case Kind::Function: {
                if (a.object() == b.object()) return true;
                const auto& name = a.as<APMPFunctionValue>()->functionName();
                return !name.empty() && name == b.as<APMPFunctionValue>()->functionName();
            }
            default:
                break;
        }
        if (a.object() == b.object()) return true;
        if (depth >= kMaxEqualityDepth || !open.emplace(a.object(), b.object()).second) return false;
        const bool result = equalContents(a, b, depth + 1);
        open.erase({a.object(), b.object()});
        return result;
    }

    bool equalContents(const APMPRuntimeValue& a, const APMPRuntimeValue& b, int depth) {
        using Kind = APMPRuntimeValue::Kind;
        switch (a.kind()) {
            case Kind::Array: {
                const auto& left = a.as<APMPArrayValue>()->elements();
                const auto& right = b.as<APMPArrayValue>()->elements();
                if (left.size() != right.size()) return false;
                for (std::size_t i = 0; i < left.size(); ++i) {
                    if (!equal(left[i], right[i], depth)) return false;
                }
                return true;
            }
            case Kind::Map: {
                const auto& left = a.as<APMPMapValue>()->properties();
                const auto& right = b.as<APMPMapValue>()->properties();
                if (left.size() != right.size()) return false;
                for (const auto& entry : left.entries()) {
                    const APMPRuntimeValue* other = right.find(entry.name);
                    if (!other || !equal(entry.value, *other, depth)) return false;
                }
                return true;
            }
            case Kind::Statement: {
                const auto* left = a.as<APMPStatementValue>();
                const auto* right = b.as<APMPStatementValue>();
                if (left->functionName() != right->functionName()) return false;
                if (left->arguments().size() != right->arguments().size()) return false;
                for (std::size_t i = 0; i < left->arguments().size(); ++i) {
                    if (!equal(left->arguments()[i], right->arguments()[i], depth)) return false;
                }
                return true;
            }
            case Kind::Return:
                return equal(a.as<APMPControlValue>()->data(), b.as<APMPControlValue>()->data(), depth);
            default:
                return false;
        }
    }
};

}  // namespace values
}  // namespace

APMPRuntimeValue::APMPRuntimeValue(APMPObject* object) {
    switch (object->objectType()) {
        case APMPObject::Type::String: kind_ = Kind::String; break;
        case APMPObject::Type::Array: kind_ = Kind::Array; break;
        case APMPObject::Type::Map: kind_ = Kind::Map; break;
        case APMPObject::Type::Function: kind_ = Kind::Function; break;
        case APMPObject::Type::Statement: kind_ = Kind::Statement; break;
        case APMPObject::Type::Return: kind_ = Kind::Return; break;
        case APMPObject::Type::Scope: std::abort();  // scopes are never values
    }
    payload_.object = object;
    object->retain();
}

std::u16string APMPRuntimeValue::stringValueOrError(APMPRuntime& runtime, NSErrorPtr& error) const {
    switch (kind_) {
        case Kind::Undefined: case Kind::Hole: return u"undefined";
        case Kind::Null: return u"null";
        case Kind::Boolean: return payload_.flag ? u"true" : u"false";
        case Kind::Map: return u"[object Object]";
        case Kind::Function: return as<APMPFunctionValue>()->functionName();
        case Kind::String:
            if (!runtime.chargeWork(text().size(), error)) return {};
            return text();
        default: {
            APMPTextBuilder built(runtime);
            if (!appendText(built, error)) return {};
            return built.take();
        }
    }
}

bool APMPRuntimeValue::appendText(APMPTextBuilder& text, NSErrorPtr& error) const {
    APMPRuntime& runtime = text.runtime();
    switch (kind_) {
        case Kind::Undefined: case Kind::Hole: return text.append(u"undefined", error);
        case Kind::Null: return text.append(u"null", error);
        case Kind::Boolean: return text.append(payload_.flag ? u"true" : u"false", error);
        case Kind::Number: {
            // A whole number's digits come at once, for a quarter of what making a value costs;
            // any other's shortest digits are searched for, which costs about two values.
            const double number = payload_.number;
            const bool whole = std::fabs(number) < 9007199254740992.0 && number == std::trunc(number);
            if (!runtime.chargeWork(whole ? APMPRuntime::kValueUnits / 4 : 2 * APMPRuntime::kValueUnits, error)) {
                return false;
            }
            const std::string digits = APMPStringFromNumber(number);
            char16_t units[32];
            const std::size_t count = std::min(digits.size(), std::size(units));
            std::copy_n(digits.begin(), count, units);
            return text.append(std::u16string_view(units, count), error);
        }
        case Kind::String: return text.append(this->text(), error);
        case Kind::Array: return as<APMPArrayValue>()->appendText(text, u",", error);
        case Kind::Map: return text.append(u"[object Object]", error);
        case Kind::Function: return text.append(as<APMPFunctionValue>()->functionName(), error);
        default:
            error = APMPError(APMPErrorNoStringConversion);
            return false;
    }
}

double APMPRuntimeValue::convertedDouble(APMPRuntime& runtime, NSErrorPtr& error) const {
    switch (kind_) {
        case Kind::Undefined: case Kind::Hole: return std::numeric_limits<double>::quiet_NaN();
        case Kind::Null: return 0;
        case Kind::Boolean: return payload_.flag ? 1 : 0;
        case Kind::Number: return payload_.number;
        // Reading digits costs about what visiting an element does, per unit.
        case Kind::String:
            runtime.chargeWork(std::uint64_t{text().size()} * APMPRuntime::kElementUnits);
            return APMPNumberFromString(text());
        case Kind::Array: {
            APMPTextBuilder joined(runtime);
            if (!appendText(joined, error) ||
                !runtime.chargeWork(std::uint64_t{joined.size()} * APMPRuntime::kElementUnits, error)) {
                return std::numeric_limits<double>::quiet_NaN();
            }
            return APMPNumberFromString(joined.text());
        }
        case Kind::Map: case Kind::Function: return std::numeric_limits<double>::quiet_NaN();
        default:
            error = APMPError(APMPErrorNoNumberConversion);
            return std::numeric_limits<double>::quiet_NaN();
    }
}

bool APMPRuntimeValue::booleanValueOrError(NSErrorPtr& error) const {
    switch (kind_) {
        case Kind::Undefined: case Kind::Null: case Kind::Hole: return false;
        case Kind::Boolean: return payload_.flag;
        case Kind::Number: return payload_.number != 0 && !std::isnan(payload_.number);
        case Kind::String: return !text().empty();
        case Kind::Array: case Kind::Map: case Kind::Function: return true;
        default:
            error = APMPError(APMPErrorNoBooleanConversion);
            return false;
    }
}

std::u16string_view APMPRuntimeValue::typeOf() const {
    switch (kind_) {
        case Kind::Undefined: case Kind::Hole: return u"undefined";
        case Kind::Boolean: return u"boolean";
        case Kind::Number: return u"number";
        case Kind::String: return u"string";
        case Kind::Function: return u"function";
        default: return u"object";
    }
}

APMPRuntimeValue APMPRuntimeValue::applyWithName(const std::u16string& name,
                                                 std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                 APMPRuntime& runtime, NSErrorPtr& error) const {
    switch (kind_) {
        case Kind::Undefined: case Kind::Null: case Kind::Hole:
            error = APMPError(APMPErrorMethodOfNothing);
            return undefined();
        case Kind::String:
            return runtime.stringEvaluator().evaluateCommand(name, text(), arguments, scope, runtime, error);
        case Kind::Array:
            return as<APMPArrayValue>()->applyWithName(name, arguments, scope, runtime, error);
        case Kind::Map:
            return as<APMPMapValue>()->applyWithName(name, arguments, scope, runtime, error);
        case Kind::Function:
            return as<APMPFunctionValue>()->applyWithName(name, arguments, scope, runtime, error);
        default:
            break;
    }
    // Numbers, booleans, statements and control values: "toString" alone.
    if (name != u"toString") {
        error = APMPError(APMPErrorUnknownMethod);
        return undefined();
    }
    std::u16string text = stringValueOrError(runtime, error);
    if (error) return undefined();
    return runtime.string(std::move(text), error);
}

bool APMPRuntimeValue::isEqualToRuntimeValue(const APMPRuntimeValue& other) const {
    using namespace values;
    EqualityWalk walk;
    return walk.equal(*this, other, 0);
}

bool APMPRuntimeValue::isSameValue(const APMPRuntimeValue& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case Kind::Boolean: return payload_.flag == other.payload_.flag;
        case Kind::Number: return payload_.number == other.payload_.number;
        default: return !isObject() || payload_.object == other.payload_.object;
    }
}

bool APMPIsBlank(char16_t unit) { return values::isBlankUnit(unit); }

double APMPToInteger(double value) {
    if (std::isnan(value)) return 0;
    return std::trunc(value);
}

std::uint32_t APMPToUint32(double value) {
    if (!std::isfinite(value)) return 0;
    const double truncated = std::trunc(value);
    const double modulo = std::fmod(truncated, 4294967296.0);
    const double positive = modulo < 0 ? modulo + 4294967296.0 : modulo;
    return static_cast<std::uint32_t>(positive);
}

std::int64_t APMPSaturatingInt64(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is the first double past the range; -2^63 is in it.
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (value < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

double APMPNumberFromString(std::u16string_view text) {
    using namespace values;
    std::size_t begin = 0, end = text.size();
    while (begin < end && APMPIsBlank(text[begin])) ++begin;
    while (end > begin && APMPIsBlank(text[end - 1])) --end;
    const std::u16string_view trimmed = text.substr(begin, end - begin);
    if (trimmed.empty()) return 0;
    if (trimmed == u"NaN") return std::numeric_limits<double>::quiet_NaN();
    if (trimmed == u"Infinity") return std::numeric_limits<double>::infinity();
    if (trimmed == u"-Infinity") return -std::numeric_limits<double>::infinity();
    return scanDecimal(trimmed).value_or(std::numeric_limits<double>::quiet_NaN());
}

std::string APMPStringFromNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    if (value == 0) return "0";
    // Below 2^53 every whole number is a double of its own: its shortest digits are all of its
    // digits.
    if (std::fabs(value) < 9007199254740992.0 && value == std::trunc(value)) {
        char whole[24];
        const auto [end, ec] = std::to_chars(whole, whole + sizeof whole, static_cast<std::int64_t>(value));
        return std::string(whole, ec == std::errc() ? end : whole);
    }
    // The shortest digits that read back as the value, and their decimal exponent.
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    if (ec != std::errc()) return "NaN";
    const std::string_view scientific(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t e = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, e)) {
        if (c != '.') digits += c;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int exponent = 0;
    std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+'), scientific.data() + scientific.size(),
                    exponent);
    // value = 0.digits x 10^n
    const int n = exponent + 1;
    const int k = static_cast<int>(digits.size());
    std::string out = value < 0 ? "-" : "";
    if (n > -6 && n <= 21) {
        if (k <= n) {
            out += digits;
            out.append(static_cast<std::size_t>(n - k), '0');
        } else if (n > 0) {
            out += digits.substr(0, static_cast<std::size_t>(n));
            out += '.';
            out += digits.substr(static_cast<std::size_t>(n));
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-n), '0');
            out += digits;
        }
        return out;
    }
    out += digits[0];
    if (k > 1) {
        out += '.';
        out += digits.substr(1);
    }
    out += n - 1 < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(n - 1));
    return out;
}

std::u16string APMPWiden(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// ASCII, most text, converts unit by unit; the rest through the platform.
std::string APMPUTF8(std::u16string_view text) {
    if (!std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; })) return NSString::fromUTF16(text);
    std::string out(text.size(), '\0');
    std::transform(text.begin(), text.end(), out.begin(), [](char16_t unit) { return static_cast<char>(unit); });
    return out;
}

std::u16string APMPUTF16(std::string_view text) {
    if (!std::all_of(text.begin(), text.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; })) {
        return NSString::toUTF16(text);
    }
    std::u16string out(text.size(), u'\0');
    std::transform(text.begin(), text.end(), out.begin(), [](char byte) { return static_cast<char16_t>(byte); });
    return out;
}
