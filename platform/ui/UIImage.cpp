// Images read with libjpeg and libpng, which are made for hostile bytes, as every picture from the
// network may be: the header at once, the pixels on first use, reduced JPEG pictures with
// libjpeg's scaled decoding; written with stb_image_write. Named images resolved in the main
// bundle by screen scale.
#include "platform/ui/UIImage.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <stb_image_write.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <new>
#include <optional>
#include <map>
#include <span>
#include <string_view>
#include <tuple>

struct UIImage::Pixels {
    Mutex mutex;
    // The body was decoded, or failed to (`failed`, written before it); `ready` once the pixels
    // are there to read, which for a failed body is when they are first asked for.
    std::atomic<bool> decoded{false};
    std::atomic<bool> ready{false};
    NSData encoded GUARDED_BY(mutex);  // dropped once decoded
    // Written under the lock before `ready`, then read without it.
    std::vector<std::uint8_t> rgba;
    bool failed = false;
    // The size the header gives; the image's own is smaller when it is taken reduced.
    int encodedWidth GUARDED_BY(mutex) = 0;
    int encodedHeight GUARDED_BY(mutex) = 0;
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
    } else if (code == UIImageErrorRefused) {
        Diagnostics::notef("The picture %s %s; it is not loaded.", shownName(name), why.c_str());
    }
    return nullptr;
}

std::string tooLongReason(std::uintmax_t length) {
    return NSString::format("has %ju bytes, more than the %lld a picture may have", length,
                            static_cast<long long>(UIImage::kMaxEncodedLength));
}

// One open and one read for the common picture: the length is checked on the open file.
std::optional<NSData> readFile(const std::string& path, NSErrorPtr* error) {
    std::uint64_t length = 0;
    auto data = readRegularFile(path, static_cast<std::uint64_t>(UIImage::kMaxEncodedLength), &length);
    if (!data && length > static_cast<std::uint64_t>(UIImage::kMaxEncodedLength))
        (void)refuse(error, UIImageErrorRefused, tooLongReason(length), path);
    return data;
}

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
bool jpegScansHoldBlocks(const NSData& data, const JPEGFrame& frame) {
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

// A progressive picture's scans each pass over all its coefficients, and a hostile one can repeat
// a scan thousands of times in a few bytes each: encoders write about ten, so past this many the
// picture is refused rather than decoded for minutes.
constexpr int kJPEGMaxScans = 100;
void jpegProgress(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kJPEGMaxScans) jpegFailed(info);
}

// libjpeg's working memory per picture: a picture whose progressive or multi-scan decoding needs
// more fails instead. A progressive picture holds its coefficients (two bytes for each of up to
// four components of a pixel) until its last scan: decoded at full size, that much more is
// allowed to a picture under the pixel cap, as its pixels are.
constexpr long kJPEGWorkingMemory = 64L * 1024 * 1024;
constexpr long kJPEGCoefficientBytesPerPixel = 8;

// The decoder's structures, freed however decoding ends: by libjpeg's jump, by a std::bad_alloc
// while the pixels grow, or at the end.
struct JPEGDecoder {
    jpeg_decompress_struct info{};
    JPEGErrors errors{};
    // Safe before the structure is made too: libjpeg frees nothing then.
    ~JPEGDecoder() { jpeg_destroy_decompress(&info); }
};

