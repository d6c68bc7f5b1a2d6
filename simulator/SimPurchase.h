// What the store does once a person has paid in the application: it knows the product, writes
// the purchase into the application's receipt and hands the purchased transaction to the
// default payment queue, whose observers hear of it on the main queue.
#pragma once

#include <string>

class SimPurchase {
public:
    // True when the purchase was handed over; `said` tells what the store did, or what went
    // wrong. `price` is decimal text.
    static bool complete(const std::string& productID, const std::string& price, const std::string& currency,
                         std::string& said);
};
