// LargePictures OUT_DIR: writes the sound pictures of the largest sizes a camera or a scan
// gives, for bench/peak-memory to put in place of the demo's pictures:
//   large-6000x6000.png                   a 6000 × 6000 RGB PNG of smooth colour fields (a few MB)
//   large-6000x4000-progressive.jpg       a 6000 × 4000 progressive JPEG (libjpeg's default
//                                         progression, 4:2:0, quality 90) of a scene with grain,
//                                         as a photograph is (about 10 MB)
//   fine-6928x6928-progressive.jpg        a 6928 × 6928 progressive JPEG of every component at
//                                         full resolution (4:4:4), quality 90, of gradients under
//                                         grain that codes as a photograph's (about 41 MB): its
//                                         coefficients take 288 MB until its last scan
//   large-8000x6000.jpg                   an 8000 × 6000 baseline JPEG (4:2:0, quality 90) of the
//                                         same scene: a 48 Mpx camera's photograph, the most pixels
//                                         a picture may have (about 20 MB)
// The rows are made as they are written, so the tool itself never holds a whole picture.
#include "tests/fixtures/LibjpegPicture.h"

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A small deterministic generator, so that every run writes the same bytes.
struct Grain {
    std::uint32_t state = 0x9E3779B9u;
    int next(int spread) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<int>(state % static_cast<std::uint32_t>(2 * spread + 1)) - spread;
    }
};

std::uint8_t clampByte(double value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : std::lround(value));
}

// Row y of a w × h scene: a sky over a field, lit from the left, with a few round shapes.
void sceneRow(int w, int h, int y, std::vector<std::uint8_t>& row, Grain* grain) {
    const double v = static_cast<double>(y) / h;
    for (int x = 0; x < w; ++x) {
        const double u = static_cast<double>(x) / w;
        double r, g, b;
        if (v < 0.45) {
            r = 90 + 120 * v;
            g = 140 + 100 * v;
            b = 230 - 40 * u;
        } else {
            r = 70 + 60 * std::sin(9 * u) * (1 - v);
            g = 120 + 50 * std::cos(7 * u + 3 * v);
            b = 50 + 30 * v;
        }
        for (int k = 0; k < 5; ++k) {
            const double cx = 0.15 + 0.17 * k, cy = 0.55 + 0.08 * ((k * 7) % 3), radius = 0.05 + 0.02 * k;
            const double dx = (u - cx) * w / h, dy = v - cy;
            if (dx * dx + dy * dy < radius * radius) {
                r = 200 - 30 * k;
                g = 60 + 25 * k;
                b = 90 + 20 * k;
            }
        }
        const double light = 1.1 - 0.3 * u;
        const int noise = grain ? grain->next(9) : 0;
        row[static_cast<std::size_t>(x) * 3] = clampByte(r * light + noise);
        row[static_cast<std::size_t>(x) * 3 + 1] = clampByte(g * light + noise);
        row[static_cast<std::size_t>(x) * 3 + 2] = clampByte(b * light + noise);
    }
}

bool writeFile(const std::string& path, const NSData& data) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (!file || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "LargePictures: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// writePNG's work, in a frame of its own that holds nothing libpng's jump could skip the end of.
bool writeRows(png_structp png, png_infop info, std::FILE* file, int w, int h, std::vector<std::uint8_t>& row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        sceneRow(w, h, y, row, nullptr);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    return true;
}

bool writePNG(const std::string& path, int w, int h) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "LargePictures: cannot write %s\n", path.c_str());
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
    bool written = png && info && writeRows(png, info, file, w, h, row);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) written = false;
    if (!written) std::fprintf(stderr, "LargePictures: cannot write %s\n", path.c_str());
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: LargePictures OUT_DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    Grain grain;
    const NSData photograph = libjpegEncoded(
        6000, 4000, 3, JCS_RGB,
        [](jpeg_compress_struct& info) {
            jpeg_set_quality(&info, 90, TRUE);
            jpeg_simple_progression(&info);
        },
        [&](int y, std::vector<std::uint8_t>& row) { sceneRow(6000, 4000, y, row, &grain); });
    const NSData camera = libjpegEncoded(
        8000, 6000, 3, JCS_RGB, [](jpeg_compress_struct& info) { jpeg_set_quality(&info, 90, TRUE); },
        [&](int y, std::vector<std::uint8_t>& row) { sceneRow(8000, 6000, y, row, &grain); });
    const bool written = writePNG(folder + "/large-6000x6000.png", 6000, 6000) &&
                         writeFile(folder + "/large-6000x4000-progressive.jpg", photograph) &&
                         writeFile(folder + "/fine-6928x6928-progressive.jpg", grainyProgressiveJPEG(6928, 6928)) &&
                         writeFile(folder + "/large-8000x6000.jpg", camera);
    return written ? 0 : 1;
}
