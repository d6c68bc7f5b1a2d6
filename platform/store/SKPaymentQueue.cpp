// The default payment queue's observer list and its delivery of transactions.
#include "platform/store/SKPaymentQueue.h"

#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>

std::shared_ptr<SKPaymentQueue> SKPaymentQueue::defaultQueue() {
    static const auto queue = std::make_shared<SKPaymentQueue>();
    return queue;
}

void SKPaymentQueue::addTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer) {
    if (!observer) return;
    MutexLock lock(mutex_);
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    const bool known = std::any_of(observers_.begin(), observers_.end(),
                                   [&](const auto& weak) { return weak.lock() == observer; });
    if (!known) observers_.push_back(observer);
}

void SKPaymentQueue::removeTransactionObserver(const std::shared_ptr<SKPaymentTransactionObserver>& observer) {
    MutexLock lock(mutex_);
    std::erase_if(observers_, [&](const auto& weak) {
        auto live = weak.lock();
        return !live || live == observer;
    });
}

std::vector<std::shared_ptr<SKPaymentTransactionObserver>> SKPaymentQueue::transactionObservers() const {
    std::vector<std::shared_ptr<SKPaymentTransactionObserver>> live;
    MutexLock lock(mutex_);
    for (const auto& weak : observers_)
        if (auto observer = weak.lock()) live.push_back(std::move(observer));
    return live;
}

void SKPaymentQueue::updateTransactions(const SKPaymentTransactions& transactions) {
    if (transactions.empty()) return;
    auto observers = transactionObservers();
    auto self = this->self<SKPaymentQueue>();
    DispatchQueue::mainQueue()->async([self, observers = std::move(observers), transactions] {
        for (const auto& observer : observers) observer->paymentQueue(*self, transactions);
    });
}
