// Receipt entries written in the store's DER form.
#include "platform/store/SKStoreReceipt.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"

#include <cerrno>

namespace {

constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kSequence = 0x30;

void append(NSData& out, const NSData& part) { out.insert(out.end(), part.begin(), part.end()); }

NSData text(std::uint8_t tag, const std::string& value) { return SKStoreReceipt::der(tag, NSData(value.begin(), value.end())); }

// The content of a DER set filling all of `bytes`; nothing when `bytes` is not one.
std::optional<NSData> setContent(const NSData& bytes) {
    if (bytes.size() < 2 || bytes[0] != kSet) return std::nullopt;
    std::size_t length = bytes[1];
    std::size_t offset = 2;
    if (length & 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || bytes.size() < 2 + count) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | bytes[2 + i];
        offset += count;
    }
    if (bytes.size() - offset != length) return std::nullopt;
    return NSData(bytes.begin() + static_cast<std::ptrdiff_t>(offset), bytes.end());
}

// A receipt holds a few hundred bytes a purchase; one past this is no receipt of ours.
constexpr std::uint64_t kMaxReceiptLength = 64 << 20;

// The content of the receipt at `path`; nothing when there is none, or (with why in `why`) when
// what is there cannot be read or is not a receipt.
std::optional<NSData> readReceipt(const std::string& path, std::string& why) {
    struct stat info {};
    if (const int err = FileIO::current()->status(path, false, info)) {
        if (err != ENOENT) why = NSError::posix(err, path)->localizedDescription();
        return std::nullopt;
    }
    // Only a regular file is read: a pipe or a device by the name would hold the caller (the
    // main thread) until something wrote to it. The read opens without blocking and checks the
    // type again once open, in case the name changed hands in between.
    if (!S_ISREG(info.st_mode)) {
        why = "it is not a regular file";
        return std::nullopt;
    }
    std::uint64_t length = 0;
    const auto bytes = readRegularFile(path, kMaxReceiptLength, &length);
    if (!bytes) {
        why = length > kMaxReceiptLength ? "it is too long for a receipt" : "it cannot be read";
        return std::nullopt;
    }
    auto content = setContent(*bytes);
    if (!content) why = "it is not a receipt";
    return content;
}

}  // namespace

NSData SKStoreReceipt::der(std::uint8_t tag, const NSData& content) {
    NSData out = {tag};
    const std::size_t size = content.size();
    if (size < 0x80) {
        out.push_back(static_cast<std::uint8_t>(size));
    } else {
        NSData length;
        for (std::size_t rest = size; rest > 0; rest >>= 8) length.insert(length.begin(), static_cast<std::uint8_t>(rest));
        out.push_back(static_cast<std::uint8_t>(0x80 | length.size()));
        append(out, length);
    }
    append(out, content);
    return out;
}

NSData SKStoreReceipt::integer(std::uint64_t value) {
    NSData content;
    do {
        content.insert(content.begin(), static_cast<std::uint8_t>(value));
        value >>= 8;
    } while (value > 0);
    if (content.front() & 0x80) content.insert(content.begin(), 0x00);
    return der(0x02, content);
}

NSData SKStoreReceipt::attribute(std::uint64_t type, const NSData& value) {
    NSData content = integer(type);
    append(content, integer(1));
    append(content, der(0x04, value));
    return der(kSequence, content);
}

std::string SKStoreReceipt::receiptPath() {
    return NSString::stringByAppendingPathComponent(NSString::stringByAppendingPathComponent(Sandbox::home(), "StoreKit"),
                                                    "receipt");
}

NSData SKStoreReceipt::inAppPurchaseAttribute(const InAppPurchase& purchase) {
    constexpr std::uint8_t kUTF8 = 0x0C;
    constexpr std::uint8_t kIA5 = 0x16;
    NSData fields;
    append(fields, attribute(1702, text(kUTF8, purchase.productID)));
    append(fields, attribute(1703, text(kUTF8, purchase.transactionID)));
    append(fields, attribute(1705, text(kUTF8, purchase.originalTransactionID)));
    append(fields, attribute(1704, text(kIA5, purchase.purchaseDate)));
    append(fields, attribute(1706, text(kIA5, purchase.originalPurchaseDate)));
    append(fields, attribute(1713, integer(purchase.freeTrial ? 1 : 0)));
    append(fields, attribute(1719, integer(purchase.introductoryOffer ? 1 : 0)));
    append(fields, attribute(1707, integer(static_cast<std::uint64_t>(purchase.purchaseType))));
    if (purchase.webOrderLineItemID) append(fields, attribute(1711, integer(*purchase.webOrderLineItemID)));
    return attribute(17, der(kSet, fields));
}

bool SKStoreReceipt::addInAppPurchase(const InAppPurchase& purchase, const std::string& path, NSErrorPtr* error) {
    // The receipt is the store's own file: whatever is there that it cannot read or parse is
    // replaced by a fresh one, so that it never holds back a purchase that was paid for.
    std::string why;
    NSData content = readReceipt(path, why).value_or(NSData{});
    if (!why.empty())
        Diagnostics::notef("The store's receipt %s cannot be read (%s); a fresh receipt is written.", path.c_str(),
                           why.c_str());
    append(content, inAppPurchaseAttribute(purchase));
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    if (!NSFileManager::defaultManager()->createDirectoryAtPath(folder, true, {}, error)) return false;
    return writeDataToFile(der(kSet, content), path, true, error);
}
