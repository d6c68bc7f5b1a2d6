// NSString helpers: formatting with type checks, UTF-16 counting and whole-character
// substrings, comparison and search options, case, trimming and paths.
#include "platform/foundation/NSString.h"

#include "platform/foundation/NSError.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <climits>

using namespace NSString;

namespace {

enum Mode { kModeA = 3 };

// Test strings: an emoji outside the BMP (2 units), a letter with a combining accent
// (2 units, one character), a family joined by ZWJ (8 units), a flag (4 units).
const std::string kGrin = "\xF0\x9F\x98\x80";
const std::string kCombined = "e\xCC\x81";
const std::string kFamily = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
const std::string kFlag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";

TEST(NSStringFormat, IntegerConversions) {
    EXPECT_EQ(format("%d|%i|%ld|%lld", 1, -2, 3L, -4LL), "1|-2|3|-4");
    EXPECT_EQ(format("%u|%lu|%llu", 5u, 6UL, ULLONG_MAX), "5|6|18446744073709551615");
    EXPECT_EQ(format("%x|%X|%06x|%06ld", 255, 255, 0xabc, 42L), "ff|FF|000abc|000042");
    EXPECT_EQ(format("%x|%lx", -1, -1L), "ffffffff|ffffffffffffffff");
    EXPECT_EQ(format("%u", -1), "4294967295");
    EXPECT_EQ(format("%.02d:%.02d", 5, 7), "05:07");
    EXPECT_EQ(format("[%5d][%-5d][%+d][% d]", 42, 42, 42, 42), "[   42][42   ][+42][ 42]");
    EXPECT_EQ(format("%d %d", true, kModeA), "1 3");
    EXPECT_EQ(format("%hhd %hx", 300, 0x12345), "44 2345");
    EXPECT_EQ(format("%*d|%-*d|", 4, 7, 3, 8), "   7|8  |");
}

TEST(NSStringFormat, FloatingCharactersAndText) {
    EXPECT_EQ(format("%f|%.2f|%.0f|%.02f", 1.5, 2.346, 2.5, 0.1), "1.500000|2.35|2|0.10");
    EXPECT_EQ(format("%8.3f|%-8.1f|%e|%g", 3.14159, 2.0, 12345.678, 0.0001), "   3.142|2.0     |1.234568e+04|0.0001");
    EXPECT_EQ(format("%c%c%c", 'o', 'k', 0xE9), "ok\xC3\xA9");
    EXPECT_EQ(format("%C", u'\u0441'), "\xD1\x81");
    EXPECT_EQ(format("%s and %s", "C text", std::string("std text")), "C text and std text");
    EXPECT_EQ(format("[%5s][%-5s][%.2s]", "ab", "ab", "abcdef"), "[   ab][ab   ][ab]");
    EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(format("100%%"), "100%");
    EXPECT_EQ(format("%p", static_cast<const void*>(nullptr)), "0x0");
}

TEST(NSStringFormat, ObjectsPrintTheirDescription) {
    Value number = 12, text = "hi", list = Value::Array{1, "a b"};
    EXPECT_EQ(format("%@-%@-%@", number, text, std::string("raw")), "12-hi-raw");
    EXPECT_EQ(format("%@", list), "(\n    1,\n    \"a b\"\n)");
    EXPECT_EQ(format("%@", Value()), "(null)");
    EXPECT_EQ(format("%@", NSDate{978307200}), "2001-01-01 00:00:00 +0000");
    auto error = NSError::errorWithDomain("D", 3);
    EXPECT_EQ(format("%@", error), error->description());
    EXPECT_EQ(format("%@", NSErrorPtr()), "(null)");
    EXPECT_EQ(format("[%6@]", Value("\xC3\xA9t\xC3\xA9")), "[   \xC3\xA9t\xC3\xA9]");  // width in characters
}

TEST(NSStringFormat, TwoStageAndPositionalFormats) {
    const std::string stage = format("%@/data/%@/%%@", Value("root"), Value("gallery"));
    EXPECT_EQ(stage, "root/data/gallery/%@");
    EXPECT_EQ(format(stage, Value("image.jpg")), "root/data/gallery/image.jpg");
    EXPECT_EQ(format("%2$@ %1$@ %2$@", Value("world"), Value("hello")), "hello world hello");
    EXPECT_EQ(format("I-ACS%06ld", 23142L), "I-ACS023142");
    EXPECT_EQ(format("\xD1\x81ompositions: %ld", 4L), "\xD1\x81ompositions: 4");
}

TEST(NSStringFormatDeathTest, WrongKindsAbortNamingTheFormat) {
    EXPECT_DEATH(format("count %d", std::string("five")), "count %d.*argument 1 for \"%d\" is a string");
    EXPECT_DEATH(format("value %@", 5), "value %@.*is an integer");
    EXPECT_DEATH(format("%d", 2.5), "is a floating-point number");
    EXPECT_DEATH(format("%f", 2), "is an integer");
    EXPECT_DEATH(format("%s", Value("x")), "is an object");
    EXPECT_DEATH(format("%d and %d", 1), "no argument for \"%d\"");
    EXPECT_DEATH(format("%k", 1), "unknown conversion \"%k\"");
    EXPECT_DEATH(format("trailing %", 1), "ends inside");
}

TEST(NSStringUTF16, LengthsCountUnitsAndCodePoints) {
    const std::string s = "a" + kGrin + kCombined;
    EXPECT_EQ(utf16Length(s), 5u);
    EXPECT_EQ(utf32Length(s), 4u);
    EXPECT_EQ(utf16Length(kFamily), 8u);
    EXPECT_EQ(utf16Length(""), 0u);
    EXPECT_EQ(utf16Length("\xFF\xFEok"), 4u);  // invalid bytes count one each
    EXPECT_EQ(characterAtIndex(s, 0), u'a');
    EXPECT_EQ(characterAtIndex(s, 1), 0xD83D);
    EXPECT_EQ(characterAtIndex(s, 2), 0xDE00);
    EXPECT_EQ(characterAtIndex(s, 4), 0x0301);
    EXPECT_EQ(toUTF16(s), u"a\U0001F600e\u0301");
    EXPECT_EQ(fromUTF16(toUTF16(s)), s);
    EXPECT_EQ(fromUTF16(u"x\xD800y"), "x\xEF\xBF\xBDy");  // unpaired surrogate
}

TEST(NSStringUTF16DeathTest, IndexPastTheEndAborts) {
    EXPECT_DEATH(characterAtIndex("ab", 2), "beyond bounds");
}

TEST(NSStringUTF16, SubstringsKeepWholeCharacters) {
    const std::string s = "a" + kGrin + kCombined + "z";
    EXPECT_EQ(substringToIndex(s, 2), "a");  // would split the surrogate pair
    EXPECT_EQ(substringToIndex(s, 3), "a" + kGrin);
    EXPECT_EQ(substringToIndex(s, 4), "a" + kGrin);  // would drop the accent from its letter
    EXPECT_EQ(substringToIndex(s, 5), "a" + kGrin + kCombined);
    EXPECT_EQ(substringToIndex(s, 99), s);
    EXPECT_EQ(substringFromIndex(s, 2), kCombined + "z");
    EXPECT_EQ(substringWithRange(s, {1, 4}), kGrin + kCombined);
    EXPECT_EQ(substringWithRange(s, {NSNotFound, 3}), "");
    EXPECT_EQ(substringToIndex(kFamily + kFlag, 7), "");
    EXPECT_EQ(substringToIndex(kFamily + kFlag, 10), kFamily);
    EXPECT_EQ(substringToIndex(kFlag + kFlag, 6), kFlag);  // regional indicators pair up
    EXPECT_EQ(rangeOfComposedCharacterSequenceAtIndex(s, 2), NSMakeRange(1, 2));
    EXPECT_EQ(rangeOfComposedCharacterSequenceAtIndex(s, 4), NSMakeRange(3, 2));
    EXPECT_EQ(rangeOfComposedCharacterSequenceAtIndex(kFamily, 5), NSMakeRange(0, 8));
    EXPECT_EQ(substringToUTF32Length(s, 3), "a" + kGrin + "e");
}

TEST(NSStringUTF16, ValidatingUTF8) {
    EXPECT_TRUE(isValidUTF8("plain " + kGrin));
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        EXPECT_FALSE(isValidUTF8(bad)) << bad;
    EXPECT_FALSE(stringWithUTF8Data(NSData{0x61, 0xFF}));
    EXPECT_EQ(stringWithUTF8Data(NSData{0x61, 0x62}), "ab");
}

TEST(NSStringCompare, LiteralAndCaseInsensitive) {
    EXPECT_EQ(compare("apple", "banana"), NSOrderedAscending);
    EXPECT_EQ(compare("b", "B"), NSOrderedDescending);
    EXPECT_EQ(compare("same", "same"), NSOrderedSame);
    EXPECT_EQ(caseInsensitiveCompare("HeLLo", "hello"), NSOrderedSame);
    EXPECT_EQ(caseInsensitiveCompare("a", "B"), NSOrderedAscending);
    EXPECT_EQ(caseInsensitiveCompare("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"), NSOrderedSame);  // ÉTÉ / été
    // UTF-16 order: a supplementary character sorts before U+FFFD.
    EXPECT_EQ(compare(kGrin, "\xEF\xBF\xBD"), NSOrderedAscending);
}

TEST(NSStringSearch, PrefixSuffixContains) {
    EXPECT_TRUE(hasPrefix("images-big.sqlite", "images"));
    EXPECT_TRUE(hasSuffix("images-big.sqlite", ".sqlite"));
    EXPECT_FALSE(hasPrefix("abc", "abcd"));
    EXPECT_FALSE(hasPrefix("abc", ""));
    EXPECT_FALSE(hasSuffix("abc", ""));
    EXPECT_TRUE(containsString("a needle here", "needle"));
    EXPECT_FALSE(containsString("abc", ""));
}

TEST(NSStringSearch, RangeOfStringWithOptions) {
    const std::string s = kGrin + "abcABCabc";
    EXPECT_EQ(rangeOfString(s, "abc"), NSMakeRange(2, 3));
    EXPECT_EQ(rangeOfString(s, "ABC"), NSMakeRange(5, 3));
    EXPECT_EQ(rangeOfString(s, "abc", NSBackwardsSearch), NSMakeRange(8, 3));
    EXPECT_EQ(rangeOfString(s, "ABC", NSCaseInsensitiveSearch), NSMakeRange(2, 3));
    EXPECT_EQ(rangeOfString(s, "abc", NSAnchoredSearch).location, NSNotFound);
    EXPECT_EQ(rangeOfString(s, kGrin + "a", NSAnchoredSearch), NSMakeRange(0, 3));
    EXPECT_EQ(rangeOfString(s, "ABC", NSAnchoredSearch | NSBackwardsSearch | NSCaseInsensitiveSearch),
              NSMakeRange(8, 3));
    EXPECT_EQ(rangeOfString(s, "abc", 0, NSMakeRange(3, 8)), NSMakeRange(8, 3));
    EXPECT_EQ(rangeOfString(s, "abc", 0, NSMakeRange(3, 7)).location, NSNotFound);
    EXPECT_EQ(rangeOfString(s, "").location, NSNotFound);
    EXPECT_EQ(rangeOfString("bytes 0-99/1000", "BYTES", NSCaseInsensitiveSearch | NSAnchoredSearch),
              NSMakeRange(0, 5));
}

TEST(NSStringEdit, ReplaceSplitTrimAndCase) {
    EXPECT_EQ(stringByReplacingOccurrencesOfString("a.jpg b.JPG", ".jpg", "_thumb.jpg", NSCaseInsensitiveSearch),
              "a_thumb.jpg b_thumb.jpg");
    EXPECT_EQ(stringByReplacingOccurrencesOfString("a.jpg b.JPG", ".jpg", "_thumb.jpg"), "a_thumb.jpg b.JPG");
    EXPECT_EQ(stringByReplacingOccurrencesOfString("aaa", "aa", "b"), "ba");
    EXPECT_EQ(stringByReplacingOccurrencesOfString("xAx", "x", "y", NSAnchoredSearch), "yAx");
    EXPECT_EQ(stringByReplacingOccurrencesOfString("\xC3\x89t\xC3\xA9", "\xC3\xA9", "e", NSCaseInsensitiveSearch), "ete");
    EXPECT_EQ(componentsSeparatedByString("a,b,,c", ","), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(componentsSeparatedByString("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(componentsJoinedByString({"a", "b"}, ", "), "a, b");
    EXPECT_EQ(stringByTrimmingWhitespace(" \t x y \xC2\xA0\n"), "x y \xC2\xA0\n");
    EXPECT_EQ(stringByTrimmingWhitespace(" \t x y \xC2\xA0"), "x y");
    EXPECT_EQ(stringByTrimmingWhitespaceAndNewlines("\n\r x \xE2\x80\xA8"), "x");
    EXPECT_EQ(stringByTrimmingWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(lowercaseString("HeLLo \xC3\x89T\xC3\x89 \xD0\x9C"), "hello \xC3\xA9t\xC3\xA9 \xD0\xBC");
    EXPECT_EQ(uppercaseString("abc \xC3\xA9"), "ABC \xC3\x89");
}

// Full, locale-independent case mapping: the special-casing table's unconditional mappings, and
// a Σ lowered to ς where it ends a word (a cased letter before it, none after, case-ignorable
// characters such as ' and accents passed over on both sides).
TEST(NSStringEdit, CaseMappingIsFullWithAFinalSigma) {
    EXPECT_EQ(uppercaseString("stra\u00DFe"), "STRASSE");
    EXPECT_EQ(uppercaseString("\u0149 \uFB03 \u0390 \u01F0"), "\u02BCN FFI \u0399\u0308\u0301 J\u030C");
    EXPECT_EQ(lowercaseString("\u0130"), "i\u0307");
    EXPECT_EQ(lowercaseString("\u039F\u0394\u03A5\u03A3\u03A3\u0395\u03A5\u03A3"),
              "\u03BF\u03B4\u03C5\u03C3\u03C3\u03B5\u03C5\u03C2");
    EXPECT_EQ(lowercaseString("\u03A3\u0391\u03A3 \u03A3\u0391\u03A3."), "\u03C3\u03B1\u03C2 \u03C3\u03B1\u03C2.");
    EXPECT_EQ(lowercaseString("\u03A3 \u03A3"), "\u03C3 \u03C3");
    EXPECT_EQ(lowercaseString("\u0391\u03A3'\u0391 \u0391'\u03A3 \u0391\u03A3\u0301"),
              "\u03B1\u03C3'\u03B1 \u03B1'\u03C2 \u03B1\u03C2\u0301");

    // On UTF-16, an unpaired surrogate kept: room too short gives the length the result takes.
    const std::u16string text = u"\u00DF\xD800x";
    char16_t out[4] = {};
    EXPECT_EQ(uppercaseUTF16(text, out, 2), 4u);
    EXPECT_EQ(uppercaseUTF16(text, out, 4), 4u);
    EXPECT_EQ(std::u16string(out, 4), u"SS\xD800X");
    EXPECT_EQ(lowercaseUTF16(u"\u0130", out, 4), 2u);
    EXPECT_EQ(std::u16string(out, 2), u"i\u0307");
}

TEST(NSStringPaths, ComponentsAndExtensions) {
    EXPECT_EQ(lastPathComponent("/tmp/scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(lastPathComponent("/tmp/"), "tmp");
    EXPECT_EQ(lastPathComponent("scratch///"), "scratch");
    EXPECT_EQ(lastPathComponent("/"), "/");
    EXPECT_EQ(lastPathComponent(""), "");
    EXPECT_EQ(pathExtension("/tmp/scratch.tiff"), "tiff");
    EXPECT_EQ(pathExtension("/tmp/.scratch.tiff"), "tiff");
    EXPECT_EQ(pathExtension("/tmp/.hidden"), "");
    EXPECT_EQ(pathExtension("/a.b/file"), "");
    EXPECT_EQ(stringByDeletingPathExtension("/tmp/scratch.tiff"), "/tmp/scratch");
    EXPECT_EQ(stringByDeletingPathExtension("scratch..tiff"), "scratch.");
    EXPECT_EQ(stringByDeletingPathExtension("/a.b/file"), "/a.b/file");
    EXPECT_EQ(stringByDeletingPathExtension("/tmp/.hidden"), "/tmp/.hidden");
    EXPECT_EQ(stringByDeletingLastPathComponent("/tmp/scratch.tiff"), "/tmp");
    EXPECT_EQ(stringByDeletingLastPathComponent("/tmp/lock/"), "/tmp");
    EXPECT_EQ(stringByDeletingLastPathComponent("/tmp"), "/");
    EXPECT_EQ(stringByDeletingLastPathComponent("file"), "");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(stringByAppendingPathComponent("/tmp/", "/scratch/"), "/tmp/scratch");
    EXPECT_EQ(stringByAppendingPathComponent("/", "x"), "/x");
    EXPECT_EQ(stringByAppendingPathComponent("", "x"), "x");
    EXPECT_EQ(stringByAppendingPathExtension("/tmp/scratch.old", "tiff"), "/tmp/scratch.old.tiff");
    EXPECT_EQ(stringByAppendingPathExtension("/tmp/", "tiff"), "/tmp.tiff");
    EXPECT_EQ(pathComponents("/tmp/scratch/"), (std::vector<std::string>{"/", "tmp", "scratch", "/"}));
}

TEST(NSStringPaths, TildeExpandsToTheSandboxHome) {
    const std::string home = Sandbox::home();
    ASSERT_FALSE(home.empty());
    EXPECT_EQ(stringByExpandingTildeInPath("~"), home);
    EXPECT_EQ(stringByExpandingTildeInPath("~/Documents/a.txt"), home + "/Documents/a.txt");
    EXPECT_EQ(stringByExpandingTildeInPath("/abs/~/x"), "/abs/~/x");
    EXPECT_EQ(stringByExpandingTildeInPath("~other/x"), "~other/x");
}

}  // namespace
