// Images read with stb_image (the header at once, the pixels on first use), reduced ones with
// libjpeg's scaled decoding where it can; named images resolved in the main bundle by screen scale.
#include "platform/ui/UIImage.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <jpeglib.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <map>
#include <tuple>

struct UIImage::Pixels {
    Mutex mutex;
    std::atomic<bool> ready{false};
    NSData encoded GUARDED_BY(mutex);  // dropped once decoded
    // Written once under the lock, then read without it once `ready` says so.
    std::vector<std::uint8_t> rgba;
    bool failed = false;  // the body did not decode; written before `ready`
    bool reduced GUARDED_BY(mutex) = false;  // decoded to the image's pixel size, smaller than the encoded one
};

namespace {
std::atomic<double> gScreenScale{1.0};
std::atomic<std::uint64_t> gDecodedPictures{0};
Mutex gCacheMutex;
// By resource folder, name and scale. A name found nowhere is kept too (no image), so it is not
// looked for under all its file names again on every call, until a file is written.
struct NamedEntry {
    std::shared_ptr<UIImage> image;
    std::uint64_t writeGeneration = 0;
};
using NamedKey = std::tuple<std::string, std::string, double>;
std::map<NamedKey, NamedEntry, std::less<>>& namedCache() REQUIRES(gCacheMutex) {
    static std::map<NamedKey, NamedEntry, std::less<>> cache;
    return cache;
}

bool tooLong(std::uintmax_t length, const std::string& name) {
    if (length <= static_cast<std::uintmax_t>(UIImage::kMaxEncodedLength)) return false;
    std::fprintf(stderr, "The picture %s has %ju bytes, more than the %lld a picture may have; it is not loaded.\n",
                 name.empty() ? "from memory" : name.c_str(), length, static_cast<long long>(UIImage::kMaxEncodedLength));
    return true;
}

// One open and one read for the common picture: the length is checked on the open file.
std::optional<NSData> readFile(const std::string& path) {
    std::uint64_t length = 0;
    auto data = readRegularFile(path, static_cast<std::uint64_t>(UIImage::kMaxEncodedLength), &length);
    if (!data && length > static_cast<std::uint64_t>(UIImage::kMaxEncodedLength)) (void)tooLong(length, path);
    return data;
}

bool isJPEG(const NSData& data) { return data.size() > 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

// libjpeg reports a fatal error by calling this, which must not return.
struct JPEGErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};
[[noreturn]] void jpegFailed(j_common_ptr info) { std::longjmp(reinterpret_cast<JPEGErrors*>(info->err)->jump, 1); }
void jpegWarning(j_common_ptr, int) {}

// libjpeg's working memory per picture: a picture whose progressive or multi-scan decoding needs
// more fails instead.
constexpr long kJPEGWorkingMemory = 64L * 1024 * 1024;

// The JPEG picture decoded at the smallest of libjpeg's scales (n/8) that is still at least
// width x height, into `rgba`; its size in `decodedWidth` and `decodedHeight`. Only plain values
// live across the jump back from an error.
bool decodeScaledJPEG(const NSData& data, int width, int height, std::vector<std::uint8_t>& rgba, int& decodedWidth,
                      int& decodedHeight) {
    jpeg_decompress_struct info{};
    JPEGErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFailed;
    errors.manager.emit_message = jpegWarning;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kJPEGWorkingMemory;
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    unsigned eighths = 1;
    while (eighths < 8 && ((info.image_width * eighths + 7) / 8 < static_cast<unsigned>(width) ||
                           (info.image_height * eighths + 7) / 8 < static_cast<unsigned>(height)))
        ++eighths;
    info.scale_num = eighths;
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    decodedWidth = static_cast<int>(info.output_width);
    decodedHeight = static_cast<int>(info.output_height);
    rgba.resize(static_cast<std::size_t>(decodedWidth) * static_cast<std::size_t>(decodedHeight) * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgba.data() + static_cast<std::size_t>(info.output_scanline) * decodedWidth * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// Each pixel of the width x height result is the mean of the source pixels it covers.
std::vector<std::uint8_t> reducePixels(const std::vector<std::uint8_t>& source, int sourceWidth, int sourceHeight,
                                       int width, int height) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(static_cast<std::int64_t>(y) * sourceHeight / height);
        const int bottom = std::max(top + 1, static_cast<int>(static_cast<std::int64_t>(y + 1) * sourceHeight / height));
        for (int x = 0; x < width; ++x) {
            const int left = static_cast<int>(static_cast<std::int64_t>(x) * sourceWidth / width);
            const int right = std::max(left + 1, static_cast<int>(static_cast<std::int64_t>(x + 1) * sourceWidth / width));
            std::uint64_t sum[4] = {};
            for (int sy = top; sy < bottom; ++sy) {
                const std::uint8_t* p = &source[(static_cast<std::size_t>(sy) * sourceWidth + left) * 4];
                for (int sx = left; sx < right; ++sx, p += 4)
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
            }
            const std::uint64_t count = static_cast<std::uint64_t>(bottom - top) * (right - left);
            std::uint8_t* q = &out[(static_cast<std::size_t>(y) * width + x) * 4];
            for (int c = 0; c < 4; ++c) q[c] = static_cast<std::uint8_t>((sum[c] + count / 2) / count);
        }
    }
    return out;
}

// The picture at exactly width x height pixels, by the cheapest decoding its kind allows.
std::optional<std::vector<std::uint8_t>> decodeReduced(const NSData& data, int width, int height) {
    std::vector<std::uint8_t> decoded;
    int w = 0, h = 0;
    if (isJPEG(data)) {
        if (!decodeScaledJPEG(data, width, height, decoded, w, h)) return std::nullopt;
    } else {
        int channels = 0;
        unsigned char* whole =
            stbi_load_from_memory(data.data(), static_cast<int>(data.size()), &w, &h, &channels, STBI_rgb_alpha);
        if (!whole) return std::nullopt;
        decoded.assign(whole, whole + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
        stbi_image_free(whole);
    }
    if (w < width || h < height) return std::nullopt;
    if (w == width && h == height) return decoded;
    return reducePixels(decoded, w, h, width, height);
}

// "name@2x.png" → 2; plain names → 1.
double scaleFromFileName(const std::string& path) {
    const std::string stem = NSString::stringByDeletingPathExtension(NSString::lastPathComponent(path));
    const auto at = stem.rfind('@');
    if (at == std::string::npos) return 1;
    const std::string suffix = stem.substr(at + 1);
    if (suffix.size() == 2 && suffix[1] == 'x' && suffix[0] >= '1' && suffix[0] <= '9') return suffix[0] - '0';
    return 1;
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<NSData*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}
}  // namespace

UIImage::UIImage(std::vector<std::uint8_t> rgba, int pixelWidth, int pixelHeight, CGFloat scale)
    : pixels_(std::make_shared<Pixels>()), pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), scale_(scale > 0 ? scale : 1) {
    pixels_->rgba = std::move(rgba);
    pixels_->ready.store(true, std::memory_order_release);
}

