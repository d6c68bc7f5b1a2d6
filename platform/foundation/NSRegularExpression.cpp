// Regular expressions over PCRE2 (8-bit, UTF and Unicode properties, JIT where the machine allows),
// with limits on every match and UTF-16 ranges mapped to and from byte offsets.
#include "platform/foundation/NSRegularExpression.h"

#include "platform/foundation/Diagnostics.h"
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

// Patterns and subjects come from the network. These bound one search from one start position;
// legitimate patterns over a megabyte of text stay well inside them.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 1'000'000;
constexpr uint32_t kHeapLimitKiB = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMax = 8 * 1024 * 1024;

std::string errorMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0) return "error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

bool isLimit(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT ||
           rc == PCRE2_ERROR_JIT_STACKLIMIT;
}

void logFailure(const std::string& pattern, int rc) {
    if (isLimit(rc)) {
        Diagnostics::notef(
            "NSRegularExpression: the pattern \"%s\" exceeded its limit (%s) and was treated as no match.",
            pattern.c_str(), errorMessage(rc).c_str());
    } else {
        Diagnostics::notef("NSRegularExpression: matching the pattern \"%s\" failed (%s) and was treated as no match.",
                           pattern.c_str(), errorMessage(rc).c_str());
    }
}

// The searched text as valid UTF-8: invalid bytes become U+FFFD, one each, which keeps UTF-16
// offsets as NSString counts them and lets the matcher skip its own validity check.
class Subject {
public:
    explicit Subject(const std::string& string) : text_(string) {
        if (!NSString::isValidUTF8(string)) {
            repaired_ = NSString::fromUTF32(NSString::toUTF32(string));
            text_ = *repaired_;
        }
    }
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    std::string_view text() const { return text_; }

    // Byte offset of the UTF-16 unit `index`, clamped to the end; an index inside a surrogate
    // pair moves past the pair.
    std::size_t byteOffset(std::size_t index) const {
        std::size_t units = 0, i = 0;
        while (i < text_.size() && units < index) {
            const unsigned char c = static_cast<unsigned char>(text_[i]);
            const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            units += length == 4 ? 2 : 1;
            i += length;
        }
        return i;
    }

    // UTF-16 range of the bytes [begin, end). Counting moves on from the last start asked for,
    // so walking the matches of a long text stays linear.
    NSRange range(std::size_t begin, std::size_t end) {
        if (begin >= cursorBytes_)
            cursorUnits_ += NSString::utf16Length(text_.substr(cursorBytes_, begin - cursorBytes_));
        else
            cursorUnits_ -= NSString::utf16Length(text_.substr(begin, cursorBytes_ - begin));
        cursorBytes_ = begin;
        return NSRange{cursorUnits_, NSString::utf16Length(text_.substr(begin, end - begin))};
    }

private:
    std::optional<std::string> repaired_;
    std::string_view text_;
    std::size_t cursorBytes_ = 0;
    std::size_t cursorUnits_ = 0;
};

// The JIT stack of the calling thread, made on first use: it reserves megabytes of address
// space, too dear to map for every search. Searches never nest, so one per thread suffices.
pcre2_jit_stack* threadJitStack() {
    struct Holder {
        pcre2_jit_stack* stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
        ~Holder() { pcre2_jit_stack_free(stack); }
    };
    thread_local Holder holder;
    return holder.stack;
}

