// HostilePictures OUT_DIR: writes the three kinds of tiny picture whose header claims a huge
// size, for bench/peak-memory to put in place of the demo's pictures:
//   claims-6928.png              an 8 × 8 PNG (under 100 bytes) whose IHDR claims 6928 × 6928
//   claims-6928-progressive.jpg  a 64 × 64 progressive JPEG (about 700 bytes) claiming 6928 × 6928
//   claims-6900.jpg              a 64 × 64 baseline JPEG (under 1 kB) whose frame claims 6900 × 6900
//   dc-only-cmyk-6928.jpg        a progressive CMYK JPEG of 6928 × 6928 whose bytes hold its first
//                                DC scan alone, at one bit a block (375 kB): no claim its bytes
//                                cannot hold, yet its four colours' coefficients take 384 MB
// The PNG's IHDR checksum is made again for the size it claims, so only the size gives it away.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "tests/fixtures/LibjpegPicture.h"
#include "tests/fixtures/PictureHeaders.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = NSData;

// A w × h picture of 4-byte pixels: red on the left half, blue on the right.
Bytes halves(int w, int h) {
    Bytes px(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = x < w / 2 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
            p[3] = 255;
        }
    return px;
}

void collect(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}

Bytes progressiveJPEG(int w, int h) {
    const Bytes rgba = halves(w, h);
    return libjpegEncoded(
        w, h, 3, JCS_RGB,
        [](jpeg_compress_struct& info) {
            jpeg_set_quality(&info, 95, TRUE);
            jpeg_simple_progression(&info);
        },
        [&](int y, std::vector<std::uint8_t>& row) {
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    row[static_cast<std::size_t>(x) * 3 + c] = rgba[(static_cast<std::size_t>(y) * w + x) * 4 + c];
        });
}

// `data` with the size of its PNG IHDR or JPEG frame header replaced; empty when it has none.
Bytes claiming(const Bytes& data, std::uint32_t width, std::uint32_t height) {
    return withClaimedPixelSize(data, width, height).value_or(Bytes{});
}

bool write(const std::string& path, const Bytes& data) {
    if (data.empty()) {
        std::fprintf(stderr, "HostilePictures: no size field found for %s\n", path.c_str());
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (!file || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "HostilePictures: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: HostilePictures OUT_DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    Bytes png;
    const Bytes small = halves(8, 8);
    stbi_write_png_to_func(collect, &png, 8, 8, 4, small.data(), 8 * 4);
    Bytes jpeg;
    const Bytes scan = halves(64, 64);
    stbi_write_jpg_to_func(collect, &jpeg, 64, 64, 4, scan.data(), 95);
    const bool written = write(folder + "/claims-6928.png", claiming(png, 6928, 6928)) &&
                         write(folder + "/claims-6928-progressive.jpg", claiming(progressiveJPEG(64, 64), 6928, 6928)) &&
                         write(folder + "/claims-6900.jpg", claiming(jpeg, 6900, 6900)) &&
                         write(folder + "/dc-only-cmyk-6928.jpg", dcOnlyProgressiveJPEG(6928, 6928, 4));
    return written ? 0 : 1;
}
