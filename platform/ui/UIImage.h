// Images: named from the bundle (with the @2x variant), from files and data; PNG and JPEG
// known by their header (validity, pixel size, scale) and decoded when their pixels are first
// needed (a large file's bytes read again then, so that a picture not yet drawn holds none; a
// reduced one kept once decoded when it was costly); resizable images with cap insets.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"
#include "platform/ui/CGGeometry.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DispatchCancellation;
class DispatchQueue;

namespace ui_detail {
struct PictureFileOutcome;
}

enum UIImageResizingMode : int {
    UIImageResizingModeTile = 0,
    UIImageResizingModeStretch = 1,
};

enum UIImageOrientation : int {
    UIImageOrientationUp = 0,
};

// Why bytes that were read are not a picture that can be shown (the reduced and file loaders'
// error argument); a file that is not there gives no error.
inline constexpr const char* UIImageErrorDomain = "UIImageErrorDomain";
enum UIImageError : long {
    // Bytes of another kind, or none.
    UIImageErrorNotAPicture = 1,
    // A PNG or JPEG refused from its header: more bytes than a picture may have, more pixels than
    // its bytes can hold, or more memory to decode than a picture may take at any size.
    UIImageErrorRefused = 2,
    // A PNG or JPEG whose header claims more pixels than any picture may have (kMaxPixelCount).
    UIImageErrorOverPixelCap = 3,
    // A picture taken whole that decodes within the bound on a decode's memory only smaller than
    // it is (the largest reduced images give it), as its header tells or, when the header let it
    // be tried, as its whole decode did while the file is unchanged.
    UIImageErrorTooCostlyWhole = 4,
};

enum UIImageRenderingMode : int {
    UIImageRenderingModeAutomatic = 0,
    UIImageRenderingModeAlwaysOriginal = 1,
    UIImageRenderingModeAlwaysTemplate = 2,
};

class UIImage : public NSObject {
public:
    // The most pixels a picture may claim: eight times the largest tablet screen (2732 x 2048),
    // room for any painting shown zoomed. A picture over it is refused from its header, before
    // anything is decoded, and is treated as missing (with a logged sentence).
    static constexpr std::int64_t kMaxPixelCount = 48'000'000;
    // The most bytes a picture's encoding may have: the cap's pixels uncompressed, with room for
    // headers and metadata. A larger file or body is refused unread (with a logged sentence).
    static constexpr std::int64_t kMaxEncodedLength = kMaxPixelCount * 4 + 16 * 1024 * 1024;
    // A picture whose header claims more pixels than its bytes can hold is refused from its
    // header too: a PNG whose image data could not inflate to them, a Huffman-coded JPEG whose
    // scans could not give each block its fewest bits. An arithmetic-coded JPEG can describe a
    // large flat picture in a handful of bytes, so no length bounds it: it may claim at most
    // this many pixels.
    static constexpr std::int64_t kMaxArithmeticCodedPixelCount = 2048 * 2048;
    // The most working memory decoding one picture may take, however small it is shown: a JPEG of
    // several scans (every progressive one) holds its coefficients until its last scan, and the
    // largest of three colours at full resolution under the cap takes 288 MB (6 bytes a pixel);
    // the rest is room for the decoders' rows and the scan a page's picture is rewritten to. A
    // picture that needs more, four colours near the cap (8 bytes a pixel), is refused from its
    // header (with a logged sentence). So is one taken whole whose scans take more than the room
    // its coefficients leave for that one scan, which is then shown reduced.
    static constexpr std::int64_t kMaxDecodingMemory = 320LL * 1024 * 1024;

