// Images: the header read at once (PictureDecoding), the pixels on first use, at the picture's
// size or reduced; written with stb_image_write. Named images resolved in the main bundle by
// screen scale.
#include "platform/ui/UIImage.h"

#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/PictureDecoding.h"
#include "platform/ui/PictureFileOutcomes.h"
#include "platform/ui/ReducedPictureCache.h"

#include <stb_image_write.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <map>
#include <tuple>

struct UIImage::Pixels {
    Mutex mutex;
    // The body was decoded, or failed to (`failed`, written before it); `ready` once the pixels
    // are there to read, which for a failed body is when they are first asked for.
    std::atomic<bool> decoded{false};
    std::atomic<bool> ready{false};
    NSData encoded GUARDED_BY(mutex);  // dropped once decoded
    // The file a picture came from. A large one's bytes are not held until it is decoded
    // (`reread`): they are read again then, so that the large pictures a screen lists but does not
    // draw cost nothing.
    std::string path GUARDED_BY(mutex);
    bool reread GUARDED_BY(mutex) = false;
    // For a picture taken much smaller than it is from a file: that size, and the state of the file
    // its bytes were read in, under which it is kept once decoded.
    int maxPixelSize GUARDED_BY(mutex) = 0;
    std::optional<file_detail::FileStamp> identity GUARDED_BY(mutex);
    // Written under the lock before `ready`, then read without it.
    std::vector<std::uint8_t> rgba;
    bool failed = false;
    // What the header gives; the image's own size is smaller when it is taken reduced.
    ui_detail::PictureHeader header GUARDED_BY(mutex);
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

const char* shownName(const std::string& name) { return name.empty() ? "from memory" : name.c_str(); }

// Bytes that are no picture to show: why goes to the caller's error; without one, the refusals of
// a picture's own header are logged, and bytes of another kind (which the named lookup meets among
// its candidates) are not.
std::shared_ptr<UIImage> refuse(NSErrorPtr* error, UIImageError code, const std::string& why, const std::string& name) {
    if (error) {
        *error = NSError::errorWithDomain(UIImageErrorDomain, code, {{NSLocalizedDescriptionKey, Value("It " + why + ".")}});
    } else if (code != UIImageErrorNotAPicture) {
        Diagnostics::notef("The picture %s %s; it is not loaded.", shownName(name), why.c_str());
    }
    return nullptr;
}

std::string tooLongReason(std::uintmax_t length) {
    return NSString::format("has %ju bytes, more than the %lld a picture may have", length,
                            static_cast<long long>(UIImage::kMaxEncodedLength));
}

// One open and one read for the common picture: the length is checked on the open file. With
// `identity`, the state of the file the bytes were read in, when it can be told from later ones.
std::optional<NSData> readFile(const std::string& path, NSErrorPtr* error,
                               std::optional<file_detail::FileStamp>* identity = nullptr) {
    std::uint64_t length = 0;
    struct stat info {};
    const timespec began = identity ? file_detail::FileStamp::now() : timespec{};
    auto data = readRegularFile(path, static_cast<std::uint64_t>(UIImage::kMaxEncodedLength), &length,
                                identity ? &info : nullptr);
    if (!data && length > static_cast<std::uint64_t>(UIImage::kMaxEncodedLength))
        (void)refuse(error, UIImageErrorRefused, tooLongReason(length), path);
    if (data && identity) *identity = file_detail::FileStamp::settled(info, began);
    return data;
}

// A picture from a file of at most this many bytes (a thumbnail's, and more) holds them until it
// is decoded, so that the file is opened and read once. A longer file is read again when its
// picture is decoded.
constexpr std::size_t kHeldFileBytes = 128 * 1024;

// A picture taken reduced whose header has this many times its pixels or more cost enough to
// decode to be kept once decoded.
constexpr std::int64_t kKeptReduction = 4;

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
    pixels_->decoded.store(true, std::memory_order_release);
    pixels_->ready.store(true, std::memory_order_release);
}

