// String tables: "key" = "value"; pairs with C comments, backslash escapes and \U escapes of
// UTF-16 units, in UTF-8 or UTF-16 (a byte-order mark or zero bytes tell which); or a property list.
#include "platform/foundation/StringsFile.h"

#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

// The text of a strings file as UTF-8: a byte-order mark picks UTF-16 LE/BE or UTF-8;
// without one, UTF-16 is recognised by its zero bytes and anything else is UTF-8.
std::optional<std::string> decodeStringsText(const NSData& data) {
    auto utf16 = [&](std::size_t start, bool littleEndian) -> std::optional<std::string> {
        if ((data.size() - start) % 2) return std::nullopt;
        std::u16string units;
        units.reserve((data.size() - start) / 2);
        for (std::size_t i = start; i + 1 < data.size(); i += 2)
            units.push_back(littleEndian ? static_cast<char16_t>(data[i] | data[i + 1] << 8)
                                         : static_cast<char16_t>(data[i] << 8 | data[i + 1]));
        for (std::size_t i = 0; i < units.size(); ++i) {
            // An unpaired surrogate means the file is damaged, not merely odd.
            const char16_t u = units[i];
            if (u >= 0xD800 && u <= 0xDBFF) {
                if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return std::nullopt;
                ++i;
            } else if (u >= 0xDC00 && u <= 0xDFFF) {
                return std::nullopt;
            }
        }
        return NSString::fromUTF16(units);
    };
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) return utf16(2, true);
    if (data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF) return utf16(2, false);
    std::size_t start = 0;
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) start = 3;
    else if (data.size() >= 2 && data.size() % 2 == 0 && data[0] != 0 && data[1] == 0) return utf16(0, true);
    else if (data.size() >= 2 && data.size() % 2 == 0 && data[0] == 0 && data[1] != 0) return utf16(0, false);
    std::string text(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
    if (!NSString::isValidUTF8(text)) return std::nullopt;
    return text;
}

class StringsParser {
public:
    explicit StringsParser(const std::string& text) : s_(text) {}

    std::optional<Value::Dictionary> parse(std::string& problem) {
        Value::Dictionary table;
        for (;;) {
            if (!skipSpaceAndComments(problem)) return std::nullopt;
            if (i_ >= s_.size()) return table;
            std::string key;
            if (!token(key, problem)) return std::nullopt;
            if (!skipSpaceAndComments(problem)) return std::nullopt;
            std::string value = key;  // "key"; alone stands for "key" = "key";
            if (i_ < s_.size() && s_[i_] == '=') {
                ++i_;
                if (!skipSpaceAndComments(problem)) return std::nullopt;
                if (!token(value, problem)) return std::nullopt;
                if (!skipSpaceAndComments(problem)) return std::nullopt;
            }
            if (i_ >= s_.size() || s_[i_] != ';') return fail(problem, "expected ';'");
            ++i_;
            table.set(key, Value(std::move(value)));
        }
    }

private:
    std::optional<Value::Dictionary> fail(std::string& problem, const std::string& what) {
        int line = 1;
        for (std::size_t k = 0; k < i_ && k < s_.size(); ++k) line += s_[k] == '\n';
        problem = what + " at line " + std::to_string(line);
        return std::nullopt;
    }

    bool skipSpaceAndComments(std::string& problem) {
        for (;;) {
            while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
            if (s_.compare(i_, 2, "//") == 0) {
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
            } else if (s_.compare(i_, 2, "/*") == 0) {
                const auto end = s_.find("*/", i_ + 2);
                if (end == std::string::npos) {
                    fail(problem, "unterminated comment");
                    return false;
                }
                i_ = end + 2;
            } else {
                return true;
            }
        }
    }

    static bool isUnquotedCharacter(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_$+/:.-").find(c) != std::string_view::npos;
    }

    bool token(std::string& out, std::string& problem) {
        out.clear();
        if (i_ < s_.size() && s_[i_] == '"') return quoted(out, problem);
        while (i_ < s_.size() && isUnquotedCharacter(s_[i_])) out += s_[i_++];
        if (out.empty()) {
            fail(problem, "expected a string");
            return false;
        }
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool quoted(std::string& out, std::string& problem) {
        ++i_;  // opening quote
        char16_t pendingHigh = 0;
        auto flushHigh = [&] {
            if (pendingHigh) NSString::appendUTF8(out, U'\uFFFD');
            pendingHigh = 0;
        };
        for (;;) {
            if (i_ >= s_.size()) {
                fail(problem, "unterminated string");
                return false;
            }
            const char c = s_[i_++];
            if (c == '"') {
                flushHigh();
                return true;
            }
            if (c != '\\') {
                flushHigh();
                out += c;
                continue;
            }
            if (i_ >= s_.size()) {
                fail(problem, "unterminated string");
                return false;
            }
            const char e = s_[i_++];
            if (e == 'U' || e == 'u') {
                // Up to four hex digits of a UTF-16 unit; surrogate pairs come as two escapes.
                char32_t unit = 0;
                int digits = 0;
                while (digits < 4 && i_ < s_.size() && hexDigit(s_[i_]) >= 0) unit = unit * 16 + hexDigit(s_[i_++]), ++digits;
                if (digits == 0) {
                    fail(problem, "\\U without hex digits");
                    return false;
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    flushHigh();
                    pendingHigh = static_cast<char16_t>(unit);
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (pendingHigh) {
                        NSString::appendUTF8(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
                        pendingHigh = 0;
                    } else {
                        NSString::appendUTF8(out, U'\uFFFD');
                    }
                } else {
                    flushHigh();
                    NSString::appendUTF8(out, unit);
                }
                continue;
            }
            flushHigh();
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'v': out += '\v'; break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
                // Up to three octal digits.
                unsigned code = static_cast<unsigned>(e - '0');
                for (int k = 0; k < 2 && i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '7'; ++k)
                    code = code * 8 + static_cast<unsigned>(s_[i_++] - '0');
                NSString::appendUTF8(out, static_cast<char32_t>(code));
                break;
            }
            default: out += e; break;  // \" \\ \' and any other character stand for themselves
            }
        }
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

}  // namespace

std::optional<Value::Dictionary> stringsTableWithData(const NSData& data, std::string* problem) {
    std::string failure;
    // Tables may also be written as property lists.
    const auto text = decodeStringsText(data);
    std::string head = text ? text->substr(0, 64) : std::string();
    head.erase(0, head.find_first_not_of(" \t\r\n"));
    if ((data.size() >= 6 && std::equal(data.begin(), data.begin() + 6, "bplist")) || head.rfind("<?xml", 0) == 0 ||
        head.rfind("<plist", 0) == 0 || head.rfind("<!DOCTYPE", 0) == 0) {
        NSErrorPtr error;
        const Value plist = NSPropertyListSerialization::propertyListWithData(data, &error);
        if (plist.isDictionary()) return plist.dictionary();
        failure = error ? error->userInfo().get("NSDebugDescription").stringValue() : "not a dictionary";
    } else if (!text) {
        failure = "text is neither UTF-8 nor UTF-16";
    } else if (auto table = StringsParser(*text).parse(failure)) {
        return table;
    }
    if (problem) *problem = failure;
    return std::nullopt;
}
