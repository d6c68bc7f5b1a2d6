// Images: real PNG and JPEG bytes of every layout decoded to size and pixels, corrupt, cut or
// overlong data refused, pictures taken reduced, named images from the bundle by screen scale,
// resizable caps.
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/PictureHeaders.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <stb_image_write.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

void collect(void* context, void* data, int size) {
    auto* out = static_cast<NSData*>(context);
    out->insert(out->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
}

// A w × h picture: red on the left half, blue on the right.
std::vector<std::uint8_t> halves(int w, int h) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = x < w / 2 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
            p[3] = 255;
        }
    return px;
}

NSData png(int w, int h) {
    NSData out;
    const auto px = halves(w, h);
    stbi_write_png_to_func(collect, &out, w, h, 4, px.data(), w * 4);
    return out;
}

NSData jpeg(int w, int h) {
    NSData out;
    const auto px = halves(w, h);
    stbi_write_jpg_to_func(collect, &out, w, h, 4, px.data(), 95);
    return out;
}

// A row of w pixels: `left` on the left half, `right` on the right.
std::vector<std::uint8_t> halvesRow(int w, const std::vector<std::uint8_t>& left,
                                    const std::vector<std::uint8_t>& right) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < w; ++x) row.insert(row.end(), (x < w / 2 ? left : right).begin(), (x < w / 2 ? left : right).end());
    return row;
}

// A w × h JPEG of halves written by libjpeg from pixels of `in` (as many bytes as the space has
// components), stored as `stored`.
NSData libjpegPicture(int w, int h, J_COLOR_SPACE in, const std::vector<std::uint8_t>& left,
                      const std::vector<std::uint8_t>& right, J_COLOR_SPACE stored, bool progressive) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &bytes, &length);
    info.image_width = static_cast<JDIMENSION>(w);
    info.image_height = static_cast<JDIMENSION>(h);
    info.input_components = static_cast<int>(left.size());
    info.in_color_space = in;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, stored);
    jpeg_set_quality(&info, 95, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    auto row = halvesRow(w, left, right);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    NSData out(bytes, bytes + length);
    std::free(bytes);
    return out;
}

// A w × h PNG of halves written by libpng, a pixel's samples as the colour type and depth lay them
// out (big-endian at 16 bits; for a palette, an index into red and half-transparent blue).
NSData libpngPicture(int w, int h, int colourType, int depth, int interlace, const std::vector<std::uint8_t>& left,
                     const std::vector<std::uint8_t>& right) {
    NSData out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, std::size_t size) {
        auto* bytes = static_cast<NSData*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + size);
    }, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colourType, interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const png_color palette[] = {{255, 0, 0}, {0, 0, 255}};
    const png_byte alphas[] = {255, 128};
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette, 2);
        png_set_tRNS(png, info, alphas, 2, nullptr);
    }
    png_write_info(png, info);
    if (depth < 8) png_set_packing(png);  // a byte a pixel in, packed out
    auto row = halvesRow(w, left, right);
    std::vector<png_bytep> rows(static_cast<std::size_t>(h), row.data());
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Whether the image's pixels at the left and right ends of its middle row are within `slack` of
// the colours given.
::testing::AssertionResult hasHalves(const std::shared_ptr<UIImage>& image, std::array<int, 4> left,
                                     std::array<int, 4> right, int slack) {
    if (!image || !image->decodes()) return ::testing::AssertionFailure() << "no picture, or it does not decode";
    const auto& px = image->rgbaPixels();
    const std::size_t row = static_cast<std::size_t>(image->pixelHeight() / 2) * image->pixelWidth();
    for (const auto& [x, want] : {std::make_pair(0, left), std::make_pair(image->pixelWidth() - 1, right)})
        for (std::size_t c = 0; c < 4; ++c)
            if (const int got = px[(row + x) * 4 + c]; std::abs(got - want[c]) > slack)
                return ::testing::AssertionFailure() << "pixel " << x << " channel " << c << " is " << got;
    return ::testing::AssertionSuccess();
}

