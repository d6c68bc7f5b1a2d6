// The utility library's gzip operations on data (RFC 1952 streams over zlib).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <cstddef>

inline constexpr const char* VULGzipErrorDomain = "VULGzipErrorDomain";

enum VULGzipErrorCode : long {
    VULGzipErrorCompression = 1,
    VULGzipErrorDecompression = 2,
};

// A gzip stream of the data; empty data and *error on failure.
[[nodiscard]] NSData vul_dataByGzippingData(const NSData& data, NSErrorPtr* error = nullptr);
// The inflated bytes of a gzip (or zlib) stream; empty data and *error when the stream is
// malformed or truncated. Empty input inflates to empty data without an error.
[[nodiscard]] NSData vul_dataByInflatingGzippedData(const NSData& data, NSErrorPtr* error = nullptr);
// As above, refusing (empty data and *error) a stream that inflates to more than
// `maximumLength` bytes as soon as it does: a small hostile stream never becomes a large buffer.
[[nodiscard]] NSData vul_dataByInflatingGzippedData(const NSData& data, std::size_t maximumLength,
                                                    NSErrorPtr* error = nullptr);
