// Property lists in both of the platform's forms, written and read here rather than through
// libplist: the packaged libplist drops the unsigned flag of 64-bit integers, keeps dates as
// 32-bit seconds and accepts malformed XML without complaint, and these files (Info.plist,
// user defaults) must round-trip exactly and reject damage. Readers check every bound and
// limit nesting, so hostile input yields an error, never a crash.
#include "platform/foundation/NSPropertyListSerialization.h"

#include "platform/foundation/Base64.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSCalendar.h"
#include "platform/foundation/NSString.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;
constexpr int kMaxDepth = 512;
constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

// Thrown inside this file only; the public functions turn it into an NSError.
struct PlistFailure {
    long code;
    std::string message;
};

[[noreturn]] void corrupt(const std::string& message) { throw PlistFailure{NSPropertyListReadCorruptError, message}; }
[[noreturn]] void invalid(const std::string& message) { throw PlistFailure{NSPropertyListWriteInvalidError, message}; }

NSErrorPtr errorFor(const PlistFailure& failure) {
    const char* description = failure.code == NSPropertyListReadCorruptError
                                  ? "The data couldn\u2019t be read because it isn\u2019t in the correct format."
                                  : "The data couldn\u2019t be written because it isn\u2019t in the correct format.";
    return NSError::errorWithDomain(NSCocoaErrorDomain, failure.code,
                                    {{NSLocalizedDescriptionKey, description}, {kDebugDescriptionKey, failure.message}});
}

// ---------------------------------------------------------------------------------------
// XML writing

void appendEscaped(std::string& out, const std::string& text) {
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "&#x%X;", static_cast<unsigned>(c));
                out += buffer;
            } else {
                out += c;
            }
        }
    }
}

std::string realText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "+infinity" : "-infinity";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string isoDate(double secondsSince1970) {
    const double whole = std::floor(secondsSince1970);
    if (!(std::fabs(whole) < 1e15)) invalid("date out of range");
    const auto seconds = static_cast<std::int64_t>(whole);
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    NSCalendar::civilFromDays(days, year, month, day);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%04lld-%02u-%02uT%02d:%02d:%02dZ", year < 0 ? "-" : "",
                  static_cast<long long>(year < 0 ? -year : year), month, day, static_cast<int>(rest / 3600),
                  static_cast<int>(rest % 3600 / 60), static_cast<int>(rest % 60));
    return buffer;
}

void checkString(const std::string& text) {
    if (!NSString::isValidUTF8(text)) invalid("string is not valid UTF-8");
}

void writeXMLValue(const Value& value, int depth, std::string& out) {
    if (depth > kMaxDepth) invalid("property list nested too deeply");
    const std::string indent(static_cast<std::size_t>(depth), '\t');
    out += indent;
    switch (value.type()) {
    case Value::Type::Null: invalid("property lists cannot contain null");
    case Value::Type::Object: invalid("property lists cannot contain objects (" + value.description() + ")");
    case Value::Type::Bool: out += value.boolValue() ? "<true/>" : "<false/>"; break;
    case Value::Type::Integer: out += "<integer>" + std::to_string(value.longLongValue()) + "</integer>"; break;
    case Value::Type::Unsigned:
        out += "<integer>" + std::to_string(value.unsignedLongLongValue()) + "</integer>";
        break;
    case Value::Type::Double: out += "<real>" + realText(value.doubleValue()) + "</real>"; break;
    case Value::Type::String:
        checkString(value.string());
        out += "<string>";
        appendEscaped(out, value.string());
        out += "</string>";
        break;
    case Value::Type::Data: out += "<data>" + base64EncodedString(value.data()) + "</data>"; break;
    case Value::Type::Date: out += "<date>" + isoDate(value.date().timeIntervalSince1970) + "</date>"; break;
    case Value::Type::Array:
        if (value.array().empty()) {
            out += "<array/>";
            break;
        }
        out += "<array>\n";
        for (const Value& item : value.array()) writeXMLValue(item, depth + 1, out);
        out += indent + "</array>";
        break;
    case Value::Type::Dictionary:
        if (value.dictionary().empty()) {
            out += "<dict/>";
            break;
        }
        out += "<dict>\n";
        for (const auto& [key, item] : value.dictionary()) {
            checkString(key);
            out += indent + "\t<key>";
            appendEscaped(out, key);
            out += "</key>\n";
            writeXMLValue(item, depth + 1, out);
        }
        out += indent + "</dict>";
        break;
    }
    out += '\n';
}