void writeFile(const std::filesystem::path& path, const NSData& data) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

TEST(ImageDecoding, PngAndJpegBytesGiveTheirPixelSizeAndPixels) {
    auto image = UIImage::imageWithData(png(8, 4));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), CGSizeMake(8, 4));
    EXPECT_EQ(image->pixelWidth(), 8);
    ASSERT_EQ(image->rgbaPixels().size(), 8u * 4 * 4);
    EXPECT_EQ(image->rgbaPixels()[0], 255);      // red at the left
    EXPECT_EQ(image->rgbaPixels()[7 * 4 + 2], 255);  // blue at the right

    auto photo = UIImage::imageWithData(jpeg(16, 8), 2);
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->size(), CGSizeMake(8, 4));  // scale 2: points are half the pixels
    EXPECT_GT(photo->rgbaPixels()[0], 200);

    // What the image encodes decodes back to the same picture.
    auto again = UIImage::imageWithData(UIImagePNGRepresentation(image));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->rgbaPixels(), image->rgbaPixels());
    EXPECT_FALSE(UIImageJPEGRepresentation(image, 0.8).empty());
}

TEST(ImageDecoding, CorruptTruncatedOrEmptyDataAndMissingFilesGiveNone) {
    NSData text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    EXPECT_FALSE(UIImage::imageWithData(text));
    EXPECT_FALSE(UIImage::imageWithData(NSData{}));
    EXPECT_FALSE(UIImage::imageWithContentsOfFile("/nonexistent/picture.png"));
    EXPECT_FALSE(UIImage::imageWithPixels({1, 2, 3}, 1, 1, 1));

    // A whole header with half a body is an image of that size; its pixels come out empty.
    NSData cut = png(32, 32);
    cut.resize(cut.size() / 2);
    auto half = UIImage::imageWithData(cut);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->size(), CGSizeMake(32, 32));
    EXPECT_EQ(half->rgbaPixels(), std::vector<std::uint8_t>(32u * 32 * 4, 0));
    // Which the image owns up to, as a whole one does not.
    EXPECT_FALSE(half->decodes());
    auto whole = UIImage::imageWithData(png(32, 32));
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->decodes());
    EXPECT_EQ(whole->rgbaPixels()[0], 255);
}

// Each kind of JPEG decodes, whole and at a reduced scale.
TEST(ImageDecoding, ProgressiveGreyAndCmykJpegDecodeWholeAndReduced) {
    const std::array<int, 4> red{255, 0, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255}, black{0, 0, 0, 255};
    // CMYK is stored inverted, each colour its value times black's: red is 255, 0, 0 and 255.
    const std::vector<std::uint8_t> cmykRed{255, 0, 0, 255}, cmykBlue{0, 0, 255, 255};
    const struct {
        const char* kind;
        NSData data;
        std::array<int, 4> left, right;
    } kinds[] = {
        {"progressive", libjpegPicture(64, 32, JCS_RGB, {255, 0, 0}, {0, 0, 255}, JCS_YCbCr, true), red, blue},
        {"grey", libjpegPicture(64, 32, JCS_GRAYSCALE, {255}, {0}, JCS_GRAYSCALE, false), white, black},
        {"cmyk", libjpegPicture(64, 32, JCS_CMYK, cmykRed, cmykBlue, JCS_CMYK, false), red, blue},
        {"ycck", libjpegPicture(64, 32, JCS_CMYK, cmykRed, cmykBlue, JCS_YCCK, true), red, blue},
    };
    for (const auto& k : kinds) {
        EXPECT_TRUE(hasHalves(UIImage::imageWithData(k.data), k.left, k.right, 12)) << k.kind;
        auto reduced = UIImage::reducedImageWithData(k.data, 16);
        ASSERT_TRUE(reduced) << k.kind;
        EXPECT_EQ(reduced->pixelWidth(), 16) << k.kind;
        EXPECT_TRUE(hasHalves(reduced, k.left, k.right, 12)) << k.kind;
    }
}

