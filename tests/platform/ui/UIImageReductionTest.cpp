// A smaller copy of a picture in memory: each pixel the mean of those it covers, the size in points
// and the name kept; the picture itself when it is no larger; none when it does not decode.
#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"

#include <gtest/gtest.h>

#include <vector>

TEST(UIImageReductionTest, ACopyTakesTheMeanOfThePixelsEachCoversAndKeepsTheSizeInPointsAndTheName) {
    // 6 x 2: three columns of pairs, each pair (0, 100), (200, 100), (30, 60) in every channel.
    const std::vector<std::uint8_t> shades{0, 100, 200, 100, 30, 60};
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < 2; ++y)
        for (auto shade : shades) rgba.insert(rgba.end(), {shade, shade, shade, 255});
    const std::string path = Sandbox::tmp() + "/six.png";
    ASSERT_TRUE(writeDataToFile(UIImagePNGRepresentation(UIImage::imageWithPixels(rgba, 6, 2, 1)), path, true));
    auto picture = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(picture);

    auto copy = UIImage::reducedImageWithImage(picture, 3);
    ASSERT_TRUE(copy);
    ASSERT_EQ(copy->pixelWidth(), 3);
    ASSERT_EQ(copy->pixelHeight(), 1);
    EXPECT_EQ(copy->rgbaPixels(), (std::vector<std::uint8_t>{50, 50, 50, 255, 150, 150, 150, 255, 45, 45, 45, 255}));
    EXPECT_DOUBLE_EQ(copy->size().width, 6);
    EXPECT_DOUBLE_EQ(copy->size().height, 2);
    EXPECT_EQ(copy->name(), path);

    // No larger: the picture itself.
    EXPECT_EQ(UIImage::reducedImageWithImage(picture, 6), picture);

    // A sound header over a body that does not decode: no copy.
    NSData png = UIImagePNGRepresentation(UIImage::imageWithPixels(rgba, 6, 2, 1));
    ASSERT_GT(png.size(), 50u);
    for (std::size_t i = 41; i < 49; ++i) png[i] ^= 0xff;  // the first pixel data, past the header chunk
    ASSERT_TRUE(writeDataToFile(png, path, true));
    auto broken = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(broken);
    EXPECT_FALSE(UIImage::reducedImageWithImage(broken, 3));
}
