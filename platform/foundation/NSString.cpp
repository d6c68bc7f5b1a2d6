// String helpers: UTF-16 counting and whole-character substrings,
// comparison and search with the platform's options, case mapping and path arithmetic.
#include "platform/foundation/NSString.h"

#include "platform/foundation/Sandbox.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <new>
#include <unicode/utf16.h>
#include <unicode/ustring.h>
#include <wctype.h>

namespace NSString {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One code point from s[i], advancing i; a malformed sequence reads as U+FFFD and consumes one byte.
char32_t decodeOne(std::string_view s, std::size_t& i, bool* valid = nullptr) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t length;
    char32_t cp;
    char32_t minimum;
    if ((c & 0xE0) == 0xC0) {
        length = 2, cp = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3, cp = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4, cp = c & 0x07, minimum = 0x10000;
    } else {
        length = 0, cp = 0, minimum = 0;
    }
    bool ok = length != 0 && i + length <= s.size();
    for (std::size_t k = 1; ok && k < length; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) ok = false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (ok && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
        if (valid) *valid = false;
        ++i;
        return kReplacement;
    }
    i += length;
    return cp;
}

std::size_t unitsOf(char32_t cp) { return cp >= 0x10000 ? 2 : 1; }

// Code points with their UTF-16 and byte offsets; both offset tables hold one extra end entry.
struct Decoded {
    std::u32string cps;
    std::vector<std::size_t> u16;
    std::vector<std::size_t> u8;
};

Decoded decode(std::string_view s) {
    Decoded d;
    d.cps.reserve(s.size());
    d.u16.reserve(s.size() + 1);
    d.u8.reserve(s.size() + 1);
    std::size_t i = 0, units = 0;
    while (i < s.size()) {
        d.u8.push_back(i);
        d.u16.push_back(units);
        const char32_t cp = decodeOne(s, i);
        d.cps.push_back(cp);
        units += unitsOf(cp);
    }
    d.u8.push_back(s.size());
    d.u16.push_back(units);
    return d;
}

bool inRanges(char32_t c, std::initializer_list<std::pair<char32_t, char32_t>> ranges) {
    for (const auto& [low, high] : ranges)
        if (c >= low && c <= high) return true;
    return false;
}

// Code points that attach to the character before them.
bool isExtending(char32_t c) {
    return inRanges(c, {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF},
                        {0x05C1, 0x05C2}, {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A},
                        {0x064B, 0x065F}, {0x0670, 0x0670}, {0x06D6, 0x06DC}, {0x06DF, 0x06E4},
                        {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0903}, {0x093A, 0x094F},
                        {0x0951, 0x0957}, {0x0962, 0x0963}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},
                        {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200C, 0x200D},
                        {0x20D0, 0x20FF}, {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE00, 0xFE0F},
                        {0xFE20, 0xFE2F}, {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF}});
}

bool isRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

// Indexes of the code points that start a composed character sequence, then cps.size().
std::vector<std::size_t> clusterStarts(const std::u32string& cps) {
    std::vector<std::size_t> starts;
    std::size_t regionalRun = 0;
    for (std::size_t i = 0; i < cps.size(); ++i) {
        bool joins = false;
        if (i > 0) {
            const char32_t prev = cps[i - 1], c = cps[i];
            joins = isExtending(c) || prev == 0x200D || (prev == '\r' && c == '\n') ||
                    (isRegionalIndicator(c) && regionalRun % 2 == 1);
        }
        regionalRun = isRegionalIndicator(cps[i]) ? regionalRun + 1 : 0;
        if (!joins) starts.push_back(i);
    }
    starts.push_back(cps.size());
    return starts;
}

locale_t utf8Locale() {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return locale;
}

char32_t toLower(char32_t c) {
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    if (locale_t l = utf8Locale()) return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), l));
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    return c;
}

std::u32string fold(std::u32string cps) {
    for (char32_t& c : cps) c = toLower(c);
    return cps;
}

std::size_t saturatingEnd(NSRange r) { return r.location > NSNotFound - r.length ? NSNotFound : r.location + r.length; }

// The code point index of the first code point starting at or after UTF-16 offset `unit`.
std::size_t cpAtOrAfter(const Decoded& d, std::size_t unit) {
    return static_cast<std::size_t>(std::lower_bound(d.u16.begin(), d.u16.end() - 1, unit) - d.u16.begin());
}