TEST(ImageDecoding, PngOfEveryLayoutDecodesToItsExactPixels) {
    const std::array<int, 4> red{255, 0, 0, 255}, clearBlue{0, 0, 255, 128}, white{255, 255, 255, 255},
        black{0, 0, 0, 255};
    const struct {
        const char* layout;
        int colourType, depth, interlace;
        std::vector<std::uint8_t> left, right;
        std::array<int, 4> leftRGBA, rightRGBA;
    } layouts[] = {
        {"rgba", PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_NONE, {255, 0, 0, 255}, {0, 0, 255, 128}, red, clearBlue},
        {"interlaced", PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_ADAM7, {255, 0, 0, 255}, {0, 0, 255, 128}, red, clearBlue},
        {"palette", PNG_COLOR_TYPE_PALETTE, 1, PNG_INTERLACE_NONE, {0}, {1}, red, clearBlue},
        {"16-bit", PNG_COLOR_TYPE_RGB, 16, PNG_INTERLACE_NONE, {255, 255, 0, 0, 0, 0}, {0, 0, 0, 0, 255, 255}, red,
         {0, 0, 255, 255}},
        {"grey", PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, {1}, {0}, white, black},
        {"grey-alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, PNG_INTERLACE_NONE, {255, 255}, {0, 128}, white, {0, 0, 0, 128}},
    };
    for (const auto& l : layouts) {
        const NSData data = libpngPicture(13, 9, l.colourType, l.depth, l.interlace, l.left, l.right);
        EXPECT_TRUE(hasHalves(UIImage::imageWithData(data), l.leftRGBA, l.rightRGBA, 0)) << l.layout;
        EXPECT_TRUE(hasHalves(UIImage::reducedImageWithData(data, 6), l.leftRGBA, l.rightRGBA, 0)) << l.layout;
    }
}

// A picture cut short does not pass for a whole one, whole or reduced, however much of it came;
// nor does the JPEG that had the decoder read memory it never wrote (ui_image_memcheck runs it
// under valgrind).
TEST(ImageDecoding, PicturesCutShortAndACorruptOneAreImagesThatDoNotDecode) {
    const NSData progressive = libjpegPicture(800, 400, JCS_RGB, {255, 0, 0}, {0, 0, 255}, JCS_YCbCr, true);
    const NSData whole[] = {jpeg(800, 400), progressive, png(800, 400)};
    std::vector<NSData> cut;
    for (const auto& data : whole) {
        cut.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() * 2 / 3));
        cut.emplace_back(data.begin(), data.end() - (data[0] == 0x89 ? 12 : 2));  // no end marker or chunk
    }
    std::ifstream in(std::string(OSTREL_UI_TEST_DATA) + "/picture-uninitialised-read.jpg", std::ios::binary);
    cut.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_EQ(cut.back().size(), 619u);
    for (std::size_t i = 0; i < cut.size(); ++i) {
        auto image = UIImage::imageWithData(cut[i]);
        ASSERT_TRUE(image) << i;
        EXPECT_FALSE(image->decodes()) << i;
        auto reduced = UIImage::reducedImageWithData(cut[i], 60);
        ASSERT_TRUE(reduced) << i;
        EXPECT_FALSE(reduced->decodes()) << i;
        EXPECT_EQ(reduced->rgbaPixels(), std::vector<std::uint8_t>(reduced->rgbaPixels().size(), 0)) << i;
    }
    EXPECT_EQ(UIImage::imageWithData(cut.back())->size(), CGSizeMake(96, 75));
}

TEST(ImageDecoding, PixelsAreDecodedOnFirstUseOnceForTheImageAndItsCopies) {
    const auto before = UIImage::decodedPictureCount();
    auto image = UIImage::imageWithData(png(8, 4));
    ASSERT_TRUE(image);
    auto resizable = image->resizableImageWithCapInsets(UIEdgeInsetsMake(1, 1, 1, 1));
    EXPECT_EQ(image->size(), CGSizeMake(8, 4));
    EXPECT_EQ(resizable->pixelWidth(), 8);
    EXPECT_EQ(UIImage::decodedPictureCount(), before);

    EXPECT_EQ(resizable->rgbaPixels()[0], 255);
    EXPECT_EQ(UIImage::decodedPictureCount(), before + 1);
    EXPECT_EQ(image->rgbaPixels()[7 * 4 + 2], 255);
    EXPECT_FALSE(UIImagePNGRepresentation(image).empty());
    EXPECT_EQ(UIImage::decodedPictureCount(), before + 1);
}

