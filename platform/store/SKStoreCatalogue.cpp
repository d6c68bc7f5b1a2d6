// The stand-in store's products, guarded: requests read it from the main queue while a test
// or the simulator fills it.
#include "platform/store/SKStoreCatalogue.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <map>

namespace {

struct Catalogue {
    Mutex mutex;
    std::map<std::string, std::shared_ptr<SKProduct>> products GUARDED_BY(mutex);
    NSErrorPtr error GUARDED_BY(mutex);
    std::size_t requests GUARDED_BY(mutex) = 0;
};

Catalogue& catalogue() {
    static auto* shared = new Catalogue();
    return *shared;
}

}  // namespace

void SKStoreCatalogue::addProduct(const std::shared_ptr<SKProduct>& product) {
    if (!product) return;
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    c.products[product->productIdentifier()] = product;
}

std::shared_ptr<SKProduct> SKStoreCatalogue::productWithIdentifier(const std::string& productIdentifier) {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    auto found = c.products.find(productIdentifier);
    return found == c.products.end() ? nullptr : found->second;
}

std::vector<std::string> SKStoreCatalogue::productIdentifiers() {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    std::vector<std::string> identifiers;
    for (const auto& [identifier, product] : c.products) identifiers.push_back(identifier);
    return identifiers;
}

void SKStoreCatalogue::setRequestError(NSErrorPtr error) {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    c.error = std::move(error);
}

NSErrorPtr SKStoreCatalogue::requestError() {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    return c.error;
}

std::size_t SKStoreCatalogue::requestCount() {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    return c.requests;
}

void SKStoreCatalogue::noteRequestStarted() {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    ++c.requests;
}

void SKStoreCatalogue::reset() {
    auto& c = catalogue();
    MutexLock lock(c.mutex);
    c.products.clear();
    c.error.reset();
    c.requests = 0;
}
