// Dynamic values: copy-on-write containers, the platform's number and string conversions,
// equality by value, and descriptions in the platform's style.
#include "platform/foundation/Value.h"

#include "platform/foundation/NSString.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <limits>

namespace {

enum Index { kNull, kBool, kInteger, kUnsigned, kDouble, kString, kData, kDate, kArray, kDictionary, kObject };

const std::string& emptyString() {
    static const std::string s;
    return s;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view skipSpace(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    return s.substr(i);
}

// Leading white space, an optional sign and decimal digits; saturates like the platform.
long long parseLongLong(std::string_view text) {
    std::string_view s = skipSpace(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    unsigned long long magnitude = 0;
    const unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (limit - digit) / 10) return negative ? LLONG_MIN : LLONG_MAX;
        magnitude = magnitude * 10 + digit;
    }
    if (negative) return magnitude == 9223372036854775808ULL ? LLONG_MIN : -static_cast<long long>(magnitude);
    return static_cast<long long>(magnitude);
}

unsigned long long parseUnsignedLongLong(std::string_view text) {
    std::string_view s = skipSpace(text);
    if (!s.empty() && s[0] == '-') return static_cast<unsigned long long>(parseLongLong(s));
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    unsigned long long value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (ULLONG_MAX - digit) / 10) return ULLONG_MAX;
        value = value * 10 + digit;
    }
    return value;
}

double parseDouble(std::string_view text) {
    std::string_view s = skipSpace(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    // Only decimal text: no "inf", "nan" or hexadecimal forms.
    const bool startsNumber = !s.empty() && ((s[0] >= '0' && s[0] <= '9') ||
                                             (s[0] == '.' && s.size() > 1 && s[1] >= '0' && s[1] <= '9'));
    if (!startsNumber) return 0;
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value = std::strtod(std::string(s.data(), end).c_str(), nullptr);
    } else if (ec != std::errc()) {
        value = 0;
    }
    return negative ? -value : value;
}

long long doubleToLongLong(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return LLONG_MAX;
    if (d < -9223372036854775808.0) return LLONG_MIN;
    return static_cast<long long>(d);
}

int clampToInt(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// The shortest text that reads back as the same double, printed the way "%g" lays it out.
std::string formatDouble(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    if (d == 0) return std::signbit(d) ? "-0" : "0";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific);
    std::string sci(buffer, result.ptr);
    const std::size_t e = sci.find('e');
    std::string mantissa = sci.substr(0, e);
    const int exponent = std::atoi(sci.c_str() + e + 1);
    std::string sign;
    if (mantissa[0] == '-') {
        sign = "-";
        mantissa.erase(0, 1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits += c;
    if (exponent < -4 || exponent >= 17) {
        std::string out = sign + digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        char exp[16];
        std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return out + exp;
    }
    if (exponent < 0) return sign + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) return sign + digits + std::string(integerDigits - digits.size(), '0');
    return sign + digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
}

std::string formatDate(const NSDate& date) {
    double seconds = std::floor(date.timeIntervalSince1970);
    if (!std::isfinite(seconds)) seconds = 0;
    seconds = std::clamp(seconds, -67768040609740800.0, 67768036191676799.0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d +0000",
                  static_cast<long long>(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return buffer;
}

void appendHex(std::string& out, const std::uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
}

std::string formatData(const NSData& data) {
    std::string out = "{length = " + std::to_string(data.size()) + ", bytes = 0x";
    if (data.size() <= 24) {
        appendHex(out, data.data(), data.size());
    } else {
        appendHex(out, data.data(), 8);
        out += " ... ";
        appendHex(out, data.data() + data.size() - 4, 4);
    }
    return out + "}";
}

// Strings inside collections print bare only when they are plain words.
std::string quoteIfNeeded(const std::string& s) {
    const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    if (plain) return s;
    std::string out = "\"";
    for (char16_t unit : NSString::toUTF16(s)) {
        char escape[16];
        switch (unit) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (unit >= 0x20 && unit < 0x7f) {
                out += static_cast<char>(unit);
            } else {
                std::snprintf(escape, sizeof escape, "\\U%04x", static_cast<unsigned>(unit));
                out += escape;
            }
        }
    }
    return out + "\"";
}

std::string indent(int level) { return std::string(static_cast<std::size_t>(level) * 4, ' '); }

void describe(std::string& out, const Value& value, int level);

void describeElement(std::string& out, const Value& value, int level) {
    switch (value.type()) {
    case Value::Type::Array:
    case Value::Type::Dictionary:
        out += indent(level);
        describe(out, value, level);
        break;
    case Value::Type::Data:
        describe(out, value, level);
        break;
    default:
        // Numbers too: "-1" and "1.5" print quoted, as on the platform.
        out += quoteIfNeeded(value.description());
    }
}

void describe(std::string& out, const Value& value, int level) {
    if (value.isArray()) {
        const Value::Array& array = value.array();
        out += "(\n";
        for (std::size_t i = 0; i < array.size(); ++i) {
            out += indent(level + 1);
            describeElement(out, array[i], level + 1);
            out += i + 1 < array.size() ? ",\n" : "\n";
        }
        out += indent(level) + ")";
    } else if (value.isDictionary()) {
        // The platform lists string keys in ascending order.
        std::vector<std::pair<const std::string*, const Value*>> entries;
        for (const auto& [key, element] : value.dictionary()) entries.emplace_back(&key, &element);
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
        out += "{\n";
        for (const auto& [key, element] : entries) {
            out += indent(level + 1) + quoteIfNeeded(*key) + " = ";
            describeElement(out, *element, level + 1);
            out += ";\n";
        }
        out += indent(level) + "}";
    } else if (value.isData()) {
        out += formatData(value.data());
    } else {
        out += value.description();
    }
}

std::size_t combine(std::size_t seed, std::size_t h) { return seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)); }

