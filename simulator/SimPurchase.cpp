// A completed purchase: product, receipt entry and transaction, made as the store makes them.
#include "simulator/SimPurchase.h"

#include "simulator/SimScreen.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSDateFormatter.h"
#include "platform/foundation/NSDecimalNumber.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSTimeZone.h"
#include "platform/foundation/NSUUID.h"
#include "platform/store/SKPaymentQueue.h"
#include "platform/store/SKStoreCatalogue.h"
#include "platform/store/SKStoreReceipt.h"

#include <cmath>

bool SimPurchase::complete(const std::string& productID, const std::string& price, const std::string& currency,
                           std::string& said) {
    auto amount = NSDecimalNumber::decimalNumberWithString(price);
    if (!amount || amount->isNotANumber()) {
        said = "purchase: " + simPrintable(price) + " is not a price";
        return false;
    }
    SKProduct::Fields product;
    product.productIdentifier = productID;
    product.price = amount;
    product.currencyCode = NSString::uppercaseString(currency);
    product.localizedTitle = productID;
    SKStoreCatalogue::addProduct(SKProduct::make(std::move(product)));
    // The receipt keeps whole seconds; the transaction's date is the receipt's.
    const double now = std::floor(Clock::now());
    auto formatter = NSDateFormatter::make();
    formatter->setDateFormat("yyyy-MM-dd'T'HH:mm:ss'Z'");
    formatter->setTimeZone(NSTimeZone::GMT());
    const std::string date = formatter->stringFromDate(NSDate{now});
    const std::string identifier = NSUUID::UUID()->UUIDString();
    NSErrorPtr error;
    SKStoreReceipt::InAppPurchase entry;
    entry.productID = productID;
    entry.transactionID = identifier;
    entry.originalTransactionID = identifier;
    entry.purchaseDate = date;
    entry.originalPurchaseDate = date;
    entry.purchaseType = 1;
    if (!SKStoreReceipt::addInAppPurchase(entry, SKStoreReceipt::receiptPath(), &error)) {
        said = "purchase: the receipt could not be written (" + error->localizedDescription() + ")";
        return false;
    }
    SKPaymentTransaction::Fields transaction;
    transaction.state = SKPaymentTransactionState::Purchased;
    transaction.transactionIdentifier = identifier;
    transaction.transactionDate = now;
    transaction.payment = SKPayment::paymentWithProductIdentifier(productID);
    // Who hears of it: with no observer the transaction reaches nobody in the application.
    const auto queue = SKPaymentQueue::defaultQueue();
    const std::size_t observers = queue->transactionObservers().size();
    queue->updateTransactions({SKPaymentTransaction::make(std::move(transaction))});
    said = "purchased " + simPrintable(productID) + " for " + amount->stringValue() + " " +
           NSString::uppercaseString(currency) + ": the receipt holds it, and the payment queue " +
           (observers == 0   ? std::string("has no observer in the application to hand it to")
            : observers == 1 ? std::string("handed it to the application's observer")
                             : "handed it to the application's " + std::to_string(observers) + " observers");
    return true;
}
