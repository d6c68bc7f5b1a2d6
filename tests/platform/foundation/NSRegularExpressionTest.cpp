// Regular expressions: options, Unicode text, UTF-16 match ranges, long subjects, runaway
// patterns that must end as no match, and patterns that do not compile.
#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/NSRegularExpression.h"

namespace {

std::shared_ptr<NSRegularExpression> compile(const std::string& pattern, unsigned options = 0) {
    NSErrorPtr error;
    auto regex = NSRegularExpression::regularExpressionWithPattern(pattern, options, &error);
    EXPECT_NE(regex, nullptr) << pattern << ": " << (error ? error->description() : "");
    return regex;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

TEST(NSRegularExpressionTest, FirstMatchWithOptions) {
    auto regex = compile("^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$", NSRegularExpressionCaseInsensitive);
    ASSERT_NE(regex, nullptr);
    for (const char* good : {"12", "-3.", ".5", "+0.25"}) {
        EXPECT_NE(regex->rangeOfFirstMatchInString(good).location, NSNotFound) << good;
    }
    for (const char* bad : {"", "1e5", "1.2.3", " 1", "--1", "12\n", "١٢"}) {
        EXPECT_EQ(regex->rangeOfFirstMatchInString(bad).location, NSNotFound) << bad;
    }
    EXPECT_EQ(compile("abc", NSRegularExpressionCaseInsensitive)->rangeOfFirstMatchInString("xxABCxx"),
              NSMakeRange(2, 3));
    auto literal = compile("a.c(", NSRegularExpressionIgnoreMetacharacters);
    EXPECT_EQ(literal->rangeOfFirstMatchInString("abc( a.c("), NSMakeRange(5, 4));
    EXPECT_EQ(compile("a.c", NSRegularExpressionDotMatchesLineSeparators)->rangeOfFirstMatchInString("a\nc").location,
              0u);
    EXPECT_EQ(compile("a.c")->rangeOfFirstMatchInString("a\nc a\u2028c").location, NSNotFound);
    auto lines = compile("^b$", NSRegularExpressionAnchorsMatchLines);
    EXPECT_EQ(lines->rangeOfFirstMatchInString("a\nb\nc"), NSMakeRange(2, 1));
    EXPECT_EQ(lines->rangeOfFirstMatchInString("a\r\nb\u2029c"), NSMakeRange(3, 1));
    EXPECT_EQ(compile("^b$")->rangeOfFirstMatchInString("a\nb\nc").location, NSNotFound);
    // A search range is the whole subject: anchors hold at its ends.
    EXPECT_EQ(compile("^b+$")->rangeOfFirstMatchInString("abbc", NSMakeRange(1, 2)), NSMakeRange(1, 2));
    const std::string escaped = NSRegularExpression::escapedPatternForString("1+1=2? [x]");
    EXPECT_EQ(compile(escaped)->rangeOfFirstMatchInString("so 1+1=2? [x]"), NSMakeRange(3, 10));
}

TEST(NSRegularExpressionTest, UnicodeTextAndUTF16Ranges) {
    // "😀" is two UTF-16 units, "é" one.
    auto b = compile("b+");
    EXPECT_EQ(b->rangeOfFirstMatchInString("😀ébb"), NSMakeRange(3, 2));
    EXPECT_EQ(b->rangeOfFirstMatchInString("ébb"), NSMakeRange(1, 2));
    EXPECT_EQ(b->rangeOfFirstMatchInString("bb😀bbb", NSMakeRange(2, 5)), NSMakeRange(4, 3));
    EXPECT_EQ(b->numberOfMatchesInString("b a bb c bbb"), 3u);

    auto letters = compile("\\p{L}+");
    EXPECT_EQ(letters->rangeOfFirstMatchInString("12 Привет"), NSMakeRange(3, 6));
    EXPECT_EQ(letters->rangeOfFirstMatchInString("😀 αβγ!"), NSMakeRange(3, 3));
    EXPECT_EQ(letters->rangeOfFirstMatchInString("😀😀東京"), NSMakeRange(4, 2));
    // A letter outside the basic plane counts two units.
    EXPECT_EQ(letters->rangeOfFirstMatchInString("1𝒜b"), NSMakeRange(1, 3));
    auto words = compile("\\w+")->matchesInString("мир, κόσμος; 世界 😀x_1");
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0][0], NSMakeRange(0, 3));
    EXPECT_EQ(words[1][0], NSMakeRange(5, 6));
    EXPECT_EQ(words[2][0], NSMakeRange(13, 2));
    EXPECT_EQ(words[3][0], NSMakeRange(18, 3));
    EXPECT_EQ(compile(".")->rangeOfFirstMatchInString("😀"), NSMakeRange(0, 2));

