// The share sheet: it shows the pictures and texts handed to it and closes.
#include "platform/ui/UIActivityViewController.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <gtest/gtest.h>

namespace {
class ShareSheetTest : public KeyWindowTest {};
}  // namespace

TEST_F(ShareSheetTest, ShowsItsItemsAndCloses) {
    auto picture = UIImage::imageWithPixels(std::vector<std::uint8_t>(8 * 6 * 4, 90), 8, 6, 1);
    auto sheet = UIActivityViewController::initWithActivityItems({picture, std::string("Vermeer - The Milkmaid")});
    root->presentViewController(sheet, true, nullptr);
    Clock::advance(1);
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(root->presentedViewController(), sheet);

    std::shared_ptr<UIImageView> shownPicture;
    std::shared_ptr<UILabel> shownText;
    for (const auto& view : sheet->view()->subviews()) {
        if (auto image = std::dynamic_pointer_cast<UIImageView>(view)) shownPicture = image;
        if (auto label = std::dynamic_pointer_cast<UILabel>(view)) shownText = label;
    }
    ASSERT_TRUE(shownPicture && shownText);
    EXPECT_EQ(shownPicture->image(), picture);
    EXPECT_EQ(shownText->text(), "Vermeer - The Milkmaid");
    ASSERT_EQ(sheet->activityItems().size(), 2u);

    sheet->closeButton()->simulateTap();
    Clock::advance(1);
    EXPECT_FALSE(root->presentedViewController());
}
