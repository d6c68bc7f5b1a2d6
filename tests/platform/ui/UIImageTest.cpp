// Images: real PNG and JPEG bytes of every layout decoded to size and pixels, corrupt, cut or
// overlong data refused, pictures taken reduced, named images from the bundle by screen scale,
// resizable caps.
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/PictureDecoding.h"
#include "platform/ui/ReducedPictureCache.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/HeldOpenFileIO.h"
#include "tests/fixtures/LibjpegPicture.h"
#include "tests/fixtures/PictureHeaders.h"
#include "tests/fixtures/SanitizedBuild.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <stb_image_write.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <limits>
#include <malloc.h>
#include <string>
#include <string_view>
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
    const auto halves = halvesRow(w, left, right);
    return libjpegEncoded(
        w, h, static_cast<int>(left.size()), in,
        [&](jpeg_compress_struct& info) {
            jpeg_set_colorspace(&info, stored);
            jpeg_set_quality(&info, 95, TRUE);
            if (progressive) jpeg_simple_progression(&info);
        },
        [&](int, std::vector<std::uint8_t>& row) { row = halves; });
}

// The bytes libpng writes while `write` sets the header up and hands it the rows.
NSData libpngWritten(const std::function<void(png_structp, png_infop)>& write) {
    NSData out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, [](png_structp p, png_bytep data, std::size_t size) {
        auto* bytes = static_cast<NSData*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + size);
    }, nullptr);
    write(png, info);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// A w × h PNG of halves written by libpng, a pixel's samples as the colour type and depth lay them
// out (big-endian at 16 bits; for a palette, an index into red and half-transparent blue).
NSData libpngPicture(int w, int h, int colourType, int depth, int interlace, const std::vector<std::uint8_t>& left,
                     const std::vector<std::uint8_t>& right) {
    return libpngWritten([&](png_structp png, png_infop info) {
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
    });
}

// The flattest w x h pictures the encoders make, one grey all over: a JPEG with Huffman tables
// made for it (a bit a code, two a block; one for a progressive picture's first DC scan), or
// arithmetic coded; a PNG at deflate's strongest, near its 1032 to 1.
NSData flatJPEG(int w, int h, bool progressive, bool arithmetic) {
    return libjpegEncoded(
        w, h, 3, JCS_RGB,
        [&](jpeg_compress_struct& info) {
            // Tables made for the picture are Huffman's alone.
            info.optimize_coding = arithmetic ? FALSE : TRUE;
            info.arith_code = arithmetic ? TRUE : FALSE;
            if (progressive) jpeg_simple_progression(&info);
        },
        [](int, std::vector<std::uint8_t>& row) { std::fill(row.begin(), row.end(), 128); });
}

NSData flatPNG(int w, int h) {
    return libpngWritten([&](png_structp png, png_infop info) {
        png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGBA,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 9);
        png_write_info(png, info);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 4, 128);
        for (int y = 0; y < h; ++y) png_write_row(png, row.data());
    });
}

// `bytes` of image data that inflate to nothing (deflate's reserved block kind), as a further
// chunk after the PNG's first image data: a header claiming more than the PNG holds then passes
// for one its bytes could hold, and the body fails at once.
NSData withFailingImageData(NSData png, std::size_t bytes) {
    const std::uint8_t first[] = {'I', 'D', 'A', 'T'};
    auto at = std::search(png.begin(), png.end(), std::begin(first), std::end(first));
    const std::size_t length = static_cast<std::size_t>(at[-4]) << 24 | at[-3] << 16 | at[-2] << 8 | at[-1];
    NSData chunk = {static_cast<std::uint8_t>(bytes >> 24), static_cast<std::uint8_t>(bytes >> 16),
                    static_cast<std::uint8_t>(bytes >> 8), static_cast<std::uint8_t>(bytes), 'I', 'D', 'A', 'T'};
    chunk.resize(chunk.size() + bytes + 4, 0xFF);
    png.insert(at + 4 + static_cast<std::ptrdiff_t>(length) + 4, chunk.begin(), chunk.end());
    return png;
}

