// Badges: the menu rows' label badge (insets in its sizes and drawing) and the bar item's
// numeric badge (frame over the button, hidden at zero, colours by system version).
#include "uikit/OEBadge.h"

#include "platform/widgets/BPMKNumberBadgeView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "uikit/UIBadgeBarButtonItem.h"

#include <gtest/gtest.h>

TEST(OEBadgeTest, LooksLikeARedRoundedLabelWithWhiteText) {
    auto badge = OEBadge::make();
    EXPECT_TRUE(badge->clipsToBounds());
    EXPECT_DOUBLE_EQ(badge->layer()->cornerRadius(), 5.0);
    EXPECT_TRUE(badge->backgroundColor()->isEqual(UIColor::redColor().get()));
    EXPECT_TRUE(badge->textColor()->isEqual(UIColor::whiteColor().get()));
    EXPECT_EQ(badge->textInseets(), UIEdgeInsetsMake(1, 5, 1, 5));
}

TEST(OEBadgeTest, SizesCarryTheInsetsAndDrawingLeavesThemOut) {
    auto badge = OEBadge::make();
    badge->setText("12");
    auto plain = UILabel::make();
    plain->setText("12");
    const CGSize text = plain->sizeThatFits({0, 0});
    ASSERT_GT(text.width, 0);

    EXPECT_EQ(badge->addInsetsToSize({20, 14}), (CGSize{30, 16}));
    EXPECT_EQ(badge->sizeThatFits({0, 0}), (CGSize{text.width + 10, text.height + 2}));
    EXPECT_EQ(badge->intrinsicContentSize(), (CGSize{text.width + 10, text.height + 2}));
    badge->sizeToFit();
    EXPECT_EQ(badge->bounds().size, (CGSize{text.width + 10, text.height + 2}));

    badge->setNeedsDisplay();
    badge->displayIfNeeded();
    ASSERT_TRUE(badge->lastDrawing());
    bool drewText = false;
    for (const auto& op : badge->lastDrawing()->operations()) {
        if (op.kind != CGContext::Operation::Kind::DrawText) continue;
        drewText = true;
        EXPECT_EQ(op.text, "12");
        EXPECT_GE(op.rect.origin.x, 5.0);
        EXPECT_LE(op.rect.origin.x + op.rect.size.width, badge->bounds().size.width - 5.0 + 1e-9);
    }
    EXPECT_TRUE(drewText);

    badge->setTextInseets(UIEdgeInsetsZero);
    EXPECT_EQ(badge->sizeThatFits({0, 0}), text);
}

class BadgeBarItemTest : public ::testing::Test {
protected:
    void TearDown() override {
        UIDevice::currentDevice()->setSystemVersion("15.0");
    }
    static std::shared_ptr<UIButton> button() { return UIButton::initWithFrame(CGRectMake(0, 0, 30, 30)); }
};

TEST_F(BadgeBarItemTest, TheBadgeSitsUpAndRightOfTheButtonAndIgnoresTouches) {
    auto b = button();
    auto item = UIBadgeBarButtonItem::initWithCustomView(b, 0, UIColor::whiteColor());
    const CGRect f = item->badge()->frame();
    EXPECT_NEAR(f.origin.x, 12.9, 1e-9);
    EXPECT_NEAR(f.origin.y, -9.0, 1e-9);
    EXPECT_EQ(f.size, (CGSize{30, 30}));
    EXPECT_EQ(item->badge()->superview(), b);
    EXPECT_FALSE(item->badge()->isUserInteractionEnabled());
    EXPECT_EQ(item->customView(), b);
    EXPECT_DOUBLE_EQ(item->badge()->font()->pointSize(), 12);
    EXPECT_FALSE(item->badge()->shadow());
    EXPECT_FALSE(item->badge()->shine());
}

TEST_F(BadgeBarItemTest, ZeroHidesTheBadgeAndOtherNumbersShowIt) {
    auto item = UIBadgeBarButtonItem::initWithCustomView(button(), 0, UIColor::whiteColor());
    EXPECT_TRUE(item->badge()->isHidden());
    item->setNumber(4);
    EXPECT_FALSE(item->badge()->isHidden());
    EXPECT_EQ(item->badge()->text(), "4");
    EXPECT_EQ(item->number(), 4);
    item->setNumber(0);
    EXPECT_TRUE(item->badge()->isHidden());

    auto two = UIBadgeBarButtonItem::initWithCustomView(button(), 2, UIColor::whiteColor());
    EXPECT_FALSE(two->badge()->isHidden());
    EXPECT_EQ(two->badge()->text(), "2");
}

TEST_F(BadgeBarItemTest, ColoursFollowTheSystemVersionAndTheFillHandedIn) {
    auto fill = UIColor::colorWithRed(0.1, 0.2, 0.3, 1);

    UIDevice::currentDevice()->setSystemVersion("13.0");
    auto modern = UIBadgeBarButtonItem::initWithCustomView(button(), 1, fill);
    EXPECT_TRUE(modern->badge()->strokeColor()->isEqual(UIColor::labelColor().get()));
    EXPECT_TRUE(modern->badge()->textColor()->isEqual(UIColor::labelColor().get()));
    EXPECT_TRUE(modern->badge()->fillColor()->isEqual(fill.get()));

    UIDevice::currentDevice()->setSystemVersion("12.4");
    auto older = UIBadgeBarButtonItem::initWithCustomView(button(), 1, UIColor::whiteColor());
    EXPECT_TRUE(older->badge()->strokeColor()->isEqual(UIColor::darkGrayColor().get()));
    EXPECT_TRUE(older->badge()->textColor()->isEqual(UIColor::darkGrayColor().get()));
}
