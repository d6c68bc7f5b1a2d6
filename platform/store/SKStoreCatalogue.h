// What the stand-in store knows: the products its products requests answer with, and an
// error that every request meets while one is set (an unreachable store). Empty at start;
// the simulator and tests fill it.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/store/SKProduct.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class SKStoreCatalogue {
public:
    // Replaces a product of the same identifier.
    static void addProduct(const std::shared_ptr<SKProduct>& product);
    static std::shared_ptr<SKProduct> productWithIdentifier(const std::string& productIdentifier);
    static std::vector<std::string> productIdentifiers();
    static void setRequestError(NSErrorPtr error);
    static NSErrorPtr requestError();
    // Requests started in this process.
    static std::size_t requestCount();
    static void noteRequestStarted();
    // Forgets every product, the error and the count.
    static void reset();
};