// The JPEG's scan followed by `pairs` restart markers before its end: counted as the scan's bytes,
// they let a header claim a size the scan could hold; libjpeg meets the first where it wants more
// data.
NSData withRestartMarkers(NSData jpeg, std::size_t pairs) {
    NSData out(jpeg.begin(), jpeg.end() - 2);
    for (std::size_t i = 0; i < pairs; ++i) out.insert(out.end(), {0xFF, 0xD0});
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// The process's peak resident size since the last reset, in bytes.
std::int64_t peakResident() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    return -1;
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

// A picture cut short does not pass for a whole one, whole or reduced, however much of it came and
// whether its bytes or a marker end it. The JPEG that had the decoder read memory it never wrote
// (ui_image_memcheck runs it under valgrind) is refused from its header: its scan is too short
// for its blocks.
TEST(ImageDecoding, PicturesCutShortAndACorruptOneAreImagesThatDoNotDecode) {
    const NSData progressive = libjpegPicture(800, 400, JCS_RGB, {255, 0, 0}, {0, 0, 255}, JCS_YCbCr, true);
    const NSData whole[] = {jpeg(800, 400), progressive, png(800, 400)};
    std::vector<NSData> cut;
    for (const auto& data : whole) {
        cut.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() * 2 / 3));
        cut.emplace_back(data.begin(), data.end() - (data[0] == 0x89 ? 12 : 2));  // no end marker or chunk
        // A scan cut short by a marker: the end of the image right after two thirds of the bytes.
        if (data[0] == 0xFF) {
            cut.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() * 2 / 3));
            cut.back().insert(cut.back().end(), {0xFF, 0xD9});
        }
    }
    for (std::size_t i = 0; i < cut.size(); ++i) {
        auto image = UIImage::imageWithData(cut[i]);
        ASSERT_TRUE(image) << i;
        EXPECT_FALSE(image->decodes()) << i;
        auto reduced = UIImage::reducedImageWithData(cut[i], 60);
        ASSERT_TRUE(reduced) << i;
        EXPECT_FALSE(reduced->decodes()) << i;
        EXPECT_EQ(reduced->rgbaPixels(), std::vector<std::uint8_t>(reduced->rgbaPixels().size(), 0)) << i;
    }
    std::ifstream in(std::string(OSTREL_UI_TEST_DATA) + "/picture-uninitialised-read.jpg", std::ios::binary);
    const NSData corrupt{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(corrupt.size(), 619u);
    EXPECT_FALSE(UIImage::imageWithData(corrupt));
    EXPECT_FALSE(UIImage::reducedImageWithData(corrupt, 60));
}

namespace {
// A w x h PNG of random pixels, which deflate cannot shrink: 4 bytes a pixel and more.
NSData grainyPNG(int w, int h) {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * h * 4);
    std::uint32_t state = 0x9E3779B9u;
    for (auto& byte : px) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    NSData out;
    stbi_write_png_to_func(collect, &out, w, h, 4, px.data(), w * 4);
    return out;
}
}  // namespace

// A picture from a large file holds none of its bytes until its pixels are needed: they are read
// from the file again then. A file gone meanwhile, or holding another picture's size, gives a
// picture that does not decode, and the log names the file.
TEST(ImageDecoding, APictureFromAFileReadsItsBytesAgainWhenItIsDecoded) {
    const auto folder = std::filesystem::path(Sandbox::home()) / "Reread";
    const auto path = folder / "painting.png";
    writeFile(path, grainyPNG(320, 160));
    ASSERT_GT(std::filesystem::file_size(path), 200'000u);
    auto image = UIImage::imageWithContentsOfFile(path.string());
    auto reduced = UIImage::reducedImageWithContentsOfFile(path.string(), 20);
    ASSERT_TRUE(image && reduced);
    // The same size, other pixels: what is drawn is what the file holds then.
    writeFile(path, libpngPicture(320, 160, PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, {0}, {255}));
    const std::array<int, 4> black{0, 0, 0, 255}, white{255, 255, 255, 255};
    EXPECT_TRUE(hasHalves(image, black, white, 0));
    EXPECT_TRUE(hasHalves(reduced, black, white, 0));

    writeFile(path, grainyPNG(320, 160));
    auto gone = UIImage::imageWithContentsOfFile(path.string());
    auto resized = UIImage::reducedImageWithContentsOfFile(path.string(), 20);
    ASSERT_TRUE(gone && resized);
    testing::internal::CaptureStderr();
    std::filesystem::remove(path);
    EXPECT_FALSE(gone->decodes());
    writeFile(path, png(160, 320));
    EXPECT_FALSE(resized->decodes());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("The picture " + path.string() + " does not decode past its header"), std::string::npos) << log;
}