    EXPECT_EQ(compile("привет", NSRegularExpressionCaseInsensitive)->rangeOfFirstMatchInString("😀 ПРИВЕТ"),
              NSMakeRange(3, 6));
    EXPECT_EQ(compile("ΣΟΦΙΑ", NSRegularExpressionCaseInsensitive)->rangeOfFirstMatchInString("σοφια"),
              NSMakeRange(0, 5));
    EXPECT_EQ(compile("Ärger", NSRegularExpressionCaseInsensitive | NSRegularExpressionIgnoreMetacharacters)
                  ->rangeOfFirstMatchInString("kein ärger"),
              NSMakeRange(5, 5));
    EXPECT_EQ(compile("привет")->rangeOfFirstMatchInString("ПРИВЕТ").location, NSNotFound);

    auto groups = compile("(a)|(b)")->matchesInString("😀b");
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0][1].location, NSNotFound);
    EXPECT_EQ(groups[0][2], NSMakeRange(2, 1));
    auto pairs = compile("(\\p{L}+)=(\\d+)")->matchesInString("ключ=12; 鍵=3");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[1], (std::vector<NSRange>{NSMakeRange(9, 3), NSMakeRange(9, 1), NSMakeRange(11, 1)}));
}

TEST(NSRegularExpressionTest, EmptyMatchesStepByWholeCharacters) {
    auto matches = compile("a*")->matchesInString("baaa");
    ASSERT_EQ(matches.size(), 3u);
    EXPECT_EQ(matches[0][0], NSMakeRange(0, 0));
    EXPECT_EQ(matches[1][0], NSMakeRange(1, 3));
    EXPECT_EQ(matches[2][0], NSMakeRange(4, 0));
    // Never inside a surrogate pair, never between CR and LF.
    auto empty = compile("x*")->matchesInString("😀é");
    ASSERT_EQ(empty.size(), 3u);
    EXPECT_EQ(empty[1][0], NSMakeRange(2, 0));
    EXPECT_EQ(empty[2][0], NSMakeRange(3, 0));
    auto ends = compile("$", NSRegularExpressionAnchorsMatchLines)->matchesInString("a\r\nb");
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[0][0], NSMakeRange(1, 0));
    EXPECT_EQ(ends[1][0], NSMakeRange(4, 0));
}

TEST(NSRegularExpressionTest, InvalidUTF8ReadsAsReplacementCharacters) {
    // Each invalid byte is one U+FFFD, one unit, as NSString counts it.
    const std::string broken = std::string("ab\xFF") + "cd\xE2\x82" + "é";
    EXPECT_EQ(NSString::utf16Length(broken), 8u);
    EXPECT_EQ(compile("cd")->rangeOfFirstMatchInString(broken), NSMakeRange(3, 2));
    EXPECT_EQ(compile("é$")->rangeOfFirstMatchInString(broken), NSMakeRange(7, 1));
    EXPECT_EQ(compile("\\x{FFFD}")->numberOfMatchesInString(broken), 3u);
    EXPECT_EQ(compile("\\p{L}+")->matchesInString(broken).size(), 3u);
    EXPECT_EQ(
        compile("c", NSRegularExpressionIgnoreMetacharacters)->rangeOfFirstMatchInString(broken, NSMakeRange(3, 5)),
        NSMakeRange(3, 1));
}

TEST(NSRegularExpressionTest, MegabyteSubjectsMatchWithoutExhaustingTheStack) {
    // Cyrillic words: 6 units and 11 bytes each, so byte and unit offsets drift apart.
    std::string text;
    while (text.size() < 1'000'000) text += "слово ";
    const std::size_t words = text.size() / std::string("слово ").size();
    const std::size_t units = NSString::utf16Length(text);

    EXPECT_EQ(compile("^(?:\\w+ )+$")->rangeOfFirstMatchInString(text), NSMakeRange(0, units));
    EXPECT_EQ(compile("^(\\p{L}+\\s)*$")->rangeOfFirstMatchInString(text), NSMakeRange(0, units));
    EXPECT_EQ(compile("^(?:\\w+ )+x$")->rangeOfFirstMatchInString(text).location, NSNotFound);
    EXPECT_EQ(compile("\\p{Lu}|[0-9]")->rangeOfFirstMatchInString(text).location, NSNotFound);
    EXPECT_EQ(compile("(.)\\1\\1")->rangeOfFirstMatchInString(text).location, NSNotFound);
    EXPECT_EQ(compile("СЛОВО $", NSRegularExpressionCaseInsensitive)->rangeOfFirstMatchInString(text),
              NSMakeRange(units - 6, 6));

    auto all = compile("(\\w)\\w*")->matchesInString(text);
    ASSERT_EQ(all.size(), words);
    EXPECT_EQ(all.back()[0], NSMakeRange(units - 6, 5));
    EXPECT_EQ(all.back()[1], NSMakeRange(units - 6, 1));
    EXPECT_EQ(compile("о")->numberOfMatchesInString(text), 2 * words);
}