bool UIImage::decodeOnce(const DispatchCancellation* cancellation) const {
    Pixels& p = *pixels_;
    if (p.decoded.load(std::memory_order_acquire)) return !p.failed;
    MutexLock lock(p.mutex);
    if (p.decoded.load(std::memory_order_relaxed)) return !p.failed;
    std::optional<std::vector<std::uint8_t>> decoded;
    std::string why;
    try {
        if (rereadFile(p))
            decoded = ui_detail::decodePicturePixels(p.encoded, p.header, pixelWidth_, pixelHeight_, &why, cancellation);
        if (!decoded && cancellation && cancellation->isCancelled()) {
            // Not decoded, and nothing said of the picture: it decodes when it is next asked for. A
            // large file's bytes are read again then.
            if (p.reread) NSData().swap(p.encoded);
            return false;
        }
        if (!decoded && why.empty())
            Diagnostics::notef("The picture %s does not decode past its header; it is drawn empty.", shownName(name_));
        else if (!decoded)
            // The bound, not the bytes: the picture may still be shown reduced.
            Diagnostics::notef("The picture %s %s.", shownName(name_), why.c_str());
    } catch (const std::bad_alloc&) {
        // The decoders' structures are freed on the way here; the picture is one that does not decode.
        Diagnostics::notef("The picture %s needs more memory than there is to decode; it is drawn empty.",
                           shownName(name_));
    }
    // Its one scan came out longer than its header let expect: the file is not tried whole again
    // while it is unchanged.
    if (!decoded && !why.empty() && !p.path.empty() && p.identity && pixelWidth_ == p.header.width &&
        pixelHeight_ == p.header.height)
        ui_detail::PictureFileOutcomes::shared().remember(p.path, *p.identity, {UIImageErrorTooCostlyWhole, why});
    if (decoded) p.rgba = std::move(*decoded);
    p.failed = !decoded;
    ++gDecodedPictures;
    NSData().swap(p.encoded);
    p.decoded.store(true, std::memory_order_release);
    if (decoded) p.ready.store(true, std::memory_order_release);
    if (decoded && p.maxPixelSize > 0 && p.identity)
        ui_detail::ReducedPictureCache::shared().keep(p.path, p.maxPixelSize, *p.identity, sharingPixels(name_));
    std::string().swap(p.path);
    return !p.failed;
}

bool UIImage::rereadFile(Pixels& p) {
    p.mutex.assertHeld();
    if (!p.reread) return true;
    auto data = readFile(p.path, nullptr, &p.identity);
    if (!data) return false;
    // Bytes of another picture since its header was read are not decoded at this one's size.
    ui_detail::PictureHeader header;
    std::string why;
    if (ui_detail::readPictureHeader(*data, header, why) != ui_detail::PictureHeaderVerdict::Taken ||
        header.width != p.header.width || header.height != p.header.height)
        return false;
    p.header = header;
    p.encoded = std::move(*data);
    return true;
}

const std::vector<std::uint8_t>& UIImage::rgbaPixels() const {
    Pixels& p = *pixels_;
    if (p.ready.load(std::memory_order_acquire)) return p.rgba;
    if (decodeOnce()) return p.rgba;
    // Transparent pixels for a body that did not decode, made only now that they are drawn: a page
    // that only asks whether its picture decodes never fills the size its header claims.
    MutexLock lock(p.mutex);
    if (!p.ready.load(std::memory_order_relaxed)) {
        p.rgba.assign(static_cast<std::size_t>(pixelWidth_) * static_cast<std::size_t>(pixelHeight_) * 4, 0);
        p.ready.store(true, std::memory_order_release);
    }
    return p.rgba;
}

bool UIImage::decodes() const { return decodeOnce(); }

bool UIImage::decodesApart(const std::shared_ptr<DispatchQueue>& apart,
                           const std::shared_ptr<DispatchCancellation>& cancellation) const {
    Pixels& p = *pixels_;
    if (p.decoded.load(std::memory_order_acquire)) return !p.failed;
    bool large = false;
    {
        MutexLock lock(p.mutex);
        large = ui_detail::isLargeDecode(p.header, pixelWidth_, pixelHeight_);
    }
    if (!large || !apart) return decodeOnce(cancellation.get());
    // The image outlives the decode, which the caller waits for.
    bool decoded = false;
    apart->syncApart([this, &decoded, &cancellation] { decoded = decodeOnce(cancellation.get()); }, cancellation);
    return decoded;
}

std::uint64_t UIImage::decodedPictureCount() { return gDecodedPictures.load(); }

int UIImage::pixelSizeForPoints(CGFloat points) {
    return std::max(1, static_cast<int>(std::ceil(points * std::max<CGFloat>(1, screenScale()))));
}

void UIImage::setScreenScale(CGFloat scale) { gScreenScale.store(scale > 0 ? scale : 1); }
CGFloat UIImage::screenScale() { return gScreenScale.load(); }