// A picture from a file of a thumbnail's length keeps the bytes its header was read from, so that
// the file is opened and read once: decoding it does not open the file again, as a large one's does.
TEST(ImageDecoding, APictureFromASmallFileIsOpenedAndReadOnce) {
    const auto folder = std::filesystem::path(Sandbox::home()) / "ReadOnce";
    writeFile(folder / "thumb.jpg", jpeg(80, 60));
    writeFile(folder / "painting.png", grainyPNG(320, 160));
    auto thumb = UIImage::reducedImageWithContentsOfFile((folder / "thumb.jpg").string(), 160);
    auto whole = UIImage::imageWithContentsOfFile((folder / "thumb.jpg").string());
    auto painting = UIImage::reducedImageWithContentsOfFile((folder / "painting.png").string(), 160);
    ASSERT_TRUE(thumb && whole && painting);
    FaultInjection faults;
    faults->ioError(FaultyFileIO::Operation::Open, (folder / "*").string());
    EXPECT_TRUE(hasHalves(thumb, {255, 0, 0, 255}, {0, 0, 255, 255}, 12));
    EXPECT_TRUE(whole->decodes());
    EXPECT_EQ(faults->injected(), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(painting->decodes());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(faults->injected(), 1);
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
    auto largest = UIImage::imageWithData(libpngPicture(8000, 6000, PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, {1}, {1}));
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

    // JPEG is decoded at a reduced scale, then reduced; PNG reduced as its rows come.
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
    // A JPEG of 8000 x 6000 taken reduced never needs 192 MB of pixels.
    const NSData large = withRestartMarkers(claimingPixelSize(jpeg(16, 16), 8000, 6000), 600'000);
    auto thumb = UIImage::reducedImageWithData(large, 240);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixelWidth(), 240);
    EXPECT_EQ(thumb->pixelHeight(), 180);
    EXPECT_EQ(thumb->rgbaPixels().size(), 240u * 180 * 4);

    // A PNG is reduced row by row as it is read, so its size under the cap is all it needs.
    const auto grey = [](int w) { return libpngPicture(w, w, PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, {1}, {1}); };
    auto reduced = UIImage::reducedImageWithData(grey(2049), 240);
    ASSERT_TRUE(reduced);
    EXPECT_EQ(reduced->pixelWidth(), 240);
    ASSERT_TRUE(reduced->decodes());
    EXPECT_EQ(reduced->rgbaPixels()[0], 255);
    // Shown at full size it is still a picture under the cap.
    EXPECT_TRUE(UIImage::imageWithData(grey(2049)));

    // Bytes that end after the frame header hold no scan: refused, as any claim they cannot hold.
    NSData cut = jpeg(800, 400);
    for (std::size_t at = 2; at + 3 < cut.size() && cut[at] == 0xFF;) {
        const std::size_t next = at + 2 + (static_cast<std::size_t>(cut[at + 2]) << 8 | cut[at + 3]);
        if (cut[at + 1] == 0xC0) {
            cut.resize(next);
            break;
        }
        at = next;
    }
    EXPECT_FALSE(UIImage::reducedImageWithData(cut, 100));
    EXPECT_FALSE(UIImage::imageWithData(cut));
}

namespace {
// A w x h PNG of halves, red and blue, in RGB, its rows written as they are made.
NSData halvesPNG(int w, int h) {
    return libpngWritten([&](png_structp png, png_infop info) {
        png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        const auto row = halvesRow(w, {255, 0, 0}, {0, 0, 255});
        for (int y = 0; y < h; ++y) png_write_row(png, row.data());
    });
}

// A w x h progressive JPEG of halves with every component at full resolution (4:4:4), as a
// camera's finest setting writes: its coefficients take 6 bytes a pixel until its last scan.
NSData fineProgressiveJPEG(int w, int h) {
    const auto row = halvesRow(w, {255, 0, 0}, {0, 0, 255});
    return libjpegEncoded(
        w, h, 3, JCS_RGB,
        finestCameraSetting,
        [&](int, std::vector<std::uint8_t>& out) { out = row; });
}

// How much the peak resident size grew while `work` ran.
std::int64_t peakGrowth(const std::function<void()>& work) {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    if (!reset) return -1;
    const std::int64_t start = peakResident();
    work();
    return peakResident() - start;
}
}  // namespace

// A picture far larger than it is shown is reduced as its rows are read, however large it is
// under the cap: a PNG holds a few rows and the sums of the reduced picture, a progressive JPEG
// its coefficients (which its scans need until the last) and nothing the size of its pixels.
// Shown whole, a progressive picture's coefficients are let go before its pixels are made.
TEST(ReducedImages, LargePicturesAreReducedAsTheyAreReadInTheMemoryTheirReadingNeeds) {
    const int w = 4000, h = 3000;
    constexpr std::int64_t kPixels = 4000LL * 3000 * 4, kCoefficients = 4000LL * 3000 * 6;
    const std::array<int, 4> red{255, 0, 0, 255}, blue{0, 0, 255, 255};
    const struct {
        const char* kind;
        NSData data;
        std::int64_t most;
    } pictures[] = {
        // Whole, 48 MB of pixels; reduced, a few rows and the small picture's sums.
        {"png", halvesPNG(w, h), 8 << 20},
        // Whole, 72 MB of coefficients and 48 MB of pixels at once.
        {"progressive jpeg", fineProgressiveJPEG(w, h), kCoefficients + (12 << 20)},
    };
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.kind);
        auto image = UIImage::reducedImageWithData(picture.data, 256);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixelWidth(), 256);
        EXPECT_EQ(image->pixelHeight(), 192);
        const std::int64_t growth = peakGrowth([&] { EXPECT_TRUE(image->decodes()); });
        // The sanitizers' shadow of the coefficients libjpeg clears is a multiple of them.
        if (!kSanitizedBuild || std::string_view(picture.kind) == "png") {
            EXPECT_LT(growth, picture.most);
        }
        EXPECT_TRUE(hasHalves(image, red, blue, 12));
    }

    auto whole = UIImage::imageWithData(pictures[1].data);
    ASSERT_TRUE(whole);
    const std::int64_t growth = peakGrowth([&] { EXPECT_TRUE(whole->decodes()); });
    EXPECT_TRUE(hasHalves(whole, red, blue, 12));
    // The sanitizers' allocators keep what is freed for a while, so the two would add up.
    if (!kSanitizedBuild) {
        EXPECT_LT(growth, kCoefficients + kPixels / 2);
    }
    // Rewritten as one scan, a picture of four components comes out in its own colours.
    const std::vector<std::uint8_t> cmykRed{255, 0, 0, 255}, cmykBlue{0, 0, 255, 255};
    auto ycck = UIImage::imageWithData(libjpegPicture(w, h, JCS_CMYK, cmykRed, cmykBlue, JCS_YCCK, true));
    EXPECT_TRUE(hasHalves(ycck, red, blue, 12));
}