TEST(NSRegularExpressionTest, RunawayPatternsFailAsNoMatchWithOneLineLogged) {
    const std::string nearMiss = std::string(5000, 'a') + "!";
    std::string sparse;
    for (int i = 0; i < 24; ++i) sparse += "a" + std::string(40, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"(a+)+$", nearMiss}, {"(a|aa)+$", nearMiss}, {"(.*a){25}", sparse}, {"^(\\w+\\s?)*$", nearMiss}};
    for (const auto& [pattern, subject] : cases) {
        auto regex = compile(pattern);
        ASSERT_NE(regex, nullptr);
        testing::internal::CaptureStderr();
        const NSRange first = regex->rangeOfFirstMatchInString(subject);
        const auto matches = regex->matchesInString(subject);
        const std::size_t count = regex->numberOfMatchesInString(subject);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(first.location, NSNotFound) << pattern;
        EXPECT_TRUE(matches.empty()) << pattern;
        EXPECT_EQ(count, 0u) << pattern;
        const auto logged = lines(log);
        ASSERT_EQ(logged.size(), 3u) << log;
        for (const auto& line : logged) {
            EXPECT_NE(line.find("\"" + pattern + "\" exceeded its limit"), std::string::npos) << line;
        }
    }
    // The same expression still answers a subject that is within its reach, and says nothing.
    testing::internal::CaptureStderr();
    EXPECT_EQ(compile("(a+)+$")->rangeOfFirstMatchInString("aaaa"), NSMakeRange(0, 4));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(NSRegularExpressionTest, ACallerThatAsksForTheErrorTellsGivingUpFromNoMatch) {
    auto regex = compile("(a+)+$");
    ASSERT_NE(regex, nullptr);
    testing::internal::CaptureStderr();
    NSErrorPtr error;
    const NSRange gaveUp = regex->rangeOfFirstMatchInString(std::string(5000, 'a') + "!", NSMakeRange(0, NSNotFound), &error);
    NSErrorPtr none;
    const NSRange noMatch = regex->rangeOfFirstMatchInString("bbb", NSMakeRange(0, NSNotFound), &none);
    const NSRange found = regex->rangeOfFirstMatchInString("xaa", NSMakeRange(0, NSNotFound), &none);
    // The caller reports it: nothing goes to standard error.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(gaveUp.location, NSNotFound);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSRegularExpressionMatchLimitError);
    EXPECT_EQ(noMatch.location, NSNotFound);
    EXPECT_EQ(found, NSMakeRange(1, 2));
    EXPECT_FALSE(none);
}