NSData writeXML(const Value& root) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\">\n";
    writeXMLValue(root, 0, out);
    out += "</plist>\n";
    return NSData(out.begin(), out.end());
}

// ---------------------------------------------------------------------------------------
// XML reading

class XMLReader {
public:
    XMLReader(const char* begin, const char* end) : p_(begin), end_(end) {}

    Value document() {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        skipMisc(true);
        Tag plist = openTag();
        if (plist.name != "plist") corrupt("the root element is <" + plist.name + ">, not <plist>");
        if (plist.selfClosing) corrupt("empty <plist>");
        skipMisc(false);
        Value root = value(0);
        skipMisc(false);
        closeTag("plist");
        skipMisc(true);
        if (p_ != end_) corrupt("unexpected content after </plist> at line " + std::to_string(line()));
        return root;
    }

private:
    struct Tag {
        std::string name;
        bool selfClosing = false;
    };

    bool startsWith(const char* text) const {
        const std::size_t n = std::strlen(text);
        return static_cast<std::size_t>(end_ - p_) >= n && std::memcmp(p_, text, n) == 0;
    }

    int line() const {
        int count = 1;
        for (const char* c = start_; c < p_ && c < end_; ++c) count += *c == '\n';
        return count;
    }

    void skipPast(const char* terminator, const char* what) {
        const std::size_t n = std::strlen(terminator);
        while (static_cast<std::size_t>(end_ - p_) >= n) {
            if (std::memcmp(p_, terminator, n) == 0) {
                p_ += n;
                return;
            }
            ++p_;
        }
        corrupt(std::string("unterminated ") + what);
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    // White space and comments between elements; in the prolog also declarations.
    void skipMisc(bool prolog) {
        for (;;) {
            while (p_ < end_ && isSpace(*p_)) ++p_;
            if (startsWith("<!--")) {
                p_ += 4;
                skipPast("-->", "comment");
            } else if (prolog && startsWith("<?")) {
                skipPast("?>", "processing instruction");
            } else if (prolog && startsWith("<!DOCTYPE")) {
                // An internal subset in brackets may hold '>' characters.
                int brackets = 0;
                for (;; ++p_) {
                    if (p_ >= end_) corrupt("unterminated DOCTYPE");
                    if (*p_ == '[') ++brackets;
                    else if (*p_ == ']') --brackets;
                    else if (*p_ == '>' && brackets <= 0) break;
                }
                ++p_;
            } else {
                return;
            }
        }
    }

    Tag openTag() {
        if (p_ >= end_ || *p_ != '<') corrupt("expected an element at line " + std::to_string(line()));
        ++p_;
        Tag tag;
        while (p_ < end_ && (std::isalnum(static_cast<unsigned char>(*p_)) || *p_ == '_' || *p_ == '-' ||
                             *p_ == ':' || *p_ == '.'))
            tag.name += *p_++;
        if (tag.name.empty()) corrupt("malformed element at line " + std::to_string(line()));
        // Attributes are allowed (plist version="1.0") and ignored.
        char quote = 0;
        for (;; ++p_) {
            if (p_ >= end_) corrupt("unterminated <" + tag.name + ">");
            if (quote) {
                if (*p_ == quote) quote = 0;
            } else if (*p_ == '"' || *p_ == '\'') {
                quote = *p_;
            } else if (*p_ == '>') {
                tag.selfClosing = p_[-1] == '/';
                ++p_;
                return tag;
            }
        }
    }

    void closeTag(const std::string& name) {
        const std::string expected = "</" + name;
        if (!startsWith(expected.c_str())) corrupt("expected </" + name + "> at line " + std::to_string(line()));
        p_ += expected.size();
        while (p_ < end_ && isSpace(*p_)) ++p_;
        if (p_ >= end_ || *p_ != '>') corrupt("malformed </" + name + "> at line " + std::to_string(line()));
        ++p_;
    }

    void appendEntity(std::string& out) {
        const char* semicolon = static_cast<const char*>(std::memchr(p_, ';', static_cast<std::size_t>(end_ - p_)));
        if (!semicolon || semicolon - p_ > 12) corrupt("malformed entity at line " + std::to_string(line()));
        const std::string name(p_ + 1, semicolon);
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "amp") out += '&';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits = name.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
                code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                corrupt("bad character reference &" + name + "; at line " + std::to_string(line()));
            NSString::appendUTF8(out, static_cast<char32_t>(code));
        } else {
            corrupt("unknown entity &" + name + "; at line " + std::to_string(line()));
        }
        p_ = semicolon + 1;
    }

    // Character data up to the closing tag of `name`, which is consumed.
    std::string text(const std::string& name) {
        std::string out;
        for (;;) {
            if (p_ >= end_) corrupt("unterminated <" + name + ">");
            const char c = *p_;
            if (c == '&') {
                appendEntity(out);
            } else if (c == '<') {
                if (startsWith("<![CDATA[")) {
                    const char* start = p_ + 9;
                    p_ = start;
                    skipPast("]]>", "CDATA section");
                    out.append(start, p_ - 3);
                } else if (startsWith("<!--")) {
                    p_ += 4;
                    skipPast("-->", "comment");
                } else {
                    closeTag(name);
                    break;
                }
            } else {
                if (c == '\0') corrupt("NUL character at line " + std::to_string(line()));
                out += c;
                ++p_;
            }
        }
        if (!NSString::isValidUTF8(out)) corrupt("text of <" + name + "> is not valid UTF-8");
        return out;
    }

    std::string leafText(const Tag& tag) { return tag.selfClosing ? std::string() : text(tag.name); }

    static std::string trimmed(const std::string& s) {
        std::size_t a = 0, b = s.size();
        while (a < b && isSpace(s[a])) ++a;
        while (b > a && isSpace(s[b - 1])) --b;
        return s.substr(a, b - a);
    }

    Value integer(const std::string& raw) {
        const std::string s = trimmed(raw);
        bool negative = false;
        std::size_t i = 0;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
        int base = 10;
        if (s.size() - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            base = 16;
            i += 2;
        }
        std::uint64_t magnitude = 0;
        const auto result = std::from_chars(s.data() + i, s.data() + s.size(), magnitude, base);
        if (i == s.size() || result.ec != std::errc() || result.ptr != s.data() + s.size())
            corrupt("bad <integer> \"" + s + "\" at line " + std::to_string(line()));
        if (negative) {
            if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
                corrupt("<integer> " + s + " out of range");
            return Value(static_cast<long long>(0 - magnitude));
        }
        if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return Value(static_cast<unsigned long long>(magnitude));
        return Value(static_cast<long long>(magnitude));
    }

    Value real(const std::string& raw) {
        std::string s = trimmed(raw);
        std::string lower = NSString::lowercaseString(s);
        if (lower == "nan") return Value(std::numeric_limits<double>::quiet_NaN());
        if (lower == "inf" || lower == "+inf" || lower == "infinity" || lower == "+infinity")
            return Value(std::numeric_limits<double>::infinity());
        if (lower == "-inf" || lower == "-infinity") return Value(-std::numeric_limits<double>::infinity());
        const char* begin = s.data();
        if (!s.empty() && s[0] == '+') ++begin;
        double value = 0;
        const auto result = std::from_chars(begin, s.data() + s.size(), value);
        if (s.empty() || result.ec != std::errc() || result.ptr != s.data() + s.size())
            corrupt("bad <real> \"" + s + "\" at line " + std::to_string(line()));
        return Value(value);
    }

    Value date(const std::string& raw) {
        const std::string s = trimmed(raw);
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
        const bool negative = !s.empty() && s[0] == '-';
        const char* body = s.c_str() + (negative ? 1 : 0);
        if (std::sscanf(body, "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &year, &month, &day, &hour, &minute, &second,
                        &consumed) != 6 ||
            static_cast<std::size_t>(consumed) != std::strlen(body) || std::strlen(body) != 20 || month < 1 ||
            month > 12 || day < 1 || day > static_cast<int>(NSCalendar::daysInMonth(negative ? -year : year,
                                                                                     static_cast<unsigned>(month))) ||
            hour > 23 || minute > 59 || second > 59 || hour < 0 || minute < 0 || second < 0)
            corrupt("bad <date> \"" + s + "\" at line " + std::to_string(line()));
        const std::int64_t days =
            NSCalendar::daysFromCivil(negative ? -year : year, static_cast<unsigned>(month), static_cast<unsigned>(day));
        return Value(NSDate{static_cast<double>(days) * 86400.0 + hour * 3600 + minute * 60 + second});
    }

    Value data(const std::string& raw) {
        std::string compact;
        for (char c : raw)
            if (!isSpace(c)) compact += c;
        auto bytes = dataFromBase64String(compact);
        if (!bytes) corrupt("bad base64 in <data> at line " + std::to_string(line()));
        return Value(std::move(*bytes));
    }

    Value value(int depth) {
        if (depth > kMaxDepth) corrupt("property list nested too deeply");
        const Tag tag = openTag();
        const std::string& n = tag.name;
        if (n == "dict") return dictionary(tag, depth);
        if (n == "array") return array(tag, depth);
        if (n == "string") return Value(leafText(tag));
        if (n == "integer") return integer(leafText(tag));
        if (n == "real") return real(leafText(tag));
        if (n == "date") return date(leafText(tag));
        if (n == "data") return data(leafText(tag));
        if (n == "true" || n == "false") {
            if (!tag.selfClosing && !trimmed(text(n)).empty()) corrupt("<" + n + "> must be empty");
            return Value(n == "true");
        }
        corrupt("unknown element <" + n + "> at line " + std::to_string(line()));
    }

    Value array(const Tag& tag, int depth) {
        Value::Array items;
        if (tag.selfClosing) return Value(std::move(items));
        for (;;) {
            skipMisc(false);
            if (startsWith("</")) break;
            items.push_back(value(depth + 1));
        }
        closeTag("array");
        return Value(std::move(items));
    }

    Value dictionary(const Tag& tag, int depth) {
        Value::Dictionary entries;
        if (tag.selfClosing) return Value(std::move(entries));
        for (;;) {
            skipMisc(false);
            if (startsWith("</")) break;
            const Tag keyTag = openTag();
            if (keyTag.name != "key") corrupt("expected <key> in <dict>, found <" + keyTag.name + ">");
            std::string key = leafText(keyTag);
            skipMisc(false);
            if (startsWith("</")) corrupt("key \"" + key + "\" has no value");
            entries.set(key, value(depth + 1));
        }
        closeTag("dict");
        return Value(std::move(entries));
    }

    const char* p_;
    const char* end_;
    const char* start_ = p_;
};

