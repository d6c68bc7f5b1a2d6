// The original-version attribute (type 19) of the store receipt.
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

}  // namespace

std::optional<NSData> APMReceiptDataMatchingPattern(const std::vector<std::uint8_t>& pattern, const NSData& bytes,
                                                    std::int64_t offset) {
    if (offset < 0 || bytes.empty() || pattern.empty()) return std::nullopt;
    const std::size_t start = static_cast<std::size_t>(offset);
    if (start + pattern.size() >= bytes.size()) return std::nullopt;
    std::optional<std::uint8_t> lastCaptured;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == APMReceiptAnyByte) lastCaptured = bytes[start + i];
        else if (pattern[i] != bytes[start + i]) return std::nullopt;
    }
    if (!lastCaptured || *lastCaptured == 0) return std::nullopt;
    if (*lastCaptured >= 128) APMMeasurementMonitor()->logWithLevel(5, 39027, "Data is longer than 127");
    const std::size_t from = start + pattern.size();
    if (from + *lastCaptured > bytes.size()) return std::nullopt;
    return NSData(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                  bytes.begin() + static_cast<std::ptrdiff_t>(from + *lastCaptured));
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
    if ((*version)[1] != version->size() - 2) {
        monitor->logWithLevel(5, 39008, "V data byte 1 is wrong. Value, expected", Value(static_cast<int>((*version)[1])),
                              Value(static_cast<long long>(version->size() - 2)));
    }
    return std::string(version->begin() + 2, version->end());
}

bool APMIsVersionSameAsOriginalVersion() {
    if (APMAEU::isNOD() || APMAEU::isASRS()) return true;
    const std::optional<std::string> path = APMAEU::appStoreRURL();
    const std::optional<NSData> receipt = path ? readDataFromFile(*path) : std::nullopt;
    if (!receipt) {
        APMMeasurementMonitor()->logWithLevel(5, 39002, "Version data is nil");
        return false;
    }
    const std::optional<std::string> original = APMReceiptOriginalVersion(*receipt);
    return original && *original == NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleVersion").stringValue();
}
