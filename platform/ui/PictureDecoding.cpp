// PNG and JPEG read with libpng and libjpeg, which are made for hostile bytes, as every picture
// from the network may be. The header is walked first, and a claim its bytes cannot hold is
// refused before anything is decoded. Pixels come at the picture's own size, or reduced as the
// rows arrive (JPEG first through libjpeg's scaled decoding), never held whole then.
#include "platform/ui/PictureDecoding.h"

#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MemoryRelief.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/UIImage.h"

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <span>
#include <string_view>

namespace ui_detail {
namespace {

bool isJPEG(const NSData& data) { return data.size() > 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF; }

bool isPNG(const NSData& data) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() > 8 && std::equal(std::begin(kSignature), std::end(kSignature), data.begin());
}

bool startsWith(const NSData& data, std::size_t at, std::string_view text) {
    return data.size() >= at + text.size() && std::equal(text.begin(), text.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

// What bytes that are neither PNG nor JPEG hold, as the log says it: the kinds a server or a
// renamed file most often puts behind a picture's name.
std::string otherKind(const NSData& data) {
    if (startsWith(data, 0, "GIF87a") || startsWith(data, 0, "GIF89a")) return "holds a GIF picture";
    if (startsWith(data, 0, "RIFF") && startsWith(data, 8, "WEBP")) return "holds a WebP picture";
    // A bitmap's info header says its own length: one of the versions' lengths.
    if (startsWith(data, 0, "BM") && data.size() >= 18) {
        const unsigned info = data[14] | data[15] << 8 | data[16] << 16 | static_cast<unsigned>(data[17]) << 24;
        if (info == 12 || info == 40 || info == 52 || info == 56 || info == 64 || info == 108 || info == 124)
            return "holds a BMP picture";
    }
    return "is neither a PNG nor a JPEG picture";
}

// --- The header walk and the claim bounds ------------------------------------------------------

// A JPEG's frame header: the size, how the scans are coded, and each component's sampling.
struct JPEGFrame {
    struct Component {
        int id = 0;
        int h = 0;
        int v = 0;
    };
    int width = 0;
    int height = 0;
    bool progressive = false;
    bool arithmetic = false;
    // libjpeg takes at most 10 (its MAX_COMPONENTS); a frame of more is held by no scans.
    std::array<Component, 10> components{};
    std::size_t componentCount = 0;
    bool tooManyComponents = false;
    // Just past the frame header: where the scans' segments are looked for.
    std::size_t end = 0;
};

// The frame header, found by walking the segments before it by their lengths alone. libjpeg's
// own header reading goes on to the first scan, and bytes that end between the two are a picture
// of that size that does not decode, as bytes cut in the body are.
bool jpegFrame(const NSData& data, JPEGFrame& frame) {
    std::size_t at = 2;
    while (at + 4 <= data.size()) {
        const std::uint8_t marker = data[at + 1];
        // Bytes between segments are skipped, as both decoders do, and so are fill bytes.
        if (data[at] != 0xFF || marker == 0xFF) {
            ++at;
            continue;
        }
        // The image ends, or its scan begins, without a frame header; or a marker of no length.
        if (marker == 0xD9 || marker == 0xDA || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) return false;
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2) return false;
        // Sequential and progressive frames, Huffman or arithmetic coded: the kinds libjpeg decodes.
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA) {
            if (length < 8 || at + 9 > data.size()) return false;
            frame.height = data[at + 5] << 8 | data[at + 6];
            frame.width = data[at + 7] << 8 | data[at + 8];
            frame.progressive = marker == 0xC2 || marker == 0xCA;
            frame.arithmetic = marker == 0xC9 || marker == 0xCA;
            frame.end = at + 2 + length;
            // The components as far as the bytes hold them; those missing leave the picture
            // without scans that could cover it.
            const std::size_t count = at + 9 < data.size() ? data[at + 9] : 0;
            frame.tooManyComponents = count > frame.components.size();
            for (std::size_t c = 0; c < std::min(count, frame.components.size()) &&
                                    at + 12 + 3 * c < std::min(data.size(), frame.end);
                 ++c) {
                const std::uint8_t sampling = data[at + 11 + 3 * c];
                frame.components[frame.componentCount++] = {data[at + 10 + 3 * c], sampling >> 4, sampling & 0x0F};
            }
            return frame.width > 0 && frame.height > 0;
        }
        if (marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) return false;
        at += 2 + length;
    }
    return false;
}

// Where the entropy-coded bytes that begin at `at` end: at the first marker that is no restart
// (a stuffed zero is data); the end of the bytes when there is none.
std::size_t scanEnd(const NSData& data, std::size_t at) {
    while (at < data.size()) {
        const auto* found = static_cast<const std::uint8_t*>(std::memchr(data.data() + at, 0xFF, data.size() - at));
        if (!found) return data.size();
        at = static_cast<std::size_t>(found - data.data());
        if (at + 1 >= data.size()) return data.size();
        const std::uint8_t next = data[at + 1];
        if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return at;
        at += 2;
    }
    return data.size();
}

// Whether the Huffman-coded JPEG's scans are long enough to give every block of the picture its
// fewest bits. A Huffman code is at least one bit long: a sequential scan spends a code on each
// block's DC difference and at least one more on its AC coefficients (an end of block, if nothing
// else), and a progressive picture's first DC scan a code on each block. Later progressive scans
// can pass over thousands of blocks with one code, so every component must have a scan of the two
// first kinds, each as long as its blocks need. The bytes are counted with restart markers and
// stuffed zeros, which only makes the bound looser; libjpeg fails a scan that ends short of it.
// The scans' bytes, so counted, are added to `scanBytes`.
bool jpegScansHoldBlocks(const NSData& data, const JPEGFrame& frame, std::uint64_t& scanBytes) {
    if (frame.componentCount == 0 || frame.tooManyComponents) return false;
    const auto components = std::span(frame.components).first(frame.componentCount);
    int hMax = 1, vMax = 1;
    for (const auto& c : components) {
        // libjpeg takes sampling factors of 1 to 4 alone.
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) return false;
        hMax = std::max(hMax, c.h);
        vMax = std::max(vMax, c.v);
    }
    auto roundUp = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
    // Bit c: component c has a scan that bounds it.
    unsigned covered = 0;
    std::size_t at = frame.end;
    while (at + 4 <= data.size()) {
        const std::uint8_t marker = data[at + 1];
        if (data[at] != 0xFF || marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD9) break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            at += 2;
            continue;
        }
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2) break;
        const std::size_t next = at + 2 + length;
        if (marker != 0xDA) {
            at = next;
            continue;
        }
        const std::size_t count = at + 4 < data.size() ? data[at + 4] : 0;
        if (count == 0 || length != 6 + 2 * count || next > data.size()) break;
        // libjpeg takes at most 4 components to a scan.
        if (count > 4) break;
        std::array<std::size_t, 4> members{};
        for (std::size_t i = 0; i < count; ++i) {
            const auto found = std::find_if(components.begin(), components.end(),
                                            [&](const JPEGFrame::Component& c) { return c.id == data[at + 5 + 2 * i]; });
            if (found == components.end()) return false;
            members[i] = static_cast<std::size_t>(found - components.begin());
        }
        const std::uint8_t spectralStart = data[next - 3], approximationHigh = data[next - 1] >> 4;
        const std::size_t end = scanEnd(data, next);
        scanBytes += end - next;
        // Sequential scans, and the first DC scans of a progressive picture.
        const std::uint64_t leastBits = !frame.progressive ? 2 : spectralStart == 0 && approximationHigh == 0 ? 1 : 0;
        if (leastBits > 0) {
            std::uint64_t blocks = 0;
            if (count == 1) {
                const auto& c = components[members[0]];
                blocks = roundUp(static_cast<std::uint64_t>(frame.width) * c.h, 8 * hMax) *
                         roundUp(static_cast<std::uint64_t>(frame.height) * c.v, 8 * vMax);
            } else {
                std::uint64_t perUnit = 0;
                for (std::size_t i = 0; i < count; ++i) perUnit += components[members[i]].h * components[members[i]].v;
                blocks = roundUp(frame.width, 8 * hMax) * roundUp(frame.height, 8 * vMax) * perUnit;
            }
            if (blocks * leastBits > static_cast<std::uint64_t>(end - next) * 8) return false;
            for (std::size_t i = 0; i < count; ++i) covered |= 1u << members[i];
        }
        at = end;
    }
    return covered == (1u << frame.componentCount) - 1;
}