// The number of code points ending at or before UTF-16 offset `unit`.
std::size_t cpEndingBy(const Decoded& d, std::size_t unit) {
    return static_cast<std::size_t>(std::upper_bound(d.u16.begin(), d.u16.end(), unit) - d.u16.begin()) - 1;
}

}  // namespace

void appendUTF8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUTF8(std::string_view s) {
    bool valid = true;
    for (std::size_t i = 0; i < s.size() && valid;) decodeOne(s, i, &valid);
    return valid;
}

std::optional<std::string> stringWithUTF8Data(const NSData& data) {
    std::string s(data.begin(), data.end());
    if (!isValidUTF8(s)) return std::nullopt;
    return s;
}

std::u16string toUTF16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = decodeOne(s, i);
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string fromUTF16(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            appendUTF8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else {
            appendUTF8(out, u);  // an unpaired surrogate becomes U+FFFD
        }
    }
    return out;
}

std::u32string toUTF32(std::string_view s) { return decode(s).cps; }

std::string fromUTF32(std::u32string_view s) {
    std::string out;
    for (char32_t cp : s) appendUTF8(out, cp);
    return out;
}

char32_t nextCodePoint(std::string_view s, std::size_t& i) { return decodeOne(s, i); }

std::size_t utf16Length(std::string_view s) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < s.size();) units += unitsOf(decodeOne(s, i));
    return units;
}

std::size_t utf32Length(std::string_view s) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) decodeOne(s, i);
    return count;
}

char16_t characterAtIndex(std::string_view s, std::size_t index) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = decodeOne(s, i);
        const std::size_t n = unitsOf(cp);
        if (index < units + n) {
            if (n == 1) return static_cast<char16_t>(cp);
            return index == units ? static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10))
                                  : static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        units += n;
    }
    std::fprintf(stderr, "NSString characterAtIndex: index %zu beyond bounds (length %zu)\n", index, units);
    std::abort();
}

NSRange rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index) {
    const Decoded d = decode(s);
    const std::size_t length = d.u16.back();
    if (index >= length) {
        std::fprintf(stderr, "NSString rangeOfComposedCharacterSequenceAtIndex: index %zu beyond bounds (length %zu)\n",
                     index, length);
        std::abort();
    }
    const std::vector<std::size_t> starts = clusterStarts(d.cps);
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        const std::size_t begin = d.u16[starts[k]], end = d.u16[starts[k + 1]];
        if (index < end) return NSRange{begin, end - begin};
    }
    return NSRange{NSNotFound, 0};
}

std::string substringWithRange(std::string_view s, NSRange range) {
    const Decoded d = decode(s);
    const std::size_t from = range.location, to = saturatingEnd(range);
    const std::vector<std::size_t> starts = clusterStarts(d.cps);
    std::size_t first = NSNotFound, last = 0;
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        if (d.u16[starts[k]] >= from && d.u16[starts[k + 1]] <= to) {
            if (first == NSNotFound) first = starts[k];
            last = starts[k + 1];
        }
    }
    if (first == NSNotFound) return {};
    return std::string(s.substr(d.u8[first], d.u8[last] - d.u8[first]));
}

std::string substringToIndex(std::string_view s, std::size_t index) { return substringWithRange(s, {0, index}); }

std::string substringFromIndex(std::string_view s, std::size_t index) {
    return substringWithRange(s, {index, NSNotFound});
}

std::string substringToUTF32Length(std::string_view s, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < count && i < s.size(); ++n) decodeOne(s, i);
    return std::string(s.substr(0, i));
}

NSComparisonResult compare(std::string_view a, std::string_view b, unsigned options) {
    std::u16string x, y;
    if (options & NSCaseInsensitiveSearch) {
        x = toUTF16(fromUTF32(fold(toUTF32(a))));
        y = toUTF16(fromUTF32(fold(toUTF32(b))));
    } else {
        x = toUTF16(a);
        y = toUTF16(b);
    }
    const int c = x.compare(y);
    return c < 0 ? NSOrderedAscending : c > 0 ? NSOrderedDescending : NSOrderedSame;
}

NSComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
    return compare(a, b, NSCaseInsensitiveSearch);
}

bool isEqualToString(std::string_view a, std::string_view b) { return a == b; }