const std::vector<std::uint8_t>& UIImage::rgbaPixels() const {
    Pixels& p = *pixels_;
    if (p.ready.load(std::memory_order_acquire)) return p.rgba;
    MutexLock lock(p.mutex);
    if (p.ready.load(std::memory_order_relaxed)) return p.rgba;
    int w = 0, h = 0, channels = 0;
    unsigned char* decoded = nullptr;
    std::optional<std::vector<std::uint8_t>> reduced;
    if (p.reduced) reduced = decodeReduced(p.encoded, pixelWidth_, pixelHeight_);
    else decoded = stbi_load_from_memory(p.encoded.data(), static_cast<int>(p.encoded.size()), &w, &h, &channels,
                                         STBI_rgb_alpha);
    const std::size_t bytes = static_cast<std::size_t>(pixelWidth_) * static_cast<std::size_t>(pixelHeight_) * 4;
    if (reduced) {
        p.rgba = std::move(*reduced);
    } else if (decoded && w == pixelWidth_ && h == pixelHeight_) {
        p.rgba.assign(decoded, decoded + bytes);
    } else {
        Diagnostics::notef("The picture %s does not decode past its header; it is drawn empty.",
                           name_.empty() ? "from memory" : name_.c_str());
        p.rgba.assign(bytes, 0);
        p.failed = true;
    }
    if (decoded) stbi_image_free(decoded);
    ++gDecodedPictures;
    NSData().swap(p.encoded);
    p.ready.store(true, std::memory_order_release);
    return p.rgba;
}

