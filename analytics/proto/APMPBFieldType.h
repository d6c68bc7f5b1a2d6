// The type word of a message field: one label bit and exactly one value-type bit.
#pragma once

#include <cstdint>

using APMPBFieldType = std::uint32_t;

inline constexpr APMPBFieldType APMPBFieldTypeOptional = 0x2;
inline constexpr APMPBFieldType APMPBFieldTypeRepeated = 0x8;

inline constexpr APMPBFieldType APMPBFieldTypeBool = 0x20;
inline constexpr APMPBFieldType APMPBFieldTypeEnum = 0x40;
inline constexpr APMPBFieldType APMPBFieldTypeInt32 = 0x80;
inline constexpr APMPBFieldType APMPBFieldTypeUInt32 = 0x100;
inline constexpr APMPBFieldType APMPBFieldTypeInt64 = 0x200;
inline constexpr APMPBFieldType APMPBFieldTypeUInt64 = 0x400;
inline constexpr APMPBFieldType APMPBFieldTypeFloat = 0x800;
inline constexpr APMPBFieldType APMPBFieldTypeDouble = 0x1000;
inline constexpr APMPBFieldType APMPBFieldTypeString = 0x2000;
inline constexpr APMPBFieldType APMPBFieldTypeMessage = 0x4000;
inline constexpr APMPBFieldType APMPBFieldTypeBytes = 0x8000;

// On a repeated message field: each item stays as its wire bytes until it is read, and is then
// decoded on its own, its nesting counted from itself. Items that nest deeply (programs) are
// refused one by one by their reader instead of failing the message that carries them.
inline constexpr APMPBFieldType APMPBFieldTypeDecodedOnRead = 0x10000;

inline constexpr APMPBFieldType APMPBFieldTypeLabelMask = APMPBFieldTypeOptional | APMPBFieldTypeRepeated;
inline constexpr APMPBFieldType APMPBFieldTypeValueMask = 0xFFE0;

// Value types held in an integer cell and written as varints.
inline constexpr APMPBFieldType APMPBFieldTypeVarintMask = APMPBFieldTypeBool | APMPBFieldTypeEnum |
    APMPBFieldTypeInt32 | APMPBFieldTypeUInt32 | APMPBFieldTypeInt64 | APMPBFieldTypeUInt64;

inline constexpr bool APMPBFieldTypeIsRepeated(APMPBFieldType type) { return (type & APMPBFieldTypeRepeated) != 0; }
inline constexpr APMPBFieldType APMPBFieldTypeValue(APMPBFieldType type) { return type & APMPBFieldTypeValueMask; }
inline constexpr bool APMPBFieldTypeIsDecodedOnRead(APMPBFieldType type) {
    return (type & APMPBFieldTypeDecodedOnRead) != 0;
}
