// The product cache: lookups wait on its queue, and answers are merged there.
#include "analytics/reporters/APMInAppPurchaseProductCache.h"

#include "platform/foundation/ProcessShared.h"

namespace {

ProcessShared<APMInAppPurchaseProductCache> gProductCache;

}  // namespace

APMInAppPurchaseProductCache::APMInAppPurchaseProductCache() : lockQueue_(DispatchQueue::create(kLockQueueLabel)) {}

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::sharedInstance() {
    return gProductCache.get();
}

void APMInAppPurchaseProductCache::resetSharedInstance() { (void)gProductCache.take(); }

bool APMInAppPurchaseProductCache::hasSharedInstance() { return gProductCache.current() != nullptr; }

std::shared_ptr<APMInAppPurchaseProductCache> APMInAppPurchaseProductCache::make() {
    return std::make_shared<APMInAppPurchaseProductCache>();
}

std::shared_ptr<SKProduct> APMInAppPurchaseProductCache::cachedProductForProductIdentifier(
    const std::string& productIdentifier) {
    std::shared_ptr<SKProduct> product;
    lockQueue_->sync([&] {
        auto found = validProducts_.find(productIdentifier);
        if (found != validProducts_.end()) product = found->second;
    });
    return product;
}

std::size_t APMInAppPurchaseProductCache::validProductCount() {
    std::size_t count = 0;
    lockQueue_->sync([&] { count = validProducts_.size(); });
    return count;
}

std::size_t APMInAppPurchaseProductCache::invalidProductIdentifierCount() {
    std::size_t count = 0;
    lockQueue_->sync([&] { count = invalidProductIdentifiers_.size(); });
    return count;
}

void APMInAppPurchaseProductCache::requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                                        const std::shared_ptr<DispatchQueue>& queue,
                                                                        APMProductsRequest::Completion completion) {
    if (!queue || !completion) return;
    std::weak_ptr<APMInAppPurchaseProductCache> weak = self<APMInAppPurchaseProductCache>();
    APMProductsRequest::requestProductsWithProductIdentifiers(
        identifiers, lockQueue_,
        [weak, queue, completion = std::move(completion)](const APMProductsRequest::Products& products,
                                                          const std::set<std::string>& invalid, NSErrorPtr error) {
            if (auto cache = weak.lock()) cache->merge(products, invalid);
            queue->async([completion, products, invalid, error] { completion(products, invalid, error); });
        });
}

void APMInAppPurchaseProductCache::merge(const APMProductsRequest::Products& products,
                                         const std::set<std::string>& invalid) {
    for (const auto& [identifier, product] : products) {
        validProducts_[identifier] = product;
        invalidProductIdentifiers_.erase(identifier);
    }
    for (const auto& identifier : invalid) {
        validProducts_.erase(identifier);
        invalidProductIdentifiers_.insert(identifier);
    }
    if (validProducts_.size() + invalidProductIdentifiers_.size() > kMaxEntries) {
        validProducts_ = products;
        invalidProductIdentifiers_ = invalid;
    }
}
