// Purchase classification from the receipt's entries, and prices in millionths.
#include "analytics/reporters/APMInAppPurchaseParameters.h"

#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSTimeZone.h"

#include <algorithm>
#include <cmath>

namespace {

void logInfo(std::int64_t code, std::string_view message) { APMMeasurementMonitor()->logWithLevel(8, code, message); }

std::optional<std::int64_t> microsOf(const std::shared_ptr<NSDecimalNumber>& amount) {
    if (!amount || amount->isNotANumber()) return std::nullopt;
    const double micros = amount->decimalNumberByMultiplyingBy(*NSDecimalNumber::initWithLongLong(1000000))->doubleValue();
    // 2^63 itself is out of range; every double below it converts without wrapping.
    if (!std::isfinite(micros) || micros >= 9223372036854775808.0 || micros < -9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(micros);
}

bool isSubscriptionLike(const APMInAppPurchaseItem& entry) {
    return entry.purchaseType == 2 || entry.purchaseType == 3 || entry.webOrderLineItemID.has_value();
}

void markFreeTrialDiscount(Value::Dictionary& parameters) {
    // Without a price there is nothing to discount: the purchase stays undescribed.
    if (!parameters.contains("price")) return;
    parameters.set("original_price", parameters.get("price"));
    parameters.set("price_is_discounted", Value(1));
    parameters.set("price", Value(0));
    parameters.set("value", Value(0));
}

// Step by step as the receipt bears the purchase out; adds what it decides to `parameters`.
void classify(Value::Dictionary& parameters, const SKProduct& product, const SKPaymentTransaction& transaction,
              const std::optional<APMInAppPurchaseItems>& receiptEntries) {
    const std::string tid = transaction.transactionIdentifier().value_or("");
    const auto& original = transaction.originalTransaction();
    const std::string otid = original ? original->transactionIdentifier().value_or("") : "";
    if (tid.empty()) logInfo(40003, "Transaction ID cannot be nil or empty.");
    const std::string& productID = product.productIdentifier();
    const auto entries = receiptEntries ? APMReceiptItemsMatching(*receiptEntries, productID, std::nullopt) : std::nullopt;
    if (!entries || entries->empty()) {
        APMMeasurementMonitor()->logWithLevel(8, 40020, "Transaction missing in receipt will be reported as invalid",
                                              Value(productID));
        parameters.set("invalid", Value(1));
        return;
    }
    const APMInAppPurchaseItem& last = entries->back();
    const std::int64_t type = last.purchaseType.value_or(-1);
    const bool subscriptionLike = isSubscriptionLike(last);
    const bool restoredElsewhere = !tid.empty() && !otid.empty() && tid != otid;
    if (type == 0 && restoredElsewhere) {
        logInfo(40005, "Restore/repurchase of non-consumable item will be reported as invalid");
        parameters.set("invalid", Value(1));
        return;
    }
    if (!subscriptionLike && entries->size() == 1) {
        if (last.transactionID != last.originalTransactionID) {
            logInfo(40007, "Transaction with mismatched transaction ID and original transaction ID will be reported as consumable");
            return;
        }
        if (type == 1) logInfo(40021, "Transaction of consumable item will be reported");
        if (type == 0) logInfo(40022, "Transaction of non-consumable item will be reported");
        parameters.set("_did", Value(static_cast<long long>(
                                   APMPurchaseDeduplicationID(last.originalTransactionID, std::nullopt, last.productID))));
        return;
    }
    const auto sameDate = APMReceiptItemsMatching(*entries, productID, transaction.transactionDate());
    const std::size_t matched = sameDate ? sameDate->size() : 0;
    if (matched == 0) {
        // Not even a subscription has this purchase in the receipt: it is not borne out, whatever
        // the product is (without an entry it cannot be called a renewal either).
        APMMeasurementMonitor()->logWithLevel(8, subscriptionLike ? 40023 : 40020,
                                              subscriptionLike
                                                  ? "Subscription transaction missing in receipt will be reported as invalid"
                                                  : "Transaction missing in receipt will be reported as invalid",
                                              Value(productID));
        parameters.set("invalid", Value(1));
        if (subscriptionLike) parameters.set("subscription", Value(1));
        return;
    }
    if (matched >= 2) {
        APMMeasurementMonitor()->logWithLevel(8, 40024,
                                              "Subscription transaction with duplicate transaction date will be reported as invalid",
                                              Value(productID), Value(static_cast<long long>(matched)));
        parameters.set("invalid", Value(1));
        parameters.set("subscription", Value(1));
        return;
    }
    const APMInAppPurchaseItem& entry = sameDate->front();
    if (entry.purchaseType == 2) {
        parameters.set("subscription", Value(1));
        parameters.set("_did", Value(static_cast<long long>(
                                   APMPurchaseDeduplicationID(entry.originalTransactionID, std::nullopt, entry.productID))));
        logInfo(40025, "Transaction of non-renewing subscription will be reported");
        return;
    }
    if (entry.originalTransactionID == entry.transactionID) parameters.set("subscription", Value(1));
    parameters.set("_did", Value(static_cast<long long>(APMPurchaseDeduplicationID(
                               entry.originalTransactionID, entry.webOrderLineItemID, entry.productID))));
    if (!entry.freeTrial && !entry.introductoryOffer) {
        logInfo(40008, "Transaction of auto-renewable subscription will be reported");
        APMAddSubscriptionRenewalFlag(parameters, *entries, &entry);
        return;
    }
    if (entry.freeTrial) {
        parameters.set("free_trial", Value(1));
        if (restoredElsewhere) {
            logInfo(40011, "Repurchase of free-trial auto-renewable subscription will be reported as invalid");
            parameters.set("invalid", Value(1));
            return;
        }
        logInfo(40009, "Transaction of free-trial auto-renewable subscription will be reported");
    }
    if (entry.introductoryOffer) {
        parameters.set("price_is_discounted", Value(1));
        APMAddSubscriptionRenewalFlag(parameters, *entries, &entry);
        logInfo(40018, "Transaction of introductory offer will be reported");
    }
    logInfo(40010, "Transaction of auto-renewable subscription renewal will be reported");
}

void applyDiscount(Value::Dictionary& parameters, const SKProduct& product, std::int64_t quantity) {
    if (parameters.get("free_trial").longLongValue() == 1) {
        markFreeTrialDiscount(parameters);
        return;
    }
    const auto& introductory = product.introductoryPrice();
    if (parameters.get("price_is_discounted").longLongValue() != 1 || !introductory) return;
    if (NSProcessInfo::processInfo()->isOperatingSystemAtLeastVersion({11, 2, 0}) &&
        introductory->paymentMode() == SKProductDiscountPaymentMode::FreeTrial) {
        markFreeTrialDiscount(parameters);
        return;
    }
    if (!introductory->price()) return;
    const auto price = APMPriceInMicros(*introductory->price());
    const auto value = quantity != 0 ? APMPurchaseValueInMicros(*introductory->price(), quantity) : std::nullopt;
    parameters.set("original_price", parameters.get("price"));
    // An introductory price that cannot be told in millionths leaves the purchase undescribed.
    if (price) parameters.set("price", Value(static_cast<long long>(*price))); else parameters.erase("price");
    if (quantity != 0) {
        if (value) parameters.set("value", Value(static_cast<long long>(*value))); else parameters.erase("value");
    }
}

}  // namespace

std::optional<double> APMReceiptDateFromIA5String(const std::string& text) {
    static const auto formatter = [] {
        auto made = NSDateFormatter::make();
        made->setDateFormat("yyyy-MM-dd'T'HH:mm:ssZZZZZ");
        made->setLocale("en_US_POSIX");
        made->setTimeZone(NSTimeZone::GMT());
        return made;
    }();
    const auto date = formatter->dateFromString(text);
    if (!date) return std::nullopt;
    return date->timeIntervalSince1970;
}

std::optional<APMInAppPurchaseItems> APMReceiptItemsMatching(const APMInAppPurchaseItems& entries,
                                                             const std::string& productIdentifier,
                                                             std::optional<double> date) {
    if (entries.empty() || (productIdentifier.empty() && !date)) return std::nullopt;
    std::vector<std::pair<std::optional<double>, const APMInAppPurchaseItem*>> kept;
    for (const auto& entry : entries) {
        const auto purchased = APMReceiptDateFromIA5String(entry.purchaseDateIA5String);
        if (date && purchased != date) continue;
        if (!productIdentifier.empty() && entry.productID != productIdentifier) continue;
        kept.emplace_back(purchased, &entry);
    }
    // An entry without a readable date sorts first; equal dates keep the receipt's order.
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    APMInAppPurchaseItems matching;
    for (const auto& [purchased, entry] : kept) matching.push_back(*entry);
    return matching;
}

std::optional<std::int64_t> APMPriceInMicros(const NSDecimalNumber& price) {
    return microsOf(price.decimalNumberByMultiplyingBy(*NSDecimalNumber::one()));
}

std::optional<std::int64_t> APMPurchaseValueInMicros(const NSDecimalNumber& price, std::int64_t quantity) {
    return microsOf(price.decimalNumberByMultiplyingBy(*NSDecimalNumber::initWithLongLong(quantity)));
}

std::int64_t APMPurchaseDeduplicationID(const std::string& originalTransactionID,
                                        std::optional<std::uint64_t> webOrderLineItemID,
                                        const std::string& productID) {
    if (originalTransactionID.empty() || productID.empty()) return -1;
    std::string text = originalTransactionID;
    if (webOrderLineItemID) text += std::to_string(*webOrderLineItemID);
    text += productID;
    return apm_64LSBMD5(NSData(text.begin(), text.end()));
}

void APMAddSubscriptionRenewalFlag(Value::Dictionary& parameters, const APMInAppPurchaseItems& entries,
                                   const APMInAppPurchaseItem* entry) {
    if (entries.empty() || !entry || entry->originalTransactionID == entry->transactionID) return;
    const auto at = std::find(entries.begin(), entries.end(), *entry);
    const bool afterFreeTrial = at != entries.end() && at != entries.begin() && std::prev(at)->freeTrial;
    parameters.set(afterFreeTrial ? "sub_convert" : "sub_renew", Value(1));
}

std::optional<Value::Dictionary> APMPurchaseEventParameters(const std::shared_ptr<SKProduct>& product,
                                                            const std::shared_ptr<SKPaymentTransaction>& transaction,
                                                            const std::optional<APMInAppPurchaseItems>& receiptEntries) {
    if (!product) {
        logInfo(40026, "IAP Transaction cannot be created from nil product");
        return std::nullopt;
    }
    if (product->productIdentifier().empty()) {
        logInfo(40027, "IAP Transaction cannot be created from empty or nil product ID");
        return std::nullopt;
    }
    if (!transaction) {
        logInfo(40028, "IAP Transaction cannot be created from nil transaction");
        return std::nullopt;
    }
    Value::Dictionary parameters;
    parameters.set("product_id", Value(product->productIdentifier()));
    const std::int64_t quantity = transaction->payment() ? transaction->payment()->quantity() : 0;
    if (const auto& price = product->price()) {
        if (const auto micros = APMPriceInMicros(*price)) parameters.set("price", Value(static_cast<long long>(*micros)));
        if (quantity != 0) {
            if (const auto value = APMPurchaseValueInMicros(*price, quantity)) {
                parameters.set("value", Value(static_cast<long long>(*value)));
            }
            parameters.set("quantity", Value(static_cast<long long>(quantity)));
        }
    }
    if (const auto& currency = product->priceLocaleCurrencyCode()) parameters.set("currency", Value(*currency));
    if (const auto& title = product->localizedTitle()) parameters.set("product_name", Value(*title));
    classify(parameters, *product, *transaction, receiptEntries);
    applyDiscount(parameters, *product, quantity);
    for (const char* required : {"price", "value", "currency", "product_id"}) {
        if (!parameters.contains(required)) return std::nullopt;
    }
    return parameters;
}
