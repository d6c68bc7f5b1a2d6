// The shared cells and small views: the promotion cell, the information cell's button path,
// the close button's drawing, the colour and Base64 extensions.
#include "platform/ui/CGContext.h"
#include "platform/ui/NSAttributedString.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"
#include "uikit/NSDataBase64.h"
#include "uikit/UIAdsCell.h"
#include "uikit/UICloseButton.h"
#include "uikit/UIColorHex.h"
#include "uikit/UIDetailCell.h"
#include "uikit/UIStandartInfoCell.h"
#include "uikit/UIStandartInfoCellSelectable.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class RecordingInfoDelegate : public UIInfoCellDelegate {
public:
    void infoClicked(const std::shared_ptr<UIStandartInfoCell>& cell) override { clicked.push_back(cell); }
    std::vector<std::shared_ptr<UIStandartInfoCell>> clicked;
};

// A table of one section of ads cells, so cells can be dequeued.
class AdsTable : public NSObject, public UITableViewDataSource {
public:
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return rows; }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& table,
                                                           const NSIndexPath&) override {
        return UIAdsCell::sonvaleAdCell(table, UIColor::whiteColor());
    }
    long rows = 1;
};

std::vector<CGContext::Operation> drawingOf(const std::shared_ptr<UIView>& view) {
    view->setNeedsDisplay();
    view->displayIfNeeded();
    return view->lastDrawing()->operations();
}

}  // namespace

TEST(UIAdsCellTest, ThePromotionLineIsUnderlinedCentredAndInThePromotionColour) {
    auto cell = UIAdsCell::initWithStyle(UITableViewCellStyleDefault, UIAdsCell::kReuseIdentifier,
                                         UIColor::colorWithRed(0.1, 0.2, 0.3, 1));
    EXPECT_EQ(cell->selectionStyle(), UITableViewCellSelectionStyleNone);
    ASSERT_TRUE(cell->backgroundView());
    EXPECT_NE(cell->backgroundView(), cell->selectedBackgroundView());
    EXPECT_DOUBLE_EQ(cell->backgroundView()->backgroundColor()->blue(), 0.3);
    EXPECT_EQ(cell->label()->frame(), CGRectMake(10, 0, 300, 44));
    EXPECT_EQ(cell->label()->numberOfLines(), 2);
    EXPECT_EQ(cell->label()->font()->pointSize(), 16);
    EXPECT_EQ(hexString(cell->label()->textColor()), "#63cdff");

    cell->setLabelText("Free music");
    const auto text = cell->label()->attributedText();
    ASSERT_EQ(text->runs().size(), 1u);
    EXPECT_EQ(text->runs()[0].attributes.underlineStyle, NSUnderlineStyleSingle);
    EXPECT_EQ(cell->label()->text(), "Free music");
}

TEST(UIAdsCellTest, TheCellIsReusedFromTheTableUnderItsIdentifier) {
    auto table = UITableView::initWithFrame(CGRectMake(0, 0, 320, 400));
    auto source = std::make_shared<AdsTable>();
    table->setDataSource(source);
    table->reloadData();
    auto first = table->cellForRowAtIndexPath({0, 0});
    ASSERT_TRUE(std::dynamic_pointer_cast<UIAdsCell>(first));
    EXPECT_EQ(first->reuseIdentifier(), "UIAdsCell");
    EXPECT_EQ(std::dynamic_pointer_cast<UIAdsCell>(first)->label()->text(),
              "Need more classical music? Get it free right now!");
    table->reloadData();
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), first);
}

TEST(UIStandartInfoCellTest, TheInformationButtonTellsTheDelegateAndIsIgnoredWithoutOne) {
    auto cell = UIStandartInfoCell::initWithStyle(UITableViewCellStyleDefault, "standartCellInfo");
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);

    auto delegate = std::make_shared<RecordingInfoDelegate>();
    cell->setDelegate(delegate);
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_EQ(delegate->clicked.size(), 1u);
    EXPECT_EQ(delegate->clicked[0], cell);

    // Held weakly: a gone delegate is not called.
    delegate.reset();
    EXPECT_FALSE(cell->delegate());
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);

    auto selectable = UIStandartInfoCellSelectable::initWithStyle(UITableViewCellStyleDefault, "standartCellInfo");
    EXPECT_EQ(selectable->selectImageMark()->superview(), selectable->contentView());
}

TEST(UIDetailCellTest, TheTwoLinesStretchWithTheCell) {
    auto cell = UIDetailCell::initWithStyle(UITableViewCellStyleDefault, "DetailCell");
    EXPECT_EQ(cell->frame().size.height, UIDetailCell::kHeight);
    const CGFloat width = cell->mainText()->frame().size.width;
    cell->setFrame(CGRectMake(0, 0, 420, UIDetailCell::kHeight));
    cell->layoutIfNeeded();
    EXPECT_EQ(cell->mainText()->frame().size.width, width + 100);
    EXPECT_EQ(cell->detailText()->frame().size.width, width + 100);
}