bool UIImage::decodes() const {
    rgbaPixels();
    return !pixels_->failed;
}

std::uint64_t UIImage::decodedPictureCount() { return gDecodedPictures.load(); }

void UIImage::setScreenScale(CGFloat scale) { gScreenScale.store(scale > 0 ? scale : 1); }
CGFloat UIImage::screenScale() { return gScreenScale.load(); }

void UIImage::clearNamedCache() {
    MutexLock lock(gCacheMutex);
    namedCache().clear();
}

std::shared_ptr<UIImage> UIImage::decode(NSData data, CGFloat scale, const std::string& name, int maxPixelSize) {
    if (data.empty() || tooLong(data.size(), name)) return nullptr;
    // Only the header now: the size decides whether the picture is taken at all.
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data.data(), static_cast<int>(data.size()), &w, &h, &channels) || w <= 0 || h <= 0)
        return nullptr;
    if (static_cast<std::int64_t>(w) * h > kMaxPixelCount) {
        Diagnostics::notef(
            "The picture %s claims %d x %d pixels, more than the %lld a picture may have; it is not loaded.",
            name.empty() ? "from memory" : name.c_str(), w, h, static_cast<long long>(kMaxPixelCount));
        return nullptr;
    }
    const int longer = std::max(w, h);
    const bool reduce = maxPixelSize > 0 && longer > maxPixelSize;
    if (reduce && !isJPEG(data) && static_cast<std::int64_t>(w) * h > kMaxPixelCountBeforeReduction) {
        std::fprintf(stderr, "The picture %s claims %d x %d pixels, more than the %lld one shown reduced may have; it is "
                     "not loaded.\n", name.empty() ? "from memory" : name.c_str(), w, h,
                     static_cast<long long>(kMaxPixelCountBeforeReduction));
        return nullptr;
    }
    const int pixelWidth = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(w) * maxPixelSize / longer))) : w;
    const int pixelHeight = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(h) * maxPixelSize / longer))) : h;
    // The same size in points, with fewer pixels to each.
    auto image = std::make_shared<UIImage>(std::vector<std::uint8_t>{}, pixelWidth, pixelHeight,
                                           reduce ? scale * pixelWidth / w : scale);
    {
        MutexLock lock(image->pixels_->mutex);
        image->pixels_->reduced = reduce;
        image->pixels_->encoded = std::move(data);
    }
    image->pixels_->ready.store(false, std::memory_order_release);
    image->name_ = name;
    return image;
}

std::shared_ptr<UIImage> UIImage::imageWithData(const NSData& data) { return decode(data, 1, ""); }

std::shared_ptr<UIImage> UIImage::imageWithData(const NSData& data, CGFloat scale) { return decode(data, scale, ""); }

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) {
    auto data = readFile(path);
    if (!data) return nullptr;
    return decode(std::move(*data), scaleFromFileName(path), path);
}

std::shared_ptr<UIImage> UIImage::reducedImageWithData(const NSData& data, int maxPixelSize) {
    return decode(data, 1, "", std::max(1, maxPixelSize));
}

std::shared_ptr<UIImage> UIImage::reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize) {
    auto data = readFile(path);
    if (!data) return nullptr;
    return decode(std::move(*data), scaleFromFileName(path), path, std::max(1, maxPixelSize));
}