// Numbers that compare equal must hash alike: integral values hash as integers.
std::size_t hashNumber(const Value& v) {
    switch (v.type()) {
    case Value::Type::Bool:
    case Value::Type::Integer: return std::hash<long long>()(v.longLongValue());
    case Value::Type::Unsigned: {
        const unsigned long long u = v.unsignedLongLongValue();
        return u <= static_cast<unsigned long long>(LLONG_MAX) ? std::hash<long long>()(static_cast<long long>(u))
                                                                : std::hash<unsigned long long>()(u);
    }
    default: {
        const double d = v.doubleValue();
        if (std::isnan(d)) return 0x7ff8;
        if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return std::hash<long long>()(static_cast<long long>(d));
        if (d == std::trunc(d) && d >= 0 && d < 18446744073709551616.0)
            return std::hash<unsigned long long>()(static_cast<unsigned long long>(d));
        return std::hash<double>()(d);
    }
    }
}

// Exact comparison of a double with a 64-bit integer, without rounding the integer.
bool doubleEqualsSigned(double d, long long i) {
    if (d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0) return false;
    return static_cast<long long>(d) == i;
}

bool doubleEqualsUnsigned(double d, unsigned long long u) {
    if (d != std::trunc(d) || d < 0 || d >= 18446744073709551616.0) return false;
    return static_cast<unsigned long long>(d) == u;
}

bool numbersEqual(const Value& a, const Value& b) {
    const bool aDouble = a.type() == Value::Type::Double, bDouble = b.type() == Value::Type::Double;
    const bool aUnsigned = a.type() == Value::Type::Unsigned, bUnsigned = b.type() == Value::Type::Unsigned;
    if (aDouble && bDouble) {
        const double x = a.doubleValue(), y = b.doubleValue();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    if (aDouble || bDouble) {
        const Value& d = aDouble ? a : b;
        const Value& i = aDouble ? b : a;
        return i.type() == Value::Type::Unsigned ? doubleEqualsUnsigned(d.doubleValue(), i.unsignedLongLongValue())
                                                 : doubleEqualsSigned(d.doubleValue(), i.longLongValue());
    }
    if (aUnsigned && bUnsigned) return a.unsignedLongLongValue() == b.unsignedLongLongValue();
    if (aUnsigned || bUnsigned) {
        const Value& u = aUnsigned ? a : b;
        const Value& s = aUnsigned ? b : a;
        return s.longLongValue() >= 0 &&
               static_cast<unsigned long long>(s.longLongValue()) == u.unsignedLongLongValue();
    }
    return a.longLongValue() == b.longLongValue();
}

}  // namespace