TEST(UICloseButtonTest, DrawsARingADiscAndACrossInSinglePrecision) {
    auto button = UICloseButton::initWithFrame(CGRectMake(0, 0, 30, 40));
    EXPECT_EQ(accessibilityLabel(*button), "close") << "named by what it does, as it has no title";
    const auto ops = drawingOf(button);
    std::vector<CGContext::Operation> arcs, lines;
    for (const auto& op : ops) {
        if (op.kind == CGContext::Operation::Kind::AddArc) arcs.push_back(op);
        if (op.kind == CGContext::Operation::Kind::MoveTo || op.kind == CGContext::Operation::Kind::AddLineTo)
            lines.push_back(op);
    }
    ASSERT_EQ(arcs.size(), 2u);
    EXPECT_EQ(arcs[0].point, (CGPoint{15, 20}));
    EXPECT_EQ(arcs[0].radius, 14);
    EXPECT_EQ(arcs[1].radius, 11.25);
    EXPECT_FLOAT_EQ(static_cast<float>(arcs[0].endAngle), 2.0f * 3.14159265f);
    ASSERT_EQ(lines.size(), 4u);
    const float s = 0.35f * 15.0f;
    EXPECT_EQ(lines[0].point, (CGPoint{15.0f - s, 20.0f - s}));
    EXPECT_EQ(lines[1].point, (CGPoint{15.0f + s, 20.0f + s}));
    EXPECT_EQ(lines[2].point, (CGPoint{15.0f + s, 20.0f - s}));

    bool whiteFill = false, strokeWidth = false;
    for (const auto& op : ops) {
        if (op.kind == CGContext::Operation::Kind::SetFillColor && hexString(op.color) == "#ffffff") whiteFill = true;
        if (op.kind == CGContext::Operation::Kind::SetLineWidth && op.value == 0.2f * 15.0f) strokeWidth = true;
    }
    EXPECT_TRUE(whiteFill);
    EXPECT_TRUE(strokeWidth);
}

TEST(UICloseButtonTest, PressingRedrawsInLightGrey) {
    auto button = UICloseButton::initWithFrame(CGRectMake(0, 0, 30, 30));
    drawingOf(button);
    button->setHighlighted(true);
    EXPECT_TRUE(button->needsDisplay());
    button->displayIfNeeded();
    const auto& ops = button->lastDrawing()->operations();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.front().kind, CGContext::Operation::Kind::SetFillColor);
    EXPECT_EQ(hexString(ops.front().color), hexString(UIColor::lightGrayColor()));
}

TEST(UIColorHexTest, ComponentsArePackedAndRoundedHalfAwayFromZero) {
    EXPECT_EQ(hex(UIColor::redColor()), 255u << 16);
    EXPECT_EQ(hex(UIColor::colorWithWhite(0.5, 1)), 0x808080u);
    EXPECT_EQ(hex(UIColor::colorWithRed(0, 1, 0.2, 1)), 0x00ff33u);
    EXPECT_EQ(hexString(UIColor::colorWithRed(0, 0, 1.0 / 255, 1)), "#000001");
    EXPECT_EQ(hexString(UIColor::colorWithRed(1, 0.5, 0, 1)), "#ff8000");
}

TEST(NSDataBase64Test, EncodingPadsAndBreaksLinesAtTheGivenLength) {
    const NSData three{'M', 'a', 'n'};
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength(three, 0), "TWFu");
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength(three, 4), "TWFu\n");
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength(NSData{'M', 'a'}, 0), "TWE=");
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength(NSData{'M'}, 0), "TQ==");
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength({}, 76), "");

    const NSData long_(3 * 40, 0xab);
    const std::string wrapped = NSDataBase64::base64EncodingWithLineLength(long_, 76);
    // 19 groups make 76 characters: a break after every 19th group; the last two groups
    // do not fill a line.
    std::vector<std::size_t> breaks;
    for (std::size_t i = 0; i < wrapped.size(); ++i)
        if (wrapped[i] == '\n') breaks.push_back(i);
    ASSERT_EQ(breaks.size(), 2u);
    EXPECT_EQ(breaks[0], 76u);
    EXPECT_EQ(breaks[1], 76u * 2 + 1);
    EXPECT_EQ(wrapped.size(), 40u * 4 + 2);
    EXPECT_EQ(NSDataBase64::base64EncodingWithLineLength(long_, 0).find('\n'), std::string::npos);
}

TEST(NSDataBase64Test, DecodingSkipsForeignCharactersAndStopsAtPadding) {
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(std::string("TWE=")), (NSData{'M', 'a'}));
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(std::string("TQ==")), (NSData{'M'}));
    EXPECT_EQ(NSDataBase64::dataWithBase64EncodedString(std::string("TW\nF u\r\n")), (NSData{'M', 'a', 'n'}));
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(std::string("TWFu=TWFu")), (NSData{'M', 'a', 'n'}));
    EXPECT_TRUE(NSDataBase64::initWithBase64EncodedString(std::nullopt).empty());

    NSData bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(NSDataBase64::base64EncodingWithLineLength(bytes, 64)), bytes);
}

TEST(NSDataBase64Test, ALoneCharacterBeforeThePaddingCarriesNoByte) {
    // "TWFuT=": one whole group, then a single character of the next.
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(std::string("TWFuT=")), (NSData{'M', 'a', 'n'}));
    EXPECT_EQ(NSDataBase64::initWithBase64EncodedString(std::string("T")), NSData{});
}