// The bytes libjpeg holds for the coefficients of a picture of several scans: an 8 x 8 block of
// two-byte coefficients for each 8 x 8 samples of each component, its sampling (h, v) considered,
// rounded up to whole units as libjpeg lays them out.
std::uint64_t coefficientBytes(std::uint64_t width, std::uint64_t height, std::span<const std::pair<int, int>> sampling) {
    // libjpeg refuses other factors before it holds anything.
    auto factor = [](int f) { return static_cast<std::uint64_t>(std::clamp(f, 1, 4)); };
    std::uint64_t hMax = 1, vMax = 1;
    for (const auto& [h, v] : sampling) {
        hMax = std::max(hMax, factor(h));
        vMax = std::max(vMax, factor(v));
    }
    auto roundUp = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
    std::uint64_t blocks = 0;
    for (const auto& [hFactor, vFactor] : sampling) {
        const std::uint64_t h = factor(hFactor), v = factor(vFactor);
        blocks += roundUp(roundUp(width * h, 8 * hMax), h) * h * roundUp(roundUp(height * v, 8 * vMax), v) * v;
    }
    return blocks * sizeof(JBLOCK);
}

// Whether libjpeg holds the picture's coefficients until its last scan: a progressive one does, and
// so does a sequential one whose first scan leaves some of its components to later scans.
bool jpegHasMultipleScans(const NSData& data, const JPEGFrame& frame) {
    if (frame.progressive) return true;
    std::size_t at = frame.end;
    while (at + 4 < data.size()) {
        const std::uint8_t marker = data[at + 1];
        if (data[at] != 0xFF || marker == 0xFF || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            ++at;
            continue;
        }
        if (marker == 0xDA) return data[at + 4] < frame.componentCount;
        if (marker == 0xD9) break;
        at += 2 + (static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3]);
    }
    return false;
}

// Deflate writes at most 258 bytes for 2 bits: no PNG's image data inflates to more than this
// many times its length.
constexpr std::uint64_t kDeflateMostExpansion = 1032;

// Whether the PNG's image data chunks could inflate to its pixels.
bool pngDataHoldsPixels(const NSData& data, int width, int height) {
    // The header chunk comes first, as libpng has checked: bit depth, then colour type.
    const unsigned depth = data[24], colourType = data[25];
    const unsigned samples = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    std::uint64_t compressed = 0;
    for (std::size_t at = 8; at + 8 <= data.size();) {
        const std::uint64_t length = static_cast<std::uint64_t>(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
        if (startsWith(data, at + 4, "IDAT")) compressed += std::min<std::uint64_t>(length, data.size() - at - 8);
        at += 12 + length;
    }
    // The rows' filter bytes, and the interlaced passes' further ones, come on top: the pixels'
    // bits alone are a floor for every layout.
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * samples * depth / 8;
    return pixelBytes <= compressed * kDeflateMostExpansion;
}

// --- Where decoded rows go ---------------------------------------------------------------------

// The rows of a picture as its decoder gives them, at the size it decodes at.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Row `y`: RGBA pixels across the decoded width, of which those at firstX, firstX + stepX, …
    // are this call's (every one with 1 and 0); an interlaced picture gives a row in several calls.
    virtual void row(int y, const std::uint8_t* rgba, int firstX, int stepX) = 0;
    // Whether it takes a row in parts, as they come.
    virtual bool takesParts() const = 0;
    // The picture, once every row has come; nothing when some did not.
    virtual std::optional<std::vector<std::uint8_t>> take() = 0;
};