TEST(ImageDecoding, APictureClaimingMorePixelsThanTheBoundIsRefusedFromItsHeaderAlone) {
    // A small real JPEG whose header says 16384 x 16384: decoding it would take gigabytes.
    const NSData huge = claimingPixelSize(jpeg(16, 16), 16384, 16384);
    ASSERT_LT(huge.size(), 2048u);
    const auto before = UIImage::decodedPictureCount();
    EXPECT_FALSE(UIImage::imageWithData(huge));

    // A named picture that is refused is missing: the next candidate is taken.
    const auto bundle = std::filesystem::path(Sandbox::home()) / "HugeBundle";
    writeFile(bundle / "painting.jpg", huge);
    writeFile(bundle / "painting@2x.png", claimingPixelSize(png(8, 8), 9000, 9000));
    writeFile(bundle / "painting.png", png(8, 8));
    ScopedMainBundle mainBundle(bundle.string());
    UIImage::clearNamedCache();
    UIImage::setScreenScale(2);
    auto named = UIImage::imageNamed("painting");
    UIImage::setScreenScale(1);
    UIImage::clearNamedCache();
    ASSERT_TRUE(named);
    EXPECT_EQ(named->pixelWidth(), 8);
    EXPECT_FALSE(UIImage::imageWithContentsOfFile((bundle / "painting.jpg").string()));

    // The bound itself is allowed: 8000 x 6000 is known by its header, not decoded.
    auto largest = UIImage::imageWithData(claimingPixelSize(png(8, 8), 8000, 6000));
    ASSERT_TRUE(largest);
    EXPECT_EQ(static_cast<std::int64_t>(largest->pixelWidth()) * largest->pixelHeight(), UIImage::kMaxPixelCount);
    EXPECT_FALSE(UIImage::imageWithData(claimingPixelSize(png(8, 8), 8000, 6001)));
    EXPECT_EQ(UIImage::decodedPictureCount(), before);
}

TEST(NamedImages, TheScaleVariantIsPreferredAndAMissingNameGivesNone) {
    const auto bundle = std::filesystem::path(Sandbox::home()) / "ImageBundle";
    std::filesystem::create_directories(bundle);
    ScopedMainBundle mainBundle(bundle.string());
    writeFile(bundle / "menu.png", png(20, 10));
    writeFile(bundle / "menu@2x.png", png(40, 20));
    writeFile(bundle / "handle.png", png(6, 6));
    writeFile(bundle / "br280x50.png", png(280, 50));
    writeFile(bundle / "broken.png", NSData{1, 2, 3});
    UIImage::clearNamedCache();

    UIImage::setScreenScale(1);
    auto one = UIImage::imageNamed("menu");
    ASSERT_TRUE(one);
    EXPECT_EQ(one->scale(), 1);
    EXPECT_EQ(one->size(), CGSizeMake(20, 10));
    EXPECT_EQ(UIImage::imageNamed("menu"), one);  // cached

    UIImage::setScreenScale(2);
    auto two = UIImage::imageNamed("menu");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->scale(), 2);
    EXPECT_EQ(two->size(), CGSizeMake(20, 10));
    auto onlyOne = UIImage::imageNamed("handle");  // no @2x: the plain file
    ASSERT_TRUE(onlyOne);
    EXPECT_EQ(onlyOne->scale(), 1);
    EXPECT_EQ(UIImage::imageNamed("br280x50.png")->size(), CGSizeMake(280, 50));

    EXPECT_FALSE(UIImage::imageNamed("absent"));
    EXPECT_FALSE(UIImage::imageNamed("broken"));
    EXPECT_FALSE(UIImage::imageNamed(""));
    UIImage::setScreenScale(1);
    UIImage::clearNamedCache();
}

