// String helpers on UTF-8 std::string that format (NSStringFormat.h), count, index, compare and
// search as the platform's strings do, with lengths and ranges in UTF-16 units.
#pragma once

#include "platform/foundation/NSStringFormat.h"
#include "platform/foundation/Value.h"

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum NSComparisonResult : int { NSOrderedAscending = -1, NSOrderedSame = 0, NSOrderedDescending = 1 };

// "Not found" in ranges and indexes, as the platform's NSIntegerMax.
inline constexpr std::size_t NSNotFound = static_cast<std::size_t>(LONG_MAX);

// A range of UTF-16 units.
struct NSRange {
    std::size_t location = 0;
    std::size_t length = 0;
    std::size_t max() const { return location + length; }
    bool operator==(const NSRange&) const = default;
};
inline NSRange NSMakeRange(std::size_t location, std::size_t length) { return NSRange{location, length}; }

// Options of compare and rangeOfString, combined with |.
enum NSStringCompareOptions : unsigned {
    NSCaseInsensitiveSearch = 1,
    NSLiteralSearch = 2,
    NSBackwardsSearch = 4,
    NSAnchoredSearch = 8,
};

namespace NSString {

// Encodings. Invalid UTF-8 bytes read as U+FFFD, one per byte; unpaired surrogates write as U+FFFD.
bool isValidUTF8(std::string_view s);
[[nodiscard]] std::optional<std::string> stringWithUTF8Data(const NSData& data);
std::u16string toUTF16(std::string_view s);
std::string fromUTF16(std::u16string_view s);
std::u32string toUTF32(std::string_view s);
std::string fromUTF32(std::u32string_view s);
void appendUTF8(std::string& out, char32_t codePoint);
// The code point at byte `i`, moving `i` past it; for reading long text without copying it.
char32_t nextCodePoint(std::string_view s, std::size_t& i);

// Lengths and indexes in UTF-16 units ("length"), and code points (UTF-32 length).
std::size_t utf16Length(std::string_view s);
std::size_t utf32Length(std::string_view s);
// The UTF-16 unit at `index`; an index past the end aborts, as the platform raises.
char16_t characterAtIndex(std::string_view s, std::size_t index);
// The whole character (a base with its combining marks, an emoji sequence, a surrogate pair)
// that covers the UTF-16 unit at `index`.
NSRange rangeOfComposedCharacterSequenceAtIndex(std::string_view s, std::size_t index);
// Substrings never split a character: they hold the whole characters lying inside the range
// (clamped to the string).
std::string substringWithRange(std::string_view s, NSRange range);
std::string substringToIndex(std::string_view s, std::size_t index);
std::string substringFromIndex(std::string_view s, std::size_t index);
// The first `count` code points at most.
std::string substringToUTF32Length(std::string_view s, std::size_t count);

// Comparison by UTF-16 units; NSCaseInsensitiveSearch folds case first.
NSComparisonResult compare(std::string_view a, std::string_view b, unsigned options = 0);
NSComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);
bool isEqualToString(std::string_view a, std::string_view b);
// As on the platform, an empty prefix, suffix or needle is never found.
bool hasPrefix(std::string_view s, std::string_view prefix);
bool hasSuffix(std::string_view s, std::string_view suffix);
bool containsString(std::string_view s, std::string_view needle);
NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned options = 0);
NSRange rangeOfString(std::string_view s, std::string_view needle, unsigned options, NSRange searchRange);
std::string stringByReplacingOccurrencesOfString(std::string_view s, std::string_view target,
                                                 std::string_view replacement, unsigned options = 0);
std::vector<std::string> componentsSeparatedByString(std::string_view s, std::string_view separator);
std::string componentsJoinedByString(const std::vector<std::string>& parts, std::string_view separator);
// Unicode spaces and tabs; the second also line and paragraph separators.
std::string stringByTrimmingWhitespace(std::string_view s);
std::string stringByTrimmingWhitespaceAndNewlines(std::string_view s);
// Locale-independent full case mapping, as the platform's: the special-casing table's
// unconditional mappings (ß to SS, ligatures spelt out, İ to i with a dot above) and, lowering,
// a final sigma for a Σ that ends a word.
std::string lowercaseString(std::string_view s);
std::string uppercaseString(std::string_view s);
// The same on UTF-16 text, unpaired surrogates kept: gives the length of the whole result, which
// `out` holds when that is no more than `capacity` (else map again into room that long). The
// result is at most three times as long as the text.
std::size_t lowercaseUTF16(std::u16string_view s, char16_t* out, std::size_t capacity);
std::size_t uppercaseUTF16(std::u16string_view s, char16_t* out, std::size_t capacity);

// Paths: repeated and trailing slashes are dropped first, as the platform does.
std::string lastPathComponent(std::string_view path);
std::string pathExtension(std::string_view path);
std::vector<std::string> pathComponents(std::string_view path);
std::string stringByAppendingPathComponent(std::string_view path, std::string_view component);
std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);
std::string stringByDeletingLastPathComponent(std::string_view path);
std::string stringByDeletingPathExtension(std::string_view path);
// "~" and "~/..." against the sandbox home; other paths unchanged.
std::string stringByExpandingTildeInPath(std::string_view path);

}  // namespace NSString
