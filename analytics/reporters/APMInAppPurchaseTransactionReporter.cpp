// Purchased transactions to purchase events, through the product cache and the receipt.
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/ProcessShared.h"

#include <set>

namespace {

ProcessShared<APMInAppPurchaseTransactionReporter> gPurchaseReporter;

Value errorCode(const SKPaymentTransaction& transaction) {
    return transaction.error() ? Value(static_cast<long long>(transaction.error()->code())) : Value();
}

bool isPurchased(const std::shared_ptr<SKPaymentTransaction>& transaction) {
    return transaction && transaction->transactionState() == SKPaymentTransactionState::Purchased;
}

std::string productIdentifierOf(const SKPaymentTransaction& transaction) {
    return transaction.payment() ? transaction.payment()->productIdentifier() : std::string();
}

}  // namespace

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::makeWithProductCache(
    std::shared_ptr<APMInAppPurchaseProductCache> productCache) {
    auto reporter = std::make_shared<APMInAppPurchaseTransactionReporter>();
    reporter->productCache_ = std::move(productCache);
    reporter->queue_ = DispatchQueue::create(kQueueLabel);
    return reporter;
}

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::sharedInstance() {
    return gPurchaseReporter.get([] { return makeWithProductCache(APMInAppPurchaseProductCache::sharedInstance()); });
}

void APMInAppPurchaseTransactionReporter::resetSharedInstance() {
    // A report under way finishes before the reporter goes.
    if (auto old = gPurchaseReporter.take()) old->queue_->sync([] {});
}

bool APMInAppPurchaseTransactionReporter::hasSharedInstance() { return gPurchaseReporter.current() != nullptr; }

std::shared_ptr<APMInAppPurchaseTransactionReporter> APMInAppPurchaseTransactionReporter::initWithEventSink(
    std::shared_ptr<APMEventSink> sink, ReceiptReader receiptReader, UnreportedHandler unreported,
    std::shared_ptr<APMInAppPurchaseProductCache> productCache) {
    if (!sink || !productCache) return nullptr;
    auto reporter = makeWithProductCache(std::move(productCache));
    reporter->setEngine(std::move(sink), std::move(receiptReader), std::move(unreported));
    return reporter;
}

void APMInAppPurchaseTransactionReporter::setEngine(std::shared_ptr<APMEventSink> sink, ReceiptReader receiptReader,
                                                    UnreportedHandler unreported) {
    MutexLock lock(engineMutex_);
    engine_ = Engine{std::move(sink), std::move(receiptReader), std::move(unreported)};
}

APMInAppPurchaseTransactionReporter::Engine APMInAppPurchaseTransactionReporter::engine() {
    MutexLock lock(engineMutex_);
    return engine_;
}

std::optional<std::string> APMInAppPurchaseTransactionReporter::transactionFingerprint(
    const std::shared_ptr<SKPaymentTransaction>& transaction) {
    auto log = APMMeasurementMonitor();
    if (!transaction) {
        log->logWithLevel(2, 21014, "Transaction is nil");
        return std::nullopt;
    }
    if (!isPurchased(transaction)) return std::nullopt;
    const auto& identifier = transaction->transactionIdentifier();
    if (!identifier) {
        log->logWithLevel(2, 21015, "Transaction identifier is nil. Code", errorCode(*transaction));
        return std::nullopt;
    }
    if (identifier->empty()) {
        log->logWithLevel(2, 21016, "Transaction identifier is empty. Code", errorCode(*transaction));
        return std::nullopt;
    }
    if (identifier->find_first_not_of("0-") == std::string::npos) {
        log->logWithLevel(2, 21017, "Transaction identifier is only zeroes. Code", errorCode(*transaction));
        return std::nullopt;
    }
    return apm_MD5String(*identifier);
}

void APMInAppPurchaseTransactionReporter::paymentQueue(const std::shared_ptr<SKPaymentQueue>&,
                                                       const SKPaymentTransactions& transactions) {
    SKPaymentTransactions kept;
    std::set<std::string> missing;
    for (const auto& transaction : transactions) {
        if (!isPurchased(transaction)) continue;
        const std::string identifier = productIdentifierOf(*transaction);
        if (identifier.empty()) continue;
        kept.push_back(transaction);
        if (!productCache_->cachedProductForProductIdentifier(identifier)) missing.insert(identifier);
    }
    if (kept.empty()) return;
    std::weak_ptr<APMInAppPurchaseTransactionReporter> weak = self<APMInAppPurchaseTransactionReporter>();
    if (missing.empty()) {
        queue_->async([weak, kept] {
            if (auto reporter = weak.lock()) reporter->reportTransactionsFromArray(kept);
        });
        return;
    }
    productCache_->requestProductsWithProductIdentifiers(
        missing, queue_,
        [weak, kept](const APMProductsRequest::Products& products, const std::set<std::string>&, NSErrorPtr error) {
            auto reporter = weak.lock();
            if (!reporter) return;
            if (!error) {
                reporter->reportTransactionsFromArray(kept);
                return;
            }
            if (products.empty()) {
                APMMeasurementMonitor()->logWithLevel(1, 21027, "Cannot request product information. Error", Value(error));
            }
            // What the failed request left unknown cannot be described now: it is handed back
            // rather than lost, and the rest of the batch is reported.
            SKPaymentTransactions known;
            SKPaymentTransactions unknown;
            for (const auto& transaction : kept) {
                const bool cached =
                    reporter->productCache_->cachedProductForProductIdentifier(productIdentifierOf(*transaction)) != nullptr;
                (cached ? known : unknown).push_back(transaction);
            }
            const UnreportedHandler unreported = reporter->engine().unreported;
            if (!unknown.empty() && unreported) unreported(unknown);
            if (!known.empty()) reporter->reportTransactionsFromArray(known);
        });
}

void APMInAppPurchaseTransactionReporter::reportTransactionsFromArray(const SKPaymentTransactions& transactions) {
    const Engine engine = this->engine();
    // The receipt's entries of this run only; runs are serial on the reporter's queue.
    std::optional<APMInAppPurchaseItems> allPurchaseItems =
        engine.receiptReader ? engine.receiptReader() : std::nullopt;
    if (allPurchaseItems) APMMeasurementMonitor()->logWithLevel(7, 21028, "Parsed purchase items from receipt");
    for (const auto& transaction : transactions) {
        if (!transaction) continue;
        auto product = productCache_->cachedProductForProductIdentifier(productIdentifierOf(*transaction));
        auto parameters = APMPurchaseEventParameters(product, transaction, allPurchaseItems);
        if (!parameters) continue;
        std::string name = "_iap";
        if (parameters->get("invalid").longLongValue() == 1) {
            name = "_iapx";
            parameters->erase("invalid");
            if (APMAEU::isASRS()) parameters->set("sandbox", Value(1));
        }
        if (parameters->get("sub_renew").longLongValue() == 1) {
            parameters->erase("sub_renew");
            name = "_assr";
        }
        if (parameters->get("sub_convert").longLongValue() == 1) {
            parameters->erase("sub_convert");
            name = "_assc";
        }
        if (engine.sink) engine.sink->logInternalEventWithOrigin("auto", name, *parameters);
    }
}