// A name found nowhere is not looked for under all its file names on every call: it stays
// missing until a file is written through the platform, and each bundle has names of its own.
TEST(NamedImages, AMissingNameIsRememberedUntilAFileIsWrittenAndEachBundleHasItsOwn) {
    const auto first = std::filesystem::path(Sandbox::home()) / "FirstBundle";
    const auto second = std::filesystem::path(Sandbox::home()) / "SecondBundle";
    std::filesystem::create_directories(first);
    writeFile(second / "late.png", png(12, 12));
    UIImage::clearNamedCache();
    {
        ScopedMainBundle mainBundle(first.string());
        EXPECT_FALSE(UIImage::imageNamed("late"));
        // Put there behind the platform's back: the name is still known as missing.
        writeFile(first / "late.png", png(10, 10));
        EXPECT_FALSE(UIImage::imageNamed("late"));
        ASSERT_TRUE(writeDataToFile(NSData{1}, (std::filesystem::path(Sandbox::tmp()) / "any-file").string(), false));
        auto found = UIImage::imageNamed("late");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->pixelWidth(), 10);
    }
    {
        ScopedMainBundle mainBundle(second.string());
        auto other = UIImage::imageNamed("late");
        ASSERT_TRUE(other);
        EXPECT_EQ(other->pixelWidth(), 12);
    }
    UIImage::clearNamedCache();
}

TEST(ResizableImages, CapInsetsAndModesAreKeptOnACopySharingThePixels) {
    auto image = UIImage::imageWithData(png(30, 20));
    ASSERT_TRUE(image);
    auto resizable = image->resizableImageWithCapInsets(UIEdgeInsetsMake(10, 15, 10, 15), UIImageResizingModeStretch);
    EXPECT_TRUE(resizable->isResizable());
    EXPECT_FALSE(image->isResizable());
    EXPECT_EQ(resizable->capInsets(), UIEdgeInsetsMake(10, 15, 10, 15));
    EXPECT_EQ(resizable->resizingMode(), UIImageResizingModeStretch);
    EXPECT_EQ(&resizable->rgbaPixels(), &image->rgbaPixels());
}

}  // namespace

TEST(ReducedImages, LargePicturesComeAtMostTheAskedSizeKeepingTheirPointsAndSmallOnesAsTheyAre) {
    auto small = UIImage::reducedImageWithData(png(8, 4), 100);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->pixelWidth(), 8);
    EXPECT_EQ(small->rgbaPixels(), UIImage::imageWithData(png(8, 4))->rgbaPixels());

    // JPEG is decoded at a reduced scale; PNG whole, then reduced.
    for (const auto& [kind, data] : {std::make_pair("jpeg", jpeg(800, 400)), std::make_pair("png", png(800, 400))}) {
        auto reduced = UIImage::reducedImageWithData(data, 100);
        ASSERT_TRUE(reduced) << kind;
        EXPECT_EQ(reduced->pixelWidth(), 100) << kind;
        EXPECT_EQ(reduced->pixelHeight(), 50) << kind;
        EXPECT_EQ(reduced->size(), CGSizeMake(800, 400)) << kind;
        ASSERT_TRUE(reduced->decodes()) << kind;
        ASSERT_EQ(reduced->rgbaPixels().size(), 100u * 50 * 4) << kind;
        const auto& px = reduced->rgbaPixels();
        EXPECT_GT(px[0], 200) << kind;                    // red at the left
        EXPECT_LT(px[2], 60) << kind;
        EXPECT_GT(px[(10 * 100 + 99) * 4 + 2], 200) << kind;  // blue at the right
        EXPECT_LT(px[(10 * 100 + 99) * 4], 60) << kind;
        EXPECT_EQ(px[3], 255) << kind;
    }

    // From a file, the name's scale kept in the points.
    const auto folder = std::filesystem::path(Sandbox::home()) / "Reduced";
    writeFile(folder / "wide@2x.jpg", jpeg(640, 320));
    auto named = UIImage::reducedImageWithContentsOfFile((folder / "wide@2x.jpg").string(), 64);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->pixelWidth(), 64);
    EXPECT_EQ(named->size(), CGSizeMake(320, 160));
    EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile((folder / "missing.jpg").string(), 64));
}

