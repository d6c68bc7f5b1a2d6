// The store receipt's original-version attribute (type 19) and its in-app purchase entries (type 17).
#include "analytics/measurement/APMReceipt.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSBundle.h"

namespace {

// SEQUENCE, INTEGER 19 (the attribute type), INTEGER version, OCTET STRING of a captured length.
const std::vector<std::uint8_t> kOriginalVersionPattern = {0x30, APMReceiptAnyByte, 0x02, 0x01, 0x13, 0x02, 0x01,
                                                           APMReceiptAnyByte, 0x04, APMReceiptAnyByte};
constexpr std::uint8_t kUTF8StringTag = 0x0C;
// INTEGER 17 (an in-app purchase entry), INTEGER version (captured), OCTET STRING.
const std::vector<std::uint8_t> kInAppEntryPattern = {0x02, 0x01, 0x11, 0x02, 0x01, APMReceiptAnyByte, 0x04};
// No receipt is 4 GiB long.
constexpr std::size_t kMaxLengthBytes = 4;

// A wildcard right after a universal tag (INTEGER, OCTET STRING, UTF8String, IA5String,
// SEQUENCE) stands for that element's length; elsewhere it is a value byte.
bool isLengthCapture(const std::vector<std::uint8_t>& pattern, std::size_t index) {
    if (index == 0 || pattern[index - 1] == APMReceiptAnyByte) return false;
    switch (pattern[index - 1]) {
        case 0x02: case 0x04: case 0x0C: case 0x16: case 0x30: return true;
        default: return false;
    }
}

}  // namespace

std::optional<NSData> APMReceiptDataMatchingPattern(const std::vector<std::uint8_t>& pattern, const NSData& bytes,
                                                    std::int64_t offset) {
    if (offset < 0 || bytes.empty() || pattern.empty()) return std::nullopt;
    std::size_t at = static_cast<std::size_t>(offset);
    if (at + pattern.size() >= bytes.size()) return std::nullopt;
    std::optional<std::uint64_t> lastCaptured;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (at >= bytes.size()) return std::nullopt;
        if (pattern[i] != APMReceiptAnyByte) {
            if (pattern[i] != bytes[at]) return std::nullopt;
            ++at;
            continue;
        }
        if (!isLengthCapture(pattern, i) || bytes[at] < 0x80) {
            lastCaptured = bytes[at++];
            continue;
        }
        // A long-form length: its low bits count the big-endian bytes of the length that follow.
        // The indefinite form, and lengths no receipt could hold, match nothing.
        const std::size_t count = bytes[at] & 0x7F;
        if (count == 0 || count > kMaxLengthBytes || bytes.size() - at - 1 < count) return std::nullopt;
        std::uint64_t length = 0;
        for (std::size_t k = 1; k <= count; ++k) length = (length << 8) | bytes[at + k];
        lastCaptured = length;
        at += 1 + count;
    }
    if (!lastCaptured || *lastCaptured == 0) return std::nullopt;
    if (*lastCaptured > bytes.size() - at) return std::nullopt;
    return NSData(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + *lastCaptured));
}

std::optional<NSData> APMReceiptDataForAttribute(const NSData& bytes, std::int64_t offset) {
    return APMReceiptDataMatchingPattern(kInAppEntryPattern, bytes, offset);
}

std::optional<std::string> APMReceiptOriginalVersion(const NSData& receipt) {
    auto monitor = APMMeasurementMonitor();
    if (receipt.empty()) {
        monitor->logWithLevel(5, 39004, "Version data is empty");
        return std::nullopt;
    }
    std::optional<NSData> version;
    for (std::size_t offset = 0; offset < receipt.size() && !version; ++offset) {
        version = APMReceiptDataMatchingPattern(kOriginalVersionPattern, receipt, static_cast<std::int64_t>(offset));
    }
    if (!version || version->size() <= 2) {
        monitor->logWithLevel(5, 39006, "V data is too short. Length",
                              Value(static_cast<long long>(version ? version->size() : 0)));
        return std::nullopt;
    }
    if ((*version)[0] != kUTF8StringTag) {
        monitor->logWithLevel(5, 39007, "V data byte 0 is wrong. Value", Value(static_cast<int>((*version)[0])));
    }
    // The text's own length, short or long form; the text follows it.
    std::size_t header = 2;
    std::uint64_t declared = (*version)[1];
    const std::size_t count = declared & 0x7F;
    if (declared >= 0x80 && count >= 1 && count <= kMaxLengthBytes && header + count <= version->size()) {
        declared = 0;
        for (std::size_t k = 0; k < count; ++k) declared = (declared << 8) | (*version)[header + k];
        header += count;
    }
    // A long-form length that takes every byte leaves no text: a damaged attribute, not a version.
    if (header >= version->size()) {
        monitor->logWithLevel(5, 39006, "V data is too short. Length", Value(static_cast<long long>(version->size())));
        return std::nullopt;
    }
    if (declared != version->size() - header) {
        monitor->logWithLevel(5, 39008, "V data byte 1 is wrong. Value, expected",
                              Value(static_cast<long long>(declared)),
                              Value(static_cast<long long>(version->size() - header)));
    }
    return std::string(version->begin() + static_cast<std::ptrdiff_t>(header), version->end());
}

