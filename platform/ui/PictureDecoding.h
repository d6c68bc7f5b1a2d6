// What UIImage asks of the PNG and JPEG readers: whether bytes are a picture that may be shown,
// from its header alone, and its pixels at the size the image is taken at.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class DispatchCancellation;

namespace ui_detail {

// How bytes fared when their header was read.
enum class PictureHeaderVerdict {
    Taken,
    // Bytes of another kind, none, or a header that does not read.
    NotAPicture,
    // A PNG or JPEG whose header claims more pixels than any picture may have.
    OverPixelCap,
    // A PNG or JPEG whose header claims more bytes or memory than a picture may have, or more
    // than its bytes hold.
    Refused,
};

struct PictureHeader {
    int width = 0;
    int height = 0;
    bool jpeg = false;
    // The coefficients libjpeg holds until the last scan of a JPEG of several scans (every
    // progressive one), however small it is decoded; 0 for one of a single scan.
    std::uint64_t coefficientBytes = 0;
    // A PNG's passes, which a picture kept whole holds half its rows for.
    bool interlaced = false;
    // The bytes of a JPEG's scans. A picture of several scans decoded whole is first rewritten as
    // one scan, which tables made for its coefficients code about as long as an encoder's scans
    // (a few percent either way): what the header tells of that scan's length.
    std::uint64_t scanBytes = 0;
};

// The header of the PNG or JPEG bytes, with the claim bounds applied; why it is not taken in
// `why`, a sentence's predicate ("claims 9000 x 9000 pixels, more than ...").
PictureHeaderVerdict readPictureHeader(const NSData& data, PictureHeader& header, std::string& why);

// While it lives, the bound on a decode's working memory is `bytes` (no more than
// UIImage::kMaxDecodingMemory): for tests, which meet it with pictures far below the cap.
class ScopedDecodingBound {
public:
    explicit ScopedDecodingBound(std::uint64_t bytes);
    ~ScopedDecodingBound();
    ScopedDecodingBound(const ScopedDecodingBound&) = delete;
    ScopedDecodingBound& operator=(const ScopedDecodingBound&) = delete;

private:
    std::uint64_t previous_;
};

// Why decoding the picture at width x height would take more working memory than a picture may
// (UIImage::kMaxDecodingMemory): a sentence's predicate, "" when it would not. Its coefficients,
// the decoders' rows and what reduces its rows count, and at its own size the one scan a picture
// of several scans is rewritten to, as long as its scans; its pixels, the result, do not.
std::string decodingMemoryExceeded(const PictureHeader& header, int width, int height);

// Whether decoding the picture at width x height needs so much memory that it waits for any other
// such decode to end, process-wide: what makes a decode take long too.
bool isLargeDecode(const PictureHeader& header, int width, int height);

// The largest size no larger than width x height that the picture decodes at within that bound:
// width x height itself when it is within it, else, for a JPEG, the largest of libjpeg's own scales
// (n/8) below it, which libjpeg gives with no rows left to reduce. Found from the header alone,
// never the picture's own size with `notWhole` (its whole decode met the bound); nothing when no
// size is within the bound.
std::optional<std::pair<int, int>> largestSizeWithinBound(const PictureHeader& header, int width, int height,
                                                          bool notWhole = false);

// The RGBA pixels (8 bits a channel, rows top to bottom) of bytes whose header was taken, at
// exactly width x height: the header's own size, or a smaller one, which is reduced as the rows
// are read and never held whole. Nothing when the body does not decode, or would take more working
// memory than a picture may once libjpeg has read its header too. Throws std::bad_alloc
// when there is no memory for the pixels; the readers' structures are freed on the way. Why it
// did not decode in `why`, a sentence's predicate, when that is the bound rather than the bytes.
// With `cancellation`, the decode stops once it is cancelled (polled between rows, and between
// rows of blocks while a JPEG's scans are read and rewritten), gives back what it holds, and gives
// nothing, with no reason.
std::optional<std::vector<std::uint8_t>> decodePicturePixels(const NSData& data, const PictureHeader& header, int width,
                                                             int height, std::string* why = nullptr,
                                                             const DispatchCancellation* cancellation = nullptr);

}  // namespace ui_detail
