// Writing protocol-buffer wire bytes straight into a buffer, for the hot paths that know their
// message's shape and skip building records: tags, varints, fixed-width numbers, and
// length-delimited fields whose length is filled in once their body is written.
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace APMPBWire {

enum WireType : std::uint32_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

inline std::size_t varintSize(std::uint64_t value) {
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

inline void appendVarint(NSData& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

inline void appendTag(NSData& out, std::uint32_t field, WireType type) {
    appendVarint(out, (static_cast<std::uint64_t>(field) << 3) | type);
}

// Signed integers as the wire carries int32 and int64: two's complement, ten bytes when negative.
inline void appendInt64Field(NSData& out, std::uint32_t field, std::int64_t value) {
    appendTag(out, field, kVarint);
    appendVarint(out, static_cast<std::uint64_t>(value));
}

inline void appendDoubleField(NSData& out, std::uint32_t field, double value) {
    appendTag(out, field, kFixed64);
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

inline void appendBytesField(NSData& out, std::uint32_t field, std::string_view bytes) {
    appendTag(out, field, kLengthDelimited);
    appendVarint(out, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A length-delimited field opened with a one-byte length, which closeField widens when the
// body turns out longer: bodies are usually short, so the widening move is rare.
inline std::size_t openField(NSData& out, std::uint32_t field) {
    appendTag(out, field, kLengthDelimited);
    out.push_back(0);
    return out.size();
}

inline void closeField(NSData& out, std::size_t bodyStart) {
    const std::size_t length = out.size() - bodyStart;
    const std::size_t width = varintSize(length);
    if (width > 1) out.insert(out.begin() + static_cast<std::ptrdiff_t>(bodyStart), width - 1, 0);
    std::uint64_t value = length;
    std::uint8_t* at = out.data() + bodyStart - 1;
    for (std::size_t i = 0; i + 1 < width; ++i, value >>= 7) at[i] = static_cast<std::uint8_t>(value | 0x80);
    at[width - 1] = static_cast<std::uint8_t>(value);
}

}  // namespace APMPBWire