// The rows as they are, in order. Reserved, not filled: each row is touched as it arrives, so a
// body that fails early has cost only the rows it reached.
class WholeRows final : public RowSink {
public:
    WholeRows(int width, int height)
        : stride_(static_cast<std::size_t>(width) * 4), size_(stride_ * static_cast<std::size_t>(height)) {
        pixels_.reserve(size_);
    }
    void row(int, const std::uint8_t* rgba, int, int) override { pixels_.insert(pixels_.end(), rgba, rgba + stride_); }
    bool takesParts() const override { return false; }
    std::optional<std::vector<std::uint8_t>> take() override {
        if (pixels_.size() != size_) return std::nullopt;
        return std::move(pixels_);
    }

private:
    std::size_t stride_;
    std::size_t size_;
    std::vector<std::uint8_t> pixels_;
};

// A sourceWidth x sourceHeight picture reduced to width x height as its pixels arrive, in any
// order: the source's columns and rows are split into as many runs as the result has, and each
// pixel of the result is the mean of the source pixels it covers. It holds sums for the result
// alone, of a type wide enough for its largest run.
template <typename Sum>
class Reduction final : public RowSink {
public:
    Reduction(int sourceWidth, int sourceHeight, int width, int height)
        : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), width_(width), height_(height),
          columns_(static_cast<std::size_t>(sourceWidth)),
          sums_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0) {
        for (int x = 0; x < sourceWidth; ++x) columns_[static_cast<std::size_t>(x)] = runOf(x, width, sourceWidth);
    }

    void row(int y, const std::uint8_t* rgba, int firstX, int stepX) override {
        if (y < 0 || y >= sourceHeight_) return;
        Sum* sums = &sums_[static_cast<std::size_t>(runOf(y, height_, sourceHeight_)) * static_cast<std::size_t>(width_) * 4];
        for (int x = firstX; x < sourceWidth_; x += stepX) {
            const std::uint8_t* p = rgba + static_cast<std::size_t>(x) * 4;
            Sum* q = sums + static_cast<std::size_t>(columns_[static_cast<std::size_t>(x)]) * 4;
            q[0] += p[0];
            q[1] += p[1];
            q[2] += p[2];
            q[3] += p[3];
        }
    }

    bool takesParts() const override { return true; }

    std::optional<std::vector<std::uint8_t>> take() override {
        std::vector<std::uint8_t> out(sums_.size());
        for (int y = 0; y < height_; ++y) {
            const std::uint64_t rows = start(y + 1, height_, sourceHeight_) - start(y, height_, sourceHeight_);
            for (int x = 0; x < width_; ++x) {
                const std::uint64_t count = rows * (start(x + 1, width_, sourceWidth_) - start(x, width_, sourceWidth_));
                const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 4;
                for (std::size_t c = 0; c < 4; ++c)
                    out[at + c] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(sums_[at + c]) + count / 2) / count);
            }
        }
        sums_ = {};
        return out;
    }

    // The first source index of run `i` of `runs` over `length`; the runs partition the length
    // when there are no more of them than it has.
    static std::uint64_t start(int i, int runs, int length) {
        return static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(length) / static_cast<std::uint64_t>(runs);
    }
    // The run that source index `at` falls in.
    static int runOf(int at, int runs, int length) {
        return static_cast<int>((static_cast<std::uint64_t>(at + 1) * static_cast<std::uint64_t>(runs) - 1) /
                                static_cast<std::uint64_t>(length));
    }

private:
    int sourceWidth_;
    int sourceHeight_;
    int width_;
    int height_;
    std::vector<int> columns_;
    std::vector<Sum> sums_;
};

// Whether a reduction from decodedWidth x decodedHeight to width x height sums in 32 bits: its
// largest run's sum of a channel fits.
bool sumsFit32Bits(int decodedWidth, int decodedHeight, int width, int height) {
    const std::uint64_t run = (static_cast<std::uint64_t>(decodedWidth) / static_cast<std::uint64_t>(width) + 1) *
                              (static_cast<std::uint64_t>(decodedHeight) / static_cast<std::uint64_t>(height) + 1);
    return run * 255 <= std::numeric_limits<std::uint32_t>::max();
}

// The sink for rows decoded at decodedWidth x decodedHeight that must give width x height.
std::unique_ptr<RowSink> sinkFor(int decodedWidth, int decodedHeight, int width, int height) {
    if (decodedWidth == width && decodedHeight == height) return std::make_unique<WholeRows>(width, height);
    if (sumsFit32Bits(decodedWidth, decodedHeight, width, height))
        return std::make_unique<Reduction<std::uint32_t>>(decodedWidth, decodedHeight, width, height);
    return std::make_unique<Reduction<std::uint64_t>>(decodedWidth, decodedHeight, width, height);
}

// What that sink holds beside the result: a reduction's sums and its map of columns; nothing for
// rows kept as they come, which are the result.
std::uint64_t sinkBytes(int decodedWidth, int decodedHeight, int width, int height) {
    if (decodedWidth == width && decodedHeight == height) return 0;
    const std::uint64_t sum = sumsFit32Bits(decodedWidth, decodedHeight, width, height) ? 4 : 8;
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4 * sum +
           static_cast<std::uint64_t>(decodedWidth) * sizeof(int);
}

// --- Turns for decodes that need much memory ---------------------------------------------------

// A decode that needs more working memory than this waits for the one running, process-wide, so
// that pictures decoded at once on several threads (a page read in the background, the cells
// drawn, a thumbnail fetched) never stack their largest needs.
constexpr std::uint64_t kLargeDecodeBytes = 32ull * 1024 * 1024;

Mutex gTurnMutex;
std::condition_variable gTurnFree;
bool gTurnTaken GUARDED_BY(gTurnMutex) = false;