TEST(ReducedImages, HeadersClaimingLargeSizesUnderTheCapDecodeSmallOrAreRefused) {
    // A tiny JPEG claiming 8000 x 6000: taken reduced, it never needs 192 MB of pixels.
    const NSData bomb = claimingPixelSize(jpeg(16, 16), 8000, 6000);
    ASSERT_LT(bomb.size(), 2048u);
    auto thumb = UIImage::reducedImageWithData(bomb, 240);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixelWidth(), 240);
    EXPECT_EQ(thumb->pixelHeight(), 180);
    EXPECT_EQ(thumb->rgbaPixels().size(), 240u * 180 * 4);

    // A PNG cannot be read reduced: over the whole-decode bound it is refused from its header.
    const std::uint32_t side = 2049;
    ASSERT_GT(static_cast<std::int64_t>(side) * side, UIImage::kMaxPixelCountBeforeReduction);
    EXPECT_FALSE(UIImage::reducedImageWithData(claimingPixelSize(png(8, 8), side, side), 240));
    EXPECT_TRUE(UIImage::reducedImageWithData(claimingPixelSize(png(8, 8), 2048, 2048), 240));
    // Shown at full size it is still a picture under the cap.
    EXPECT_TRUE(UIImage::imageWithData(claimingPixelSize(png(8, 8), side, side)));

    // Bytes that end after the frame header give an empty picture, as unreduced ones do.
    NSData cut = jpeg(800, 400);
    for (std::size_t at = 2; at + 3 < cut.size() && cut[at] == 0xFF;) {
        const std::size_t next = at + 2 + (static_cast<std::size_t>(cut[at + 2]) << 8 | cut[at + 3]);
        if (cut[at + 1] == 0xC0) {
            cut.resize(next);
            break;
        }
        at = next;
    }
    auto broken = UIImage::reducedImageWithData(cut, 100);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->pixelWidth(), 100);
    EXPECT_FALSE(broken->decodes());
    EXPECT_EQ(broken->rgbaPixels(), std::vector<std::uint8_t>(100u * 50 * 4, 0));
}

TEST(ImageDecoding, AFileLongerThanAnyPictureIsRefusedUnread) {
    const auto path = std::filesystem::path(Sandbox::home()) / "long.png";
    writeFile(path, png(8, 8));
    // Sparse: the length is there without the bytes.
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(UIImage::kMaxEncodedLength) + 1);
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(path.string()));
    EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(path.string(), 64));
    std::filesystem::resize_file(path, png(8, 8).size());
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(path.string()));
}

// A progressive picture that repeats its last scan past any encoder's count is refused, not
// decoded scan after scan; its unrepeated self decodes.
TEST(ImageDecoding, AProgressivePictureOfTooManyScansDoesNotDecode) {
    const NSData progressive = libjpegPicture(16, 16, JCS_RGB, {255, 0, 0}, {0, 0, 255}, JCS_YCbCr, true);
    const std::uint8_t startOfScan[] = {0xFF, 0xDA};
    const auto last = std::find_end(progressive.begin(), progressive.end(), std::begin(startOfScan), std::end(startOfScan));
    ASSERT_NE(last, progressive.end());
    NSData repeated(progressive.begin(), progressive.end() - 2);
    for (int i = 0; i < 150; ++i) repeated.insert(repeated.end(), last, progressive.end() - 2);
    repeated.insert(repeated.end(), progressive.end() - 2, progressive.end());
    EXPECT_TRUE(UIImage::imageWithData(progressive)->decodes());
    auto image = UIImage::imageWithData(repeated);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->decodes());
}