TEST(NSRegularExpressionTest, AWorkLimitOfTheCallersOwnBoundsTheWholeSearchAndLogsNothing) {
    auto regex = compile("(a+)+$");
    ASSERT_NE(regex, nullptr);
    const std::string nearMiss = std::string(30, 'a') + "!";
    testing::internal::CaptureStderr();
    bool finished = true;
    std::uint64_t work = 0;
    const std::size_t heap = 1 << 20;
    EXPECT_EQ(regex->rangeOfFirstMatchInString(nearMiss, NSMakeRange(0, NSNotFound), 100000, heap, work, finished).location,
              NSNotFound);
    EXPECT_FALSE(finished);
    EXPECT_GT(work, 100000u);
    // Within the limit: a match, a range inside the subject, and a plain miss all finish, and
    // say what they took.
    EXPECT_EQ(regex->rangeOfFirstMatchInString("xaa", NSMakeRange(0, NSNotFound), 100000, heap, work, finished),
              NSMakeRange(1, 2));
    EXPECT_TRUE(finished);
    EXPECT_GT(work, 0u);
    EXPECT_EQ(regex->rangeOfFirstMatchInString("aab", NSMakeRange(0, 2), 100000, heap, work, finished), NSMakeRange(0, 2));
    EXPECT_TRUE(finished);
    EXPECT_EQ(compile("z")->rangeOfFirstMatchInString("aaa", NSMakeRange(0, NSNotFound), 100000, heap, work, finished)
                  .location,
              NSNotFound);
    EXPECT_TRUE(finished);
    // Each start position cheap, all of them together not: the limit holds over the whole search.
    const std::string run(4096, 'a');
    auto ahead = compile("(?=a*[bc])");
    EXPECT_EQ(ahead->rangeOfFirstMatchInString(run, NSMakeRange(0, NSNotFound), 1000000, heap, work, finished).location,
              NSNotFound);
    EXPECT_FALSE(finished);
    EXPECT_LT(work, 1100000u);
    EXPECT_EQ(ahead->rangeOfFirstMatchInString(run, NSMakeRange(0, NSNotFound), 100000000, heap, work, finished).location,
              NSNotFound);
    EXPECT_TRUE(finished);
    EXPECT_GT(work, 4096u * 4096 / 2);
    // A repeat that fails unseen is counted by what it may compare.
    auto counted = compile("a{2000}");
    std::string gaps;
    for (int i = 0; i < 8; ++i) gaps.append(999, 'a').append(1, 'b');
    EXPECT_EQ(counted->rangeOfFirstMatchInString(gaps, NSMakeRange(0, NSNotFound), 100000000, heap, work, finished).location,
              NSNotFound);
    EXPECT_TRUE(finished);
    EXPECT_GT(work, 7000u * 999);
    // A limit above the expression's own holds it to its own at each start position.
    EXPECT_EQ(regex->rangeOfFirstMatchInString(std::string(5000, 'a') + "!", NSMakeRange(0, NSNotFound),
                                               std::uint64_t{1} << 50, heap, work, finished)
                  .location,
              NSNotFound);
    EXPECT_FALSE(finished);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(NSRegularExpressionTest, OneExpressionServesManyThreads) {
    auto regex = compile("(\\p{L}+)(\\d+)");
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const std::string subject = std::string(static_cast<std::size_t>(t), 'x') + "😀слово" + std::to_string(t);
            for (int i = 0; i < 500; ++i) {
                const auto m = regex->matchesInString(subject);
                if (m.size() != 1 || m[0][1] != NSMakeRange(static_cast<std::size_t>(t) + 2, 5)) ++failures[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(NSRegularExpressionTest, BadPatternsGiveAnErrorWithTheReason) {
    const std::pair<std::string, std::size_t> cases[] = {{"([a-", 4},           {"ж(", 2}, {"a{2,1}", 5},
                                                         {"\\p{Nonsense}", 12}, {"😀)", 2}, {"x**", 2}};
    for (const auto& [pattern, offset] : cases) {
        NSErrorPtr error;
        EXPECT_EQ(NSRegularExpression::regularExpressionWithPattern(pattern, 0, &error), nullptr) << pattern;
        ASSERT_NE(error, nullptr) << pattern;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), NSFormattingError);
        EXPECT_EQ(error->userInfo().get("NSInvalidValue"), Value(pattern));
        EXPECT_FALSE(error->userInfo().get(NSRegularExpressionErrorMessageKey).string().empty()) << pattern;
        EXPECT_EQ(error->userInfo().get(NSRegularExpressionErrorOffsetKey).integerValue(), static_cast<long>(offset))
            << pattern << ": " << error->userInfo().get(NSRegularExpressionErrorMessageKey).string();
    }
    NSErrorPtr error;
    EXPECT_EQ(NSRegularExpression::regularExpressionWithPattern("a[", 0, &error), nullptr);
    EXPECT_NE(error->userInfo().get(NSRegularExpressionErrorMessageKey).string().find("missing terminating ]"),
              std::string::npos);
    EXPECT_EQ(NSRegularExpression::regularExpressionWithPattern(std::string("a\xFF"), 0, &error), nullptr);
    EXPECT_NE(error->userInfo().get(NSRegularExpressionErrorMessageKey).string().find("UTF-8"), std::string::npos);
    // Metacharacters taken literally never fail to compile.
    EXPECT_NE(NSRegularExpression::regularExpressionWithPattern("([a-", NSRegularExpressionIgnoreMetacharacters),
              nullptr);
}

}  // namespace