// Held by the caller of a decoder, so that however the decoder ends the turn is given back.
class DecodeTurn {
public:
    DecodeTurn() = default;
    DecodeTurn(const DecodeTurn&) = delete;
    DecodeTurn& operator=(const DecodeTurn&) = delete;
    ~DecodeTurn() {
        if (!held_) return;
        // The decoder's large blocks are freed by now. Blocks the allocator keeps in its heap
        // rather than mapping them apart (libjpeg's coefficient rows, the rewritten scan) would
        // stay with the process, and the next large decode's blocks rarely fit the holes: they go
        // back to the system, not here (under the picture's lock, and often on the main thread)
        // but behind the decoding queue's work or on a background queue, once for the decodes
        // that ended meanwhile.
        static const auto relief = MemoryRelief::make(DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
        relief->request();
        {
            MutexLock lock(gTurnMutex);
            gTurnTaken = false;
        }
        gTurnFree.notify_one();
    }
    // Waits for the turn when `bytes` are many and it is not held yet.
    void take(std::uint64_t bytes) {
        if (held_ || bytes <= kLargeDecodeBytes) return;
        MutexLock lock(gTurnMutex);
        lock.wait(gTurnFree, [&]() REQUIRES(gTurnMutex) { return !gTurnTaken; });
        gTurnTaken = true;
        held_ = true;
    }

private:
    bool held_ = false;
};

// --- The bound on a decode's working memory ---------------------------------------------------

// UIImage::kMaxDecodingMemory, unless a test has lowered it (ScopedDecodingBound).
std::atomic<std::uint64_t> gDecodingBound{static_cast<std::uint64_t>(UIImage::kMaxDecodingMemory)};
std::uint64_t decodingBound() { return gDecodingBound.load(std::memory_order_relaxed); }
// The decoders' rows and tables beside what is counted apart (coefficients, sums, an interlaced
// picture's rows): a few rows of the widest picture in each of libjpeg's and libpng's stages, 16
// MB of the bound; a lowered bound lowers them alike.
constexpr std::uint64_t kDecoderRowsShare = 20;
std::uint64_t decoderRows(std::uint64_t bound) { return bound / kDecoderRowsShare; }

// The n of the n/8 scale libjpeg decodes a fullWidth x fullHeight picture at to give width x
// height: the smallest that still gives at least that.
unsigned jpegEighths(std::uint64_t fullWidth, std::uint64_t fullHeight, int width, int height) {
    unsigned eighths = 1;
    while (eighths < 8 && ((fullWidth * eighths + 7) / 8 < static_cast<std::uint64_t>(width) ||
                           (fullHeight * eighths + 7) / 8 < static_cast<std::uint64_t>(height)))
        ++eighths;
    return eighths;
}

// What the sink holds for a fullWidth x fullHeight JPEG that libjpeg decodes at the scale
// jpegEighths gives for width x height.
std::uint64_t jpegSinkBytes(int fullWidth, int fullHeight, int width, int height) {
    const unsigned eighths = jpegEighths(static_cast<std::uint64_t>(fullWidth), static_cast<std::uint64_t>(fullHeight),
                                         width, height);
    const auto scaled = [&](int full) { return static_cast<int>((static_cast<std::uint64_t>(full) * eighths + 7) / 8); };
    return sinkBytes(scaled(fullWidth), scaled(fullHeight), width, height);
}

// A picture of several scans decoded at full size would hold its coefficients and its pixels at
// once: past this many bytes of coefficients its scans are first rewritten as one sequential scan
// (the same coefficients, so the same pixels), the coefficients are let go, and then that is
// decoded row by row into the pixels.
constexpr std::uint64_t kJPEGRewriteAbove = 32ull * 1024 * 1024;

// What rewriting holds beside the coefficients and the scan it writes: the two sides' tables and
// a few blocks.
constexpr std::uint64_t kRewriteTables = 1ull * 1024 * 1024;

// Whether the picture decoded at width x height is first rewritten as one scan.
bool rewrittenWhole(const PictureHeader& header, int width, int height) {
    return header.jpeg && width == header.width && height == header.height && header.coefficientBytes > kJPEGRewriteAbove;
}

// What decoding the picture to width x height holds beside its pixels, the decoders' rows and
// tables aside.
std::uint64_t countedMemory(const PictureHeader& header, int width, int height) {
    if (header.jpeg) return header.coefficientBytes + jpegSinkBytes(header.width, header.height, width, height);
    if (width != header.width || height != header.height) return sinkBytes(header.width, header.height, width, height);
    return header.interlaced ? static_cast<std::uint64_t>(width) * 4 * static_cast<std::uint64_t>((height + 1) / 2) : 0;
}

// What decoding the picture to width x height takes its turn with (DecodeTurn): what the decoder
// holds at most, and the pixels when they are kept whole as they come.
std::uint64_t turnBytes(const PictureHeader& header, int width, int height) {
    const bool whole = width == header.width && height == header.height;
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 4;
    if (header.jpeg)
        return header.coefficientBytes + jpegSinkBytes(header.width, header.height, width, height) + (whole ? pixels : 0);
    // A PNG kept whole holds an interlaced picture's even rows beside it; one reduced, its sums.
    return whole ? pixels * (header.interlaced ? 3 : 2) / 2 : pixels * 4;
}

// --- JPEG --------------------------------------------------------------------------------------

// libjpeg reports a fatal error by calling error_exit, which must not return, and its warnings
// through emit_message; both come back by the jump.
struct JPEGErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};
[[noreturn]] void jpegFailed(j_common_ptr info) { std::longjmp(reinterpret_cast<JPEGErrors*>(info->err)->jump, 1); }
// Warnings (corrupt data libjpeg decodes around) stay off standard error, as the trace does. A
// scan whose bytes end before the picture does, at the end of the bytes or at a marker, is a
// failure: libjpeg would make up the rest, and a picture cut short must not pass for a whole one.
void jpegMessage(j_common_ptr info, int level) {
    if (level < 0 && (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER)) jpegFailed(info);
}

// Whether the caller no longer wants the pixels.
bool stopped(const DispatchCancellation* cancellation) { return cancellation && cancellation->isCancelled(); }

// libjpeg calls its progress monitor as it reads each row of blocks of a scan, and as it writes
// them: where a decode that is no longer wanted stops.
struct JPEGProgress {
    jpeg_progress_mgr manager;  // first, so that libjpeg's pointer to it is this record's too
    const DispatchCancellation* cancellation = nullptr;
};