// decodeJPEG's work, in a frame of its own that holds nothing the jump could skip the end of: what
// lives across it is the decoder's and the caller's.
bool readJPEG(JPEGDecoder& decoder, const NSData& data, int fullWidth, int fullHeight, int width, int height,
              std::vector<std::uint8_t>& rgba, int& decodedWidth, int& decodedHeight) {
    jpeg_decompress_struct& info = decoder.info;
    info.err = jpeg_std_error(&decoder.errors.manager);
    decoder.errors.manager.error_exit = jpegFailed;
    decoder.errors.manager.emit_message = jpegMessage;
    if (setjmp(decoder.errors.jump)) return false;
    jpeg_create_decompress(&info);
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgress;
    info.progress = &progress;
    info.mem->max_memory_to_use =
        kJPEGWorkingMemory + (width == fullWidth && height == fullHeight
                                  ? static_cast<long>(fullWidth) * fullHeight * kJPEGCoefficientBytesPerPixel
                                  : 0);
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    if (info.image_width != static_cast<unsigned>(fullWidth) || info.image_height != static_cast<unsigned>(fullHeight))
        jpegFailed(reinterpret_cast<j_common_ptr>(&info));
    unsigned eighths = 1;
    while (eighths < 8 && ((info.image_width * eighths + 7) / 8 < static_cast<unsigned>(width) ||
                           (info.image_height * eighths + 7) / 8 < static_cast<unsigned>(height)))
        ++eighths;
    info.scale_num = eighths;
    info.scale_denom = 8;
    // libjpeg converts to RGBA from YCbCr, RGB and grey; CMYK (and YCCK, which it turns into CMYK)
    // comes as it is stored and is converted below.
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    decodedWidth = static_cast<int>(info.output_width);
    decodedHeight = static_cast<int>(info.output_height);
    const std::size_t stride = static_cast<std::size_t>(decodedWidth) * 4;
    // Reserved, not filled: each row is touched as it arrives, so a body that fails early has cost
    // only the rows it reached.
    rgba.clear();
    rgba.reserve(stride * static_cast<std::size_t>(decodedHeight));
    // libjpeg-turbo writes a row that starts on a 32-byte boundary with non-temporal stores, which
    // bypass the cache the pixels are read from next and made a thumbnail's decoding three times
    // slower: each row is written where it starts half-way between two boundaries, then copied.
    auto* scratch = static_cast<std::uint8_t*>(
        info.mem->alloc_large(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, stride + 32));
    std::uint8_t* const offBoundary = scratch + (48 - reinterpret_cast<std::uintptr_t>(scratch) % 32) % 32;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = offBoundary;
        jpeg_read_scanlines(&info, &row, 1);
        rgba.insert(rgba.end(), offBoundary, offBoundary + stride);
    }
    jpeg_finish_decompress(&info);
    if (cmyk) {
        // Stored inverted, as every CMYK JPEG is: each colour is its value times black's.
        for (std::size_t i = 0; i < rgba.size(); i += 4) {
            const unsigned k = rgba[i + 3];
            for (std::size_t c = 0; c < 3; ++c) rgba[i + c] = static_cast<std::uint8_t>((rgba[i + c] * k + 127) / 255);
            rgba[i + 3] = 255;
        }
    }
    return true;
}

// The JPEG picture of fullWidth x fullHeight pixels (its frame header's size, which libjpeg must
// find too) decoded at the smallest of libjpeg's scales (n/8) that is still at least width x
// height, into `rgba`; its size in `decodedWidth` and `decodedHeight`.
bool decodeJPEG(const NSData& data, int fullWidth, int fullHeight, int width, int height,
                std::vector<std::uint8_t>& rgba, int& decodedWidth, int& decodedHeight) {
    JPEGDecoder decoder;
    return readJPEG(decoder, data, fullWidth, fullHeight, width, height, rgba, decodedWidth, decodedHeight);
}

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
    // An interlaced picture's even rows, which its first six passes fill: not zeroed, so that
    // they are touched only as the passes reach them.
    std::unique_ptr<std::uint8_t[]> evenRows;
    ~PNGReader() {
        if (png) png_destroy_read_struct(&png, &info, nullptr);
    }
};

