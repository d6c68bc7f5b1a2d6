// The store's receipt of the application, as the store keeps it up to date: a DER set of
// attributes (type, version, octet string), each purchase one in-app entry (type 17) whose
// fields are attributes 1702-1719. The stand-in store adds an entry as it completes a purchase.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

class SKStoreReceipt {
public:
    struct InAppPurchase {
        std::string productID;
        std::string transactionID;
        std::string originalTransactionID;
        // "yyyy-MM-dd'T'HH:mm:ssZ" texts, as the receipt stores dates.
        std::string purchaseDate;
        std::string originalPurchaseDate;
        // 0 non-consumable, 1 consumable, 2 non-renewing, 3 auto-renewable subscription.
        std::int64_t purchaseType = 1;
        bool freeTrial = false;
        bool introductoryOffer = false;
        std::optional<std::uint64_t> webOrderLineItemID;
    };

    // "<home>/StoreKit/receipt".
    static std::string receiptPath();
    // The entry's attribute bytes.
    static NSData inAppPurchaseAttribute(const InAppPurchase& purchase);
    // Adds the entry to the receipt at `path` (a new receipt when there is none). Anything there
    // that is not a regular file (a pipe is never read), cannot be read or is not a receipt of
    // this form is replaced by a new receipt holding the entry. False, with the error, when the
    // receipt cannot be written.
    [[nodiscard]] static bool addInAppPurchase(const InAppPurchase& purchase, const std::string& path,
                                               NSErrorPtr* error = nullptr);
    // One DER element; a length of 128 or more takes the long form.
    static NSData der(std::uint8_t tag, const NSData& content);
    // A DER INTEGER of a non-negative value, in as few bytes as it takes.
    static NSData integer(std::uint64_t value);
    // A receipt attribute: SEQUENCE { INTEGER type, INTEGER 1, OCTET STRING value }.
    static NSData attribute(std::uint64_t type, const NSData& value);
};