void UIImage::clearNamedCache() {
    MutexLock lock(gCacheMutex);
    namedCache().clear();
}

std::shared_ptr<UIImage> UIImage::decode(NSData data, CGFloat scale, const std::string& name, int maxPixelSize,
                                         NSErrorPtr* error, Fit fit, bool metBoundWhole,
                                         ui_detail::PictureFileOutcome* refusal) {
    const auto refused = [&](UIImageError code, const std::string& why) {
        if (refusal) *refusal = {code, why};
        return refuse(error, code, why, name);
    };
    if (data.size() > static_cast<std::size_t>(kMaxEncodedLength))
        return refused(UIImageErrorRefused, tooLongReason(data.size()));
    // Only the header now: the size decides whether the picture is taken at all.
    ui_detail::PictureHeader header;
    std::string why;
    switch (ui_detail::readPictureHeader(data, header, why)) {
        case ui_detail::PictureHeaderVerdict::Taken: break;
        case ui_detail::PictureHeaderVerdict::NotAPicture: return refused(UIImageErrorNotAPicture, why);
        case ui_detail::PictureHeaderVerdict::OverPixelCap: return refused(UIImageErrorOverPixelCap, why);
        case ui_detail::PictureHeaderVerdict::Refused: return refused(UIImageErrorRefused, why);
    }
    const int w = header.width, h = header.height;
    const int longer = std::max(w, h);
    const bool reduce = maxPixelSize > 0 && longer > maxPixelSize;
    const int reducedWidth = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(w) * maxPixelSize / longer))) : w;
    const int reducedHeight = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(h) * maxPixelSize / longer))) : h;
    const bool wholeFirst = fit == Fit::WholeElseWithinBound;
    int pixelWidth = wholeFirst ? w : reducedWidth;
    int pixelHeight = wholeFirst ? h : reducedHeight;
    const bool whole = pixelWidth == w && pixelHeight == h;
    std::string reason = ui_detail::decodingMemoryExceeded(header, pixelWidth, pixelHeight);
    if (reason.empty() && whole && metBoundWhole)
        reason = "did not decode whole within the memory a picture may take when it was tried";
    if (!reason.empty()) {
        const auto within = fit != Fit::Reduced ? ui_detail::largestSizeWithinBound(header, reducedWidth, reducedHeight,
                                                                                    metBoundWhole || wholeFirst)
                                                : std::nullopt;
        if (!within) {
            const bool smallerDecodes = whole && ui_detail::largestSizeWithinBound(header, w, h, true).has_value();
            return refused(smallerDecodes ? UIImageErrorTooCostlyWhole : UIImageErrorRefused, reason);
        }
        std::tie(pixelWidth, pixelHeight) = *within;
    }
    const bool reduced = pixelWidth != w || pixelHeight != h;
    // The same size in points, with fewer pixels to each.
    auto image = std::make_shared<UIImage>(std::vector<std::uint8_t>{}, pixelWidth, pixelHeight,
                                           reduced ? scale * pixelWidth / w : scale);
    {
        MutexLock lock(image->pixels_->mutex);
        image->pixels_->header = header;
        image->pixels_->encoded = std::move(data);
    }
    image->pixels_->ready.store(false, std::memory_order_release);
    image->pixels_->decoded.store(false, std::memory_order_release);
    image->name_ = name;
    image->reduced_ = reduced;
    return image;
}