    // Looks in the main bundle's resource folder for the name as given, then with ".png",
    // preferring "name@2x.png" when the screen scale is 2 or more; cached by folder and name, a
    // name found nowhere as well until a file is written (FileData's writes). Empty when there is
    // no such file or it is not a decodable image.
    static std::shared_ptr<UIImage> imageNamed(const std::string& name);
    static std::shared_ptr<UIImage> imageWithContentsOfFile(const std::string& path);
    // The same, with why the bytes are no picture that can be shown in `error` (UIImageErrorDomain)
    // instead of the log; no error when the file is not there.
    static std::shared_ptr<UIImage> imageWithContentsOfFile(const std::string& path, NSErrorPtr* error);
    static std::shared_ptr<UIImage> imageWithData(const NSData& data);
    static std::shared_ptr<UIImage> imageWithData(const NSData& data, CGFloat scale);
    // Our own addition, for pictures shown small: at most `maxPixelSize` pixels on the longer
    // side, the size in points kept (the scale grows instead). A smaller picture is taken as it
    // is. A larger one is reduced as its rows are decoded (a JPEG's first through libjpeg's
    // reduced scales), never held whole.
    static std::shared_ptr<UIImage> reducedImageWithData(const NSData& data, int maxPixelSize);
    // From a file, a picture taken at a quarter of its pixels or fewer is kept once decoded, by file
    // and size, and given again while the file is unchanged, so that a cell shown again does not
    // decode it again; what is kept is bounded, the pictures used longest ago going first.
    static std::shared_ptr<UIImage> reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize);
    static std::shared_ptr<UIImage> reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                   NSErrorPtr* error);
    // The same, from a file that holds bytes `source` gave (a download's), named by `source` (the
    // address they came from) in what is logged about the decode.
    static std::shared_ptr<UIImage> reducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                   const std::string& source, NSErrorPtr* error = nullptr);
    // The same at the largest size up to `maxPixelSize` that the picture decodes at within the
    // bound on a decode's memory: one that would need more at `maxPixelSize` (a progressive JPEG
    // near the cap, whose coefficients take most of the bound) comes at the largest of libjpeg's
    // own scales below it rather than being refused. Not kept once decoded when it comes smaller.
    static std::shared_ptr<UIImage> largestReducedImageWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                          NSErrorPtr* error);
    // The picture whole when it decodes whole within the bound on a decode's memory, as its header
    // tells (or, while the file is unchanged, its last whole decode did not); else as the largest
    // reduced images come, up to `maxPixelSize`. For a picture decoded at once: its bytes are read
    // once and kept for that decode.
    static std::shared_ptr<UIImage> imageWithinBoundWithContentsOfFile(const std::string& path, int maxPixelSize,
                                                                       NSErrorPtr* error);
    // A copy of a picture at most `maxPixelSize` pixels on the longer side, made from its pixels
    // (decoded first if they are not yet), each the mean of those it covers, a row at a time; the
    // size in points and the name kept. The picture itself when it is no larger; empty when it
    // does not decode. (UIImageReduction.cpp)
    static std::shared_ptr<UIImage> reducedImageWithImage(const std::shared_ptr<UIImage>& image, int maxPixelSize);
    // The pixels `points` take on the screen, at the screen's scale: the size to reduce a
    // picture to that is shown that large.
    static int pixelSizeForPoints(CGFloat points);
    // An image of `size` points filled with the RGBA pixels given (row-major, 4 bytes each).
    static std::shared_ptr<UIImage> imageWithPixels(std::vector<std::uint8_t> rgba, int pixelWidth, int pixelHeight,
                                                    CGFloat scale);

    // The scale imageNamed prefers; the screen sets it from its profile (1 by default).
    static void setScreenScale(CGFloat scale);
    static CGFloat screenScale();
    // Forgets the named-image cache (tests changing bundles or scales).
    static void clearNamedCache();

    UIImage(std::vector<std::uint8_t> rgba, int pixelWidth, int pixelHeight, CGFloat scale);

    // In points: pixels divided by scale.
    CGSize size() const;
    CGFloat scale() const { return scale_; }
    int pixelWidth() const { return pixelWidth_; }
    int pixelHeight() const { return pixelHeight_; }
    // RGBA, 8 bits per channel, rows top to bottom; decoded here on first use. Bytes whose
    // header read well but whose body does not decode (or that need more memory than there is)
    // give transparent pixels (and a logged sentence).
    const std::vector<std::uint8_t>& rgbaPixels() const;
    // Decodes the pixels now if they are not yet, and answers whether the body decoded; the
    // transparent pixels of one that did not are made only when they are asked for.
    bool decodes() const;
    // The same, but a decode that needs so much memory that it waits its turn behind any other
    // (which takes seconds) runs on the queue `apart` (DispatchQueue::createApart) while the caller
    // waits, as for a transfer: a settle of the manual clock does not wait for it, so that a screen
    // behind it answers meanwhile. It stops soon after `cancellation` is cancelled, between rows,
    // giving back what it held: false then, the picture left undecoded and nothing remembered of
    // its file, as if it had not been asked. For the queue that reads a picture page's picture.
    bool decodesApart(const std::shared_ptr<DispatchQueue>& apart,
                      const std::shared_ptr<DispatchCancellation>& cancellation) const;
    // How many pictures this process has decoded to pixels so far.
    static std::uint64_t decodedPictureCount();

    // The file name or resource name it came from, or the address its file's bytes came from
    // ("" for data and pixels).
    const std::string& name() const { return name_; }
    // Taken with fewer pixels than its bytes hold (the reduced images).
    bool isReduced() const { return reduced_; }

    std::shared_ptr<UIImage> resizableImageWithCapInsets(UIEdgeInsets capInsets) const;
    std::shared_ptr<UIImage> resizableImageWithCapInsets(UIEdgeInsets capInsets, UIImageResizingMode mode) const;
    // The older form: left cap width and top cap height; the right and bottom caps are the
    // rest of the image less one pixel, as the platform does.
    UIEdgeInsets capInsets() const { return capInsets_; }
    UIImageResizingMode resizingMode() const { return resizingMode_; }
    bool isResizable() const { return resizable_; }

    // PNG bytes of the pixels.
    NSData pngData() const;

    std::string description() const override;