namespace {
// Dates the file's last change an hour back, as a file written before this run would be.
void writtenEarlier(const std::filesystem::path& path) {
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

// The pixels libjpeg gives decoding the bytes straight, as RGBA.
std::vector<std::uint8_t> libjpegDecoded(const NSData& data, unsigned eighths = 8) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.scale_num = eighths;
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 4;
    std::vector<std::uint8_t> pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}
}  // namespace

// A sound progressive photograph of three colours at full resolution near the decode bound is
// shown whole: its scans are rewritten as one into all the room the bound leaves beside its
// coefficients (no rows are decoded meanwhile), with tables made for it where that room is
// short of what the standard tables' scan would take, as for a camera's 6928 x 6928 picture at
// quality 90 under the cap. What it holds at once stays within the bound, its pixels aside; a
// bound that leaves less room than its scans take refuses it whole from its header, saying so and
// decoding nothing, while it still decodes reduced. Here at a twentieth of the cap's pixels, under
// a bound lowered alike.
TEST(ImageDecoding, APhotographNearTheDecodeBoundIsShownWholeWithinIt) {
    const int side = 2400;
    const NSData photograph = grainyProgressiveJPEG(side, side);
    constexpr std::uint64_t kCoefficients = 2400ull * 2400 * 6;
    // Its coefficients, the decoders' rows (a twentieth of the bound), and `beside`.
    auto boundLeaving = [&](std::uint64_t beside) { return (kCoefficients + beside) * 20 / 19; };
    {
        const std::uint64_t bound = boundLeaving(photograph.size() * 9 / 10);
        ui_detail::ScopedDecodingBound lowered(bound);
        auto whole = UIImage::imageWithData(photograph);
        ASSERT_TRUE(whole);
        const std::int64_t growth = peakGrowth([&] { EXPECT_TRUE(whole->decodes()); });
        if (!kSanitizedBuild) {
            EXPECT_LT(growth, static_cast<std::int64_t>(bound));
        }
        EXPECT_EQ(whole->rgbaPixels(), libjpegDecoded(photograph));
    }
    ui_detail::ScopedDecodingBound lowered(boundLeaving(photograph.size() / 4));
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(UIImage::imageWithData(photograph));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, testing::HasSubstr("The picture from memory needs "));
    EXPECT_THAT(log, testing::HasSubstr("bytes of memory to decode, more than the"));
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    const auto path = std::filesystem::path(Sandbox::home()) / "photograph.jpg";
    writeFile(path, photograph);
    NSErrorPtr error;
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(path.string(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), UIImageErrorTooCostlyWhole);
    auto reduced = UIImage::reducedImageWithData(photograph, 256);
    ASSERT_TRUE(reduced);
    EXPECT_TRUE(reduced->decodes());
}

// The one scan a photograph is rewritten to for its whole decode comes out a little longer than
// its own scans: under a bound that leaves room for those scans and not for that, its header lets
// the whole decode be tried and the decode fails, saying so. Its file is then refused whole at once,
// as from its header and without decoding anything, while it is unchanged; written again, it is
// tried whole again.
TEST(ImageDecoding, APictureThatMetTheBoundWholeIsRefusedWholeWhileItsFileIsUnchanged) {
    const NSData photograph = grainyProgressiveJPEG(2400, 2400);
    ui_detail::PictureHeader header;
    std::string why;
    ASSERT_EQ(ui_detail::readPictureHeader(photograph, header, why), ui_detail::PictureHeaderVerdict::Taken);
    ASSERT_GT(header.scanBytes, photograph.size() * 99 / 100);
    // Its coefficients, the rewrite's tables and its scans' bytes and a fiftieth: short of the scan
    // libjpeg writes for it, a twentieth longer.
    ui_detail::ScopedDecodingBound lowered(header.coefficientBytes + (1 << 20) + header.scanBytes * 51 / 50);
    const auto path = std::filesystem::path(Sandbox::home()) / "MetTheBound" / "photograph.jpg";
    writeFile(path, photograph);
    writtenEarlier(path);

    auto whole = UIImage::imageWithContentsOfFile(path.string());
    ASSERT_TRUE(whole);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(whole->decodes());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, testing::HasSubstr("needs more memory to decode at its full size than the"));

    const std::uint64_t decoded = UIImage::decodedPictureCount();
    NSErrorPtr error;
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(path.string(), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), UIImageErrorTooCostlyWhole);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(path.string()));
    log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, testing::HasSubstr("The picture " + path.string() + " did not decode whole within the memory"));
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    auto reduced = UIImage::largestReducedImageWithContentsOfFile(path.string(), 2400, nullptr);
    ASSERT_TRUE(reduced);
    EXPECT_TRUE(reduced->decodes());

    writeFile(path, photograph);
    writtenEarlier(path);
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(path.string()));
}

