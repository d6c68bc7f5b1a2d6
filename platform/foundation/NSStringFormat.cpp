// The printf-style formatter of strings: the platform's conversions, type-checked against the
// C++ types of the arguments.
#include "platform/foundation/NSStringFormat.h"

#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace NSString {
namespace {

[[noreturn]] void formatError(std::string_view format, const std::string& what) {
    std::fprintf(stderr, "NSString format \"%.*s\": %s\n", static_cast<int>(format.size()), format.data(),
                 what.c_str());
    std::abort();
}

template <class T>
void appendC(std::string& out, const std::string& spec, T value) {
    const int n = std::snprintf(nullptr, 0, spec.c_str(), value);
    if (n <= 0) return;
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(n) + 1);
    std::snprintf(out.data() + old, static_cast<std::size_t>(n) + 1, spec.c_str(), value);
    out.resize(old + static_cast<std::size_t>(n));
}

// The bytes and UTF-16 units of the character at text[i]; a malformed byte stands alone, as one
// unit (it reads as U+FFFD).
std::pair<std::size_t, std::size_t> characterAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (length == 1 || i + length > text.size() || !isValidUTF8(text.substr(i, length))) return {1, 1};
    return {length, length == 4 ? 2 : 1};
}

// Width and precision for text count UTF-16 units; precision keeps whole code points.
void appendPadded(std::string& out, std::string_view text, int width, int precision, bool leftAlign) {
    std::string body;
    if (precision >= 0) {
        std::size_t i = 0, units = 0;
        while (i < text.size()) {
            const auto [bytes, characterUnits] = characterAt(text, i);
            if (units + characterUnits > static_cast<std::size_t>(precision)) break;
            units += characterUnits;
            i += bytes;
        }
        body = text.substr(0, i);
    } else {
        body = text;
    }
    const std::size_t length = utf16Length(body);
    const std::size_t pad = width > 0 && static_cast<std::size_t>(width) > length ? width - length : 0;
    if (!leftAlign) out.append(pad, ' ');
    out += body;
    if (leftAlign) out.append(pad, ' ');
}

}  // namespace

std::string FormatArg::objectDescription() const {
    if (kind_ == Kind::String) return std::string(text_);
    if (object_) return object_->description();
    if (value_.isNull()) return "(null)";
    return value_.description();
}

const char* FormatArg::kindName() const {
    switch (kind_) {
    case Kind::Signed: return "an integer";
    case Kind::Unsigned: return "an unsigned integer";
    case Kind::Double: return "a floating-point number";
    case Kind::Char: return "a character";
    case Kind::String: return "a string";
    case Kind::Object: return "an object";
    case Kind::Pointer: return "a pointer";
    }
    return "an unknown value";
}

