// The store's products the purchase reporter has learnt, and the identifiers the store called
// invalid: at most kMaxEntries together, touched only on the serial queue
// "com.vizudi.vuv.measurement.iap-cache".
#pragma once

#include "analytics/reporters/APMProductsRequest.h"

#include <cstddef>
#include <memory>
#include <set>
#include <string>

class APMInAppPurchaseProductCache : public NSObject {
public:
    static constexpr const char* kLockQueueLabel = "com.vizudi.vuv.measurement.iap-cache";
    static constexpr std::size_t kMaxEntries = 100;

    // The process's cache, the one the purchase reporter uses: made on first use.
    static std::shared_ptr<APMInAppPurchaseProductCache> sharedInstance();
    // Forgets the process's cache, as a new process would start (tests).
    static void resetSharedInstance();
    // Whether the process's cache is made, without making it.
    static bool hasSharedInstance();
    static std::shared_ptr<APMInAppPurchaseProductCache> make();

    // Waits for the lock queue.
    std::shared_ptr<SKProduct> cachedProductForProductIdentifier(const std::string& productIdentifier);
    // Nothing without a queue or a completion. The answer is merged into the cache (replacing
    // it by this answer alone when the two would hold more than kMaxEntries), then the
    // completion runs on `queue` with the answer.
    void requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                               const std::shared_ptr<DispatchQueue>& queue,
                                               APMProductsRequest::Completion completion);
    // How many products and invalid identifiers it holds (waits for the lock queue).
    std::size_t validProductCount();
    std::size_t invalidProductIdentifierCount();

    APMInAppPurchaseProductCache();

private:
    void merge(const APMProductsRequest::Products& products, const std::set<std::string>& invalid);

    std::shared_ptr<DispatchQueue> lockQueue_;
    std::set<std::string> invalidProductIdentifiers_;
    APMProductsRequest::Products validProducts_;
};