// One search's own match data and limits, so one expression serves many threads.
class Search {
public:
    Search(const pcre2_code* code, bool jit, uint32_t matchLimit = kMatchLimit) : code_(code) {
        context_ = pcre2_match_context_create(nullptr);
        if (context_) {
            pcre2_set_match_limit(context_, std::min(matchLimit, kMatchLimit));
            pcre2_set_depth_limit(context_, kDepthLimit);
            pcre2_set_heap_limit(context_, kHeapLimitKiB);
            // Without a stack of its own the JIT code gets 32 KiB of the machine stack.
            pcre2_jit_stack* stack = jit ? threadJitStack() : nullptr;
            if (stack) pcre2_jit_stack_assign(context_, nullptr, stack);
        }
        data_ = pcre2_match_data_create_from_pattern(code, nullptr);
    }
    ~Search() {
        pcre2_match_data_free(data_);
        pcre2_match_context_free(context_);
    }
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // PCRE2's result: the number of groups set, PCRE2_ERROR_NOMATCH, or a failure.
    int run(std::string_view text, std::size_t offset, uint32_t options) {
        if (!context_ || !data_) return PCRE2_ERROR_NOMEMORY;
        return pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), offset,
                           options | PCRE2_NO_UTF_CHECK, data_, context_);
    }
    const PCRE2_SIZE* ovector() const { return pcre2_get_ovector_pointer(data_); }

private:
    const pcre2_code* code_;
    pcre2_match_context* context_ = nullptr;
    pcre2_match_data* data_ = nullptr;
};

}  // namespace

struct NSRegularExpression::Compiled {
    pcre2_code* code = nullptr;
    bool jit = false;
    uint32_t groups = 0;
    ~Compiled() { pcre2_code_free(code); }

    // Calls `onMatch(ovector, pairs)` for each match from the start of `text`, stepping past
    // empty matches as Perl does. False, logged, when the matcher gave up.
    template <class OnMatch>
    bool forEachMatch(const std::string& pattern, std::string_view text, OnMatch&& onMatch) const {
        Search search(code, jit);
        std::size_t offset = 0;
        uint32_t flags = 0;
        for (;;) {
            const int rc = search.run(text, offset, flags);
            if (rc == PCRE2_ERROR_NOMATCH) {
                if (flags == 0 || offset >= text.size()) return true;
                // Nothing non-empty where the empty match was: one character on, CR LF counting as one.
                const bool crlf = text[offset] == '\r' && offset + 1 < text.size() && text[offset + 1] == '\n';
                offset += crlf ? 2 : 1;
                while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
                flags = 0;
                continue;
            }
            if (rc < 0) {
                logFailure(pattern, rc);
                return false;
            }
            const PCRE2_SIZE* ovector = search.ovector();
            onMatch(ovector, groups + 1);
            flags = ovector[0] == ovector[1] ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
            offset = ovector[1];
        }
    }
};

NSRegularExpression::~NSRegularExpression() = default;

std::shared_ptr<NSRegularExpression> NSRegularExpression::regularExpressionWithPattern(const std::string& pattern,
                                                                                       unsigned options,
                                                                                       NSErrorPtr* error) {
    uint32_t flags = PCRE2_UTF;
    if (options & NSRegularExpressionCaseInsensitive) flags |= PCRE2_CASELESS;
    if (options & NSRegularExpressionIgnoreMetacharacters) {
        flags |= PCRE2_LITERAL;
    } else {
        // "$" without the line option matches only at the very end, not before a final line end:
        // "12\n" is no decimal number.
        flags |= PCRE2_UCP | PCRE2_DOLLAR_ENDONLY;
        if (options & NSRegularExpressionDotMatchesLineSeparators) flags |= PCRE2_DOTALL;
        if (options & NSRegularExpressionAnchorsMatchLines) flags |= PCRE2_MULTILINE;
    }
    // Line ends as the platform knows them: LF, CR, CR LF, VT, FF, NEL, LS and PS.
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    if (context) pcre2_set_newline(context, PCRE2_NEWLINE_ANY);
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &errorCode,
                                     &errorOffset, context);
    pcre2_compile_context_free(context);
    if (!code) {
        const std::size_t offset =
            NSString::utf16Length(std::string_view(pattern).substr(0, std::min(errorOffset, pattern.size())));
        Value::Dictionary info;
        info.set("NSInvalidValue", pattern);
        info.set(NSLocalizedDescriptionKey, std::string("The value “") + pattern + "” is invalid.");
        info.set(NSRegularExpressionErrorMessageKey, errorMessage(errorCode));
        info.set(NSRegularExpressionErrorOffsetKey, static_cast<int64_t>(offset));
        setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, NSFormattingError, info));
        return nullptr;
    }
    auto expression = std::make_shared<NSRegularExpression>();
    expression->pattern_ = pattern;
    expression->options_ = options;
    expression->compiled_ = std::make_unique<Compiled>();
    expression->compiled_->code = code;
    // Where the machine refuses executable memory the interpreter runs the same pattern.
    expression->compiled_->jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
    pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &expression->compiled_->groups);
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
    bool finished = false;
    return firstMatch(string, range, kMatchLimit, nullptr, true, finished);
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string, NSRange range,
                                                       NSErrorPtr* error) const {
    bool finished = false;
    return firstMatch(string, range, kMatchLimit, error, error == nullptr, finished);
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string, NSRange range,
                                                       std::uint32_t matchLimit, bool& finished) const {
    return firstMatch(string, range, matchLimit, nullptr, false, finished);
}

