// Reports the application's purchases by itself: each purchased transaction the engine lets
// through (it drops those already reported, by fingerprint) becomes "_iap", "_assr" (a
// subscription renewed), "_assc" (a free trial turned paid) or "_iapx" (not borne out by the
// receipt), with its product's price and the receipt's classification. Reports run one at a
// time on the reporter's own serial queue.
#pragma once

#include "analytics/reporters/APMInAppPurchaseParameters.h"
#include "analytics/reporters/APMInAppPurchaseProductCache.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/store/SKPaymentQueue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class APMEventSink;

class APMInAppPurchaseTransactionReporter : public NSObject {
public:
    static constexpr const char* kQueueLabel = "APMInAppPurchaseTransactionReporter";

    // The receipt's in-app entries; nothing when there is no receipt or it is empty.
    using ReceiptReader = std::function<std::optional<APMInAppPurchaseItems>()>;
    // Purchases that could not be reported because their products could not be learnt (the
    // store was not reachable): the engine forgets their fingerprints, so that the store's next
    // hand-over of them reports them instead of passing them over as already reported.
    using UnreportedHandler = std::function<void(const SKPaymentTransactions& transactions)>;

    // The process's reporter, made on first use with the process's product cache; it reports
    // nothing until the engine hands it its road (setEngine).
    static std::shared_ptr<APMInAppPurchaseTransactionReporter> sharedInstance();
    // Forgets the process's reporter, as a new process would start (tests).
    static void resetSharedInstance();
    // Whether the process's reporter is made, without making it.
    static bool hasSharedInstance();
    [[nodiscard]] static std::shared_ptr<APMInAppPurchaseTransactionReporter> initWithEventSink(
        std::shared_ptr<APMEventSink> sink, ReceiptReader receiptReader, UnreportedHandler unreported,
        std::shared_ptr<APMInAppPurchaseProductCache> productCache = APMInAppPurchaseProductCache::make());

    // Where the events go, where the receipt is read, and who hears of purchases that could not
    // be reported; each replaces what an earlier engine handed in.
    void setEngine(std::shared_ptr<APMEventSink> sink, ReceiptReader receiptReader, UnreportedHandler unreported);

    // The de-duplication key: the MD5 (lower-case hex) of the identifier of a purchased
    // transaction; nothing for another state or an empty or all-zero identifier.
    static std::optional<std::string> transactionFingerprint(const std::shared_ptr<SKPaymentTransaction>& transaction);

    // The transactions the engine kept: purchased ones with a product identifier are reported,
    // once their products are known.
    void paymentQueue(const std::shared_ptr<SKPaymentQueue>& queue, const SKPaymentTransactions& transactions);
    // On the reporter's queue: one event per transaction whose product is cached.
    void reportTransactionsFromArray(const SKPaymentTransactions& transactions);

    const std::shared_ptr<APMInAppPurchaseProductCache>& productCache() const { return productCache_; }
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }

    APMInAppPurchaseTransactionReporter() = default;

private:
    struct Engine {
        std::shared_ptr<APMEventSink> sink;
        ReceiptReader receiptReader;
        UnreportedHandler unreported;
    };
    static std::shared_ptr<APMInAppPurchaseTransactionReporter> makeWithProductCache(
        std::shared_ptr<APMInAppPurchaseProductCache> productCache);
    Engine engine();

    Mutex engineMutex_;
    Engine engine_ GUARDED_BY(engineMutex_);
    // Set once at creation.
    std::shared_ptr<APMInAppPurchaseProductCache> productCache_;
    std::shared_ptr<DispatchQueue> queue_;
};
