// libFuzzer target over picture bytes: the header read (PNG and JPEG), the decode of the body,
// and the reduced decoder. Nothing crashes, no picture claims more than the
// caps, a reduced one is within its size, and the pixels always cover the picture.
#include "platform/ui/UIImage.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Pictures claiming more are taken from the header only: decoding them would test time, not bytes.
constexpr std::int64_t kDecodedPixels = 1 << 20;
constexpr int kReducedSize = 32;

void check(const std::shared_ptr<UIImage>& image, int maxSide) {
    if (!image) return;
    const std::int64_t w = image->pixelWidth(), h = image->pixelHeight();
    if (w <= 0 || h <= 0 || w * h > UIImage::kMaxPixelCount) std::abort();
    if (maxSide > 0 && (w > maxSide || h > maxSide)) std::abort();
    if (w * h > kDecodedPixels) return;
    (void)image->decodes();
    if (image->rgbaPixels().size() != static_cast<std::size_t>(w * h * 4)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const NSData bytes(data, data + size);
    check(UIImage::imageWithData(bytes), 0);
    check(UIImage::reducedImageWithData(bytes, kReducedSize), kReducedSize);
    return 0;
}
