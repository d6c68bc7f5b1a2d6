// A products request's answer, turned into a dictionary and a set, on the caller's queue.
#include "analytics/reporters/APMProductsRequest.h"

#include "analytics/core/APMError.h"

void APMProductsRequest::requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                              const std::shared_ptr<DispatchQueue>& queue,
                                                              Completion completion) {
    if (!queue || !completion) return;
    auto request = initWithProductIdentifiers(identifiers);
    if (!request) {
        NSErrorPtr error = apm_errorWithCode(1, "Invalid product identifiers.");
        queue->async([completion = std::move(completion), error] { completion({}, {}, error); });
        return;
    }
    request->requestWithQueue(queue, std::move(completion));
}

std::shared_ptr<APMProductsRequest> APMProductsRequest::initWithProductIdentifiers(
    const std::set<std::string>& identifiers) {
    auto platformRequest = SKProductsRequest::initWithProductIdentifiers(identifiers);
    if (!platformRequest) return nullptr;
    auto request = std::make_shared<APMProductsRequest>();
    request->productsRequest_ = std::move(platformRequest);
    return request;
}

void APMProductsRequest::requestWithQueue(const std::shared_ptr<DispatchQueue>& queue, Completion completion) {
    if (!queue || !completion || !productsRequest_) return;
    completionHandler_ = std::move(completion);
    queue_ = queue;
    // The platform holds its delegate weakly: the request keeps itself until it has answered.
    context = shared_from_this();
    productsRequest_->setDelegate(self<APMProductsRequest>());
    productsRequest_->start();
}

void APMProductsRequest::clearInstance() {
    productsRequest_.reset();
    completionHandler_ = nullptr;
    queue_.reset();
    context.reset();
}

void APMProductsRequest::productsRequest(SKProductsRequest&, const std::shared_ptr<SKProductsResponse>& response) {
    Products products;
    std::set<std::string> invalid;
    if (response) {
        for (const auto& product : response->products()) {
            if (product && !product->productIdentifier().empty()) products[product->productIdentifier()] = product;
        }
        invalid.insert(response->invalidProductIdentifiers().begin(), response->invalidProductIdentifiers().end());
    }
    finish(std::move(products), std::move(invalid), nullptr);
}

void APMProductsRequest::request(SKProductsRequest&, const NSErrorPtr& error) { finish({}, {}, error); }

void APMProductsRequest::finish(Products products, std::set<std::string> invalid, NSErrorPtr error) {
    auto completion = completionHandler_;
    auto queue = queue_;
    // Held to the end of this call: clearInstance lets go of the request's own reference.
    auto keepAlive = std::move(context);
    clearInstance();
    if (!completion || !queue) return;
    queue->async([completion = std::move(completion), products = std::move(products), invalid = std::move(invalid),
                  error = std::move(error)] { completion(products, invalid, error); });
}
