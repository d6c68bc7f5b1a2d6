// One transaction of the payment queue: its state, identifiers, date and payment, and the
// original transaction it restores or renews. Made by the store and handed to the queue's
// observers; immutable once made.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/store/SKPayment.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class SKPaymentTransactionState : int {
    Purchasing = 0,
    Purchased = 1,
    Failed = 2,
    Restored = 3,
    Deferred = 4,
};

class SKPaymentTransaction : public NSObject {
public:
    struct Fields {
        SKPaymentTransactionState state = SKPaymentTransactionState::Purchased;
        std::optional<std::string> transactionIdentifier;
        // Seconds since 1970.
        std::optional<double> transactionDate;
        std::shared_ptr<SKPayment> payment;
        std::shared_ptr<SKPaymentTransaction> originalTransaction;
        NSErrorPtr error;
    };

    static std::shared_ptr<SKPaymentTransaction> make(Fields fields) {
        auto transaction = std::make_shared<SKPaymentTransaction>();
        transaction->fields_ = std::move(fields);
        return transaction;
    }

    SKPaymentTransactionState transactionState() const { return fields_.state; }
    const std::optional<std::string>& transactionIdentifier() const { return fields_.transactionIdentifier; }
    const std::optional<double>& transactionDate() const { return fields_.transactionDate; }
    const std::shared_ptr<SKPayment>& payment() const { return fields_.payment; }
    const std::shared_ptr<SKPaymentTransaction>& originalTransaction() const { return fields_.originalTransaction; }
    const NSErrorPtr& error() const { return fields_.error; }

private:
    Fields fields_;
};

using SKPaymentTransactions = std::vector<std::shared_ptr<SKPaymentTransaction>>;
