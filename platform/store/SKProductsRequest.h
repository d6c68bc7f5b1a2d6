// A request for products by identifier. The stand-in store answers from SKStoreCatalogue on
// the main queue, never inside start: the known products, the other identifiers as invalid,
// or the catalogue's error. The request keeps itself alive until its delegate was told.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/store/SKProduct.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class SKProductsRequest;

class SKProductsResponse : public NSObject {
public:
    static std::shared_ptr<SKProductsResponse> make(std::vector<std::shared_ptr<SKProduct>> products,
                                                    std::vector<std::string> invalidProductIdentifiers) {
        auto response = std::make_shared<SKProductsResponse>();
        response->products_ = std::move(products);
        response->invalidProductIdentifiers_ = std::move(invalidProductIdentifiers);
        return response;
    }
    const std::vector<std::shared_ptr<SKProduct>>& products() const { return products_; }
    const std::vector<std::string>& invalidProductIdentifiers() const { return invalidProductIdentifiers_; }

private:
    std::vector<std::shared_ptr<SKProduct>> products_;
    std::vector<std::string> invalidProductIdentifiers_;
};

class SKProductsRequestDelegate {
public:
    virtual ~SKProductsRequestDelegate() = default;
    virtual void productsRequest(SKProductsRequest& request, const std::shared_ptr<SKProductsResponse>& response) = 0;
    virtual void request(SKProductsRequest& request, const NSErrorPtr& error) = 0;
};

class SKProductsRequest : public NSObject {
public:
    // Empty for no identifiers.
    [[nodiscard]] static std::shared_ptr<SKProductsRequest> initWithProductIdentifiers(
        const std::set<std::string>& productIdentifiers);

    // Held weakly, as the platform holds it.
    void setDelegate(const std::shared_ptr<SKProductsRequestDelegate>& delegate) { delegate_ = delegate; }
    std::shared_ptr<SKProductsRequestDelegate> delegate() const { return delegate_.lock(); }
    const std::set<std::string>& productIdentifiers() const { return productIdentifiers_; }
    // Once; later calls do nothing.
    void start();

private:
    std::set<std::string> productIdentifiers_;
    std::weak_ptr<SKProductsRequestDelegate> delegate_;
    bool started_ = false;
};