// readPNG's work, in a frame of its own that holds nothing the jump could skip the end of.
bool readPNGWith(PNGReader& reader, PNGSource& source, int& width, int& height, std::vector<std::uint8_t>* rgba) {
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
    width = static_cast<int>(png_get_image_width(png, info));
    height = static_cast<int>(png_get_image_height(png, info));
    if (!rgba) return true;
    // Palettes, fewer than 8 bits, transparency chunks and 16 bits (its high byte) to 8-bit RGBA.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    if (png_get_rowbytes(png, info) != stride) png_error(png, "not RGBA after the transformations");
    // Reserved, not filled: rows are added as they are read, so a body that fails early has cost
    // only the rows it reached.
    rgba->clear();
    rgba->reserve(stride * static_cast<std::size_t>(height));
    reader.row.resize(stride);
    if (passes == 1) {
        for (int y = 0; y < height; ++y) {
            png_read_row(png, reader.row.data(), nullptr);
            rgba->insert(rgba->end(), reader.row.begin(), reader.row.end());
        }
    } else {
        // Adam7: the first six passes fill the even rows alone, and the last fills each odd row
        // whole, top to bottom; libpng writes a pass's pixels into the row given and leaves the
        // rest, and reads nothing for a row not in the pass.
        reader.evenRows.reset(new std::uint8_t[stride * static_cast<std::size_t>((height + 1) / 2)]);
        auto even = [&](int y) { return reader.evenRows.get() + stride * static_cast<std::size_t>(y / 2); };
        for (int pass = 0; pass + 1 < passes; ++pass)
            for (int y = 0; y < height; ++y) png_read_row(png, y % 2 ? nullptr : even(y), nullptr);
        for (int y = 0; y < height; ++y) {
            png_read_row(png, y % 2 ? reader.row.data() : nullptr, nullptr);
            const std::uint8_t* whole = y % 2 ? reader.row.data() : even(y);
            rgba->insert(rgba->end(), whole, whole + stride);
        }
    }
    png_read_end(png, nullptr);
    return true;
}

// The PNG picture's size from its chunks up to the image data; with `rgba`, its pixels too (RGBA,
// 8 bits a channel), through to the end chunk.
bool readPNG(const NSData& data, int& width, int& height, std::vector<std::uint8_t>* rgba) {
    PNGSource source{data.data(), data.size()};
    PNGReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarning);
    if (!reader.png) return false;
    reader.info = png_create_info_struct(reader.png);
    return reader.info && readPNGWith(reader, source, width, height, rgba);
}

// The picture's size from its header alone: a PNG's chunks before its image data, a JPEG's
// segments before its frame (the frame in `frame`); false for bytes of no other kind.
bool readHeader(const NSData& data, int& width, int& height, JPEGFrame& frame) {
    if (isJPEG(data)) {
        if (!jpegFrame(data, frame)) return false;
        width = frame.width;
        height = frame.height;
        return true;
    }
    if (isPNG(data)) return readPNG(data, width, height, nullptr);
    return false;
}

