// The store's payment queue: the default queue and the observers of its transactions. Only
// observer registration is modelled; no payment runs here.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <mutex>
#include <vector>

// What the payment queue tells its observers; purchases themselves are not modelled yet.
class SKPaymentTransactionObserver {
public:
    virtual ~SKPaymentTransactionObserver() = default;
};

class SKPaymentQueue : public NSObject {
public:
    static std::shared_ptr<SKPaymentQueue> defaultQueue();

    // Observers are not kept alive by the queue; adding one twice keeps it once.
    void addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
    void removeTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
    // The live observers in the order added.
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> transactionObservers() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<SKPaymentTransactionObserver>> observers_;
};
