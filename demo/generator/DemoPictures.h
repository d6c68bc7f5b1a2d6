// Abstract pictures for the demo content: a distinct, deterministic composition per seed,
// encoded as JPEG or PNG; RGBA images (interface icons) encoded as PNG with their alpha.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DemoPictures {
public:
    struct Image {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> rgb;  // width * height * 3
    };
    struct ImageRGBA {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> rgba;  // width * height * 4, not premultiplied
    };

    // A composition of bands, discs and bars in a palette drawn from `seed`, laid out for
    // width x height and drawn `scale` times as large: a larger scale gives the same picture
    // with more pixels.
    static Image compose(std::uint32_t seed, int width, int height, double scale = 1.0);
    // The image reduced by averaging blocks (width and height must divide the source's).
    static Image shrink(const Image& image, int width, int height);

    static std::vector<std::uint8_t> encodeJPEG(const Image& image, int quality = 82);
    static std::vector<std::uint8_t> encodePNG(const Image& image);
    static std::vector<std::uint8_t> encodePNG(const ImageRGBA& image);

    // Writes the bytes, creating the parent folders; false with a sentence in `error` on failure.
    static bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* error);
};