std::shared_ptr<UIImage> UIImage::imageWithPixels(std::vector<std::uint8_t> rgba, int pixelWidth, int pixelHeight,
                                                  CGFloat scale) {
    if (pixelWidth < 0 || pixelHeight < 0 ||
        rgba.size() != static_cast<std::size_t>(pixelWidth) * static_cast<std::size_t>(pixelHeight) * 4)
        return nullptr;
    return std::make_shared<UIImage>(std::move(rgba), pixelWidth, pixelHeight, scale);
}

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    const double scale = screenScale();
    auto bundle = NSBundle::mainBundle();
    if (!bundle) return nullptr;
    const std::string folder = bundle->resourcePath();
    NamedKey key{folder, name, scale};
    // Taken before looking: a file written during the search makes its miss count for nothing.
    const std::uint64_t generation = fileWriteGeneration();
    {
        MutexLock lock(gCacheMutex);
        auto it = namedCache().find(key);
        if (it != namedCache().end() && (it->second.image || it->second.writeGeneration == generation))
            return it->second.image;
    }

    // The variants for the screen's scale first, the others after, highest first.
    std::vector<int> scales;
    const int preferred = std::max(1, static_cast<int>(std::lround(scale)));
    for (int s = preferred; s >= 1; --s) scales.push_back(s);
    for (int s = preferred + 1; s <= 3; ++s) scales.push_back(s);

    std::string stem = name, extension;
    const std::string ext = NSString::lowercaseString(NSString::pathExtension(name));
    if (ext == "png" || ext == "jpg" || ext == "jpeg") {
        stem = NSString::stringByDeletingPathExtension(name);
        extension = NSString::pathExtension(name);
    }
    std::vector<std::string> candidates;
    for (int s : scales) {
        const std::string suffix = s == 1 ? "" : "@" + std::to_string(s) + "x";
        if (!extension.empty()) {
            candidates.push_back(stem + suffix + "." + extension);
        } else {
            if (s == 1) candidates.push_back(name);
            candidates.push_back(stem + suffix + ".png");
            candidates.push_back(stem + suffix + ".jpg");
        }
    }
    std::shared_ptr<UIImage> image;
    for (const auto& candidate : candidates) {
        const std::string path = NSString::stringByAppendingPathComponent(folder, candidate);
        auto data = readFile(path);
        if (!data) continue;
        image = decode(std::move(*data), scaleFromFileName(candidate), name);
        if (image) break;
    }
    {
        MutexLock lock(gCacheMutex);
        namedCache()[std::move(key)] = NamedEntry{image, generation};
    }
    return image;
}

CGSize UIImage::size() const { return {pixelWidth_ / scale_, pixelHeight_ / scale_}; }

std::shared_ptr<UIImage> UIImage::copyImage() const {
    auto copy = std::make_shared<UIImage>(std::vector<std::uint8_t>{}, pixelWidth_, pixelHeight_, scale_);
    copy->pixels_ = pixels_;
    copy->name_ = name_;
    copy->capInsets_ = capInsets_;
    copy->resizingMode_ = resizingMode_;
    copy->resizable_ = resizable_;
    copy->renderingMode_ = renderingMode_;
    return copy;
}

std::shared_ptr<UIImage> UIImage::resizableImageWithCapInsets(UIEdgeInsets capInsets) const {
    return resizableImageWithCapInsets(capInsets, UIImageResizingModeTile);
}

std::shared_ptr<UIImage> UIImage::resizableImageWithCapInsets(UIEdgeInsets capInsets, UIImageResizingMode mode) const {
    auto copy = copyImage();
    copy->capInsets_ = capInsets;
    copy->resizingMode_ = mode;
    copy->resizable_ = true;
    return copy;
}

NSData UIImage::pngData() const {
    NSData out;
    if (pixelWidth_ <= 0 || pixelHeight_ <= 0) return out;
    stbi_write_png_to_func(appendBytes, &out, pixelWidth_, pixelHeight_, 4, rgbaPixels().data(), pixelWidth_ * 4);
    return out;
}

std::string UIImage::description() const {
    return NSString::format("<UIImage: %p; %@; size {%g, %g} @%g>", static_cast<const void*>(this),
                            name_.empty() ? std::string("anonymous") : name_, size().width, size().height, scale_);
}

NSData UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image) {
    return image ? image->pngData() : NSData{};
}

NSData UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat quality) {
    NSData out;
    if (!image || image->pixelWidth() <= 0 || image->pixelHeight() <= 0) return out;
    const int q = std::clamp(static_cast<int>(std::lround(quality * 100)), 1, 100);
    stbi_write_jpg_to_func(appendBytes, &out, image->pixelWidth(), image->pixelHeight(), 4, image->rgbaPixels().data(), q);
    return out;
}