// A progressive picture's scans each pass over all its coefficients, and a hostile one can repeat
// a scan thousands of times in a few bytes each: encoders write about ten, so past this many the
// picture is refused rather than decoded for minutes.
constexpr int kJPEGMaxScans = 100;
void jpegProgress(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kJPEGMaxScans ||
        stopped(reinterpret_cast<JPEGProgress*>(info->progress)->cancellation))
        jpegFailed(info);
}
void jpegWriteProgress(j_common_ptr info) {
    if (stopped(reinterpret_cast<JPEGProgress*>(info->progress)->cancellation)) jpegFailed(info);
}

// A picture of several scans (every progressive one) has libjpeg hold all its coefficients until
// its last scan has come, however small it is decoded: its scaled decoding keeps every block's
// coefficients, and its buffered-image mode keeps them all too (it only lets pixels be read between
// scans), so neither needs less. They count against the bound on a decode's working memory with
// everything else libjpeg holds (its max_memory_to_use), and such decodes take turns (DecodeTurn)
// so that two never hold their coefficients at once.

// The coefficients libjpeg will hold for the picture whose header `info` has read.
std::uint64_t heldCoefficients(j_decompress_ptr info) {
    if (!jpeg_has_multiple_scans(info)) return 0;
    std::array<std::pair<int, int>, MAX_COMPONENTS> sampling{};
    const auto count = static_cast<std::size_t>(std::clamp(info->num_components, 0, MAX_COMPONENTS));
    for (std::size_t c = 0; c < count; ++c) sampling[c] = {info->comp_info[c].h_samp_factor, info->comp_info[c].v_samp_factor};
    return coefficientBytes(info->image_width, info->image_height, std::span(sampling).first(count));
}

// The sequential rewrite, written into memory taken once at its bound and touched only as far as
// libjpeg writes: nothing is copied as it grows, so what it holds is what it has written. A scan
// that reaches the bound stops there.
struct RewriteDestination {
    jpeg_destination_mgr manager;  // first, so that libjpeg's pointer to it is this record's too
    std::uint8_t* bytes = nullptr;
    std::size_t limit = 0;
    std::size_t length = 0;
    // The scan reached the bound.
    bool full = false;
};
void rewriteStart(j_compress_ptr info) {
    auto* destination = reinterpret_cast<RewriteDestination*>(info->dest);
    destination->manager.next_output_byte = destination->bytes;
    destination->manager.free_in_buffer = destination->limit;
}
boolean rewriteFull(j_compress_ptr info) {
    reinterpret_cast<RewriteDestination*>(info->dest)->full = true;
    jpegFailed(reinterpret_cast<j_common_ptr>(info));
}
void rewriteEnd(j_compress_ptr info) {
    auto* destination = reinterpret_cast<RewriteDestination*>(info->dest);
    destination->length = destination->limit - destination->manager.free_in_buffer;
}

// The decoder's structures, freed however decoding ends: by libjpeg's jump, by a std::bad_alloc
// while the pixels grow, or at the end.
struct JPEGDecoder {
    jpeg_decompress_struct info{};
    jpeg_compress_struct writer{};
    bool writing = false;
    JPEGErrors errors{};
    // The writer's own, so that a scan that stops at its bound can be written again.
    JPEGErrors writerErrors{};
    RewriteDestination destination{};
    // Both sides poll the caller's cancellation through them.
    JPEGProgress progress{};
    JPEGProgress writerProgress{};
    // Not initialised: its pages are touched only as the scan is written into them.
    std::unique_ptr<std::uint8_t[]> rewritten;
    // Safe before the structures are made too: libjpeg frees nothing then.
    ~JPEGDecoder() {
        if (writing) jpeg_destroy_compress(&writer);
        jpeg_destroy_decompress(&info);
    }
};

// Writes the coefficients as one sequential scan into `decoder.rewritten`, with Huffman tables made
// for them when `ownTables` (a pass more over them for a scan about a tenth shorter than with the
// standard ones); false when the scan does not fit. In a frame of its own that holds nothing the
// writer's jump could skip the end of.
bool writeScan(JPEGDecoder& decoder, jvirt_barray_ptr* arrays, bool ownTables) {
    decoder.writer.err = jpeg_std_error(&decoder.writerErrors.manager);
    decoder.writerErrors.manager.error_exit = jpegFailed;
    decoder.writerErrors.manager.emit_message = jpegMessage;
    decoder.destination.full = false;
    if (setjmp(decoder.writerErrors.jump)) {
        jpeg_destroy_compress(&decoder.writer);
        decoder.writing = false;
        return false;
    }
    jpeg_create_compress(&decoder.writer);
    decoder.writing = true;
    jpeg_copy_critical_parameters(&decoder.info, &decoder.writer);
    decoder.writer.optimize_coding = ownTables ? TRUE : FALSE;
    decoder.writerProgress.manager.progress_monitor = jpegWriteProgress;
    decoder.writerProgress.cancellation = decoder.progress.cancellation;
    decoder.writer.progress = &decoder.writerProgress.manager;
    decoder.destination.bytes = decoder.rewritten.get();
    decoder.destination.manager.init_destination = rewriteStart;
    decoder.destination.manager.empty_output_buffer = rewriteFull;
    decoder.destination.manager.term_destination = rewriteEnd;
    decoder.writer.dest = &decoder.destination.manager;
    jpeg_write_coefficients(&decoder.writer, arrays);
    jpeg_finish_compress(&decoder.writer);
    jpeg_destroy_compress(&decoder.writer);
    decoder.writing = false;
    return true;
}

// Rewrites the picture whose header `decoder.info` has read as one sequential scan into
// `decoder.rewritten`, at most `limit` bytes long, and leaves the decompressor ready for a new
// header. A scan with the standard tables that does not fit is written again with tables made for
// the picture, unless `ownTables` had them made at once.
void rewriteSequential(JPEGDecoder& decoder, std::uint64_t limit, bool ownTables) {
    decoder.rewritten.reset(new std::uint8_t[static_cast<std::size_t>(limit)]);
    decoder.destination.limit = static_cast<std::size_t>(limit);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&decoder.info);
    if (!writeScan(decoder, arrays, ownTables) &&
        (ownTables || !decoder.destination.full || !writeScan(decoder, arrays, true)))
        jpegFailed(reinterpret_cast<j_common_ptr>(&decoder.info));
    // Frees the coefficients.
    jpeg_abort_decompress(&decoder.info);
}

