// The stand-in store's answer to a products request, from its catalogue.
#include "platform/store/SKProductsRequest.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/store/SKStoreCatalogue.h"

std::shared_ptr<SKProductsRequest> SKProductsRequest::initWithProductIdentifiers(
    const std::set<std::string>& productIdentifiers) {
    if (productIdentifiers.empty()) return nullptr;
    auto request = std::make_shared<SKProductsRequest>();
    request->productIdentifiers_ = productIdentifiers;
    return request;
}

void SKProductsRequest::start() {
    if (started_) return;
    started_ = true;
    SKStoreCatalogue::noteRequestStarted();
    auto self = this->self<SKProductsRequest>();
    DispatchQueue::mainQueue()->async([self] {
        auto delegate = self->delegate();
        if (!delegate) return;
        if (NSErrorPtr error = SKStoreCatalogue::requestError()) {
            delegate->request(*self, error);
            return;
        }
        std::vector<std::shared_ptr<SKProduct>> products;
        std::vector<std::string> invalid;
        for (const auto& identifier : self->productIdentifiers_) {
            if (auto product = SKStoreCatalogue::productWithIdentifier(identifier)) {
                products.push_back(std::move(product));
            } else {
                invalid.push_back(identifier);
            }
        }
        delegate->productsRequest(*self, SKProductsResponse::make(std::move(products), std::move(invalid)));
    });
}
