// Text measurement with the fixed metrics: plain and attributed strings, word wrapping, and
// labels sizing, shrinking and drawing their lines.
#include "platform/ui/CGContext.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/NSStringDrawing.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr CGFloat kInf = std::numeric_limits<CGFloat>::infinity();

TEST(TextMeasurement, OneLineIsHalfTheSizePerUtf16UnitAndLinesAreOnePointTwoHigh) {
    auto font = UIFont::systemFontOfSize(10);
    EXPECT_EQ(NSStringSizeWithFont("Hello", font), CGSizeMake(25, 12));
    EXPECT_EQ(NSStringSizeWithFont("\xD0\x9F\xD1\x80\xD0\xB8", font).width, 15);  // three Cyrillic letters
    EXPECT_EQ(NSStringSizeWithFont("\xF0\x9F\x98\x80", font).width, 10);          // one emoji: two UTF-16 units
    EXPECT_EQ(NSStringSizeWithFont("a\nbbb", font), CGSizeMake(15, 24));
    EXPECT_EQ(NSStringSizeWithFont("", font), CGSizeMake(0, 0));
    EXPECT_EQ(NSStringSizeWithFont("ab", UIFont::boldSystemFontOfSize(10)).width, 11);
}

TEST(TextMeasurement, WordWrappingKeepsWordsWholeAndBreaksOnlyWordsTooLongForALine) {
    auto font = UIFont::systemFontOfSize(10);  // 5 points a character
    EXPECT_EQ(NSStringLayoutLines("one two three", font, 40),
              (std::vector<std::string>{"one two", "three"}));  // "one two" is 35 wide
    EXPECT_EQ(NSStringLayoutLines("abcdefghij", font, 20), (std::vector<std::string>{"abcd", "efgh", "ij"}));
    EXPECT_EQ(NSStringLayoutLines("ab cdefghijkl", font, 25), (std::vector<std::string>{"ab", "cdefg", "hijkl"}));
    EXPECT_EQ(NSStringLayoutLines("one two", font, 0), (std::vector<std::string>{"one two"}));

    NSStringAttributes attributes;
    attributes.font = font;
    const CGRect r = NSStringBoundingRectWithSize("one two three", {40, kInf}, NSStringDrawingUsesLineFragmentOrigin,
                                                  attributes);
    EXPECT_EQ(r, CGRectMake(0, 0, 35, 24));
    // Without line fragments it is one line whatever the width.
    EXPECT_EQ(NSStringBoundingRectWithSize("one two three", {40, kInf}, 0, attributes).size, CGSizeMake(65, 12));
    // Constrained sizes cut to the lines that fit the height.
    EXPECT_EQ(NSStringSizeWithFont("one two three four", font, {40, 30}, NSLineBreakByWordWrapping),
              CGSizeMake(35, 24));
}

TEST(TextMeasurement, AttributedRunsMeasureWithTheirOwnFontsAndKeepUnderlines) {
    auto text = NSMutableAttributedString::initWithString("abcd");
    NSStringAttributes big;
    big.font = UIFont::systemFontOfSize(20);
    text->addAttributes(big, {2, 2});
    NSStringAttributes underline;
    underline.underlineStyle = NSUnderlineStyleSingle;
    text->addAttributes(underline, {0, 4});
    // 2 × 6 (default 12 pt) + 2 × 10; the line as high as its biggest font.
    EXPECT_EQ(text->size(), CGSizeMake(32, 24));
    NSRange range;
    auto attributes = text->attributesAtIndex(3, &range);
    EXPECT_EQ(range, NSMakeRange(2, 2));
    EXPECT_EQ(attributes.underlineStyle, NSUnderlineStyleSingle);
    EXPECT_EQ(attributes.font->pointSize(), 20);
    EXPECT_EQ(text->runs().size(), 2u);
}

TEST(LabelSizing, SizeToFitMeasuresOneLineOrWrapsToTheWidthWithinTheLineLimit) {
    auto label = UILabel::initWithFrame(CGRectMake(10, 10, 40, 10));
    label->setFont(UIFont::systemFontOfSize(10));
    label->setText("one two three");
    label->sizeToFit();
    EXPECT_EQ(label->frame(), CGRectMake(10, 10, 65, 12));

    label->setFrame(CGRectMake(0, 0, 40, 100));
    label->setNumberOfLines(0);
    EXPECT_EQ(label->sizeThatFits({40, kInf}), CGSizeMake(35, 24));
    label->setNumberOfLines(1);
    EXPECT_EQ(label->sizeThatFits({40, kInf}), CGSizeMake(65, 12));
    // Odd widths round up to whole points.
    label->setFont(UIFont::systemFontOfSize(13));
    label->setText("abc");
    EXPECT_EQ(label->sizeThatFits({0, 0}), CGSizeMake(20, 16));
    label->setText("");
    EXPECT_EQ(label->intrinsicContentSize(), CGSizeMake(0, 0));
}

TEST(LabelSizing, ShrinkingToFitStopsAtTheMinimumScaleAndLongTextIsTruncated) {
    auto label = UILabel::initWithFrame(CGRectMake(0, 0, 50, 20));
    label->setFont(UIFont::systemFontOfSize(10));
    label->setText("abcdefghijklmnopqrst");  // 100 points
    EXPECT_EQ(label->effectiveFontSize(), 10);
    label->setAdjustsFontSizeToFitWidth(true);
    label->setMinimumScaleFactor(0.7);
    EXPECT_DOUBLE_EQ(label->effectiveFontSize(), 7);
    label->setMinimumScaleFactor(0.25);
    EXPECT_DOUBLE_EQ(label->effectiveFontSize(), 5);
    label->setAdjustsFontSizeToFitWidth(false);
    const auto lines = label->visibleLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "abcdefghi\xE2\x80\xA6");
}