// Why a PNG, or a JPEG of this frame, of width x height pixels by its header cannot be shown from
// these bytes; "" when it may be.
std::string unholdable(const NSData& data, int width, int height, const JPEGFrame& frame) {
    if (isPNG(data) ? pngDataHoldsPixels(data, width, height)
                    : frame.arithmetic ? static_cast<std::int64_t>(width) * height <= UIImage::kMaxPixelCountBeforeReduction
                                       : jpegScansHoldBlocks(data, frame))
        return "";
    if (!isPNG(data) && frame.arithmetic)
        return NSString::format("claims %d x %d pixels, more than the %lld an arithmetic-coded picture may have", width,
                                height, static_cast<long long>(UIImage::kMaxPixelCountBeforeReduction));
    return NSString::format("claims %d x %d pixels, more than its %zu bytes can hold", width, height, data.size());
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

// The picture of fullWidth x fullHeight pixels (its header's size) at exactly width x height, by
// the cheapest decoding its kind allows; nothing when its body does not decode.
std::optional<std::vector<std::uint8_t>> decodePixels(const NSData& data, int fullWidth, int fullHeight, int width,
                                                      int height) {
    std::vector<std::uint8_t> decoded;
    int w = 0, h = 0;
    if (isJPEG(data)) {
        if (!decodeJPEG(data, fullWidth, fullHeight, width, height, decoded, w, h)) return std::nullopt;
    } else if (!isPNG(data) || !readPNG(data, w, h, &decoded) || w != fullWidth || h != fullHeight) {
        return std::nullopt;
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
    pixels_->decoded.store(true, std::memory_order_release);
    pixels_->ready.store(true, std::memory_order_release);
}

bool UIImage::decodeOnce() const {
    Pixels& p = *pixels_;
    if (p.decoded.load(std::memory_order_acquire)) return !p.failed;
    MutexLock lock(p.mutex);
    if (p.decoded.load(std::memory_order_relaxed)) return !p.failed;
    std::optional<std::vector<std::uint8_t>> decoded;
    try {
        decoded = decodePixels(p.encoded, p.encodedWidth, p.encodedHeight, pixelWidth_, pixelHeight_);
        if (!decoded)
            Diagnostics::notef("The picture %s does not decode past its header; it is drawn empty.", shownName(name_));
    } catch (const std::bad_alloc&) {
        // The decoders' structures are freed on the way here; the picture is one that does not decode.
        Diagnostics::notef("The picture %s needs more memory than there is to decode; it is drawn empty.",
                           shownName(name_));
    }
    if (decoded) p.rgba = std::move(*decoded);
    p.failed = !decoded;
    ++gDecodedPictures;
    NSData().swap(p.encoded);
    p.decoded.store(true, std::memory_order_release);
    if (decoded) p.ready.store(true, std::memory_order_release);
    return !p.failed;
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

std::uint64_t UIImage::decodedPictureCount() { return gDecodedPictures.load(); }

void UIImage::setScreenScale(CGFloat scale) { gScreenScale.store(scale > 0 ? scale : 1); }
CGFloat UIImage::screenScale() { return gScreenScale.load(); }

void UIImage::clearNamedCache() {
    MutexLock lock(gCacheMutex);
    namedCache().clear();
}

std::shared_ptr<UIImage> UIImage::decode(NSData data, CGFloat scale, const std::string& name, int maxPixelSize,
                                         NSErrorPtr* error) {
    if (data.empty()) return refuse(error, UIImageErrorNotAPicture, "is empty", name);
    if (data.size() > static_cast<std::size_t>(kMaxEncodedLength))
        return refuse(error, UIImageErrorRefused, tooLongReason(data.size()), name);
    if (!isJPEG(data) && !isPNG(data)) return refuse(error, UIImageErrorNotAPicture, otherKind(data), name);
    // Only the header now: the size decides whether the picture is taken at all.
    int w = 0, h = 0;
    JPEGFrame frame;
    if (!readHeader(data, w, h, frame) || w <= 0 || h <= 0)
        return refuse(error, UIImageErrorNotAPicture,
                      isJPEG(data) ? "has a JPEG header that does not read" : "has a PNG header that does not read", name);
    if (static_cast<std::int64_t>(w) * h > kMaxPixelCount)
        return refuse(error, UIImageErrorRefused,
                      NSString::format("claims %d x %d pixels, more than the %lld a picture may have", w, h,
                                       static_cast<long long>(kMaxPixelCount)),
                      name);
    if (const std::string why = unholdable(data, w, h, frame); !why.empty())
        return refuse(error, UIImageErrorRefused, why, name);
    const int longer = std::max(w, h);
    const bool reduce = maxPixelSize > 0 && longer > maxPixelSize;
    if (reduce && !isJPEG(data) && static_cast<std::int64_t>(w) * h > kMaxPixelCountBeforeReduction)
        return refuse(error, UIImageErrorRefused,
                      NSString::format("claims %d x %d pixels, more than the %lld one shown reduced may have", w, h,
                                       static_cast<long long>(kMaxPixelCountBeforeReduction)),
                      name);
    const int pixelWidth = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(w) * maxPixelSize / longer))) : w;
    const int pixelHeight = reduce ? std::max(1, static_cast<int>(std::lround(static_cast<double>(h) * maxPixelSize / longer))) : h;
    // The same size in points, with fewer pixels to each.
    auto image = std::make_shared<UIImage>(std::vector<std::uint8_t>{}, pixelWidth, pixelHeight,
                                           reduce ? scale * pixelWidth / w : scale);
    {
        MutexLock lock(image->pixels_->mutex);
        image->pixels_->encodedWidth = w;
        image->pixels_->encodedHeight = h;
        image->pixels_->encoded = std::move(data);
    }
    image->pixels_->ready.store(false, std::memory_order_release);
    image->pixels_->decoded.store(false, std::memory_order_release);
    image->name_ = name;
    return image;
}

std::shared_ptr<UIImage> UIImage::fromFile(const std::string& path, int maxPixelSize, NSErrorPtr* error) {
    auto data = readFile(path, error);
    if (!data) return nullptr;
    return decode(std::move(*data), scaleFromFileName(path), path, maxPixelSize, error);
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
