// What the store says of a product: identifier, price in its locale's currency, title and
// introductory price. Immutable once made.
#pragma once

#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSObject.h"
#include "platform/store/SKProductDiscount.h"

#include <memory>
#include <optional>
#include <string>

class SKProduct : public NSObject {
public:
    struct Fields {
        std::string productIdentifier;
        std::shared_ptr<NSDecimalNumber> price;
        // The currency code of the price locale; nothing for a locale without one.
        std::optional<std::string> currencyCode;
        std::optional<std::string> localizedTitle;
        std::shared_ptr<SKProductDiscount> introductoryPrice;
    };

    static std::shared_ptr<SKProduct> make(Fields fields) {
        auto product = std::make_shared<SKProduct>();
        product->fields_ = std::move(fields);
        return product;
    }

    const std::string& productIdentifier() const { return fields_.productIdentifier; }
    const std::shared_ptr<NSDecimalNumber>& price() const { return fields_.price; }
    // The price locale's currency code.
    const std::optional<std::string>& priceLocaleCurrencyCode() const { return fields_.currencyCode; }
    const std::optional<std::string>& localizedTitle() const { return fields_.localizedTitle; }
    const std::shared_ptr<SKProductDiscount>& introductoryPrice() const { return fields_.introductoryPrice; }

private:
    Fields fields_;
};
