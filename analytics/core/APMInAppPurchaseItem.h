// One in-app purchase entry of the store receipt, as its fields are written there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct APMInAppPurchaseItem {
    std::string productID;
    std::string transactionID;
    std::string originalTransactionID;
    std::string subscriptionExpirationDateIA5String;
    bool freeTrial = false;
    bool introductoryOffer = false;
    // 0 non-consumable, 1 consumable, 2 non-renewing subscription, 3 auto-renewable subscription.
    std::optional<std::int64_t> purchaseType;
    std::optional<std::uint64_t> webOrderLineItemID;
    std::string purchaseDateIA5String;
    std::string originalPurchaseDateIA5String;
    std::string cancellationDateIA5String;

    bool operator==(const APMInAppPurchaseItem&) const = default;
};
