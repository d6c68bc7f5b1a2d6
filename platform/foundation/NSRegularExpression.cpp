// Regular expressions over std::regex, with UTF-16 ranges mapped to and from byte offsets.
#include "platform/foundation/NSRegularExpression.h"

namespace {

// Byte offset of the UTF-16 unit `index` (clamped to the end). A code point of four bytes
// counts two units; every other lead byte, valid or not, counts one.
std::size_t byteOffsetOfUTF16Index(const std::string& s, std::size_t index) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size() && units < index) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len = 1;
        if (c >= 0xF0 && c <= 0xF4) len = 4;
        else if (c >= 0xE0) len = 3;
        else if (c >= 0xC2 && c < 0xE0) len = 2;
        if (i + len > s.size()) len = 1;
        for (std::size_t k = 1; k < len; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                len = 1;
                break;
            }
        }
        units += len == 4 ? 2 : 1;
        i += len;
    }
    return i;
}

// "." outside classes and escapes becomes "[\s\S]", so it also crosses line ends.
std::string dotMatchesAll(const std::string& pattern) {
    std::string out;
    bool inClass = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            out += c;
            out += pattern[++i];
            continue;
        }
        if (inClass) {
            if (c == ']') inClass = false;
            out += c;
        } else if (c == '[') {
            inClass = true;
            out += c;
        } else if (c == '.') {
            out += "[\\s\\S]";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::shared_ptr<NSRegularExpression> NSRegularExpression::regularExpressionWithPattern(const std::string& pattern,
                                                                                       unsigned options,
                                                                                       NSErrorPtr* error) {
    auto expression = std::make_shared<NSRegularExpression>();
    expression->pattern_ = pattern;
    expression->options_ = options;
    std::string source = pattern;
    if (options & NSRegularExpressionIgnoreMetacharacters) source = escapedPatternForString(pattern);
    else if (options & NSRegularExpressionDotMatchesLineSeparators) source = dotMatchesAll(pattern);
    auto flags = std::regex::ECMAScript;
    if (options & NSRegularExpressionCaseInsensitive) flags |= std::regex::icase;
    if (options & NSRegularExpressionAnchorsMatchLines) flags |= std::regex::multiline;
    try {
        expression->regex_ = std::regex(source, flags);
    } catch (const std::regex_error&) {
        Value::Dictionary info;
        info.set("NSInvalidValue", pattern);
        info.set(NSLocalizedDescriptionKey, std::string("The value “") + pattern + "” is invalid.");
        setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, NSFormattingError, info));
        return nullptr;
    }
    return expression;
}

std::string NSRegularExpression::escapedPatternForString(const std::string& text) {
    static const std::string special = "\\^$.|?*+()[]{}/-";
    std::string out;
    for (char c : text) {
        if (special.find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string, NSRange range) const {
    const std::size_t begin = byteOffsetOfUTF16Index(string, range.location);
    const std::size_t end = range.length >= NSNotFound - range.location
                                ? string.size()
                                : byteOffsetOfUTF16Index(string, range.location + range.length);
    if (begin > end) return NSRange{NSNotFound, 0};
    std::smatch match;
    try {
        const auto first = string.begin() + static_cast<std::ptrdiff_t>(begin);
        const auto last = string.begin() + static_cast<std::ptrdiff_t>(end);
        if (!std::regex_search(first, last, match, regex_)) return NSRange{NSNotFound, 0};
    } catch (const std::regex_error&) {
        // Too complex for the matcher: reported as no match rather than a crash.
        return NSRange{NSNotFound, 0};
    }
    const std::size_t matchBegin = static_cast<std::size_t>(match[0].first - string.begin());
    const std::size_t matchEnd = static_cast<std::size_t>(match[0].second - string.begin());
    const std::size_t location = NSString::utf16Length(std::string_view(string).substr(0, matchBegin));
    const std::size_t length = NSString::utf16Length(std::string_view(string).substr(matchBegin, matchEnd - matchBegin));
    return NSRange{location, length};
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string) const {
    return rangeOfFirstMatchInString(string, NSRange{0, NSString::utf16Length(string)});
}

std::vector<std::vector<NSRange>> NSRegularExpression::matchesInString(const std::string& string) const {
    std::vector<std::vector<NSRange>> out;
    try {
        for (auto it = std::sregex_iterator(string.begin(), string.end(), regex_); it != std::sregex_iterator();
             ++it) {
            std::vector<NSRange> groups;
            for (std::size_t g = 0; g < it->size(); ++g) {
                const auto& sub = (*it)[g];
                if (!sub.matched) {
                    groups.push_back(NSRange{NSNotFound, 0});
                    continue;
                }
                const std::size_t b = static_cast<std::size_t>(sub.first - string.begin());
                const std::size_t e = static_cast<std::size_t>(sub.second - string.begin());
                groups.push_back(NSRange{NSString::utf16Length(std::string_view(string).substr(0, b)),
                                         NSString::utf16Length(std::string_view(string).substr(b, e - b))});
            }
            out.push_back(std::move(groups));
        }
    } catch (const std::regex_error&) {
        return {};
    }
    return out;
}

std::size_t NSRegularExpression::numberOfMatchesInString(const std::string& string) const {
    return matchesInString(string).size();
}