NSRange NSRegularExpression::firstMatch(const std::string& string, NSRange range, std::uint32_t matchLimit,
                                        NSErrorPtr* error, bool logGivingUp, bool& finished) const {
    finished = true;
    Subject subject(string);
    const std::size_t begin = subject.byteOffset(range.location);
    const std::size_t end = range.length >= NSNotFound - range.location
                                ? subject.text().size()
                                : subject.byteOffset(range.location + range.length);
    if (begin > end) return NSRange{NSNotFound, 0};
    // The range is the whole subject: anchors hold at its ends and nothing outside is seen.
    Search search(compiled_->code, compiled_->jit, matchLimit);
    const int rc = search.run(subject.text().substr(begin, end - begin), 0, 0);
    if (rc == PCRE2_ERROR_NOMATCH) return NSRange{NSNotFound, 0};
    if (rc < 0) {
        finished = false;
        if (error) {
            Value::Dictionary info;
            info.set(NSLocalizedDescriptionKey, "Matching the pattern “" + pattern_ + "” failed: " + errorMessage(rc));
            info.set(NSRegularExpressionErrorMessageKey, errorMessage(rc));
            setError(error, NSError::errorWithDomain(NSCocoaErrorDomain, NSRegularExpressionMatchLimitError, info));
        } else if (logGivingUp) {
            logFailure(pattern_, rc);
        }
        return NSRange{NSNotFound, 0};
    }
    const PCRE2_SIZE* ovector = search.ovector();
    return subject.range(begin + ovector[0], begin + ovector[1]);
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string) const {
    return rangeOfFirstMatchInString(string, NSRange{0, NSNotFound});
}

std::vector<std::vector<NSRange>> NSRegularExpression::matchesInString(const std::string& string) const {
    Subject subject(string);
    std::vector<std::vector<NSRange>> out;
    const bool finished =
        compiled_->forEachMatch(pattern_, subject.text(), [&](const PCRE2_SIZE* ovector, uint32_t pairs) {
            std::vector<NSRange> groups;
            groups.reserve(pairs);
            for (uint32_t g = 0; g < pairs; ++g) {
                const PCRE2_SIZE b = ovector[2 * g], e = ovector[2 * g + 1];
                groups.push_back(b == PCRE2_UNSET ? NSRange{NSNotFound, 0} : subject.range(b, e));
            }
            out.push_back(std::move(groups));
        });
    if (!finished) return {};
    return out;
}

std::size_t NSRegularExpression::numberOfMatchesInString(const std::string& string) const {
    Subject subject(string);
    std::size_t count = 0;
    const bool finished =
        compiled_->forEachMatch(pattern_, subject.text(), [&](const PCRE2_SIZE*, uint32_t) { ++count; });
    return finished ? count : 0;
}
