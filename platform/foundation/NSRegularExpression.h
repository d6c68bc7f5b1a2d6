// Regular expressions (Perl-compatible syntax, Unicode-aware) over UTF-8 text, with match ranges
// in UTF-16 units as the platform reports them. Matching is bounded: a pattern that would
// backtrack without end fails as no match instead of hanging or exhausting the stack, and the
// memory a search takes goes back to the system as the search ends.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSString.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum NSRegularExpressionOptions : unsigned {
    NSRegularExpressionCaseInsensitive = 1 << 0,
    NSRegularExpressionIgnoreMetacharacters = 1 << 2,
    NSRegularExpressionDotMatchesLineSeparators = 1 << 3,
    NSRegularExpressionAnchorsMatchLines = 1 << 4,
};

// Code of NSCocoaErrorDomain for a pattern that does not compile.
inline constexpr long NSFormattingError = 2048;
// User-info keys of that error besides "NSInvalidValue": why the pattern was refused, and where
// (UTF-16 units into the pattern).
inline constexpr const char* NSRegularExpressionErrorMessageKey = "NSRegularExpressionErrorMessage";
inline constexpr const char* NSRegularExpressionErrorOffsetKey = "NSRegularExpressionErrorOffset";
// Code of NSCocoaErrorDomain for a search that exceeded the matcher's limits.
inline constexpr long NSRegularExpressionMatchLimitError = 2049;

class NSRegularExpression : public NSObject {
public:
    // Empty with *error when the pattern does not compile.
    static std::shared_ptr<NSRegularExpression> regularExpressionWithPattern(const std::string& pattern,
                                                                             unsigned options,
                                                                             NSErrorPtr* error = nullptr);
    // The pattern that matches `text` literally.
    static std::string escapedPatternForString(const std::string& text);

    ~NSRegularExpression() override;

    const std::string& pattern() const { return pattern_; }
    unsigned options() const { return options_; }

    // Invalid UTF-8 in a searched string reads as U+FFFD, one per byte, as NSString counts it.
    // A match that exceeds the matcher's limits is logged on standard error and reported as no match.
    // The first match inside `range` (UTF-16 units, clamped to the string); {NSNotFound, 0} when none.
    NSRange rangeOfFirstMatchInString(const std::string& string, NSRange range) const;
    NSRange rangeOfFirstMatchInString(const std::string& string) const;
    // The same, for callers that must tell "no match" from "gave up": a match that exceeds the
    // limits gives {NSNotFound, 0} with *error (code NSRegularExpressionMatchLimitError) and logs
    // nothing.
    NSRange rangeOfFirstMatchInString(const std::string& string, NSRange range, NSErrorPtr* error) const;
    // Work of the matcher as the search below counts it: each of its steps weighs this many
    // units, each start position it tries this many more, each byte of the subject it moves
    // over (or may compare at once) one.
    static constexpr std::uint64_t kMatcherStepWork = 64;
    static constexpr std::uint64_t kMatcherStartWork = 192;
    // As above, with the matcher's work bounded over the whole search, every start position's
    // together (the expression's own limits bound each start position alone): at most
    // `workLimit` units, counted as it goes, and at most `heapLimit` bytes of memory of its
    // own, its match data and backtracking frames together. `work` tells what the search took;
    // where it gave up first, `finished` is false and nothing is logged, so that a caller can
    // charge the work to a budget of its own.
    NSRange rangeOfFirstMatchInString(const std::string& string, NSRange range, std::uint64_t workLimit,
                                      std::size_t heapLimit, std::uint64_t& work, bool& finished) const;
    // 0 when matching exceeded the limits.
    std::size_t numberOfMatchesInString(const std::string& string) const;
    // The ranges of all matches, each with its capture groups (NSNotFound for a group that did not
    // take part); empty when matching exceeded the limits.
    std::vector<std::vector<NSRange>> matchesInString(const std::string& string) const;

private:
    struct Compiled;

    struct WorkCount;

    // `count`, when given, bounds the work over the whole search and the matcher's memory.
    NSRange firstMatch(const std::string& string, NSRange range, WorkCount* count, NSErrorPtr* error,
                       bool logGivingUp, bool& finished) const;

    std::string pattern_;
    unsigned options_ = 0;
    std::unique_ptr<Compiled> compiled_;
};
