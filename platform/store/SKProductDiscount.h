// A product's reduced price for a period (an introductory offer) and how it is paid.
#pragma once

#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSObject.h"

#include <memory>

enum class SKProductDiscountPaymentMode : int {
    PayAsYouGo = 0,
    PayUpFront = 1,
    FreeTrial = 2,
};

class SKProductDiscount : public NSObject {
public:
    static std::shared_ptr<SKProductDiscount> make(std::shared_ptr<NSDecimalNumber> price,
                                                   SKProductDiscountPaymentMode paymentMode) {
        auto discount = std::make_shared<SKProductDiscount>();
        discount->price_ = std::move(price);
        discount->paymentMode_ = paymentMode;
        return discount;
    }

    const std::shared_ptr<NSDecimalNumber>& price() const { return price_; }
    SKProductDiscountPaymentMode paymentMode() const { return paymentMode_; }

private:
    std::shared_ptr<NSDecimalNumber> price_;
    SKProductDiscountPaymentMode paymentMode_ = SKProductDiscountPaymentMode::PayAsYouGo;
};