// ---------------------------------------------------------------------------------------
// Binary writing

class BinaryWriter {
public:
    NSData write(const Value& root) {
        collect(root, 0);
        const std::size_t count = objects_.size();
        refSize_ = count < 0x100 ? 1 : count < 0x10000 ? 2 : 4;
        out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
        std::vector<std::uint64_t> offsets;
        offsets.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            offsets.push_back(out_.size());
            encode(*objects_[i].value, objects_[i].children);
        }
        const std::uint64_t tableOffset = out_.size();
        const int offsetSize = bytesFor(tableOffset);
        for (const auto offset : offsets) appendBigEndian(offset, offsetSize);
        for (int i = 0; i < 6; ++i) out_.push_back(0);
        out_.push_back(static_cast<std::uint8_t>(offsetSize));
        out_.push_back(static_cast<std::uint8_t>(refSize_));
        appendBigEndian(count, 8);
        appendBigEndian(0, 8);
        appendBigEndian(tableOffset, 8);
        return std::move(out_);
    }

private:
    struct Object {
        const Value* value;
        std::vector<std::size_t> children;  // keys then values for dictionaries
    };

    static int bytesFor(std::uint64_t n) { return n < 0x100 ? 1 : n < 0x10000 ? 2 : n < 0x100000000ULL ? 4 : 8; }

    std::size_t addKey(const std::string& key) {
        keys_.push_back(std::make_unique<Value>(key));
        objects_.push_back({keys_.back().get(), {}});
        return objects_.size() - 1;
    }

    std::size_t collect(const Value& value, int depth) {
        if (depth > kMaxDepth) invalid("property list nested too deeply");
        switch (value.type()) {
        case Value::Type::Null: invalid("property lists cannot contain null");
        case Value::Type::Object: invalid("property lists cannot contain objects (" + value.description() + ")");
        case Value::Type::String: checkString(value.string()); break;
        default: break;
        }
        const std::size_t index = objects_.size();
        objects_.push_back({&value, {}});
        std::vector<std::size_t> children;
        if (value.isArray()) {
            for (const Value& item : value.array()) children.push_back(collect(item, depth + 1));
        } else if (value.isDictionary()) {
            std::vector<std::size_t> values;
            for (const auto& [key, item] : value.dictionary()) {
                checkString(key);
                children.push_back(addKey(key));
                values.push_back(collect(item, depth + 1));
            }
            children.insert(children.end(), values.begin(), values.end());
        }
        objects_[index].children = std::move(children);
        return index;
    }

    void appendBigEndian(std::uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }

    void appendMarker(std::uint8_t kind, std::uint64_t count) {
        if (count < 15) {
            out_.push_back(static_cast<std::uint8_t>(kind | count));
            return;
        }
        out_.push_back(static_cast<std::uint8_t>(kind | 0x0F));
        appendInteger(static_cast<std::int64_t>(count));
    }

    void appendInteger(std::int64_t value) {
        if (value < 0) {
            out_.push_back(0x13);
            appendBigEndian(static_cast<std::uint64_t>(value), 8);
            return;
        }
        const auto magnitude = static_cast<std::uint64_t>(value);
        const int size = magnitude < 0x100 ? 1 : magnitude < 0x10000 ? 2 : magnitude < 0x100000000ULL ? 4 : 8;
        out_.push_back(static_cast<std::uint8_t>(0x10 | (size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3)));
        appendBigEndian(magnitude, size);
    }

    void appendDouble(std::uint8_t marker, double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        out_.push_back(marker);
        appendBigEndian(bits, 8);
    }

    void encode(const Value& value, const std::vector<std::size_t>& children) {
        switch (value.type()) {
        case Value::Type::Bool: out_.push_back(value.boolValue() ? 0x09 : 0x08); break;
        case Value::Type::Integer: appendInteger(value.longLongValue()); break;
        case Value::Type::Unsigned: {
            const std::uint64_t u = value.unsignedLongLongValue();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                appendInteger(static_cast<std::int64_t>(u));
            } else {
                // Beyond the signed range the format keeps 16 bytes, the top half zero.
                out_.push_back(0x14);
                appendBigEndian(0, 8);
                appendBigEndian(u, 8);
            }
            break;
        }
        case Value::Type::Double: appendDouble(0x23, value.doubleValue()); break;
        case Value::Type::Date: appendDouble(0x33, value.date().timeIntervalSince1970 - kSecondsFrom1970To2001); break;
        case Value::Type::Data:
            appendMarker(0x40, value.data().size());
            out_.insert(out_.end(), value.data().begin(), value.data().end());
            break;
        case Value::Type::String: {
            const std::string& s = value.string();
            bool ascii = true;
            for (const char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            if (ascii) {
                appendMarker(0x50, s.size());
                out_.insert(out_.end(), s.begin(), s.end());
            } else {
                const std::u16string units = NSString::toUTF16(s);
                appendMarker(0x60, units.size());
                for (const char16_t unit : units) appendBigEndian(unit, 2);
            }
            break;
        }
        case Value::Type::Array:
            appendMarker(0xA0, children.size());
            for (const auto child : children) appendBigEndian(child, refSize_);
            break;
        case Value::Type::Dictionary:
            appendMarker(0xD0, children.size() / 2);
            for (const auto child : children) appendBigEndian(child, refSize_);
            break;
        case Value::Type::Null:
        case Value::Type::Object: invalid("unexpected value");
        }
    }

    std::vector<Object> objects_;
    std::vector<std::unique_ptr<Value>> keys_;
    NSData out_;
    int refSize_ = 1;
};