// A file refused for what it is, whatever the size asked (bytes of another kind, a picture over the
// pixel cap), is refused again at once while it is unchanged, without being read again: a grid
// reloading its thumbnails does not read a large file again only to refuse it. Put in another's
// place, it is read again; a file refused at one size only (a reduction's sums past the bound on a
// decode's memory) is read at another.
TEST(ImageDecoding, AFileRefusedForWhatItIsIsNotReadAgainWhileItIsUnchanged) {
    const auto folder = std::filesystem::path(Sandbox::home()) / "Refused";
    const std::string over = (folder / "over.png").string(), page = (folder / "page.png").string();
    writeFile(over, claimingPixelSize(png(8, 8), 8200, 6000));
    const std::string html = "<html><body>Sign in</body></html>";
    writeFile(page, NSData(html.begin(), html.end()));
    writtenEarlier(over);
    writtenEarlier(page);
    testing::internal::CaptureStderr();
    for (const auto& [path, code] : {std::pair{over, UIImageErrorOverPixelCap}, std::pair{page, UIImageErrorNotAPicture}}) {
        HeldOpen opened(path, std::numeric_limits<int>::max());
        for (int round = 0; round < 3; ++round) {
            NSErrorPtr error;
            EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(path, 60, &error)) << path;
            ASSERT_TRUE(error) << path;
            EXPECT_EQ(error->code(), code) << path;
            error.reset();
            EXPECT_FALSE(UIImage::imageWithContentsOfFile(path, &error)) << path;
            ASSERT_TRUE(error) << path;
            EXPECT_EQ(error->code(), code) << path;
        }
        EXPECT_EQ(opened->opened(), 1) << path;
    }
    writeFile(folder / "picture.png", png(8, 8));
    writtenEarlier(folder / "picture.png");
    std::filesystem::rename(folder / "picture.png", over);
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(over));

    const auto wide = folder / "wide.png";
    writeFile(wide, libpngPicture(1200, 800, PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, {0}, {255}));
    writtenEarlier(wide);
    // Its 400 x 267 sums take 1.7 MB, more than this bound leaves; 100 x 67 fits.
    ui_detail::ScopedDecodingBound lowest(1 << 20);
    EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(wide.string(), 400));
    auto smaller = UIImage::reducedImageWithContentsOfFile(wide.string(), 100);
    ASSERT_TRUE(smaller);
    EXPECT_TRUE(smaller->decodes());
    testing::internal::GetCapturedStderr();
}

// A decode that needs so much memory that it waits its turn behind any other runs on the queue
// apart it is given while the queue that asked waits: held at its reading of the file, a settle of
// the clock goes on beside it, a wait until idle does not, and the work left names the queue apart.
// Cancelled, it stops at its first poll: the asker hears that it did not decode, nothing is said,
// counted or remembered of the picture or its file, and it decodes whole when next asked.
TEST(ImageDecoding, ALargeDecodeRunsApartBesideASettleAndACancelledOneLeavesNoTrace) {
    const auto path = std::filesystem::path(Sandbox::home()) / "Apart" / "photograph.jpg";
    writeFile(path, grainyProgressiveJPEG(2400, 2400));
    // Its coefficients alone are more than a large decode's.
    auto picture = UIImage::reducedImageWithContentsOfFile(path.string(), 256);
    ASSERT_TRUE(picture);
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    auto apart = DispatchQueue::createApart("ImageDecodingTest.apart");
    auto queue = DispatchQueue::create("ImageDecodingTest.asker");
    const auto ask = [&](const std::shared_ptr<DispatchCancellation>& cancellation) {
        auto answer = std::make_shared<std::promise<bool>>();
        queue->async([picture, apart, cancellation, answer] { answer->set_value(picture->decodesApart(apart, cancellation)); });
        return answer->get_future();
    };
    testing::internal::CaptureStderr();
    {
        // The next opening of the file, the decode's own reading of it.
        HeldOpen held(path.string(), 1);
        auto cancellation = DispatchCancellation::make();
        auto answered = ask(cancellation);
        ASSERT_TRUE(held->waitUntilHeld(20));
        struct ManualClock {
            ManualClock() { Clock::setManual(1'000'000); }
            ~ManualClock() { Clock::setReal(); }
        } manual;
        // A settle that waited for the decode would give up after this, and say so.
        dispatch_detail::ScopedSettleLimits limits(std::chrono::seconds(2), std::chrono::seconds(4));
        Clock::advance(1);
        EXPECT_FALSE(DispatchQuiescence::waitUntilIdle(0));
        bool named = false;
        for (const auto& work : DispatchQuiescence::outstandingWork()) named |= work.where == "queue \"ImageDecodingTest.apart\"";
        EXPECT_TRUE(named);
        EXPECT_EQ(answered.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

        cancellation->cancel();
        held->release();
        ASSERT_EQ(answered.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_FALSE(answered.get());
        EXPECT_TRUE(DispatchQuiescence::waitUntilIdle(20));
    }
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    auto answered = ask(DispatchCancellation::make());
    ASSERT_EQ(answered.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(answered.get());
    EXPECT_EQ(picture->pixelWidth(), 256);
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 1);
    // Taken whole and cancelled before it begins: neither the picture nor its file is taken for one
    // that does not decode.
    auto whole = UIImage::imageWithContentsOfFile(path.string());
    ASSERT_TRUE(whole);
    auto cancelled = DispatchCancellation::make();
    cancelled->cancel();
    EXPECT_FALSE(whole->decodesApart(apart, cancelled));
    NSErrorPtr error;
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(path.string(), &error));
    EXPECT_FALSE(error);
    EXPECT_TRUE(whole->decodes());
    EXPECT_EQ(whole->pixelWidth(), 2400);
    EXPECT_TRUE(DispatchQuiescence::waitUntilIdle(20));
}

// Asked for at the largest size up to a side that the decode bound allows, a picture too costly to
// decode at that side comes at the largest of libjpeg's own scales below it, which holds no sums
// of a reduction beside the coefficients: its pixels libjpeg's own at that scale, its points kept.
// Within the bound at the side asked for, it comes at that side; a PNG, with no such scales, is
// refused as before. Here at a twentieth of the cap's pixels, under a bound lowered alike.
TEST(ReducedImages, APictureTooCostlyAtTheSideAskedForComesAtTheLargestOfLibjpegsScalesBelowIt) {
    const auto folder = std::filesystem::path(Sandbox::home()) / "Largest";
    const NSData photograph = grainyProgressiveJPEG(2400, 1600);
    writeFile(folder / "photograph.jpg", photograph);
    writeFile(folder / "flat.png", libpngPicture(1200, 800, PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE, {0}, {255}));
    const std::string jpegPath = (folder / "photograph.jpg").string(), pngPath = (folder / "flat.png").string();
    // Its coefficients, the decoders' rows (a twentieth of the bound) and 2 MB: no room for the
    // 10.7 MB of sums that reducing it to 1000 x 667 takes.
    constexpr std::uint64_t kCoefficients = 2400ull * 1600 * 6;
    ui_detail::ScopedDecodingBound lowered((kCoefficients + (2 << 20)) * 20 / 19);
    NSErrorPtr error;
    EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(jpegPath, 1000, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), UIImageErrorRefused);

    error.reset();
    auto largest = UIImage::largestReducedImageWithContentsOfFile(jpegPath, 1000, &error);
    ASSERT_TRUE(largest);
    EXPECT_FALSE(error);
    // 3/8 of its sides.
    EXPECT_EQ(largest->pixelWidth(), 900);
    EXPECT_EQ(largest->pixelHeight(), 600);
    EXPECT_EQ(largest->size(), CGSizeMake(2400, 1600));
    ASSERT_TRUE(largest->decodes());
    EXPECT_EQ(largest->rgbaPixels(), libjpegDecoded(photograph, 3));

    // Reduced from its 1/8 scale, in sums of 0.7 MB.
    auto asked = UIImage::largestReducedImageWithContentsOfFile(jpegPath, 250, nullptr);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->pixelWidth(), 250);
    EXPECT_EQ(asked->pixelHeight(), 167);
    EXPECT_TRUE(asked->decodes());

    // Its 400 x 267 sums take 1.7 MB, more than a bound of 1 MB leaves.
    ui_detail::ScopedDecodingBound lowest(1 << 20);
    ASSERT_TRUE(UIImage::reducedImageWithContentsOfFile(pngPath, 100));
    error.reset();
    EXPECT_FALSE(UIImage::largestReducedImageWithContentsOfFile(pngPath, 400, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), UIImageErrorRefused);
}

