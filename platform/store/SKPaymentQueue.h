// The store's payment queue: the default queue and the observers of its transactions. No
// payment runs here: the store (the simulator, a test) hands the queue transactions as they
// change, and the queue tells its observers on the main queue.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/store/SKPaymentTransaction.h"

#include <memory>
#include <vector>

class SKPaymentQueue;

// What the payment queue tells its observers.
class SKPaymentTransactionObserver {
public:
    virtual ~SKPaymentTransactionObserver() = default;
    virtual void paymentQueue(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) = 0;
};

class SKPaymentQueue : public NSObject {
public:
    static std::shared_ptr<SKPaymentQueue> defaultQueue();

    // Observers are not kept alive by the queue; adding one twice keeps it once.
    void addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
    void removeTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer);
    // The live observers in the order added.
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> transactionObservers() const;
    // The store's side: transactions that changed, told to the observers live at that time, in
    // one later block of the main queue.
    void updateTransactions(const SKPaymentTransactions& transactions);

private:
    mutable Mutex mutex_;
    std::vector<std::weak_ptr<SKPaymentTransactionObserver>> observers_ GUARDED_BY(mutex_);
};
