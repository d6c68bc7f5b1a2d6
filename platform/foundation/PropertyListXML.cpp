// The XML form of property lists. The reader takes the documents this writer makes and the
// usual hand-written ones (comments, CDATA, entities), and refuses anything malformed.
#include "platform/foundation/PropertyListXML.h"

#include "platform/foundation/Base64.h"
#include "platform/foundation/NSCalendar.h"
#include "platform/foundation/PropertyListCodec.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace PropertyListCodec {
namespace {

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
    if (!(std::fabs(whole) < kMaxXMLDateSeconds)) invalid("date out of range");
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

}  // namespace

NSData writeXML(const Value& root) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\">\n";
    writeXMLValue(root, 0, out);
    out += "</plist>\n";
    return NSData(out.begin(), out.end());
}

namespace {

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
            // &#0; is taken: the writer has always put NUL characters of strings that way.
            if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
                code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
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

    // A run of digits at s[i] (at least `minimum`, at most `maximum`), or -1.
    static std::int64_t digitsAt(const std::string& s, std::size_t& i, std::size_t minimum, std::size_t maximum) {
        std::int64_t value = 0;
        std::size_t count = 0;
        while (i < s.size() && count < maximum && s[i] >= '0' && s[i] <= '9') {
            value = value * 10 + (s[i++] - '0');
            ++count;
        }
        return count >= minimum && (i == s.size() || s[i] < '0' || s[i] > '9') ? value : -1;
    }

    // "[-]YYYY-MM-DDTHH:MM:SSZ" in UTC; years of more than four digits are as the writer makes them
    // for dates after 9999.
    Value date(const std::string& raw) {
        const std::string s = trimmed(raw);
        std::size_t i = 0;
        const bool negative = !s.empty() && s[0] == '-';
        if (negative) ++i;
        auto expect = [&](char c) { return i < s.size() && s[i++] == c; };
        const std::int64_t magnitude = digitsAt(s, i, 4, 9);
        bool ok = magnitude >= 0 && expect('-');
        const std::int64_t month = ok ? digitsAt(s, i, 2, 2) : -1;
        ok = ok && month >= 1 && month <= 12 && expect('-');
        const std::int64_t year = negative ? -magnitude : magnitude;
        const std::int64_t day = ok ? digitsAt(s, i, 2, 2) : -1;
        ok = ok && day >= 1 && day <= static_cast<std::int64_t>(NSCalendar::daysInMonth(year, static_cast<unsigned>(month))) &&
             expect('T');
        const std::int64_t hour = ok ? digitsAt(s, i, 2, 2) : -1;
        ok = ok && hour >= 0 && hour <= 23 && expect(':');
        const std::int64_t minute = ok ? digitsAt(s, i, 2, 2) : -1;
        ok = ok && minute >= 0 && minute <= 59 && expect(':');
        const std::int64_t second = ok ? digitsAt(s, i, 2, 2) : -1;
        ok = ok && second >= 0 && second <= 59 && expect('Z') && i == s.size();
        if (!ok) corrupt("bad <date> \"" + s + "\" at line " + std::to_string(line()));
        const std::int64_t days =
            NSCalendar::daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
        const double seconds =
            static_cast<double>(days) * 86400.0 + static_cast<double>(hour * 3600 + minute * 60 + second);
        if (!(std::fabs(seconds) < kMaxXMLDateSeconds)) corrupt("<date> \"" + s + "\" out of range");
        return Value(NSDate{seconds});
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

}  // namespace

Value readXML(const char* begin, const char* end) { return XMLReader(begin, end).document(); }

}  // namespace PropertyListCodec
