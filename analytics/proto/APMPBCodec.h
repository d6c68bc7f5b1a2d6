// The record functions every message shares: make, release a field, copy, decode and encode,
// all driven by the message's field table; nanopb's stream functions read the wire, and the
// encoder writes it itself.
#pragma once

#include "analytics/proto/APMPBMessageInfo.h"
#include "analytics/proto/APMPBMessageSchema.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Deepest nesting of messages below the top one that a decode accepts: configurations
// arrive from the network, and self-nesting messages must not exhaust the stack.
inline constexpr int APMPBMaxNestingDepth = 64;
// Longest single string or bytes value, or string item, that a decode accepts.
inline constexpr std::size_t APMPBMaxStringLength = 1048576;

// Makes `info` an empty record of the message: single fields absent, repeated fields empty.
[[nodiscard]] bool APMPBInitMessageInfo(const APMPBMessageSchema& schema, APMPBMessageInfo* info);
// Makes a single field absent, or empties a repeated one (its cell stays).
[[nodiscard]] bool APMPBDeallocMessageField(APMPBMessageInfo* info, std::int32_t index);
// Replaces *destination with a deep copy of `source` that shares nothing with it.
[[nodiscard]] bool APMPBCopyMessageInfo(std::unique_ptr<APMPBMessageInfo>* destination, const APMPBMessageInfo* source);
// Decodes wire bytes into an initialised record in one pass; the records and strings below
// it are made in an arena the record then owns. On failure the record holds what was
// decoded so far and the caller drops it; the failure is printed to standard output.
[[nodiscard]] bool APMPBDecode(const std::uint8_t* bytes, std::size_t length, APMPBMessageInfo* info);
// As APMPBDecode, but each item of the top record's repeated message fields stays as its wire
// bytes, checked as decoding would check them: written back as they came, and decoded only when
// an accessor reads it. For messages whose items are mostly passed on untouched.
[[nodiscard]] bool APMPBDecodeKeepingItemsEncoded(const std::uint8_t* bytes, std::size_t length,
                                                  APMPBMessageInfo* info);
// True when the bytes decode as a message of `schema`; nothing is kept.
[[nodiscard]] bool APMPBCheckEncoded(const APMPBMessageSchema& schema, const std::uint8_t* bytes, std::size_t length);
// Encodes a record in ascending tag order into *out (exactly the bytes written); the
// length, or -1 on failure with *out left empty.
[[nodiscard]] std::int32_t APMPBEncode(const APMPBMessageInfo* info, NSData* out);