TEST(LabelDrawing, TheLinesAreDrawnAlignedInTheLabelsColour) {
    auto label = UILabel::initWithFrame(CGRectMake(0, 0, 100, 40));
    label->setFont(UIFont::systemFontOfSize(10));
    label->setTextColor(UIColor::redColor());
    label->setTextAlignment(NSTextAlignmentCenter);
    label->setNumberOfLines(2);
    label->setText("aaaa bbbbbbbbbbbbbbbbbbbbbbbbbbbb");
    label->displayIfNeeded();
    const auto& ops = label->lastDrawing()->operations();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].text, "aaaa");
    EXPECT_EQ(ops[0].rect, CGRectMake(40, 8, 20, 12));
    // A word too long for a line breaks inside it; the cut-off rest ends the last line in an ellipsis.
    EXPECT_EQ(ops[1].text, "bbbbbbbbbbbbbbbbbbb\xE2\x80\xA6");
    EXPECT_TRUE(ops[1].color->isEqual(UIColor::redColor().get()));
    EXPECT_FALSE(label->isUserInteractionEnabled());
}

TEST(LabelDrawing, AHugeTextShowsWhatAShortTextWithTheSameBeginningShows) {
    // 5 MB of words: only the beginning can show, and it must show as it would in a short text.
    std::string huge = "Category ";
    while (huge.size() < 5'000'000) huge += "abcdefghi ";
    const std::string beginning = huge.substr(0, 1000);
    auto font = UIFont::systemFontOfSize(10);  // 5 points a character, lines 12 high
    auto shown = [&](const std::string& text, int lines, CGFloat w, CGFloat h) {
        auto label = UILabel::initWithFrame(CGRectMake(0, 0, w, h));
        label->setFont(font);
        label->setNumberOfLines(lines);
        label->setText(text);
        return label->visibleLines();
    };
    const auto oneLine = shown(huge, 1, 100, 20);
    EXPECT_EQ(oneLine, (std::vector<std::string>{"Category abcdefghi\xE2\x80\xA6"}));
    EXPECT_EQ(oneLine, shown(beginning, 1, 100, 20));
    const auto wrapped = shown(huge, 0, 100, 40);
    EXPECT_EQ(wrapped, (std::vector<std::string>{"Category abcdefghi", "abcdefghi abcdefghi", "abcdefghi abcdefghi\xE2\x80\xA6"}));
    EXPECT_EQ(wrapped, shown(beginning, 0, 100, 40));
    EXPECT_EQ(shown(huge, 2, 100, 400), shown(beginning, 2, 100, 400));

    // Attributed: the runs keep their fonts in the lines drawn.
    NSStringAttributes bold;
    bold.font = UIFont::boldSystemFontOfSize(10);
    auto text = NSMutableAttributedString::initWithString("Big ", bold);
    NSStringAttributes plain;
    plain.font = font;
    text->appendString(huge, plain);
    auto label = UILabel::initWithFrame(CGRectMake(0, 0, 100, 26));
    label->setNumberOfLines(0);
    label->setAttributedText(text);
    label->displayIfNeeded();
    const auto& ops = label->lastDrawing()->operations();
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].text, "Big Category");
    EXPECT_TRUE(ops[0].font->isBold());
    EXPECT_EQ(ops[1].text, "abcdefghi abcdefghi\xE2\x80\xA6");
    EXPECT_FALSE(ops[1].font->isBold());

    // Measuring still covers the whole text.
    auto measured = UILabel::make();
    measured->setFont(font);
    measured->setText(huge);
    EXPECT_EQ(measured->sizeThatFits({0, 0}), CGSizeMake(5.0 * huge.size() - 5, 12));  // the last space does not count
    EXPECT_EQ(NSStringLayoutLines(huge, font, 100, NSLineBreakByWordWrapping, 2),
              (std::vector<std::string>{"Category abcdefghi", "abcdefghi abcdefghi"}));
    EXPECT_EQ(NSStringLayoutLines(huge, font, 0, NSLineBreakByWordWrapping, 1, 30), (std::vector<std::string>{"Categor"}));
}

TEST(Colors, ComponentsReadBackForGreysAndRgbAndPatternsRefuse) {
    CGFloat r = -1, g = -1, b = -1, a = -1, w = -1;
    EXPECT_TRUE(UIColor::colorWithWhite(0.3, 0.5)->getRed(&r, &g, &b, &a));
    EXPECT_EQ(r, 0.3);
    EXPECT_EQ(a, 0.5);
    EXPECT_TRUE(UIColor::darkGrayColor()->getWhite(&w, &a));
    EXPECT_DOUBLE_EQ(w, 1.0 / 3.0);
    EXPECT_FALSE(UIColor::redColor()->getWhite(&w, &a));
    EXPECT_TRUE(UIColor::colorWithRed(0, 122 / 255.0, 1, 1)->getRed(&r, &g, &b, &a));
    EXPECT_DOUBLE_EQ(g * 255, 122);
    EXPECT_TRUE(UIColor::colorWithRed(2, -1, 0.5, 1)->isEqual(UIColor::colorWithRed(1, 0, 0.5, 1).get()));
}

}  // namespace
