// Regular expressions over PCRE2 (8-bit, UTF and Unicode properties, JIT where the machine allows),
// with limits on every match, the matcher's memory its own for each search, and UTF-16 ranges
// mapped to and from byte offsets.
#include "platform/foundation/NSRegularExpression.h"

#include "platform/foundation/Diagnostics.h"
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
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

// The memory of one search: its match context and match data, and the frames the matcher
// backtracks through, which a pattern can grow by the subject's length. glibc keeps what a
// thread freed in that thread's arena, and once a large block has been freed it serves the next
// ones from the arena as well, where malloc_trim does not reach them: a search's frames would
// stay resident, once for every worker thread that ever searched. So a block from
// kMappedBlockBytes up is mapped on its own and unmapped as it is freed. Every block is
// counted, and one that would take the search past its limit is refused: the search fails for
// want of memory.
class MatcherMemory {
public:
    static constexpr std::size_t kMappedBlockBytes = 128 * 1024;

    explicit MatcherMemory(std::size_t limit) : limit_(limit) {
        context_ = pcre2_general_context_create(&MatcherMemory::allocate, &MatcherMemory::release, this);
    }
    ~MatcherMemory() { pcre2_general_context_free(context_); }
    MatcherMemory(const MatcherMemory&) = delete;
    MatcherMemory& operator=(const MatcherMemory&) = delete;

    // Null when even the context could not be had.
    pcre2_general_context* context() const { return context_; }

private:
    // Before each block: the room it takes and whether it is mapped on its own; as aligned as
    // malloc's blocks.
    struct alignas(alignof(std::max_align_t)) Header {
        std::size_t room;
        bool mapped;
    };

    static void* allocate(PCRE2_SIZE size, void* data) {
        MatcherMemory& memory = *static_cast<MatcherMemory*>(data);
        if (size > std::numeric_limits<std::size_t>::max() / 2) return nullptr;
        static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const bool mapped = size >= kMappedBlockBytes;
        const std::size_t room = mapped ? (sizeof(Header) + size + page - 1) / page * page : sizeof(Header) + size;
        if (room > memory.limit_ - std::min(memory.limit_, memory.inUse_)) return nullptr;
        void* block = nullptr;
        if (mapped) {
            block = mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (block == MAP_FAILED) return nullptr;
        } else {
            block = std::malloc(room);
            if (!block) return nullptr;
        }
        memory.inUse_ += room;
        return new (block) Header{room, mapped} + 1;
    }

    static void release(void* block, void* data) {
        if (!block) return;
        MatcherMemory& memory = *static_cast<MatcherMemory*>(data);
        Header* header = static_cast<Header*>(block) - 1;
        const Header taken = *header;
        memory.inUse_ -= taken.room;
        if (taken.mapped) munmap(header, taken.room);
        else std::free(header);
    }

    std::size_t limit_;
    std::size_t inUse_ = 0;
    pcre2_general_context* context_ = nullptr;
};

// A function the matcher calls at each callout of a pattern, with its data.
struct Callout {
    int (*function)(pcre2_callout_block*, void*) = nullptr;
    void* data = nullptr;
};

// One search's own match data and limits, so one expression serves many threads; its memory
// comes and goes with it. `memoryLimit` bounds every byte the matcher takes of its own.
class Search {
public:
    Search(const pcre2_code* code, bool jit, uint32_t heapLimitKiB = kHeapLimitKiB, Callout callout = {},
           std::size_t memoryLimit = std::numeric_limits<std::size_t>::max())
        : code_(code), memory_(memoryLimit) {
        if (!memory_.context()) return;
        context_ = pcre2_match_context_create(memory_.context());
        if (context_) {
            pcre2_set_match_limit(context_, kMatchLimit);
            pcre2_set_depth_limit(context_, kDepthLimit);
            pcre2_set_heap_limit(context_, std::min(heapLimitKiB, kHeapLimitKiB));
            if (callout.function) pcre2_set_callout(context_, callout.function, callout.data);
            // Without a stack of its own the JIT code gets 32 KiB of the machine stack.
            pcre2_jit_stack* stack = jit ? threadJitStack() : nullptr;
            if (stack) pcre2_jit_stack_assign(context_, nullptr, stack);
        }
        data_ = pcre2_match_data_create_from_pattern(code, memory_.context());
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
    // Made first and freed last: the context and the match data live in it.
    MatcherMemory memory_;
    pcre2_match_context* context_ = nullptr;
    pcre2_match_data* data_ = nullptr;
};

// The largest least count of a counted repeat ("{n}", "{n,}", "{n,m}") the pattern may hold,
// read from its text: what such a repeat compares before it can fail, with no callout in
// between. Braces that are no repeat (escaped, in a class, "\x{...}") only make it larger.
uint32_t longestLeastCount(std::string_view pattern) {
    uint32_t longest = 0;
    for (std::size_t i = pattern.find('{'); i != std::string_view::npos; i = pattern.find('{', i + 1)) {
        uint32_t count = 0;
        std::size_t j = i + 1;
        for (; j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9'; ++j) {
            count = std::min<uint32_t>(count * 10 + static_cast<uint32_t>(pattern[j] - '0'), 65535);
        }
        if (j > i + 1 && j < pattern.size() && (pattern[j] == ',' || pattern[j] == '}')) longest = std::max(longest, count);
    }
    return longest;
}

}  // namespace