// A picture taken much smaller than it is is kept once decoded: taken again from the same file at
// the same size it is not decoded again, until the file changes, whether a download puts another
// file in its place or it is written over where it is. A picture taken at about its own size is
// decoded each time, and what is kept stays within a bound, the pictures used longest ago going.
TEST(ReducedImages, ACostlyReducedPictureIsDecodedOnceUntilItsFileChanges) {
    const auto folder = std::filesystem::path(Sandbox::home()) / "Kept";
    const auto path = folder / "painting.png";
    const std::array<int, 4> red{255, 0, 0, 255}, blue{0, 0, 255, 255};
    writeFile(path, halvesPNG(1024, 512));
    writtenEarlier(path);
    EXPECT_TRUE(hasHalves(UIImage::reducedImageWithContentsOfFile(path.string(), 64), red, blue, 0));
    auto decoded = UIImage::decodedPictureCount();
    auto again = UIImage::reducedImageWithContentsOfFile(path.string(), 64);
    EXPECT_TRUE(hasHalves(again, red, blue, 0));
    EXPECT_EQ(again->name(), path.string());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    EXPECT_TRUE(UIImage::reducedImageWithContentsOfFile(path.string(), 32)->decodes());
    EXPECT_EQ(UIImage::decodedPictureCount(), ++decoded);

    // Put in its place as a download is, then written over in place just now.
    const NSData swapped = libpngPicture(1024, 512, PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE, {0, 0, 255}, {255, 0, 0});
    writeFile(folder / "download.tmp", swapped);
    writtenEarlier(folder / "download.tmp");
    std::filesystem::rename(folder / "download.tmp", path);
    EXPECT_TRUE(hasHalves(UIImage::reducedImageWithContentsOfFile(path.string(), 64), blue, red, 0));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(halvesPNG(1024, 512).data()),
                                                                   static_cast<std::streamsize>(halvesPNG(1024, 512).size()));
    EXPECT_TRUE(hasHalves(UIImage::reducedImageWithContentsOfFile(path.string(), 64), red, blue, 0));

    writeFile(folder / "thumb.jpg", jpeg(80, 60));
    writtenEarlier(folder / "thumb.jpg");
    decoded = UIImage::decodedPictureCount();
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(UIImage::reducedImageWithContentsOfFile((folder / "thumb.jpg").string(), 160)->decodes());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 2);

    // Each size is kept apart: one more than the bound holds pushes the first out.
    const auto large = folder / "large.png";
    writeFile(large, flatPNG(2048, 2048));
    writtenEarlier(large);
    const int most = static_cast<int>(ui_detail::ReducedPictureCache::kCapacity / (700 * 700 * 4)) + 1;
    for (int size = 700; size > 700 - most; --size)
        ASSERT_TRUE(UIImage::reducedImageWithContentsOfFile(large.string(), size)->decodes());
    decoded = UIImage::decodedPictureCount();
    EXPECT_TRUE(UIImage::reducedImageWithContentsOfFile(large.string(), 701 - most)->decodes());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    EXPECT_TRUE(UIImage::reducedImageWithContentsOfFile(large.string(), 700)->decodes());
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 1);
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