bool hasPrefix(std::string_view s, std::string_view prefix) { return !prefix.empty() && s.starts_with(prefix); }

bool hasSuffix(std::string_view s, std::string_view suffix) { return !suffix.empty() && s.ends_with(suffix); }

bool containsString(std::string_view s, std::string_view needle) {
    return !needle.empty() && s.find(needle) != std::string_view::npos;
}

NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned options) {
    return rangeOfString(s, needle, options, NSRange{0, NSNotFound});
}

NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned options, NSRange searchRange) {
    if (needle.empty()) return NSRange{NSNotFound, 0};
    const Decoded hay = decode(s);
    std::u32string h = hay.cps, n = toUTF32(needle);
    if (options & NSCaseInsensitiveSearch) {
        h = fold(std::move(h));
        n = fold(std::move(n));
    }
    const std::size_t from = cpAtOrAfter(hay, searchRange.location);
    const std::size_t to = cpEndingBy(hay, saturatingEnd(searchRange));
    if (to < from || to - from < n.size()) return NSRange{NSNotFound, 0};
    const std::size_t lastStart = to - n.size();
    const auto matchesAt = [&](std::size_t p) { return std::equal(n.begin(), n.end(), h.begin() + p); };
    const auto found = [&](std::size_t p) { return NSRange{hay.u16[p], hay.u16[p + n.size()] - hay.u16[p]}; };
    const bool backwards = options & NSBackwardsSearch, anchored = options & NSAnchoredSearch;
    if (anchored) {
        const std::size_t p = backwards ? lastStart : from;
        return matchesAt(p) ? found(p) : NSRange{NSNotFound, 0};
    }
    if (backwards) {
        for (std::size_t p = lastStart + 1; p-- > from;)
            if (matchesAt(p)) return found(p);
    } else {
        for (std::size_t p = from; p <= lastStart; ++p)
            if (matchesAt(p)) return found(p);
    }
    return NSRange{NSNotFound, 0};
}

std::string stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                 std::string_view replacement, unsigned options) {
    if (target.empty()) return std::string(s);
    if (options & NSAnchoredSearch) {
        const NSRange r = rangeOfString(s, target, options);
        if (r.location == NSNotFound) return std::string(s);
        const std::u16string units = toUTF16(s);
        return fromUTF16(units.substr(0, r.location)) + std::string(replacement) + fromUTF16(units.substr(r.max()));
    }
    if (!(options & NSCaseInsensitiveSearch)) {
        std::string out;
        std::size_t pos = 0;
        for (std::size_t hit; (hit = s.find(target, pos)) != std::string_view::npos; pos = hit + target.size()) {
            out.append(s.substr(pos, hit - pos));
            out.append(replacement);
        }
        out.append(s.substr(pos));
        return out;
    }
    const Decoded hay = decode(s);
    const std::u32string h = fold(hay.cps), n = fold(toUTF32(target));
    std::string out;
    std::size_t copied = 0, p = 0;
    while (n.size() <= h.size() && p + n.size() <= h.size()) {
        if (std::equal(n.begin(), n.end(), h.begin() + p)) {
            out.append(s.substr(hay.u8[copied], hay.u8[p] - hay.u8[copied]));
            out.append(replacement);
            p += n.size();
            copied = p;
        } else {
            ++p;
        }
    }
    out.append(s.substr(hay.u8[copied]));
    return out;
}

std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty()) {
        parts.emplace_back(s);
        return parts;
    }
    std::size_t pos = 0;
    for (std::size_t hit; (hit = s.find(separator, pos)) != std::string_view::npos; pos = hit + separator.size())
        parts.emplace_back(s.substr(pos, hit - pos));
    parts.emplace_back(s.substr(pos));
    return parts;
}

std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out.append(separator);
        out += parts[i];
    }
    return out;
}