// The work of one counted search so far, told by the callout the counted pattern has before
// each of its items: a step for each, a start for each start position tried, the bytes the
// matcher moved over since the last, and what the next item may compare before failing unseen
// (a counted repeat's least count, a back reference as long as the longest group captured).
struct NSRegularExpression::WorkCount {
    uint64_t limit = 0;
    uint64_t work = 0;
    std::size_t heapLimit = 0;
    std::size_t position = 0;
    std::size_t start = PCRE2_UNSET;
    uint32_t leastCount = 0;
    bool backReferences = false;

    static int callout(pcre2_callout_block* block, void* data) {
        WorkCount& count = *static_cast<WorkCount*>(data);
        const std::size_t at = block->current_position;
        uint64_t work = kMatcherStepWork + (at > count.position ? at - count.position : count.position - at);
        count.position = at;
        if (block->start_match != count.start) {
            count.start = block->start_match;
            work += kMatcherStartWork;
        }
        uint64_t unseen = std::min<uint64_t>(count.leastCount, block->subject_length - std::min(at, block->subject_length));
        if (count.backReferences) {
            for (uint32_t group = 1; group < block->capture_top; ++group) {
                const PCRE2_SIZE begin = block->offset_vector[2 * group], end = block->offset_vector[2 * group + 1];
                if (begin != PCRE2_UNSET && end > begin) unseen = std::max<uint64_t>(unseen, end - begin);
            }
        }
        count.work += work + unseen;
        return count.work > count.limit ? PCRE2_ERROR_CALLOUT : 0;
    }
};

struct NSRegularExpression::Compiled {
    pcre2_code* code = nullptr;
    uint32_t groups = 0;
    uint32_t flags = 0;
    ~Compiled() {
        pcre2_code_free(code);
        pcre2_code_free(counted);
    }

    // The pattern with a callout before each item, for the searches that count their work;
    // compiled on first use (without the JIT: its code for every callout costs more than it
    // saves). None when the callouts make it too large.
    const pcre2_code* countedCode(const std::string& pattern) const {
        std::call_once(countedOnce, [&] {
            pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
            if (context) pcre2_set_newline(context, PCRE2_NEWLINE_ANY);
            int errorCode = 0;
            PCRE2_SIZE errorOffset = 0;
            counted = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                    flags | PCRE2_AUTO_CALLOUT, &errorCode, &errorOffset, context);
            pcre2_compile_context_free(context);
            uint32_t references = 0;
            if (counted) pcre2_pattern_info(counted, PCRE2_INFO_BACKREFMAX, &references);
            backReferences = references > 0;
            leastCount = longestLeastCount(pattern);
        });
        return counted;
    }
    mutable std::once_flag countedOnce;
    mutable pcre2_code* counted = nullptr;
    mutable uint32_t leastCount = 0;
    mutable bool backReferences = false;

    // Whether `code` runs compiled to machine code, done on the first search that runs it: its
    // code takes up to some hundred kilobytes a pattern, which an expression kept only for
    // counted searches would hold for nothing. Where the machine refuses executable memory the
    // interpreter runs the same pattern.
    bool jitCode() const {
        std::call_once(jitOnce, [&] { jit = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0; });
        return jit;
    }
    mutable std::once_flag jitOnce;
    mutable bool jit = false;

    // Calls `onMatch(ovector, pairs)` for each match from the start of `text`, stepping past
    // empty matches as Perl does. False, logged, when the matcher gave up.
    template <class OnMatch>
    bool forEachMatch(const std::string& pattern, std::string_view text, OnMatch&& onMatch) const {
        Search search(code, jitCode());
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
    expression->compiled_->flags = flags;
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
    return firstMatch(string, range, nullptr, nullptr, true, finished);
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string, NSRange range,
                                                       NSErrorPtr* error) const {
    bool finished = false;
    return firstMatch(string, range, nullptr, error, error == nullptr, finished);
}

NSRange NSRegularExpression::rangeOfFirstMatchInString(const std::string& string, NSRange range,
                                                       std::uint64_t workLimit, std::size_t heapLimit,
                                                       std::uint64_t& work, bool& finished) const {
    WorkCount count;
    count.limit = workLimit;
    count.heapLimit = heapLimit;
    const NSRange found = firstMatch(string, range, &count, nullptr, false, finished);
    work = count.work;
    return found;
}

NSRange NSRegularExpression::firstMatch(const std::string& string, NSRange range, WorkCount* count,
                                        NSErrorPtr* error, bool logGivingUp, bool& finished) const {
    finished = true;
    Subject subject(string);
    const std::size_t begin = subject.byteOffset(range.location);
    const std::size_t end = range.length >= NSNotFound - range.location
                                ? subject.text().size()
                                : subject.byteOffset(range.location + range.length);
    if (begin > end) return NSRange{NSNotFound, 0};
    const pcre2_code* code = compiled_->code;
    bool jit = false;
    uint32_t heapLimitKiB = kHeapLimitKiB;
    std::size_t memoryLimit = std::numeric_limits<std::size_t>::max();
    Callout callout;
    if (count) {
        code = compiled_->countedCode(pattern_);
        count->leastCount = compiled_->leastCount;
        count->backReferences = compiled_->backReferences;
        callout = Callout{&WorkCount::callout, count};
        heapLimitKiB = static_cast<uint32_t>(std::min<std::size_t>(count->heapLimit / 1024, kHeapLimitKiB));
        memoryLimit = count->heapLimit;
        if (!code) {
            finished = false;
            return NSRange{NSNotFound, 0};
        }
    } else {
        jit = compiled_->jitCode();
    }
    // The range is the whole subject: anchors hold at its ends and nothing outside is seen.
    Search search(code, jit, heapLimitKiB, callout, memoryLimit);
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
