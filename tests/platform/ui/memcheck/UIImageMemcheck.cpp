// Decodes every file of the folders given as a picture, whole and reduced, and reads each pixel,
// for valgrind's memcheck to watch (the ui_image_memcheck test): a decoder that branches on
// memory it never wrote, or leaves such memory in the pixels, shows there whatever it makes of
// the picture. Ordinary colour photographs come first, made here with libjpeg's compressor:
// chroma halved both ways and kept whole, baseline and progressive, at widths that fill no whole
// block row. Prints what each picture gave.
#include "platform/ui/UIImage.h"
#include "tests/fixtures/LibjpegPicture.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void decodeAndSum(const std::string& label, const NSData& bytes) {
    for (const int maxSide : {0, 32}) {
        auto image = maxSide ? UIImage::reducedImageWithData(bytes, maxSide) : UIImage::imageWithData(bytes);
        const char* how = maxSide ? " reduced" : "";
        if (!image) {
            std::printf("%s%s: not a picture\n", label.c_str(), how);
            continue;
        }
        const bool decodes = image->decodes();
        // Printing the sum makes memcheck look at every byte of the pixels.
        unsigned long sum = 0;
        for (const std::uint8_t byte : image->rgbaPixels()) sum += byte;
        std::printf("%s%s: %d x %d, %s, pixel sum %lu\n", label.c_str(), how, image->pixelWidth(), image->pixelHeight(),
                    decodes ? "decodes" : "does not decode", sum);
    }
}

// A w x h photograph-like picture (colour gradients crossed by a pattern), chroma sampled
// `chromaSide` to a side of each 2 x 2 luma pixels.
NSData colourJPEG(int w, int h, int chromaSide, bool progressive) {
    return libjpegEncoded(
        w, h, 3, JCS_RGB,
        [&](jpeg_compress_struct& info) {
            jpeg_set_quality(&info, 85, TRUE);
            info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = chromaSide == 1 ? 2 : 1;
            if (progressive) jpeg_simple_progression(&info);
        },
        [&](int y, std::vector<std::uint8_t>& row) {
            for (int x = 0; x < w; ++x) {
                row[x * 3] = static_cast<std::uint8_t>(x * 255 / w);
                row[x * 3 + 1] = static_cast<std::uint8_t>(y * 255 / h);
                row[x * 3 + 2] = static_cast<std::uint8_t>(((x / 7) ^ (y / 5)) * 29);
            }
        });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
        return 2;
    }
    // libjpeg-turbo's SIMD code works a vector of samples at a time, past a row's last sample into
    // its padding, and memcheck follows its lane-mixing steps only roughly: at the reduced scales
    // (1/8 to 3/8) it marks the green byte of a row's last pixel or two undefined. Those pixels
    // are the same whatever the padding holds (run with --malloc-fill=0x00 and 0xff) and the same
    // without SIMD, over 660 pictures of every width, sampling and scale, so the read is not a
    // real one; and no suppression could tell it from one, as memcheck reports it where the pixels
    // are used, here. So libjpeg runs its plain C code, which memcheck follows exactly.
    setenv("JSIMD_FORCENONE", "1", 1);
    const struct {
        int w, h, chromaSide;
        bool progressive;
    } photographs[] = {{400, 300, 1, false}, {400, 300, 2, false}, {97, 61, 1, false}, {97, 61, 2, false},
                       {250, 123, 1, true},  {250, 123, 2, true},  {33, 17, 1, false}};
    for (const auto& p : photographs)
        decodeAndSum(std::to_string(p.w) + "x" + std::to_string(p.h) + (p.chromaSide == 1 ? " 4:2:0" : " 4:4:4") +
                         (p.progressive ? " progressive" : " baseline"),
                     colourJPEG(p.w, p.h, p.chromaSide, p.progressive));
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file()) paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            std::ifstream in(path, std::ios::binary);
            ++files;
            decodeAndSum(path.filename().string(),
                         NSData{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
        }
    }
    if (files == 0) {
        std::fprintf(stderr, "No files in the folders given.\n");
        return 1;
    }
    return 0;
}