// ---------------------------------------------------------------------------------------
// Binary reading

class BinaryReader {
public:
    explicit BinaryReader(const NSData& data) : d_(data) {}

    Value document() {
        if (d_.size() < 8 + 32 || std::memcmp(d_.data(), "bplist0", 7) != 0) corrupt("not a binary property list");
        const std::size_t trailer = d_.size() - 32;
        offsetSize_ = d_[trailer + 6];
        refSize_ = d_[trailer + 7];
        const std::uint64_t count = bigEndian(trailer + 8, 8);
        const std::uint64_t top = bigEndian(trailer + 16, 8);
        tableOffset_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) corrupt("bad trailer sizes");
        if (count == 0 || top >= count) corrupt("bad object count");
        if (tableOffset_ < 8 || tableOffset_ > trailer || count > (trailer - tableOffset_) / offsetSize_)
            corrupt("offset table out of bounds");
        count_ = count;
        cache_.resize(count);
        inProgress_.assign(count, false);
        return object(top, 0);
    }

private:
    std::uint64_t bigEndian(std::uint64_t at, std::uint64_t size) const {
        if (at > d_.size() || size > d_.size() - at) corrupt("read past the end");
        std::uint64_t value = 0;
        for (std::uint64_t i = 0; i < size; ++i) value = (value << 8) | d_[at + i];
        return value;
    }

    // Objects lie between the header and the offset table.
    void checkSpan(std::uint64_t at, std::uint64_t size) const {
        if (at > tableOffset_ || size > tableOffset_ - at) corrupt("object runs past its bounds");
    }

    // The element count of a marker, following an integer object when the low nibble is 15.
    std::uint64_t length(std::uint8_t marker, std::uint64_t& at) const {
        const std::uint64_t low = marker & 0x0F;
        if (low != 0x0F) return low;
        checkSpan(at, 1);
        const std::uint8_t intMarker = d_[at];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) corrupt("bad length");
        const std::uint64_t size = 1ULL << (intMarker & 0x0F);
        checkSpan(at + 1, size);
        const std::uint64_t value = bigEndian(at + 1, size);
        at += 1 + size;
        return value;
    }

    Value object(std::uint64_t ref, int depth) {
        if (ref >= count_) corrupt("object reference out of range");
        if (cache_[ref]) return *cache_[ref];  // shared objects are decoded once
        if (inProgress_[ref]) corrupt("object graph has a cycle");
        if (depth > kMaxDepth) corrupt("property list nested too deeply");
        inProgress_[ref] = true;
        Value result = decode(bigEndian(tableOffset_ + ref * offsetSize_, offsetSize_), depth);
        inProgress_[ref] = false;
        cache_[ref] = result;
        return result;
    }

    Value decode(std::uint64_t at, int depth) {
        if (at < 8) corrupt("object offset inside the header");
        checkSpan(at, 1);
        const std::uint8_t marker = d_[at++];
        switch (marker & 0xF0) {
        case 0x00:
            if (marker == 0x08 || marker == 0x09) return Value(marker == 0x09);
            corrupt("unsupported object type");
        case 0x10: {
            const int power = marker & 0x0F;
            if (power > 4) corrupt("bad integer size");
            const std::uint64_t size = 1ULL << power;
            checkSpan(at, size);
            if (size == 16) {
                const std::uint64_t high = bigEndian(at, 8), low = bigEndian(at + 8, 8);
                if (high == 0) {
                    if (low > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                        return Value(static_cast<unsigned long long>(low));
                    return Value(static_cast<long long>(low));
                }
                if (high == ~0ULL && (low >> 63)) return Value(static_cast<long long>(low));
                corrupt("integer out of range");
            }
            const std::uint64_t raw = bigEndian(at, size);
            // One, two and four bytes are unsigned; eight are signed.
            return Value(static_cast<long long>(static_cast<std::int64_t>(raw)));
        }
        case 0x20: {
            if (marker == 0x22) {
                checkSpan(at, 4);
                const auto bits = static_cast<std::uint32_t>(bigEndian(at, 4));
                float f = 0;
                std::memcpy(&f, &bits, sizeof f);
                return Value(static_cast<double>(f));
            }
            if (marker != 0x23) corrupt("bad real size");
            checkSpan(at, 8);
            const std::uint64_t bits = bigEndian(at, 8);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            return Value(v);
        }
        case 0x30: {
            if (marker != 0x33) corrupt("bad date");
            checkSpan(at, 8);
            const std::uint64_t bits = bigEndian(at, 8);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            return Value(NSDate{v + kSecondsFrom1970To2001});
        }
        case 0x40: {
            const std::uint64_t n = length(marker, at);
            checkSpan(at, n);
            return Value(NSData(d_.begin() + static_cast<std::ptrdiff_t>(at),
                                d_.begin() + static_cast<std::ptrdiff_t>(at + n)));
        }
        case 0x50: {
            const std::uint64_t n = length(marker, at);
            checkSpan(at, n);
            std::string text;
            for (std::uint64_t i = 0; i < n; ++i) NSString::appendUTF8(text, d_[at + i]);  // Latin-1 beyond ASCII
            return Value(std::move(text));
        }
        case 0x60: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / 2) corrupt("string runs past its bounds");
            checkSpan(at, n * 2);
            std::u16string units;
            units.reserve(n);
            for (std::uint64_t i = 0; i < n; ++i) units.push_back(static_cast<char16_t>(bigEndian(at + 2 * i, 2)));
            return Value(NSString::fromUTF16(units));
        }
        case 0xA0: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / refSize_) corrupt("array runs past its bounds");
            checkSpan(at, n * refSize_);
            Value::Array items;
            items.reserve(n);
            for (std::uint64_t i = 0; i < n; ++i) items.push_back(object(bigEndian(at + i * refSize_, refSize_), depth + 1));
            return Value(std::move(items));
        }
        case 0xD0: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / (2 * refSize_)) corrupt("dictionary runs past its bounds");
            checkSpan(at, 2 * n * refSize_);
            Value::Dictionary entries;
            for (std::uint64_t i = 0; i < n; ++i) {
                const Value key = object(bigEndian(at + i * refSize_, refSize_), depth + 1);
                if (!key.isString()) corrupt("dictionary key is not a string");
                entries.set(key.string(), object(bigEndian(at + (n + i) * refSize_, refSize_), depth + 1));
            }
            return Value(std::move(entries));
        }
        default: corrupt("unsupported object type");
        }
    }

    const NSData& d_;
    std::uint64_t offsetSize_ = 0, refSize_ = 0, tableOffset_ = 0, count_ = 0;
    std::vector<std::optional<Value>> cache_;
    std::vector<bool> inProgress_;
};