void Value::SharedCount::release(SharedCount* count) noexcept {
    // Release: what this holder read is over before the node goes or another holder changes
    // it; acquire: so is what the others read, for the one that deletes it.
    if (count->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete count;
}

Value::Value(Value&& other) noexcept = default;

Value::Value(Array a) : storage_(Shared<Array>(std::move(a))) {}

Value::Value(Dictionary d) : storage_(Shared<Dictionary>(std::move(d))) {}

Value::Value(std::shared_ptr<NSObject> o) {
    if (o) storage_ = std::move(o);
}

Value::Type Value::type() const {
    switch (storage_.index()) {
    case kBool: return Type::Bool;
    case kInteger: return Type::Integer;
    case kUnsigned: return Type::Unsigned;
    case kDouble: return Type::Double;
    case kString: return Type::String;
    case kData: return Type::Data;
    case kDate: return Type::Date;
    case kArray: return Type::Array;
    case kDictionary: return Type::Dictionary;
    case kObject: return Type::Object;
    default: return Type::Null;
    }
}

bool Value::isNumber() const {
    const auto i = storage_.index();
    return i == kBool || i == kInteger || i == kUnsigned || i == kDouble;
}

const char* Value::objCType() const {
    switch (storage_.index()) {
    case kBool: return "c";
    case kInteger: return "q";
    case kUnsigned: return "Q";
    case kDouble: return "d";
    default: return "";
    }
}

long long Value::longLongValue() const {
    switch (storage_.index()) {
    case kBool: return std::get<bool>(storage_) ? 1 : 0;
    case kInteger: return std::get<std::int64_t>(storage_);
    case kUnsigned: return static_cast<long long>(std::get<std::uint64_t>(storage_));
    case kDouble: return doubleToLongLong(std::get<double>(storage_));
    case kString: return parseLongLong(std::get<std::string>(storage_));
    default: return 0;
    }
}

int Value::intValue() const {
    switch (storage_.index()) {
    case kDouble: return clampToInt(doubleToLongLong(std::get<double>(storage_)));
    case kString: return clampToInt(parseLongLong(std::get<std::string>(storage_)));
    default: return static_cast<int>(longLongValue());  // the platform keeps the low bits
    }
}

long Value::integerValue() const { return static_cast<long>(longLongValue()); }

unsigned long long Value::unsignedLongLongValue() const {
    switch (storage_.index()) {
    case kUnsigned: return std::get<std::uint64_t>(storage_);
    case kString: return parseUnsignedLongLong(std::get<std::string>(storage_));
    default: return static_cast<unsigned long long>(longLongValue());
    }
}

double Value::doubleValue() const {
    switch (storage_.index()) {
    case kBool: return std::get<bool>(storage_) ? 1 : 0;
    case kInteger: return static_cast<double>(std::get<std::int64_t>(storage_));
    case kUnsigned: return static_cast<double>(std::get<std::uint64_t>(storage_));
    case kDouble: return std::get<double>(storage_);
    case kString: return parseDouble(std::get<std::string>(storage_));
    default: return 0;
    }
}

bool Value::boolValue() const {
    switch (storage_.index()) {
    case kBool: return std::get<bool>(storage_);
    case kInteger: return std::get<std::int64_t>(storage_) != 0;
    case kUnsigned: return std::get<std::uint64_t>(storage_) != 0;
    case kDouble: return std::get<double>(storage_) != 0;
    case kString: {
        // White space, a sign and leading zeros are skipped; then Y, y, T, t or 1-9 means true.
        std::string_view s = skipSpace(std::get<std::string>(storage_));
        if (!s.empty() && (s[0] == '+' || s[0] == '-')) s.remove_prefix(1);
        while (!s.empty() && s[0] == '0') s.remove_prefix(1);
        return !s.empty() && (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't' || (s[0] >= '1' && s[0] <= '9'));
    }
    default: return false;
    }
}

std::string Value::stringValue() const {
    switch (storage_.index()) {
    case kNull: return {};
    case kBool: return std::get<bool>(storage_) ? "1" : "0";
    case kInteger: return std::to_string(std::get<std::int64_t>(storage_));
    case kUnsigned: return std::to_string(std::get<std::uint64_t>(storage_));
    case kDouble: return formatDouble(std::get<double>(storage_));
    case kString: return std::get<std::string>(storage_);
    default: return description();
    }
}

const std::string& Value::string() const {
    auto* s = std::get_if<std::string>(&storage_);
    return s ? *s : emptyString();
}

const NSData& Value::data() const {
    static const NSData empty;
    auto* d = std::get_if<std::shared_ptr<const NSData>>(&storage_);
    return d ? **d : empty;
}

NSDate Value::date() const {
    auto* d = std::get_if<NSDate>(&storage_);
    return d ? *d : NSDate{};
}

const Value::Array& Value::array() const {
    static const Array empty;
    auto* a = std::get_if<Shared<Array>>(&storage_);
    return a ? **a : empty;
}

Value::Array& Value::mutableArray() {
    auto* a = std::get_if<Shared<Array>>(&storage_);
    if (!a) {
        storage_ = Shared<Array>(Array());
        a = std::get_if<Shared<Array>>(&storage_);
    }
    return a->mutate();
}

const Value::Dictionary& Value::dictionary() const {
    static const Dictionary empty;
    auto* d = std::get_if<Shared<Dictionary>>(&storage_);
    return d ? **d : empty;
}

Value::Dictionary& Value::mutableDictionary() {
    auto* d = std::get_if<Shared<Dictionary>>(&storage_);
    if (!d) {
        storage_ = Shared<Dictionary>(Dictionary());
        d = std::get_if<Shared<Dictionary>>(&storage_);
    }
    return d->mutate();
}

std::shared_ptr<NSObject> Value::object() const {
    auto* o = std::get_if<std::shared_ptr<NSObject>>(&storage_);
    return o ? *o : nullptr;
}

const Value& Value::operator[](std::string_view key) const {
    auto* d = std::get_if<Shared<Dictionary>>(&storage_);
    return d ? (*d)->get(key) : null();
}

const Value& Value::operator[](std::size_t index) const {
    auto* a = std::get_if<Shared<Array>>(&storage_);
    return a && index < (*a)->size() ? (**a)[index] : null();
}

std::size_t Value::count() const {
    if (auto* a = std::get_if<Shared<Array>>(&storage_)) return (*a)->size();
    if (auto* d = std::get_if<Shared<Dictionary>>(&storage_)) return (*d)->size();
    return 0;
}

Value Value::deepCopy() const {
    if (isArray()) {
        Array copy;
        copy.reserve(array().size());
        for (const Value& element : array()) copy.push_back(element.deepCopy());
        return Value(std::move(copy));
    }
    if (isDictionary()) {
        Dictionary copy;
        for (const auto& [key, value] : dictionary()) copy.set(key, value.deepCopy());
        return Value(std::move(copy));
    }
    return *this;
}

bool Value::operator==(const Value& other) const {
    if (isNumber() || other.isNumber()) return isNumber() && other.isNumber() && numbersEqual(*this, other);
    if (storage_.index() != other.storage_.index()) return false;
    switch (storage_.index()) {
    case kNull: return true;
    case kString: return string() == other.string();
    case kData: return data() == other.data();
    case kDate: return date().timeIntervalSince1970 == other.date().timeIntervalSince1970;
    case kArray: return array() == other.array();
    case kDictionary: return dictionary() == other.dictionary();
    case kObject: return object()->isEqual(other.object().get());
    default: return false;
    }
}

std::size_t Value::hash() const {
    if (isNumber()) return hashNumber(*this);
    switch (storage_.index()) {
    case kString: return std::hash<std::string>()(string());
    case kData: {
        const NSData& d = data();
        return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
    }
    case kDate: {
        const double t = date().timeIntervalSince1970;
        return std::hash<double>()(t == 0 ? 0.0 : t);
    }
    case kArray: {
        std::size_t h = array().size();
        for (const Value& element : array()) h = combine(h, element.hash());
        return h;
    }
    case kDictionary: {
        // Independent of order, as equality is.
        std::size_t h = dictionary().size();
        for (const auto& [key, value] : dictionary())
            h += combine(std::hash<std::string>()(key), value.hash()) * 0x100000001b3ULL;
        return h;
    }
    case kObject: return object()->hash();
    default: return 0;
    }
}

std::string Value::className() const {
    switch (type()) {
        case Type::Null: return "NSNull";
        case Type::Bool:
        case Type::Integer:
        case Type::Unsigned:
        case Type::Double: return "NSNumber";
        case Type::String: return "NSString";
        case Type::Data: return "NSData";
        case Type::Date: return "NSDate";
        case Type::Array: return "NSArray";
        case Type::Dictionary: return "NSDictionary";
        case Type::Object: return object() ? object()->className() : "nil";
    }
    return "nil";
}

std::string Value::description() const {
    switch (storage_.index()) {
    case kNull: return "<null>";
    case kString: return string();
    case kDate: return formatDate(date());
    case kObject: return object()->description();
    case kArray:
    case kDictionary:
    case kData: {
        std::string out;
        describe(out, *this, 0);
        return out;
    }
    default: return stringValue();
    }
}

const Value& Value::null() {
    // Never destroyed: queued work may still read absent keys while the process exits.
    static const Value* v = new Value;
    return *v;
}

Value::Dictionary::SharedKeys Value::Dictionary::Keys::make(const std::vector<std::string>& names) {
    Keys keys;
    keys.names_.reserve(names.size());
    for (const auto& name : names) {
        if (keys.position(name) == npos) keys.append(name);
    }
    return SharedKeys(std::move(keys));
}

std::size_t Value::Dictionary::Keys::position(std::string_view key) const {
    if (index_.empty()) {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == key) return i;
        }
        return npos;
    }
    const auto it = index_.find(key);
    return it == index_.end() ? npos : it->second;
}