// A few bytes whose header claims a large picture are refused from the header, before any pixel
// is made, and say why; the flattest pictures deflate and Huffman coding make, at their bounds,
// are still taken. Arithmetic coding bounds nothing, so its pictures have a smaller cap.
TEST(ImageDecoding, AHeaderClaimingMorePixelsThanItsBytesCanHoldIsRefused) {
    using testing::HasSubstr;
    const NSData progressive = libjpegPicture(64, 64, JCS_RGB, {255, 0, 0}, {0, 0, 255}, JCS_YCbCr, true);
    const NSData hostile[] = {claimingPixelSize(png(8, 8), 6928, 6928), claimingPixelSize(progressive, 6928, 6928),
                              claimingPixelSize(jpeg(64, 64), 6900, 6900)};
    const auto folder = std::filesystem::path(Sandbox::home()) / "Hostile";
    const auto before = UIImage::decodedPictureCount();
    for (std::size_t i = 0; i < std::size(hostile); ++i) {
        ASSERT_LT(hostile[i].size(), 2048u) << i;
        EXPECT_FALSE(UIImage::imageWithData(hostile[i])) << i;
        EXPECT_FALSE(UIImage::reducedImageWithData(hostile[i], 240)) << i;
        const std::string path = (folder / ("picture" + std::to_string(i))).string();
        writeFile(path, hostile[i]);
        NSErrorPtr error;
        EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(path, 240, &error)) << i;
        ASSERT_TRUE(error) << i;
        EXPECT_EQ(error->domain(), UIImageErrorDomain);
        EXPECT_EQ(error->code(), UIImageErrorRefused);
        EXPECT_THAT(error->localizedDescription(),
                    HasSubstr("pixels, more than its " + std::to_string(hostile[i].size()) + " bytes can hold"));
    }
    EXPECT_EQ(UIImage::decodedPictureCount(), before);

    const NSData flattest[] = {flatPNG(2048, 2048), flatJPEG(2048, 2048, false, false), flatJPEG(2048, 2048, true, false),
                               flatJPEG(2048, 2048, false, true)};
    for (std::size_t i = 0; i < std::size(flattest); ++i) {
        auto image = UIImage::imageWithData(flattest[i]);
        ASSERT_TRUE(image) << i;
        EXPECT_TRUE(image->decodes()) << i;
        EXPECT_EQ(image->rgbaPixels()[4 * 2048 * 2048 - 3], 128) << i;
    }
    NSErrorPtr error;
    const auto path = (folder / "arithmetic.jpg").string();
    writeFile(path, flatJPEG(2049, 2048, false, true));
    EXPECT_FALSE(UIImage::imageWithContentsOfFile(path, &error));
    ASSERT_TRUE(error);
    EXPECT_THAT(error->localizedDescription(), HasSubstr("more than the 4194304 an arithmetic-coded picture may have"));
}