namespace {

// 0x02 0x02 0x06 T (the attribute type 0x06T), INTEGER version, OCTET STRING holding a value of
// tag K: the match yields that value's content.
std::vector<std::uint8_t> fieldPattern(std::uint8_t type, std::uint8_t innerTag) {
    return {0x02, 0x02, 0x06, type, 0x02, 0x01, APMReceiptAnyByte, 0x04, APMReceiptAnyByte, innerTag, APMReceiptAnyByte};
}

enum class Field { productID, transactionID, originalTransactionID, expiration, freeTrial, introductoryOffer,
                   purchaseType, webOrderLineItemID, purchaseDate, originalPurchaseDate, cancellationDate };

struct FieldPattern {
    Field field;
    std::vector<std::uint8_t> pattern;
};

// In the order they are tried.
const std::vector<FieldPattern>& fieldPatterns() {
    static const std::vector<FieldPattern> patterns = {
        {Field::productID, fieldPattern(0xA6, 0x0C)},           {Field::transactionID, fieldPattern(0xA7, 0x0C)},
        {Field::originalTransactionID, fieldPattern(0xA9, 0x0C)}, {Field::expiration, fieldPattern(0xAC, 0x16)},
        {Field::freeTrial, fieldPattern(0xB1, 0x02)},           {Field::introductoryOffer, fieldPattern(0xB7, 0x02)},
        {Field::purchaseType, fieldPattern(0xAB, 0x02)},        {Field::webOrderLineItemID, fieldPattern(0xAF, 0x02)},
        {Field::purchaseDate, fieldPattern(0xA8, 0x16)},        {Field::originalPurchaseDate, fieldPattern(0xAA, 0x16)},
        {Field::cancellationDate, fieldPattern(0xB0, 0x16)},
    };
    return patterns;
}

std::string text(const NSData& data) { return std::string(data.begin(), data.end()); }

// A one-byte flag: 0 NO, 1 YES; anything else leaves NO with a logged sentence.
bool flag(const NSData& data, std::int64_t code, const char* message) {
    if (data.size() != 1) return false;
    if (data[0] > 1) APMMeasurementMonitor()->logWithLevel(5, code, message, Value(static_cast<int>(data[0])));
    return data[0] == 1;
}

void setField(APMInAppPurchaseItem& item, Field field, const NSData& data) {
    switch (field) {
        case Field::productID: item.productID = text(data); break;
        case Field::transactionID: item.transactionID = text(data); break;
        case Field::originalTransactionID: item.originalTransactionID = text(data); break;
        case Field::expiration: item.subscriptionExpirationDateIA5String = text(data); break;
        case Field::freeTrial: item.freeTrial = flag(data, 39025, "Subdata FT unexpected value"); break;
        case Field::introductoryOffer: item.introductoryOffer = flag(data, 39028, "Subdata IO unexpected value"); break;
        case Field::purchaseType:
            if (data.size() == 1) item.purchaseType = data[0];
            break;
        case Field::webOrderLineItemID: {
            std::uint64_t id = 0;
            const std::size_t from = data.size() > 8 ? data.size() - 8 : 0;
            for (std::size_t k = from; k < data.size(); ++k) id = (id << 8) | data[k];
            if (id != 0) item.webOrderLineItemID = id;
            break;
        }
        case Field::purchaseDate: item.purchaseDateIA5String = text(data); break;
        case Field::originalPurchaseDate: item.originalPurchaseDateIA5String = text(data); break;
        case Field::cancellationDate: item.cancellationDateIA5String = text(data); break;
    }
}

}  // namespace

std::vector<APMInAppPurchaseItem> APMReceiptInAppPurchaseItems(const NSData& receipt) {
    std::vector<APMInAppPurchaseItem> items;
    std::optional<APMInAppPurchaseItem> entry;
    std::vector<bool> found(fieldPatterns().size(), false);
    auto finish = [&] {
        if (entry && !entry->productID.empty()) items.push_back(*entry);
    };
    for (std::size_t offset = 0; offset < receipt.size(); ++offset) {
        const auto at = static_cast<std::int64_t>(offset);
        if (const std::optional<NSData> marker = APMReceiptDataForAttribute(receipt, at)) {
            finish();
            entry.emplace();
            found.assign(found.size(), false);
            offset += marker->size();
            continue;
        }
        if (!entry) continue;
        for (std::size_t k = 0; k < fieldPatterns().size(); ++k) {
            if (found[k]) continue;
            const std::optional<NSData> value = APMReceiptDataMatchingPattern(fieldPatterns()[k].pattern, receipt, at);
            if (!value) continue;
            setField(*entry, fieldPatterns()[k].field, *value);
            found[k] = true;
            offset += value->size();
            break;
        }
    }
    finish();
    return items;
}

namespace {

// A receipt holds a few hundred bytes a purchase; more than this is no receipt.
constexpr std::uint64_t kMaxReceiptLength = 64 << 20;

// The receipt's bytes, read only from a regular file: a pipe or a device by its name would hold
// the measurement worker until something wrote to it.
std::optional<NSData> readReceipt() {
    const std::optional<std::string> path = APMAEU::appStoreRURL();
    return path ? readRegularFile(*path, kMaxReceiptLength) : std::nullopt;
}

}  // namespace

std::optional<std::vector<APMInAppPurchaseItem>> APMStoreReceiptInAppPurchaseItems() {
    const std::optional<NSData> receipt = readReceipt();
    if (!receipt || receipt->empty()) return std::nullopt;
    return APMReceiptInAppPurchaseItems(*receipt);
}

bool APMIsVersionSameAsOriginalVersion() {
    if (APMAEU::isNOD() || APMAEU::isASRS()) return true;
    const std::optional<NSData> receipt = readReceipt();
    if (!receipt) {
        APMMeasurementMonitor()->logWithLevel(5, 39002, "Version data is nil");
        return false;
    }
    const std::optional<std::string> original = APMReceiptOriginalVersion(*receipt);
    return original && *original == NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleVersion").stringValue();
}