private:
    // The size a picture is taken at, with `maxPixelSize` above 0.
    enum class Fit {
        // Reduced to it, or refused when that does not decode within the bound on a decode's memory.
        Reduced,
        // The largest size up to it that does.
        LargestWithinBound,
        // Whole when that does, else as LargestWithinBound.
        WholeElseWithinBound,
    };
    // Header only; with `maxPixelSize` above 0, the picture is taken as `fit` says (never whole
    // within the bound when `metBoundWhole`: its file did not decode whole within it). Why bytes
    // are refused goes to `error`, or without one to the log, and to `refusal` when it is given.
    static std::shared_ptr<UIImage> decode(NSData data, CGFloat scale, const std::string& name, int maxPixelSize,
                                           NSErrorPtr* error, Fit fit = Fit::Reduced, bool metBoundWhole = false,
                                           ui_detail::PictureFileOutcome* refusal = nullptr);
    // Named by `source` when one is given, else by the path. A reduced picture kept since it was
    // decoded is given again while its file is unchanged; so is the refusal of a file refused for
    // what it is, without reading it again.
    static std::shared_ptr<UIImage> fromFile(const std::string& path, int maxPixelSize, NSErrorPtr* error,
                                             const std::string& source = "", Fit fit = Fit::Reduced);
    // Decodes the pixels under the lock when they are not yet; false when they did not decode, or
    // when `cancellation` stopped the decode (then they are not decoded yet).
    bool decodeOnce(const DispatchCancellation* cancellation = nullptr) const;
    struct Pixels;
    // The bytes of a large picture from a file, read again (under the pixels' lock) for its
    // decoding; false when they are gone or are no longer the picture whose header was read.
    static bool rereadFile(Pixels& pixels);
    // A plain image of the same pixels, named `name`.
    std::shared_ptr<UIImage> sharingPixels(const std::string& name) const;
    std::shared_ptr<UIImage> copyImage() const;

    // Shared with the resizable and re-rendered copies, so a picture decodes once for all.
    std::shared_ptr<Pixels> pixels_;
    int pixelWidth_;
    int pixelHeight_;
    CGFloat scale_;
    std::string name_;
    UIEdgeInsets capInsets_;
    UIImageResizingMode resizingMode_ = UIImageResizingModeTile;
    bool resizable_ = false;
    UIImageRenderingMode renderingMode_ = UIImageRenderingModeAutomatic;
    bool reduced_ = false;
};

// PNG and JPEG encodings of an image; JPEG quality 0...1.
NSData UIImagePNGRepresentation(const std::shared_ptr<UIImage>& image);
NSData UIImageJPEGRepresentation(const std::shared_ptr<UIImage>& image, CGFloat quality);
