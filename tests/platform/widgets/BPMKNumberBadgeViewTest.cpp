// The numeric badge: its text, hiding at zero, and what it draws.
#include "platform/widgets/BPMKNumberBadgeView.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <gtest/gtest.h>

TEST(BPMKNumberBadgeViewTest, ShowsItsValueAndHidesAtZeroOnlyWhenAsked) {
    auto badge = BPMKNumberBadgeView::initWithFrame(CGRectMake(12.9, -9, 30, 30));
    EXPECT_NEAR(badge->frame().origin.x, 12.9, 1e-9);
    EXPECT_EQ(badge->frame().size, CGSizeMake(30, 30));
    badge->setValue(0);
    EXPECT_FALSE(badge->isHidden());
    badge->setHideWhenZero(true);
    EXPECT_TRUE(badge->isHidden());
    badge->setValue(4);
    EXPECT_FALSE(badge->isHidden());
    EXPECT_EQ(badge->text(), "4");
    badge->setValue(0);
    EXPECT_TRUE(badge->isHidden());
    badge->setValue(12);
    EXPECT_EQ(badge->text(), "12");
    // Wider for more digits, never narrower than tall.
    const CGSize two = badge->badgeSize();
    badge->setValue(3);
    EXPECT_LT(badge->badgeSize().width, two.width);
    EXPECT_GE(badge->badgeSize().width, badge->badgeSize().height);
}

TEST(BPMKNumberBadgeViewTest, DrawsAFilledStrokedPillWithTheNumberInTheTextColour) {
    auto badge = BPMKNumberBadgeView::initWithFrame(CGRectMake(0, 0, 30, 30));
    badge->setFillColor(UIColor::blueColor());
    badge->setStrokeColor(UIColor::darkGrayColor());
    badge->setTextColor(UIColor::darkGrayColor());
    badge->setFont(UIFont::systemFontOfSize(12));
    badge->setShadow(false);
    badge->setShine(false);
    badge->setValue(7);
    badge->displayIfNeeded();
    auto drawing = badge->lastDrawing();
    ASSERT_TRUE(drawing);
    bool filledAndStroked = false, text = false, shadowOrShine = false;
    for (const auto& op : drawing->operations()) {
        if (op.kind == CGContext::Operation::Kind::DrawPath && op.mode == kCGPathFillStroke) filledAndStroked = true;
        if (op.kind == CGContext::Operation::Kind::DrawText) {
            text = op.text == "7" && op.color->isEqual(UIColor::darkGrayColor().get()) && op.font->pointSize() == 12;
        }
        if (op.kind == CGContext::Operation::Kind::FillRect || op.kind == CGContext::Operation::Kind::FillPath)
            shadowOrShine = true;
    }
    EXPECT_TRUE(filledAndStroked);
    EXPECT_TRUE(text);
    EXPECT_FALSE(shadowOrShine);
    EXPECT_TRUE(drawing->operations().front().kind == CGContext::Operation::Kind::SetFillColor);
}
