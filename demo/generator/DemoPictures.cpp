// Picture synthesis and encoding through stb_image_write.
#include "demo/generator/DemoPictures.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

// A small, fixed generator: the pictures must not change between runs or machines.
class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t state_;
};

struct Rgb {
    double r, g, b;
};

Rgb fromHue(double hue, double saturation, double value) {
    const double h = std::fmod(hue, 1.0) * 6.0;
    const int sector = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double p = value * (1 - saturation), q = value * (1 - saturation * f), t = value * (1 - saturation * (1 - f));
    switch (sector) {
        case 0: return {value, t, p};
        case 1: return {q, value, p};
        case 2: return {p, value, t};
        case 3: return {p, q, value};
        case 4: return {t, p, value};
        default: return {value, p, q};
    }
}

// Rounds a channel value in [0, 255.5); lround's library call was most of the drawing's cost.
std::uint8_t channel(double value) { return static_cast<std::uint8_t>(value + 0.5); }

void blend(std::uint8_t* px, const Rgb& c, double alpha) {
    px[0] = channel(px[0] * (1 - alpha) + c.r * 255 * alpha);
    px[1] = channel(px[1] * (1 - alpha) + c.g * 255 * alpha);
    px[2] = channel(px[2] * (1 - alpha) + c.b * 255 * alpha);
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

DemoPictures::Image DemoPictures::compose(std::uint32_t seed, int width, int height, double scale) {
    SplitMix random(0x05EEDull * 1000003ull + seed);
    // The shapes are placed in the layout's own pixels; each drawn pixel looks up where it falls
    // in the layout, so every scale draws the same shapes in the same places.
    const int drawnWidth = static_cast<int>(std::lround(width * scale));
    const int drawnHeight = static_cast<int>(std::lround(height * scale));
    Image image{drawnWidth, drawnHeight,
                std::vector<std::uint8_t>(static_cast<std::size_t>(drawnWidth) * drawnHeight * 3)};
    const double baseHue = random.unit();
    const Rgb top = fromHue(baseHue, 0.35 + 0.4 * random.unit(), 0.55 + 0.4 * random.unit());
    const Rgb bottom = fromHue(baseHue + 0.08 + 0.2 * random.unit(), 0.5 + 0.4 * random.unit(), 0.25 + 0.4 * random.unit());
    const double horizon = 0.35 + 0.3 * random.unit();

    // Sky and ground: a vertical gradient broken at a horizon.
    for (int y = 0; y < drawnHeight; ++y) {
        const double v = static_cast<double>(y) / drawnHeight;
        const Rgb& from = v < horizon ? top : bottom;
        const double shade = v < horizon ? 0.75 + 0.25 * (v / horizon) : 1.0 - 0.4 * ((v - horizon) / (1 - horizon));
        for (int x = 0; x < drawnWidth; ++x) {
            std::uint8_t* px = &image.rgb[(static_cast<std::size_t>(y) * drawnWidth + x) * 3];
            px[0] = channel(from.r * shade * 255);
            px[1] = channel(from.g * shade * 255);
            px[2] = channel(from.b * shade * 255);
        }
    }
    // Discs.
    const int discs = 2 + random.below(5);
    for (int i = 0; i < discs; ++i) {
        const Rgb colour = fromHue(baseHue + 0.5 * random.unit(), 0.6 + 0.4 * random.unit(), 0.5 + 0.5 * random.unit());
        const double cx = random.unit() * width, cy = random.unit() * height;
        const double radius = (0.06 + 0.22 * random.unit()) * std::min(width, height);
        const double alpha = 0.45 + 0.5 * random.unit();
        const int x0 = std::max(0, static_cast<int>((cx - radius) * scale));
        const int x1 = std::min(drawnWidth - 1, static_cast<int>((cx + radius) * scale) + 1);
        const int y0 = std::max(0, static_cast<int>((cy - radius) * scale));
        const int y1 = std::min(drawnHeight - 1, static_cast<int>((cy + radius) * scale) + 1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double dx = x / scale - cx, dy = y / scale - cy;
                if (dx * dx + dy * dy <= radius * radius)
                    blend(&image.rgb[(static_cast<std::size_t>(y) * drawnWidth + x) * 3], colour, alpha);
            }
    }
    // Bars, each over the drawn pixels that fall in its layout pixels.
    const int bars = 1 + random.below(4);
    for (int i = 0; i < bars; ++i) {
        const Rgb colour = fromHue(baseHue + 0.3 + 0.4 * random.unit(), 0.3 + 0.6 * random.unit(), 0.2 + 0.7 * random.unit());
        const int bw = std::max(2, static_cast<int>((0.03 + 0.25 * random.unit()) * width));
        const int bh = std::max(2, static_cast<int>((0.1 + 0.6 * random.unit()) * height));
        const int bx = random.below(std::max(1, width - bw)), by = random.below(std::max(1, height - bh));
        const double alpha = 0.5 + 0.4 * random.unit();
        const int x0 = static_cast<int>(std::ceil(bx * scale));
        const int x1 = std::min(drawnWidth, static_cast<int>(std::ceil((bx + bw) * scale)));
        const int y0 = static_cast<int>(std::ceil(by * scale));
        const int y1 = std::min(drawnHeight, static_cast<int>(std::ceil((by + bh) * scale)));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) blend(&image.rgb[(static_cast<std::size_t>(y) * drawnWidth + x) * 3], colour, alpha);
    }
    return image;
}

DemoPictures::Image DemoPictures::shrink(const Image& image, int width, int height) {
    Image small{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    const int fx = image.width / width, fy = image.height / height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int j = 0; j < fy; ++j)
                    for (int i = 0; i < fx; ++i)
                        sum += image.rgb[(static_cast<std::size_t>(y * fy + j) * image.width + (x * fx + i)) * 3 + c];
                small.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] = static_cast<std::uint8_t>(sum / (fx * fy));
            }
    return small;
}

std::vector<std::uint8_t> DemoPictures::encodeJPEG(const Image& image, int quality) {
    std::vector<std::uint8_t> out;
    stbi_write_jpg_to_func(appendBytes, &out, image.width, image.height, 3, image.rgb.data(), quality);
    return out;
}

std::vector<std::uint8_t> DemoPictures::encodePNG(const Image& image) {
    std::vector<std::uint8_t> out;
    stbi_write_png_to_func(appendBytes, &out, image.width, image.height, 3, image.rgb.data(), image.width * 3);
    return out;
}

std::vector<std::uint8_t> DemoPictures::encodePNG(const ImageRGBA& image) {
    std::vector<std::uint8_t> out;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4)
        return out;
    stbi_write_png_to_func(appendBytes, &out, image.width, image.height, 4, image.rgba.data(), image.width * 4);
    return out;
}

bool DemoPictures::writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* error) {
    std::error_code ec;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (bytes.empty() || !out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        if (error) *error = "Could not write " + path + ".";
        return false;
    }
    return true;
}
