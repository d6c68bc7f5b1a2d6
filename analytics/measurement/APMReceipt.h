// What the analytics reads from the store receipt by byte patterns (not a DER parser): the
// version under which the application was first obtained, and the in-app purchase entries.
#pragma once

#include "analytics/core/APMInAppPurchaseItem.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// 255 in a pattern matches any byte and captures it.
inline constexpr std::uint8_t APMReceiptAnyByte = 255;

// The bytes after the pattern at `offset`, as many as its last captured byte says; nothing when
// the pattern does not match there or the bytes end too soon. A wildcard right after a DER tag
// is that element's length, decoded in its long form too (the rest of the pattern then follows
// the length's bytes).
std::optional<NSData> APMReceiptDataMatchingPattern(const std::vector<std::uint8_t>& pattern, const NSData& bytes,
                                                    std::int64_t offset);
// The bytes an in-app purchase entry's marker (attribute type 17) yields at `offset`.
std::optional<NSData> APMReceiptDataForAttribute(const NSData& bytes, std::int64_t offset);
// The receipt's in-app purchase entries that have a product identifier, in receipt order.
std::vector<APMInAppPurchaseItem> APMReceiptInAppPurchaseItems(const NSData& receipt);
// The in-app purchase entries of the store receipt at its location (APMAEU::appStoreRURL);
// nothing when there is no receipt there or it is empty.
std::optional<std::vector<APMInAppPurchaseItem>> APMStoreReceiptInAppPurchaseItems();
// The original application version the receipt's bytes hold (the text after the first match of
// the attribute's pattern, less the string's tag and length); nothing, with a logged sentence,
// when there is none.
std::optional<std::string> APMReceiptOriginalVersion(const NSData& receipt);
// The receipt's original application version equals the main bundle's "CFBundleVersion"; YES
// on a simulator or with a test-store receipt, NO without a readable receipt.
bool APMIsVersionSameAsOriginalVersion();