bool isBinary(const NSData& data) { return data.size() >= 6 && std::memcmp(data.data(), "bplist", 6) == 0; }

}  // namespace

Value NSPropertyListSerialization::propertyListWithData(const NSData& data, NSErrorPtr* error, Format* format) {
    try {
        if (isBinary(data)) {
            Value result = BinaryReader(data).document();
            if (format) *format = NSPropertyListBinaryFormat_v1_0;
            return result;
        }
        const auto* begin = reinterpret_cast<const char*>(data.data());
        Value result = XMLReader(begin, begin + data.size()).document();
        if (format) *format = NSPropertyListXMLFormat_v1_0;
        return result;
    } catch (const PlistFailure& failure) {
        setError(error, errorFor(failure));
        return Value();
    }
}

NSData NSPropertyListSerialization::dataWithPropertyList(const Value& plist, Format format, NSErrorPtr* error) {
    try {
        if (format == NSPropertyListBinaryFormat_v1_0) return BinaryWriter().write(plist);
        if (format == NSPropertyListXMLFormat_v1_0) return writeXML(plist);
        invalid("unsupported property list format " + std::to_string(static_cast<int>(format)));
    } catch (const PlistFailure& failure) {
        setError(error, errorFor(failure));
        return {};
    }
}

Value NSPropertyListSerialization::propertyListWithContentsOfFile(const std::string& path, NSErrorPtr* error) {
    const auto data = readDataFromFile(path, error);
    if (!data) return Value();
    return propertyListWithData(*data, error);
}

bool NSPropertyListSerialization::writePropertyList(const Value& plist, const std::string& path, Format format,
                                                    NSErrorPtr* error) {
    NSErrorPtr serializationError;
    const NSData data = dataWithPropertyList(plist, format, &serializationError);
    if (serializationError) {
        setError(error, serializationError);
        return false;
    }
    return writeDataToFile(data, path, true, error);
}