std::shared_ptr<UIImage> UIImage::fromFile(const std::string& path, int maxPixelSize, NSErrorPtr* error,
                                           const std::string& source, Fit fit) {
    const std::string& name = source.empty() ? path : source;
    const bool decodedAtOnce = fit == Fit::WholeElseWithinBound;
    if (maxPixelSize > 0 && !decodedAtOnce) {
        if (auto kept = ui_detail::ReducedPictureCache::shared().find(path, maxPixelSize)) return kept->sharingPixels(name);
    }
    auto& outcomes = ui_detail::PictureFileOutcomes::shared();
    struct stat status {};
    if (FileIO::current()->status(path, true, status) == 0) {
        const auto now = file_detail::FileStamp::settled(status, file_detail::FileStamp::now());
        if (const auto known = now ? outcomes.find(path, *now) : std::nullopt;
            known && known->code != UIImageErrorTooCostlyWhole)
            return refuse(error, static_cast<UIImageError>(known->code), known->why, name);
    }
    std::optional<file_detail::FileStamp> identity;
    auto data = readFile(path, error, &identity);
    if (!data) return nullptr;
    const auto known = identity ? outcomes.find(path, *identity) : std::nullopt;
    const bool metBoundWhole = known && known->code == UIImageErrorTooCostlyWhole;
    const bool held = decodedAtOnce || data->size() <= kHeldFileBytes;
    ui_detail::PictureFileOutcome refusal;
    auto image =
        decode(std::move(*data), scaleFromFileName(path), name, maxPixelSize, error, fit, metBoundWhole, &refusal);
    if (!image) {
        // Refused for what it is, it is refused at once while it is unchanged.
        if (identity && (refusal.code == UIImageErrorNotAPicture || refusal.code == UIImageErrorOverPixelCap))
            outcomes.remember(path, *identity, std::move(refusal));
        return nullptr;
    }
    Pixels& p = *image->pixels_;
    MutexLock lock(p.mutex);
    if (decodedAtOnce) {
        // What its whole decode meeting the bound is remembered under.
        p.path = path;
        p.identity = identity;
        return image;
    }
    // Taken smaller than asked for, it is not what the size it would be kept under gives.
    const bool asked = std::max(image->pixelWidth_, image->pixelHeight_) ==
                       std::min(maxPixelSize, std::max(p.header.width, p.header.height));
    const bool costly = asked && static_cast<std::int64_t>(p.header.width) * p.header.height >=
                                     kKeptReduction * image->pixelWidth_ * static_cast<std::int64_t>(image->pixelHeight_);
    // The path is what the bytes are read again by, and what a costly reduced picture is kept under.
    if (!held || (maxPixelSize > 0 && costly)) p.path = path;
    if (!held) {
        p.reread = true;
        NSData().swap(p.encoded);
    }
    if (maxPixelSize > 0 && costly) {
        p.maxPixelSize = maxPixelSize;
        if (held) p.identity = identity;
    }
    return image;
}

std::shared_ptr<UIImage> UIImage::imageWithData(const NSData& data) { return decode(data, 1, "", 0, nullptr); }

std::shared_ptr<UIImage> UIImage::imageWithData(const NSData& data, CGFloat scale) {
    return decode(data, scale, "", 0, nullptr);
}

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) { return fromFile(path, 0, nullptr); }

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path, NSErrorPtr* error) {
    return fromFile(path, 0, error);
}

std::shared_ptr<UIImage> UIImage::reducedImageWithData(const NSData& data, int maxPixelSize) {
    return decode(data, 1, "", std::max(1, maxPixelSize), nullptr);
}

std::shared_ptr<UIImage> UIImage::reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize) {
    return fromFile(path, std::max(1, maxPixelSize), nullptr);
}

std::shared_ptr<UIImage> UIImage::reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                 NSErrorPtr* error) {
    return fromFile(path, std::max(1, maxPixelSize), error);
}

std::shared_ptr<UIImage> UIImage::reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                 const std::string& source, NSErrorPtr* error) {
    return fromFile(path, std::max(1, maxPixelSize), error, source);
}

std::shared_ptr<UIImage> UIImage::largestReducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                        NSErrorPtr* error) {
    return fromFile(path, std::max(1, maxPixelSize), error, "", Fit::LargestWithinBound);
}

std::shared_ptr<UIImage> UIImage::imageWithinBoundWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                     NSErrorPtr* error) {
    return fromFile(path, std::max(1, maxPixelSize), error, "", Fit::WholeElseWithinBound);
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
        auto data = readFile(path, nullptr);
        if (!data) continue;
        image = decode(std::move(*data), scaleFromFileName(candidate), name, 0, nullptr);
        if (image) break;
    }
    {
        MutexLock lock(gCacheMutex);
        namedCache()[std::move(key)] = NamedEntry{image, generation};
    }
    return image;
}

CGSize UIImage::size() const { return {pixelWidth_ / scale_, pixelHeight_ / scale_}; }

std::shared_ptr<UIImage> UIImage::sharingPixels(const std::string& name) const {
    auto copy = std::make_shared<UIImage>(std::vector<std::uint8_t>{}, pixelWidth_, pixelHeight_, scale_);
    copy->pixels_ = pixels_;
    copy->name_ = name;
    copy->reduced_ = reduced_;
    return copy;
}

std::shared_ptr<UIImage> UIImage::copyImage() const {
    auto copy = sharingPixels(name_);
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