void Value::Dictionary::Keys::append(const std::string& key) {
    names_.push_back(key);
    if (!index_.empty()) {
        index_.emplace(key, names_.size() - 1);
    } else if (names_.size() > kScannedKeys) {
        index_.reserve(names_.size());
        for (std::size_t i = 0; i < names_.size(); ++i) index_.emplace(names_[i], i);
    }
}

void Value::Dictionary::Keys::erase(std::size_t position) {
    if (!index_.empty()) index_.erase(names_[position]);
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(position));
    if (index_.empty()) return;
    for (std::size_t i = position; i < names_.size(); ++i) index_.find(names_[i])->second = i;
}

Value::Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    for (const auto& [key, value] : entries) set(key, value);
}

Value::Dictionary::Dictionary(SharedKeys keys, std::vector<Value> values)
    : keys_(std::move(keys)), values_(std::move(values)) {
    values_.resize(keys_ ? keys_->size() : 0);
}

const Value* Value::Dictionary::find(std::string_view key) const {
    const std::size_t at = position(key);
    return at == Keys::npos ? nullptr : &values_[at];
}

Value* Value::Dictionary::find(std::string_view key) {
    const std::size_t at = position(key);
    return at == Keys::npos ? nullptr : &values_[at];
}

const Value& Value::Dictionary::get(std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : Value::null();
}

void Value::Dictionary::set(const std::string& key, Value value) {
    (*this)[key] = std::move(value);
}

Value& Value::Dictionary::operator[](const std::string& key) {
    if (Value* existing = find(key)) return *existing;
    mutableKeys().append(key);
    return values_.emplace_back();
}

bool Value::Dictionary::erase(std::string_view key) {
    const std::size_t at = position(key);
    if (at == Keys::npos) return false;
    mutableKeys().erase(at);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

void Value::Dictionary::clear() {
    keys_ = SharedKeys();
    values_.clear();
}

std::vector<std::string> Value::Dictionary::keys() const {
    if (!keys_) return {};
    return keys_->names_;
}

bool Value::Dictionary::operator==(const Dictionary& other) const {
    if (size() != other.size()) return false;
    for (const auto& [key, value] : *this) {
        const Value* theirs = other.find(key);
        if (!theirs || *theirs != value) return false;
    }
    return true;
}

Value::Dictionary::Keys& Value::Dictionary::mutableKeys() {
    if (!keys_) keys_ = SharedKeys(Keys());
    return keys_.mutate();
}