// decodeJPEG's work, in a frame of its own that holds nothing the jump could skip the end of: what
// lives across it is the decoder's and the caller's.
bool readJPEG(JPEGDecoder& decoder, const NSData& data, int fullWidth, int fullHeight, int width, int height,
              std::unique_ptr<RowSink>& sink, DecodeTurn& turn, std::uint64_t turnBytes) {
    jpeg_decompress_struct& info = decoder.info;
    info.err = jpeg_std_error(&decoder.errors.manager);
    decoder.errors.manager.error_exit = jpegFailed;
    decoder.errors.manager.emit_message = jpegMessage;
    if (setjmp(decoder.errors.jump)) return false;
    jpeg_create_decompress(&info);
    decoder.progress.manager.progress_monitor = jpegProgress;
    info.progress = &decoder.progress.manager;
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    if (info.image_width != static_cast<unsigned>(fullWidth) || info.image_height != static_cast<unsigned>(fullHeight))
        jpegFailed(reinterpret_cast<j_common_ptr>(&info));
    const bool whole = width == fullWidth && height == fullHeight;
    const std::uint64_t coefficients = heldCoefficients(&info);
    const unsigned eighths = jpegEighths(info.image_width, info.image_height, width, height);
    // Our sink's part of the bound, and libjpeg's all the rest: its rows, and the coefficients as
    // it sees them, which the header's walk counted too.
    const std::uint64_t sums = jpegSinkBytes(fullWidth, fullHeight, width, height);
    const std::uint64_t bound = decodingBound();
    if (coefficients + sums + decoderRows(bound) > bound) jpegFailed(reinterpret_cast<j_common_ptr>(&info));
    turn.take(turnBytes);
    if (stopped(decoder.progress.cancellation)) jpegFailed(reinterpret_cast<j_common_ptr>(&info));
    info.mem->max_memory_to_use = static_cast<long>(bound - sums);
    if (whole && coefficients > kJPEGRewriteAbove) {
        // The scan is written beside the coefficients, in all the bound leaves them: no rows are
        // decoded meanwhile. They come once the coefficients are gone, beside the scan alone, and
        // the two stay within the bound, since the coefficients outweigh the rows.
        const std::uint64_t room = bound - coefficients - kRewriteTables;
        static_assert(kJPEGRewriteAbove + kRewriteTables >=
                      static_cast<std::uint64_t>(UIImage::kMaxDecodingMemory) / kDecoderRowsShare);
        // No sound picture's single scan is longer than its coefficients.
        const std::uint64_t limit = std::min(coefficients, room);
        // With the standard tables the scan runs up to a quarter longer than an encoder's
        // progressive scans (a sixth, for a photograph): near the cap that does not fit in what the
        // bound leaves, and the tables are made for the picture at once.
        rewriteSequential(decoder, limit, data.size() + data.size() / 4 > limit);
        jpeg_mem_src(&info, decoder.rewritten.get(), static_cast<unsigned long>(decoder.destination.length));
        jpeg_read_header(&info, TRUE);
    }
    info.scale_num = eighths;
    info.scale_denom = 8;
    // libjpeg converts to RGBA from YCbCr, RGB and grey; CMYK (and YCCK, which it turns into CMYK)
    // comes as it is stored and is converted below.
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const int decodedWidth = static_cast<int>(info.output_width);
    const int decodedHeight = static_cast<int>(info.output_height);
    if (decodedWidth < width || decodedHeight < height) jpegFailed(reinterpret_cast<j_common_ptr>(&info));
    sink = sinkFor(decodedWidth, decodedHeight, width, height);
    const std::size_t stride = static_cast<std::size_t>(decodedWidth) * 4;
    // libjpeg-turbo writes a row that starts on a 32-byte boundary with non-temporal stores, which
    // bypass the cache the pixels are read from next and made a thumbnail's decoding three times
    // slower: each row is written where it starts half-way between two boundaries, then copied.
    auto* scratch = static_cast<std::uint8_t*>(
        info.mem->alloc_large(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, stride + 32));
    std::uint8_t* const offBoundary = scratch + (48 - reinterpret_cast<std::uintptr_t>(scratch) % 32) % 32;
    while (info.output_scanline < info.output_height) {
        if (stopped(decoder.progress.cancellation)) jpegFailed(reinterpret_cast<j_common_ptr>(&info));
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = offBoundary;
        jpeg_read_scanlines(&info, &row, 1);
        if (cmyk) {
            // Stored inverted, as every CMYK JPEG is: each colour is its value times black's.
            for (std::size_t i = 0; i < stride; i += 4) {
                const unsigned k = offBoundary[i + 3];
                for (std::size_t c = 0; c < 3; ++c)
                    offBoundary[i + c] = static_cast<std::uint8_t>((offBoundary[i + c] * k + 127) / 255);
                offBoundary[i + 3] = 255;
            }
        }
        sink->row(y, offBoundary, 0, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

// The JPEG picture of fullWidth x fullHeight pixels (its frame header's size, which libjpeg must
// find too) decoded at the smallest of libjpeg's scales (n/8) that is still at least width x
// height, then reduced to that as its rows come.
std::optional<std::vector<std::uint8_t>> decodeJPEG(const NSData& data, int fullWidth, int fullHeight, int width,
                                                    int height, std::uint64_t turnBytes, std::string* why,
                                                    const DispatchCancellation* cancellation) {
    // Declared before the decoder: the turn is given back once the decoder's memory is freed.
    DecodeTurn turn;
    std::unique_ptr<RowSink> sink;
    JPEGDecoder decoder;
    decoder.progress.cancellation = cancellation;
    if (!readJPEG(decoder, data, fullWidth, fullHeight, width, height, sink, turn, turnBytes)) {
        if (decoder.destination.full && why && !stopped(cancellation))
            *why = NSString::format("needs more memory to decode at its full size than the %llu a picture may take",
                                    static_cast<unsigned long long>(decodingBound()));
        return std::nullopt;
    }
    return sink->take();
}

// --- PNG ---------------------------------------------------------------------------------------

// libpng reads the bytes through this, and ends the picture where they end.
struct PNGSource {
    const std::uint8_t* bytes;
    std::size_t length;
    std::size_t offset = 0;
};
void pngRead(png_structp png, png_bytep out, std::size_t length) {
    auto* source = static_cast<PNGSource*>(png_get_io_ptr(png));
    if (length > source->length - source->offset) png_error(png, "the bytes end before the picture");
    std::memcpy(out, source->bytes + source->offset, length);
    source->offset += length;
}
[[noreturn]] void pngFailed(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// The reader's structures and the rows it reads into, freed however reading ends: by libpng's
// jump, by a std::bad_alloc while the pixels grow, or at the end.
struct PNGReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<std::uint8_t> row;
    // An interlaced picture's even rows, which its first six passes fill, when it is kept whole:
    // not zeroed, so that they are touched only as the passes reach them.
    std::unique_ptr<std::uint8_t[]> evenRows;
    ~PNGReader() {
        if (png) png_destroy_read_struct(&png, &info, nullptr);
    }
};

// What a PNG is read for beyond its size: the pixels at width x height into the sink made for them.
struct PNGPixels {
    int width = 0;
    int height = 0;
    std::unique_ptr<RowSink>* sink = nullptr;
    DecodeTurn* turn = nullptr;
    std::uint64_t turnBytes = 0;
    const DispatchCancellation* cancellation = nullptr;
};

// readPNG's work, in a frame of its own that holds nothing the jump could skip the end of.
bool readPNGWith(PNGReader& reader, PNGSource& source, PictureHeader& header, const PNGPixels* pixels) {
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png))) return false;
    // The pixel cap decides a picture's size, not libpng's million a side.
    png_set_user_limits(png, static_cast<png_uint_32>(UIImage::kMaxPixelCount),
                        static_cast<png_uint_32>(UIImage::kMaxPixelCount));
    // Checksums are not checked: they guard against damage in transfer, which the transfer catches
    // itself, and a hostile file carries right ones anyway.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    // Only the chunks that make the pixels are parsed; colour profiles, texts and the rest are
    // skipped unread.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_read_fn(png, &source, pngRead);
    png_read_info(png, info);
    header.width = static_cast<int>(png_get_image_width(png, info));
    header.height = static_cast<int>(png_get_image_height(png, info));
    header.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    if (!pixels) return true;
    const int width = header.width, height = header.height;
    // Palettes, fewer than 8 bits, transparency chunks and 16 bits (its high byte) to 8-bit RGBA.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    if (png_get_rowbytes(png, info) != stride) png_error(png, "not RGBA after the transformations");
    pixels->turn->take(pixels->turnBytes);
    std::unique_ptr<RowSink>& sink = *pixels->sink;
    sink = sinkFor(width, height, pixels->width, pixels->height);
    reader.row.resize(stride);
    // Polled before each row is read.
    const auto readRow = [png, cancellation = pixels->cancellation](png_bytep row) {
        if (stopped(cancellation)) png_error(png, "the decode was cancelled");
        png_read_row(png, row, nullptr);
    };
    if (passes == 1) {
        for (int y = 0; y < height; ++y) {
            readRow(reader.row.data());
            sink->row(y, reader.row.data(), 0, 1);
        }
    } else if (sink->takesParts()) {
        // Adam7, each pass's pixels as they come: libpng writes a pass's pixels into the row given
        // where they belong and reads nothing for a row not in the pass.
        for (int pass = 0; pass < passes; ++pass) {
            const bool columns = PNG_PASS_COLS(static_cast<png_uint_32>(width), pass) > 0;
            for (int y = 0; y < height; ++y) {
                const bool inPass = columns && PNG_ROW_IN_INTERLACE_PASS(y, pass);
                readRow(inPass ? reader.row.data() : nullptr);
                if (inPass)
                    sink->row(y, reader.row.data(), static_cast<int>(PNG_PASS_START_COL(pass)),
                              static_cast<int>(PNG_PASS_COL_OFFSET(pass)));
            }
        }
    } else {
        // Adam7 kept whole: the first six passes fill the even rows alone, and the last fills each
        // odd row whole, top to bottom.
        reader.evenRows.reset(new std::uint8_t[stride * static_cast<std::size_t>((height + 1) / 2)]);
        auto even = [&](int y) { return reader.evenRows.get() + stride * static_cast<std::size_t>(y / 2); };
        for (int pass = 0; pass + 1 < passes; ++pass)
            for (int y = 0; y < height; ++y) readRow(y % 2 ? nullptr : even(y));
        for (int y = 0; y < height; ++y) {
            readRow(y % 2 ? reader.row.data() : nullptr);
            sink->row(y, y % 2 ? reader.row.data() : even(y), 0, 1);
        }
    }
    png_read_end(png, nullptr);
    return true;
}

