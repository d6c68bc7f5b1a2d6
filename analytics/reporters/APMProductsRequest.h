// One products request to the store: the delegate of the platform request, which hands its
// answer to a completion on a given queue and keeps itself alive until then.
#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/store/SKProductsRequest.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

class APMProductsRequest : public NSObject, public SKProductsRequestDelegate {
public:
    using Products = std::map<std::string, std::shared_ptr<SKProduct>>;
    using Completion =
        std::function<void(const Products& products, const std::set<std::string>& invalidIdentifiers, NSErrorPtr error)>;

    // Nothing without a queue or a completion. A request the platform cannot make (no
    // identifiers) completes with error 1 "Invalid product identifiers.".
    static void requestProductsWithProductIdentifiers(const std::set<std::string>& identifiers,
                                                      const std::shared_ptr<DispatchQueue>& queue,
                                                      Completion completion);

    [[nodiscard]] static std::shared_ptr<APMProductsRequest> initWithProductIdentifiers(
        const std::set<std::string>& identifiers);
    // Both required; starts the platform request.
    void requestWithQueue(const std::shared_ptr<DispatchQueue>& queue, Completion completion);
    void clearInstance();

    void productsRequest(SKProductsRequest& request, const std::shared_ptr<SKProductsResponse>& response) override;
    void request(SKProductsRequest& request, const NSErrorPtr& error) override;

private:
    void finish(Products products, std::set<std::string> invalid, NSErrorPtr error);

    std::shared_ptr<SKProductsRequest> productsRequest_;
    Completion completionHandler_;
    std::shared_ptr<DispatchQueue> queue_;
};