std::string formatArguments(std::string_view fmt, std::span<const FormatArg> args) {
    std::string out;
    std::size_t next = 0;
    std::size_t i = 0;
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < fmt.size()) {
        if (fmt[i] != '%') {
            const std::size_t run = fmt.find('%', i);
            const std::size_t end = run == std::string_view::npos ? fmt.size() : run;
            out.append(fmt.substr(i, end - i));
            i = end;
            continue;
        }
        const std::size_t specStart = i++;
        if (i < fmt.size() && fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Positional argument: "%2$@".
        std::size_t position = 0;
        {
            std::size_t j = i, n = 0;
            while (j < fmt.size() && isDigit(fmt[j]) && n < 1000) n = n * 10 + static_cast<std::size_t>(fmt[j++] - '0');
            if (j > i && j < fmt.size() && fmt[j] == '$' && n > 0) {
                position = n;
                i = j + 1;
            }
        }
        std::string flags;
        while (i < fmt.size() && std::string_view("-+ #0'").find(fmt[i]) != std::string_view::npos) {
            if (fmt[i] != '\'' && flags.find(fmt[i]) == std::string::npos) flags += fmt[i];
            ++i;
        }
        const auto nextArgument = [&](const std::string& spec) -> const FormatArg& {
            const std::size_t index = next++;
            if (index >= args.size()) formatError(fmt, "no argument for \"" + spec + "\"");
            return args[index];
        };
        const auto readCount = [&](const char* what) {
            if (i < fmt.size() && fmt[i] == '*') {
                ++i;
                const FormatArg& arg = nextArgument(std::string("*") + what);
                if (arg.kind() == FormatArg::Kind::Signed)
                    return static_cast<int>(std::clamp<std::int64_t>(arg.signedValue(), -100000, 100000));
                if (arg.kind() == FormatArg::Kind::Unsigned)
                    return static_cast<int>(std::min<std::uint64_t>(arg.unsignedValue(), 100000));
                formatError(fmt, std::string("the ") + what + " argument \"*\" is " + arg.kindName());
            }
            int n = 0;
            while (i < fmt.size() && isDigit(fmt[i])) {
                n = std::min(n * 10 + (fmt[i] - '0'), 100000);
                ++i;
            }
            return n;
        };
        int width = readCount("width");
        if (width < 0) {
            if (flags.find('-') == std::string::npos) flags += '-';
            width = -width;
        }
        int precision = -1;
        if (i < fmt.size() && fmt[i] == '.') {
            ++i;
            precision = readCount("precision");
            if (precision < 0) precision = -1;
        }
        std::string length;
        while (i < fmt.size() && std::string_view("hlqLzjt").find(fmt[i]) != std::string_view::npos) length += fmt[i++];
        if (i >= fmt.size()) formatError(fmt, "the format ends inside \"" + std::string(fmt.substr(specStart)) + "\"");
        const char conversion = fmt[i++];
        const std::string spec(fmt.substr(specStart, i - specStart));

        std::size_t argIndex;
        if (position) {
            argIndex = position - 1;
        } else {
            argIndex = next++;
        }
        if (argIndex >= args.size()) formatError(fmt, "no argument for \"" + spec + "\"");
        const FormatArg& arg = args[argIndex];
        const auto mismatch = [&]() {
            formatError(fmt, "argument " + std::to_string(argIndex + 1) + " for \"" + spec + "\" is " + arg.kindName());
        };
        std::string cspec = "%" + flags;
        if (width > 0) cspec += std::to_string(width);
        if (precision >= 0) cspec += "." + std::to_string(precision);
        const bool leftAlign = flags.find('-') != std::string::npos;

        switch (conversion) {
        case 'd':
        case 'i':
        case 'D': {
            if (arg.kind() == FormatArg::Kind::Unsigned) {
                appendC(out, cspec + "llu", static_cast<unsigned long long>(arg.unsignedValue()));
                break;
            }
            long long v = 0;
            if (arg.kind() == FormatArg::Kind::Signed) v = arg.signedValue();
            else if (arg.kind() == FormatArg::Kind::Char) v = static_cast<long long>(arg.unsignedValue());
            else mismatch();
            if (length == "hh") v = static_cast<signed char>(v);
            else if (length == "h") v = static_cast<short>(v);
            appendC(out, cspec + "lld", v);
            break;
        }
        case 'u':
        case 'U':
        case 'o':
        case 'O':
        case 'x':
        case 'X': {
            unsigned long long v = 0;
            if (arg.kind() == FormatArg::Kind::Unsigned || arg.kind() == FormatArg::Kind::Char) {
                v = arg.unsignedValue();
            } else if (arg.kind() == FormatArg::Kind::Signed) {
                v = static_cast<unsigned long long>(arg.signedValue());
                if (arg.bits() < 64) v &= (1ULL << arg.bits()) - 1;
            } else {
                mismatch();
            }
            if (length == "hh") v &= 0xFF;
            else if (length == "h") v &= 0xFFFF;
            const char c = conversion == 'U' ? 'u' : conversion == 'O' ? 'o' : conversion;
            appendC(out, cspec + "ll" + c, v);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (arg.kind() != FormatArg::Kind::Double) mismatch();
            appendC(out, cspec + conversion, arg.doubleValue());
            break;
        case 'c':
        case 'C': {
            char32_t cp = 0;
            if (arg.kind() == FormatArg::Kind::Char || arg.kind() == FormatArg::Kind::Unsigned)
                cp = static_cast<char32_t>(std::min<std::uint64_t>(arg.unsignedValue(), 0x110000));
            else if (arg.kind() == FormatArg::Kind::Signed)
                cp = static_cast<char32_t>(std::clamp<std::int64_t>(arg.signedValue(), 0, 0x110000));
            else mismatch();
            // A byte above 127 is taken as Latin-1, which is its code point.
            if (conversion == 'c' && arg.kind() != FormatArg::Kind::Char) cp &= 0xFF;
            std::string text;
            appendUTF8(text, cp);
            appendPadded(out, text, width, -1, leftAlign);
            break;
        }
        case 's':
            if (arg.kind() != FormatArg::Kind::String) mismatch();
            appendPadded(out, arg.text(), width, precision, leftAlign);
            break;
        case '@':
            if (arg.kind() != FormatArg::Kind::Object && arg.kind() != FormatArg::Kind::String) mismatch();
            appendPadded(out, arg.objectDescription(), width, precision, leftAlign);
            break;
        case 'p': {
            if (arg.kind() != FormatArg::Kind::Pointer && arg.kind() != FormatArg::Kind::Object) mismatch();
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "0x%llx",
                          static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(arg.pointer())));
            appendPadded(out, buffer, width, -1, leftAlign);
            break;
        }
        default:
            formatError(fmt, "unknown conversion \"" + spec + "\"");
        }
    }
    return out;
}

}  // namespace NSString
