// How a purchased transaction becomes the parameters of its event: the product's price and
// currency, and the receipt's entries that classify it (consumable, non-consumable,
// subscription, free trial, introductory offer, renewal) and give it a de-duplication id.
#pragma once

#include "analytics/core/APMInAppPurchaseItem.h"
#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/Value.h"
#include "platform/store/SKPaymentTransaction.h"
#include "platform/store/SKProduct.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using APMInAppPurchaseItems = std::vector<APMInAppPurchaseItem>;

// A receipt date text ("yyyy-MM-dd'T'HH:mm:ssZZZZZ", GMT) in seconds since 1970.
std::optional<double> APMReceiptDateFromIA5String(const std::string& text);

// Nothing when there are no entries, or when the identifier is empty and no date is given.
// Otherwise the entries purchased at `date` (when given) of `productIdentifier` (when not
// empty), oldest purchase first.
std::optional<APMInAppPurchaseItems> APMReceiptItemsMatching(const APMInAppPurchaseItems& entries,
                                                             const std::string& productIdentifier,
                                                             std::optional<double> date);

// The price in millionths, truncated; nothing when the result does not fit an int64 (a price
// so large would otherwise wrap into a wrong amount).
std::optional<std::int64_t> APMPriceInMicros(const NSDecimalNumber& price);
// quantity × price in millionths, truncated; nothing when it does not fit an int64.
std::optional<std::int64_t> APMPurchaseValueInMicros(const NSDecimalNumber& price, std::int64_t quantity);

// -1 when the original transaction id or the product id is empty; otherwise the last 8 bytes
// of the MD5 of (original transaction id, web order line item id in decimal, product id).
std::int64_t APMPurchaseDeduplicationID(const std::string& originalTransactionID,
                                        std::optional<std::uint64_t> webOrderLineItemID,
                                        const std::string& productID);

// "sub_convert" when the entry before `entry` in `entries` was a free trial, else "sub_renew";
// nothing for a first purchase (its two ids equal) or without entries.
void APMAddSubscriptionRenewalFlag(Value::Dictionary& parameters, const APMInAppPurchaseItems& entries,
                                   const APMInAppPurchaseItem* entry);

// The parameters of one purchase, with the working entries "invalid", "sub_renew" and
// "sub_convert" still in; nothing when the purchase cannot be described (no product, no
// transaction, or no price, value, currency or product id).
std::optional<Value::Dictionary> APMPurchaseEventParameters(const std::shared_ptr<SKProduct>& product,
                                                            const std::shared_ptr<SKPaymentTransaction>& transaction,
                                                            const std::optional<APMInAppPurchaseItems>& receiptEntries);