// The PNG picture's header from its chunks up to the image data; with `pixels`, its pixels too,
// through to the end chunk.
bool readPNG(const NSData& data, PictureHeader& header, const PNGPixels* pixels) {
    PNGSource source{data.data(), data.size()};
    PNGReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarning);
    if (!reader.png) return false;
    reader.info = png_create_info_struct(reader.png);
    return reader.info && readPNGWith(reader, source, header, pixels);
}

std::optional<std::vector<std::uint8_t>> decodePNG(const NSData& data, int fullWidth, int fullHeight, int width,
                                                   int height, std::uint64_t turnBytes,
                                                   const DispatchCancellation* cancellation) {
    DecodeTurn turn;
    std::unique_ptr<RowSink> sink;
    PictureHeader read;
    const PNGPixels pixels{width, height, &sink, &turn, turnBytes, cancellation};
    if (!readPNG(data, read, &pixels) || read.width != fullWidth || read.height != fullHeight || !sink) return std::nullopt;
    return sink->take();
}

// Why a PNG, or a JPEG of this frame, of width x height pixels by its header cannot be shown from
// these bytes; "" when it may be. A Huffman-coded JPEG's scans' bytes go to `scanBytes`.
std::string unholdable(const NSData& data, int width, int height, const JPEGFrame& frame, std::uint64_t& scanBytes) {
    if (isPNG(data) ? pngDataHoldsPixels(data, width, height)
                    : frame.arithmetic ? static_cast<std::int64_t>(width) * height <= UIImage::kMaxArithmeticCodedPixelCount
                                       : jpegScansHoldBlocks(data, frame, scanBytes))
        return "";
    if (!isPNG(data) && frame.arithmetic)
        return NSString::format("claims %d x %d pixels, more than the %lld an arithmetic-coded picture may have", width,
                                height, static_cast<long long>(UIImage::kMaxArithmeticCodedPixelCount));
    return NSString::format("claims %d x %d pixels, more than its %zu bytes can hold", width, height, data.size());
}

}  // namespace