// A body that fails after its header has cost only the rows it reached: the pixels are not
// filled before they are read. Each claim is one its bytes could hold.
TEST(ImageDecoding, ABodyThatFailsEarlyTouchesOnlyWhatItsRowsReached) {
    const NSData pictures[] = {withRestartMarkers(claimingPixelSize(jpeg(16, 16), 6000, 6000), 220'000),
                               withFailingImageData(claimingPixelSize(png(8, 8), 6000, 6000), 150'000)};
    for (std::size_t i = 0; i < std::size(pictures); ++i) {
        auto image = UIImage::imageWithData(pictures[i]);
        ASSERT_TRUE(image) << i;
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5" << std::flush;
        ASSERT_TRUE(reset) << "the peak resident size cannot be reset";
        const std::int64_t start = peakResident();
        EXPECT_FALSE(image->decodes()) << i;
        // Filled first, the 6000 x 6000 pixels would be 144 MB. A sanitizer's shadow of what the
        // decoder touches counts too, three times over under ThreadSanitizer.
        if (!kSanitizedBuild) {
            EXPECT_LT(peakResident() - start, 24 << 20) << i;
        }
    }
}

// A picture whose decoding would take more working memory than a picture may, however small it is
// shown, is refused from its header and says so: a progressive JPEG of four colours near the pixel
// cap, whose coefficients alone take 8 bytes a pixel though its bytes give a block one bit, and a
// picture reduced to nearly its own size, by the sums of its reduction. The largest picture of
// three colours is still taken, and a small picture of the four-colour kind decodes.
TEST(ImageDecoding, APictureNeedingMoreMemoryToDecodeThanAPictureMayTakeIsRefusedFromItsHeader) {
    using testing::HasSubstr;
    const auto folder = std::filesystem::path(Sandbox::home()) / "Costly";
    for (const bool ycck : {false, true}) {
        const NSData fourColours = dcOnlyProgressiveJPEG(6928, 6928, 4, ycck);
        ASSERT_LT(fourColours.size(), 380'000u);
        EXPECT_FALSE(UIImage::imageWithData(fourColours)) << ycck;
        EXPECT_FALSE(UIImage::reducedImageWithData(fourColours, 240)) << ycck;
        const auto path = folder / (ycck ? "ycck.jpg" : "cmyk.jpg");
        writeFile(path, fourColours);
        NSErrorPtr error;
        EXPECT_FALSE(UIImage::reducedImageWithContentsOfFile(path.string(), 240, &error)) << ycck;
        ASSERT_TRUE(error) << ycck;
        EXPECT_EQ(error->code(), UIImageErrorRefused);
        EXPECT_THAT(error->localizedDescription(),
                    HasSubstr("needs 400758168 bytes of memory to decode, more than the 335544320 a picture may take"));
    }
    EXPECT_TRUE(UIImage::imageWithData(dcOnlyProgressiveJPEG(8000, 6000, 3)));
    EXPECT_TRUE(UIImage::reducedImageWithData(dcOnlyProgressiveJPEG(6000, 6000, 4), 240));
    EXPECT_TRUE(UIImage::reducedImageWithData(dcOnlyProgressiveJPEG(64, 64, 4, true), 16)->decodes());

    const NSData large = withFailingImageData(claimingPixelSize(png(8, 8), 8000, 6000), 190'000);
    EXPECT_TRUE(UIImage::reducedImageWithData(large, 240));
    EXPECT_FALSE(UIImage::reducedImageWithData(large, 7999));
}

namespace {
// Blocks on the pool's background queue that each wait until all `count` run at once, so that as
// many workers are started; true once they have all run.
bool holdPoolWorkersAtOnce(int count) {
    auto arrived = DispatchSemaphore::create(0);
    auto go = DispatchSemaphore::create(0);
    for (int i = 0; i < count; ++i) {
        DispatchQueue::globalQueue(DispatchQueue::Priority::Background)->async([arrived, go] {
            arrived->signal();
            (void)go->wait();
        });
    }
    bool all = true;
    for (int i = 0; i < count; ++i) all = arrived->wait(Clock::now() + 20) && all;
    for (int i = 0; i < count; ++i) go->signal();
    return all;
}

// Sound pictures of 8000 x 6000 (192 MB of pixels each) decoded in an address space that ends
// 24 MB on, so that even the stacks of threads that end meanwhile make no room for them; says on
// standard error whether each decoded and what it left allocated. How many did not fail cleanly.
int decodeWithoutRoomForPixels() {
    // A large decode also starts, once, what hands freed memory back after it (a queue, a thread),
    // which stays with the process: started before anything is counted or bounded.
    const auto started =
        UIImage::imageWithData(libpngPicture(4000, 3000, PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, {1}, {1}));
    if (!started || !started->decodes() || !DispatchQuiescence::waitUntilIdle(20)) return -1;
    // The count below is the whole process's heap. A relief asked for while the last still runs
    // would have the pool start a thread for it, whose heap the count would take for the
    // decoder's: the pool is given a second worker now, and each count begins with both idle.
    if (!holdPoolWorkersAtOnce(2) || !DispatchQuiescence::waitUntilIdle(20)) return -1;
    const NSData pictures[] = {libjpegPicture(8000, 6000, JCS_RGB, {90, 90, 90}, {90, 90, 90}, JCS_YCbCr, false),
                               libpngPicture(8000, 6000, PNG_COLOR_TYPE_GRAY, 1, PNG_INTERLACE_NONE, {1}, {1})};
    std::int64_t size = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) size = std::stoll(line.substr(7)) * 1024;
    const rlimit limit{static_cast<rlim_t>(size + (24 << 20)), RLIM_INFINITY};
    if (size == 0 || setrlimit(RLIMIT_AS, &limit) != 0) return -1;
    int failures = 0;
    for (const auto& data : pictures) {
        auto image = UIImage::imageWithData(data);
        if (!DispatchQuiescence::waitUntilIdle(20)) return -1;
        const struct mallinfo2 before = mallinfo2();
        const bool decodes = image && image->decodes();
        const struct mallinfo2 after = mallinfo2();
        // The image lets its bytes go once it has decoded, or failed to.
        const auto held = static_cast<long long>(after.uordblks + after.hblkhd) -
                          static_cast<long long>(before.uordblks + before.hblkhd) + static_cast<long long>(data.size());
        std::fprintf(stderr, "%s, %lld bytes more held\n", decodes ? "decodes" : "does not decode", held);
        if (!image || decodes || held > 4096) ++failures;
    }
    return failures;
}
}  // namespace

// With no memory for its pixels, a picture is one that does not decode, and the decoder's
// structures are freed on the way out: in a child whose address space ends short of the pixels.
// The sanitizers' allocators end the process there rather than throw std::bad_alloc.
TEST(ImageDecoding, APictureWithNoMemoryForItsPixelsDoesNotDecodeAndItsDecoderIsFreed) {
    if (kSanitizedBuild) GTEST_SKIP() << "the sanitizers' allocators stop the process where memory runs out";
    EXPECT_EXIT(std::exit(decodeWithoutRoomForPixels()), testing::ExitedWithCode(0),
                "needs more memory than there is to decode(.|\\n)*needs more memory than there is to decode");
}
