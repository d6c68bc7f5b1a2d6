// The engine's part in purchase reporting: purchases already reported are passed over by
// their fingerprints, the reporter is made and handed the engine's road, and purchase events
// move the lifetime value totals.
#include "analytics/measurement/APMMeasurement.h"

#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/measurement/APMReceipt.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "analytics/reporters/APMLifetimeValueRecorder.h"
#include "platform/dispatch/DispatchQueue.h"

namespace {

Value productIDOf(const SKPaymentTransaction& transaction) {
    return transaction.payment() ? Value(transaction.payment()->productIdentifier()) : Value();
}

}  // namespace

void APMMeasurement::filterPurchaseTransactions(const PurchaseTransactions& transactions,
                                                std::function<void(const PurchaseTransactions& kept)> callback) {
    scheduleOnWorker("APMMeasurement:3539", [transactions, callback = std::move(callback)](APMMeasurement& engine) {
        auto log = monitor();
        auto database = engine.database();
        PurchaseTransactions kept;
        for (const auto& transaction : transactions) {
            if (!transaction || transaction->transactionState() != SKPaymentTransactionState::Purchased) continue;
            const auto fingerprint = APMInAppPurchaseTransactionReporter::transactionFingerprint(transaction);
            if (!fingerprint || fingerprint->empty()) {
                log->logWithLevel(2, 23139,
                                  "Purchase has nil or empty fingerprint. Purchase will not be checked for duplicates. "
                                  "Product ID",
                                  productIDOf(*transaction));
                kept.push_back(transaction);
                continue;
            }
            NSErrorPtr error;
            const std::optional<bool> fresh =
                database ? database->insertIfNotDuplicatePurchaseFingerprint(*fingerprint, &error) : std::nullopt;
            if (!fresh) {
                // A storage failure never costs a purchase its report.
                log->logWithLevel(1, 23140,
                                  "Failed to save purchase fingerprint. Purchase will not be checked for duplicates. "
                                  "Product ID, error",
                                  productIDOf(*transaction), Value(error));
                kept.push_back(transaction);
            } else if (*fresh) {
                kept.push_back(transaction);
            } else {
                log->logWithLevel(4, 23141, "Purchase is a duplicate and will not be reported. Product ID",
                                  productIDOf(*transaction));
            }
        }
        if (!callback) return;
        DispatchQueue::globalQueue()->async([callback, kept = std::move(kept)] { callback(kept); });
    });
}

void APMMeasurement::forgetPurchaseTransactions(const PurchaseTransactions& transactions) {
    scheduleOnWorker("APMMeasurement:forgetPurchases", [transactions](APMMeasurement& engine) {
        auto database = engine.database();
        if (!database) return;
        for (const auto& transaction : transactions) {
            const auto fingerprint = APMInAppPurchaseTransactionReporter::transactionFingerprint(transaction);
            if (!fingerprint) continue;
            NSErrorPtr error;
            if (!database->deletePurchaseFingerprint(*fingerprint, &error)) {
                monitor()->logWithLevel(1, 23146, "Failed to forget purchase fingerprint. Product ID, error",
                                        productIDOf(*transaction), Value(error));
            }
        }
    });
}

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMMeasurement::purchaseReporter() {
    MutexLock lock(componentsMutex_);
    if (!purchaseReporter_) {
        // The process's reporter, on this engine's road.
        auto reporter = APMInAppPurchaseTransactionReporter::sharedInstance();
        std::weak_ptr<APMMeasurement> weak = weakSelf<APMMeasurement>();
        reporter->setEngine(
            context_ ? eventSink() : nullptr, [] { return APMStoreReceiptInAppPurchaseItems(); },
            [weak](const PurchaseTransactions& unreported) {
                if (auto engine = weak.lock()) engine->forgetPurchaseTransactions(unreported);
            });
        purchaseReporter_ = std::move(reporter);
    }
    return purchaseReporter_;
}

bool APMMeasurement::updateLifetimeValueWithEvent(const std::shared_ptr<APMEvent>& event) {
    if (!APMLifetimeValueRecorder::isPurchaseEvent(*event)) return true;
    auto database = this->database();
    if (database &&
        APMLifetimeValueRecorder::recordLifetimeValueToDatabase(*database, *event, remoteConfig()->maxTrackedCurrencies())) {
        return true;
    }
    monitor()->logWithLevel(1, 23053, "Cannot record lifetime value of event. Name, currency code, transaction value",
                            Value(APMDisplayNameForEvent(Value(event->name()))), event->parameters().get("currency"),
                            event->parameters().get("value"));
    return false;
}
