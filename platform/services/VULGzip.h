// The utility library's gzip operations on data (RFC 1952 streams over zlib).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

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
