// The printf-style formatting of strings (stringWithFormat): the argument wrapper and format().
#pragma once

#include "platform/foundation/Value.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

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

}  // namespace NSString
