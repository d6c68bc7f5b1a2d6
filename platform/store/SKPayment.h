// A request to buy a product: its identifier and how many.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class SKPayment : public NSObject {
public:
    static std::shared_ptr<SKPayment> paymentWithProductIdentifier(const std::string& productIdentifier,
                                                                   std::int64_t quantity = 1) {
        auto payment = std::make_shared<SKPayment>();
        payment->productIdentifier_ = productIdentifier;
        payment->quantity_ = quantity;
        return payment;
    }

    const std::string& productIdentifier() const { return productIdentifier_; }
    std::int64_t quantity() const { return quantity_; }

private:
    std::string productIdentifier_;
    std::int64_t quantity_ = 1;
};
