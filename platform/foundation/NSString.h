// String helpers on UTF-8 std::string that format, count, index, compare and search as the
// platform's strings do, with lengths and ranges in UTF-16 units.
#pragma once

#include "platform/foundation/Value.h"

#include <climits>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
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

// One argument of format(): what C++ type it came from decides which conversions accept it.
class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Double, Char, String, Object, Pointer };

    FormatArg(bool b) : kind_(Kind::Signed), signed_(b ? 1 : 0), bits_(8) {}
    FormatArg(char c) : kind_(Kind::Char), unsigned_(static_cast<unsigned char>(c)) {}
    FormatArg(char16_t c) : kind_(Kind::Char), unsigned_(c) {}
    FormatArg(char32_t c) : kind_(Kind::Char), unsigned_(c) {}
    template <std::signed_integral T>
    FormatArg(T v) : kind_(Kind::Signed), signed_(v), bits_(sizeof(T) * 8) {}
    template <std::unsigned_integral T>
    FormatArg(T v) : kind_(Kind::Unsigned), unsigned_(v), bits_(sizeof(T) * 8) {}
    template <std::floating_point T>
    FormatArg(T v) : kind_(Kind::Double), double_(static_cast<double>(v)) {}
    template <class E>
        requires std::is_enum_v<E>
    FormatArg(E v) : FormatArg(static_cast<std::underlying_type_t<E>>(v)) {}
    FormatArg(const char* s) : kind_(Kind::String), text_(s ? s : "(null)") {}
    FormatArg(const std::string& s) : kind_(Kind::String), text_(s) {}
    FormatArg(std::string_view s) : kind_(Kind::String), text_(s) {}
    FormatArg(const Value& v) : kind_(Kind::Object), value_(v) {}
    FormatArg(const NSDate& d) : kind_(Kind::Object), value_(d) {}
    FormatArg(const NSObject* o) : kind_(Kind::Object), object_(o) {}
    template <class T>
        requires std::is_base_of_v<NSObject, T>
    FormatArg(const std::shared_ptr<T>& o) : kind_(Kind::Object), object_(o.get()) {}
    FormatArg(const void* p) : kind_(Kind::Pointer), pointer_(p) {}
    FormatArg(std::nullptr_t) : kind_(Kind::Object) {}

    Kind kind() const { return kind_; }
    std::int64_t signedValue() const { return signed_; }
    std::uint64_t unsignedValue() const { return unsigned_; }
    double doubleValue() const { return double_; }
    // The argument's own width in bits, so that %x of a negative int shows 32 bits.
    unsigned bits() const { return bits_; }
    std::string_view text() const { return text_; }
    // What %@ prints: the description, or "(null)" for a null object.
    std::string objectDescription() const;
    const void* pointer() const { return object_ ? static_cast<const void*>(object_) : pointer_; }
    // "an integer", "a string", ... for error messages.
    const char* kindName() const;

private:
    Kind kind_;
    std::int64_t signed_ = 0;
    std::uint64_t unsigned_ = 0;
    double double_ = 0;
    unsigned bits_ = 64;
    std::string_view text_;
    Value value_;
    const NSObject* object_ = nullptr;
    const void* pointer_ = nullptr;
};

// printf-style formatting with the platform's specifiers: %@ (a Value's or an object's
// description, or a string), %d %i %u %o %x %X with the h/hh/l/ll/q/z/j/t modifiers, %f %e %g
// %a (any case), %c %C %s %p %%, flags, widths, precisions, "*" and positional "%2$@".
// An argument of a kind the conversion cannot take, a missing argument or an unknown
// conversion is a programming error: the process aborts with a message naming the format.
std::string formatArguments(std::string_view format, std::span<const FormatArg> args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return formatArguments(fmt, {});
    } else {
        const FormatArg list[] = {FormatArg(args)...};
        return formatArguments(fmt, list);
    }
}

// Encodings. Invalid UTF-8 bytes read as U+FFFD, one per byte; unpaired surrogates write as U+FFFD.
bool isValidUTF8(std::string_view s);
std::optional<std::string> stringWithUTF8Data(const NSData& data);
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
// Locale-independent simple case mapping.
std::string lowercaseString(std::string_view s);
std::string uppercaseString(std::string_view s);

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
