// The split controller's columns per display mode and width.
#include "platform/ui/UISplitViewController.h"

#include "platform/ui/UIView.h"

#include <gtest/gtest.h>

TEST(SplitColumns, OneScreenFillsAndTwoShareTheWidthAsTheModeSays) {
    auto split = UISplitViewController::make();
    split->view()->setFrame(CGRectMake(0, 0, 1024, 768));
    auto primary = UIViewController::make();
    auto secondary = UIViewController::make();
    split->setViewControllers({primary});
    EXPECT_EQ(primary->parentViewController(), split);
    EXPECT_EQ(primary->view()->frame(), CGRectMake(0, 0, 1024, 768));

    split->setViewControllers({primary, secondary});
    EXPECT_EQ(split->viewControllers().size(), 2u);
    // Automatic: both in landscape.
    EXPECT_EQ(split->displayMode(), UISplitViewControllerDisplayMode::AllVisible);
    EXPECT_EQ(primary->view()->frame(), CGRectMake(0, 0, 320, 768));
    EXPECT_EQ(secondary->view()->frame(), CGRectMake(320, 0, 704, 768));

    split->setPreferredDisplayMode(UISplitViewControllerDisplayMode::PrimaryHidden);
    EXPECT_TRUE(primary->view()->isHidden());
    EXPECT_EQ(secondary->view()->frame(), CGRectMake(0, 0, 1024, 768));

    split->setViewControllers({secondary});
    EXPECT_EQ(primary->parentViewController(), nullptr);
    EXPECT_EQ(primary->view()->superview(), nullptr);
    EXPECT_EQ(secondary->view()->frame(), CGRectMake(0, 0, 1024, 768));
}