PictureHeaderVerdict readPictureHeader(const NSData& data, PictureHeader& header, std::string& why) {
    if (data.empty()) {
        why = "is empty";
        return PictureHeaderVerdict::NotAPicture;
    }
    if (!isJPEG(data) && !isPNG(data)) {
        why = otherKind(data);
        return PictureHeaderVerdict::NotAPicture;
    }
    // Only the header: the size decides whether the picture is taken at all.
    PictureHeader read;
    JPEGFrame frame;
    const bool readable = isJPEG(data) ? jpegFrame(data, frame) && (read.width = frame.width, read.height = frame.height, true)
                                       : readPNG(data, read, nullptr);
    const int w = read.width, h = read.height;
    if (!readable || w <= 0 || h <= 0) {
        why = isJPEG(data) ? "has a JPEG header that does not read" : "has a PNG header that does not read";
        return PictureHeaderVerdict::NotAPicture;
    }
    if (static_cast<std::int64_t>(w) * h > UIImage::kMaxPixelCount) {
        why = NSString::format("claims %d x %d pixels, more than the %lld a picture may have", w, h,
                               static_cast<long long>(UIImage::kMaxPixelCount));
        return PictureHeaderVerdict::OverPixelCap;
    }
    if (std::string reason = unholdable(data, w, h, frame, read.scanBytes); !reason.empty()) {
        why = std::move(reason);
        return PictureHeaderVerdict::Refused;
    }
    if (isJPEG(data)) {
        read.jpeg = true;
        if (jpegHasMultipleScans(data, frame)) {
            std::array<std::pair<int, int>, 10> sampling{};
            for (std::size_t c = 0; c < frame.componentCount; ++c) sampling[c] = {frame.components[c].h, frame.components[c].v};
            read.coefficientBytes = coefficientBytes(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h),
                                                     std::span(sampling).first(frame.componentCount));
        }
    }
    // Its coefficients are needed however small it is shown.
    if (std::string reason = decodingMemoryExceeded(read, 1, 1); !reason.empty()) {
        why = std::move(reason);
        return PictureHeaderVerdict::Refused;
    }
    header = read;
    return PictureHeaderVerdict::Taken;
}

ScopedDecodingBound::ScopedDecodingBound(std::uint64_t bytes)
    : previous_(gDecodingBound.exchange(std::min(bytes, static_cast<std::uint64_t>(UIImage::kMaxDecodingMemory)))) {}

ScopedDecodingBound::~ScopedDecodingBound() { gDecodingBound.store(previous_); }

std::string decodingMemoryExceeded(const PictureHeader& header, int width, int height) {
    const std::uint64_t bound = decodingBound();
    std::uint64_t needed = countedMemory(header, width, height) + decoderRows(bound);
    // The one scan is written beside the coefficients, before any row is decoded.
    if (rewrittenWhole(header, width, height))
        needed = std::max(needed, header.coefficientBytes + header.scanBytes + kRewriteTables);
    if (needed <= bound) return "";
    return NSString::format("needs %llu bytes of memory to decode, more than the %llu a picture may take",
                            static_cast<unsigned long long>(needed), static_cast<unsigned long long>(bound));
}

bool isLargeDecode(const PictureHeader& header, int width, int height) {
    return turnBytes(header, width, height) > kLargeDecodeBytes;
}

std::optional<std::pair<int, int>> largestSizeWithinBound(const PictureHeader& header, int width, int height,
                                                          bool notWhole) {
    const bool whole = width == header.width && height == header.height;
    if (!(notWhole && whole) && decodingMemoryExceeded(header, width, height).empty()) return std::pair{width, height};
    // The steps down are libjpeg's own scales: at a scale's own size no reduction's sums are held
    // beside the coefficients, which are what fill the bound.
    if (!header.jpeg) return std::nullopt;
    const auto scaled = [](int full, unsigned eighths) {
        return static_cast<int>((static_cast<std::uint64_t>(full) * eighths + 7) / 8);
    };
    for (unsigned eighths = 7; eighths >= 1; --eighths) {
        const int w = scaled(header.width, eighths), h = scaled(header.height, eighths);
        if (w > width || h > height || (notWhole && w == header.width && h == header.height)) continue;
        if (decodingMemoryExceeded(header, w, h).empty()) return std::pair{w, h};
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> decodePicturePixels(const NSData& data, const PictureHeader& header, int width,
                                                             int height, std::string* why,
                                                             const DispatchCancellation* cancellation) {
    if (width <= 0 || height <= 0 || width > header.width || height > header.height) return std::nullopt;
    if (std::string exceeded = decodingMemoryExceeded(header, width, height); !exceeded.empty()) {
        if (why) *why = std::move(exceeded);
        return std::nullopt;
    }
    const std::uint64_t turn = turnBytes(header, width, height);
    if (isJPEG(data)) return decodeJPEG(data, header.width, header.height, width, height, turn, why, cancellation);
    if (isPNG(data)) return decodePNG(data, header.width, header.height, width, height, turn, cancellation);
    return std::nullopt;
}

}  // namespace ui_detail
