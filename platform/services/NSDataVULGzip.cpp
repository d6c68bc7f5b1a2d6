// Gzip deflate and inflate over zlib.
#include "platform/services/NSDataVULGzip.h"

#include <zlib.h>

#include <climits>
#include <cstring>

namespace {

constexpr int kGzipWindowBits = 15 + 16;    // gzip wrapper
constexpr int kInflateWindowBits = 15 + 32;  // detect gzip or zlib
constexpr size_t kChunk = 64 * 1024;

NSErrorPtr gzipError(long code, int zlibStatus, const char* message) {
    Value::Dictionary info;
    info.set(NSLocalizedDescriptionKey, std::string(message));
    info.set("zlibStatus", static_cast<long long>(zlibStatus));
    return NSError::errorWithDomain(VULGzipErrorDomain, code, info);
}

}  // namespace

namespace NSDataVULGzip {

NSData vul_dataByGzippingData(const NSData& data, NSErrorPtr* error, VULGzipEffort effort) {
    if (data.size() > UINT_MAX) {
        setError(error, gzipError(VULGzipErrorCompression, Z_BUF_ERROR, "Data too large to compress"));
        return {};
    }
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    const int level = effort == VULGzipEffort::Fastest ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION;
    int status = deflateInit2(&stream, level, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK) {
        setError(error, gzipError(VULGzipErrorCompression, status, "Failed to initialize compression"));
        return {};
    }
    NSData out;
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    do {
        const size_t used = out.size();
        out.resize(used + kChunk);
        stream.next_out = out.data() + used;
        stream.avail_out = static_cast<uInt>(kChunk);
        status = deflate(&stream, Z_FINISH);
        out.resize(used + (kChunk - stream.avail_out));
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) break;
    } while (status != Z_STREAM_END);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        setError(error, gzipError(VULGzipErrorCompression, status, "Failed to compress data"));
        return {};
    }
    return out;
}

NSData vul_dataByInflatingGzippedData(const NSData& data, NSErrorPtr* error, std::size_t maxLength) {
    if (data.empty()) return {};
    if (data.size() > UINT_MAX) {
        setError(error, gzipError(VULGzipErrorDecompression, Z_BUF_ERROR, "Data too large to inflate"));
        return {};
    }
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    int status = inflateInit2(&stream, kInflateWindowBits);
    if (status != Z_OK) {
        setError(error, gzipError(VULGzipErrorDecompression, status, "Failed to initialize decompression"));
        return {};
    }
    NSData out;
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    while (true) {
        const size_t used = out.size();
        out.resize(used + kChunk);
        stream.next_out = out.data() + used;
        stream.avail_out = static_cast<uInt>(kChunk);
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(used + (kChunk - stream.avail_out));
        if (out.size() > maxLength) {
            inflateEnd(&stream);
            setError(error, gzipError(VULGzipErrorDecompression, Z_BUF_ERROR, "Inflated data exceeds its bound"));
            return {};
        }
        if (status == Z_STREAM_END) break;
        // Z_BUF_ERROR with input left means "give me room"; with no input left the stream is cut short.
        if (status == Z_OK || (status == Z_BUF_ERROR && stream.avail_in > 0)) continue;
        break;
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        setError(error, gzipError(VULGzipErrorDecompression, status == Z_BUF_ERROR ? Z_DATA_ERROR : status,
                                  "Failed to inflate data"));
        return {};
    }
    return out;
}

}  // namespace NSDataVULGzip