namespace {

bool isWhitespace(char32_t c) {
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isNewline(char32_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

template <class Predicate>
std::string trim(std::string_view s, Predicate inSet) {
    const Decoded d = decode(s);
    std::size_t first = 0, last = d.cps.size();
    while (first < last && inSet(d.cps[first])) ++first;
    while (last > first && inSet(d.cps[last - 1])) --last;
    return std::string(s.substr(d.u8[first], d.u8[last] - d.u8[first]));
}

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

// Mapped this many units at a time at most, so that the result (three units a unit at most) fits
// ICU's lengths; longer text goes in pieces, each its own context.
constexpr std::size_t kCasePiece = std::size_t{1} << 28;

std::size_t mapCase(std::u16string_view s, char16_t* out, std::size_t capacity, CaseMapping map) {
    std::size_t total = 0;
    while (!s.empty()) {
        std::size_t piece = std::min(s.size(), kCasePiece);
        if (piece < s.size() && U16_IS_LEAD(s[piece - 1])) --piece;
        const std::size_t room = total < capacity ? std::min(capacity - total, 3 * kCasePiece) : 0;
        UErrorCode status = U_ZERO_ERROR;
        // The root locale: no language's rules, the final sigma still.
        const int32_t length = map(room ? out + total : nullptr, static_cast<int32_t>(room), s.data(),
                                   static_cast<int32_t>(piece), "", &status);
        // Over text and room as valid as these, only memory can fail it, as it would a `new`.
        if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) throw std::bad_alloc();
        total += static_cast<std::size_t>(length);
        s.remove_prefix(piece);
    }
    return total;
}

// ASCII byte by byte; anything else through UTF-16, mapped into room as long as the text, and
// again into the room a longer result takes.
std::string mapCase(std::string_view s, bool upper) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        std::string out(s);
        for (char& c : out) {
            if (upper ? c >= 'a' && c <= 'z' : c >= 'A' && c <= 'Z') c = static_cast<char>(upper ? c - 32 : c + 32);
        }
        return out;
    }
    const auto map = upper ? uppercaseUTF16 : lowercaseUTF16;
    const std::u16string text = toUTF16(s);
    std::u16string out(text.size(), u'\0');
    const std::size_t length = map(text, out.data(), out.size());
    if (length > out.size()) {
        out.resize(length);
        static_cast<void>(map(text, out.data(), out.size()));
    }
    out.resize(length);
    return fromUTF16(out);
}

// Repeated slashes collapse and a trailing slash goes, except for the root itself.
std::string standardize(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

std::string stringByTrimmingWhitespace(std::string_view s) { return trim(s, isWhitespace); }

std::string stringByTrimmingWhitespaceAndNewlines(std::string_view s) {
    return trim(s, [](char32_t c) { return isWhitespace(c) || isNewline(c); });
}

std::string lowercaseString(std::string_view s) { return mapCase(s, false); }

std::string uppercaseString(std::string_view s) { return mapCase(s, true); }

std::size_t lowercaseUTF16(std::u16string_view s, char16_t* out, std::size_t capacity) {
    return mapCase(s, out, capacity, u_strToLower);
}

std::size_t uppercaseUTF16(std::u16string_view s, char16_t* out, std::size_t capacity) {
    return mapCase(s, out, capacity, u_strToUpper);
}

std::string lastPathComponent(std::string_view path) {
    const std::string p = standardize(path);
    if (p == "/") return p;
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string pathExtension(std::string_view path) {
    const std::string name = lastPathComponent(path);
    const std::size_t dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot == 0 || name == "/") return {};
    return name.substr(dot + 1);
}

std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> parts;
    if (path.empty()) return parts;
    if (path.front() == '/') parts.emplace_back("/");
    for (const std::string& part : componentsSeparatedByString(path, "/"))
        if (!part.empty()) parts.push_back(part);
    if (path.size() > 1 && path.back() == '/') parts.emplace_back("/");
    return parts;
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    if (path.empty()) return standardize(component);
    if (component.empty()) return standardize(path);
    return standardize(std::string(path) + "/" + std::string(component));
}

std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension) {
    const std::string p = standardize(path);
    if (p.empty() || p == "/") return p;
    return p + "." + std::string(extension);
}

std::string stringByDeletingLastPathComponent(std::string_view path) {
    const std::string p = standardize(path);
    if (p == "/") return p;
    const std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::string stringByDeletingPathExtension(std::string_view path) {
    const std::string p = standardize(path);
    const std::size_t slash = p.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = p.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) return p;
    return p.substr(0, dot);
}

std::string stringByExpandingTildeInPath(std::string_view path) {
    if (path == "~" || path.starts_with("~/")) return standardize(Sandbox::home() + std::string(path.substr(1)));
    return std::string(path);
}

}  // namespace NSString
