// A smaller copy of a picture already in memory.
#include "platform/ui/UIImage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

std::shared_ptr<UIImage> UIImage::reducedImageWithImage(const std::shared_ptr<UIImage>& image, int maxPixelSize) {
    if (!image) return nullptr;
    const int w = image->pixelWidth_, h = image->pixelHeight_;
    const int longer = std::max(w, h);
    maxPixelSize = std::max(1, maxPixelSize);
    if (longer <= maxPixelSize) return image;
    if (!image->decodes()) return nullptr;
    // Sized as a picture read reduced is, so that both keep the same size in points.
    const int width = std::max(1, static_cast<int>(std::lround(static_cast<double>(w) * maxPixelSize / longer)));
    const int height = std::max(1, static_cast<int>(std::lround(static_cast<double>(h) * maxPixelSize / longer)));
    const std::uint8_t* source = image->rgbaPixels().data();
    const std::size_t sourceStride = static_cast<std::size_t>(w) * 4;
    // Result column x covers source columns firstColumn[x] up to firstColumn[x + 1]; rows alike.
    std::vector<int> firstColumn(static_cast<std::size_t>(width) + 1);
    for (int x = 0; x <= width; ++x)
        firstColumn[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<std::int64_t>(x) * w / width);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    // The sums of one result row only: the copy needs little more memory than itself.
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(static_cast<std::int64_t>(y) * h / height);
        const int bottom = static_cast<int>(static_cast<std::int64_t>(y + 1) * h / height);
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = top; sy < bottom; ++sy) {
            const std::uint8_t* p = source + static_cast<std::size_t>(sy) * sourceStride;
            std::uint64_t* sum = sums.data();
            for (int x = 0; x < width; ++x, sum += 4) {
                for (int sx = firstColumn[static_cast<std::size_t>(x)]; sx < firstColumn[static_cast<std::size_t>(x) + 1];
                     ++sx, p += 4) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    sum[3] += p[3];
                }
            }
        }
        std::uint8_t* row = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x) {
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) *
                static_cast<std::uint64_t>(firstColumn[static_cast<std::size_t>(x) + 1] - firstColumn[static_cast<std::size_t>(x)]);
            for (std::size_t c = 0; c < 4; ++c)
                row[static_cast<std::size_t>(x) * 4 + c] = static_cast<std::uint8_t>((sums[static_cast<std::size_t>(x) * 4 + c] + count / 2) / count);
        }
    }
    auto copy = std::make_shared<UIImage>(std::move(out), width, height, image->scale_ * width / w);
    copy->name_ = image->name_;
    return copy;
}
