// The utility library's gzip category of data (RFC 1952 streams over zlib).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <cstddef>

inline constexpr const char* VULGzipErrorDomain = "VULGzipErrorDomain";

enum VULGzipErrorCode : long {
    VULGzipErrorCompression = 1,
    VULGzipErrorDecompression = 2,
};

// How hard deflate works: zlib's default, or its fastest setting for data that is written
// often and kept only a while. Either is a plain gzip stream.
enum class VULGzipEffort { Default, Fastest };

// Inflating stops past this many bytes unless the caller names another bound: a few hundred
// bytes of a crafted stream can claim gigabytes.
inline constexpr std::size_t VULGzipDefaultMaxInflatedLength = 64 * 1024 * 1024;

namespace NSDataVULGzip {

// A gzip stream of the data; empty data and *error on failure.
[[nodiscard]] NSData vul_dataByGzippingData(const NSData& data, NSErrorPtr* error = nullptr,
                                            VULGzipEffort effort = VULGzipEffort::Default);
// The inflated bytes of a gzip (or zlib) stream; empty data and *error when the stream is
// malformed or truncated, or inflates to more than `maxLength` bytes. Empty input inflates to
// empty data without an error.
[[nodiscard]] NSData vul_dataByInflatingGzippedData(const NSData& data, NSErrorPtr* error = nullptr,
                                                   std::size_t maxLength = VULGzipDefaultMaxInflatedLength);

}  // namespace NSDataVULGzip
