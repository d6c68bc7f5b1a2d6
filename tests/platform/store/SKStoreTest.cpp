// The stand-in store: products requests answered from its catalogue (or its failure) on the
// main queue, transactions handed to the payment queue's observers there, and purchases added
// to the receipt in its DER form, whatever stands at the receipt's path.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/store/SKPaymentQueue.h"
#include "platform/store/SKProductsRequest.h"
#include "platform/store/SKStoreCatalogue.h"
#include "platform/store/SKStoreReceipt.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::shared_ptr<SKProduct> product(const std::string& identifier) {
    SKProduct::Fields fields;
    fields.productIdentifier = identifier;
    fields.price = NSDecimalNumber::decimalNumberWithString("1.25");
    fields.currencyCode = "EUR";
    return SKProduct::make(std::move(fields));
}

class Delegate : public SKProductsRequestDelegate {
public:
    void productsRequest(SKProductsRequest&, const std::shared_ptr<SKProductsResponse>& answer) override {
        response = answer;
    }
    void request(SKProductsRequest&, const NSErrorPtr& failure) override { error = failure; }
    std::shared_ptr<SKProductsResponse> response;
    NSErrorPtr error;
};

class Observer : public SKPaymentTransactionObserver {
public:
    void paymentQueue(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) override {
        EXPECT_EQ(&queue, SKPaymentQueue::defaultQueue().get());
        told.push_back(transactions);
    }
    std::vector<SKPaymentTransactions> told;
};

bool contains(const NSData& bytes, const std::string& text) {
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(SKStoreTest, AProductsRequestIsAnsweredFromTheCatalogueOnTheMainQueue) {
    SKStoreCatalogue::addProduct(product("a"));
    SKStoreCatalogue::addProduct(product("b"));
    EXPECT_EQ(SKProductsRequest::initWithProductIdentifiers({}), nullptr);
    auto request = SKProductsRequest::initWithProductIdentifiers({"a", "z"});
    ASSERT_NE(request, nullptr);
    auto delegate = std::make_shared<Delegate>();
    request->setDelegate(delegate);
    request->start();
    EXPECT_EQ(delegate->response, nullptr);  // never inside start
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_NE(delegate->response, nullptr);
    ASSERT_EQ(delegate->response->products().size(), 1u);
    EXPECT_EQ(delegate->response->products().front()->productIdentifier(), "a");
    EXPECT_EQ(delegate->response->products().front()->priceLocaleCurrencyCode(), "EUR");
    EXPECT_EQ(delegate->response->invalidProductIdentifiers(), std::vector<std::string>{"z"});
    EXPECT_EQ(SKStoreCatalogue::requestCount(), 1u);

    // An unreachable store fails every request, and a request is started once.
    SKStoreCatalogue::setRequestError(NSError::errorWithDomain("SKErrorDomain", 2));
    auto failing = SKProductsRequest::initWithProductIdentifiers({"a"});
    auto told = std::make_shared<Delegate>();
    failing->setDelegate(told);
    failing->start();
    failing->start();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(told->response, nullptr);
    ASSERT_NE(told->error, nullptr);
    EXPECT_EQ(told->error->code(), 2);
    EXPECT_EQ(SKStoreCatalogue::requestCount(), 2u);
    SKStoreCatalogue::reset();
}

TEST(SKStoreTest, TransactionsReachTheQueuesLiveObserversOnTheMainQueue) {
    auto queue = SKPaymentQueue::defaultQueue();
    auto observer = std::make_shared<Observer>();
    auto gone = std::make_shared<Observer>();
    queue->addTransactionObserver(observer);
    queue->addTransactionObserver(observer);
    queue->addTransactionObserver(gone);
    queue->removeTransactionObserver(gone);
    SKPaymentTransaction::Fields fields;
    fields.transactionIdentifier = "t1";
    fields.payment = SKPayment::paymentWithProductIdentifier("a", 3);
    auto transaction = SKPaymentTransaction::make(std::move(fields));
    queue->updateTransactions({transaction});
    queue->updateTransactions({});
    EXPECT_TRUE(observer->told.empty());
    NSRunLoop::mainRunLoop()->runUntilIdle();
    ASSERT_EQ(observer->told.size(), 1u);
    EXPECT_EQ(observer->told.front(), SKPaymentTransactions{transaction});
    EXPECT_EQ(observer->told.front().front()->payment()->quantity(), 3);
    EXPECT_TRUE(gone->told.empty());
    queue->removeTransactionObserver(observer);
}

TEST(SKStoreTest, PurchasesAreAddedToTheReceiptAndADamagedReceiptIsReplaced) {
    const std::string folder = NSString::stringByAppendingPathComponent(Sandbox::tmp(), "store-receipt");
    const std::string path = NSString::stringByAppendingPathComponent(folder, "receipt");
    SKStoreReceipt::InAppPurchase first;
    first.productID = "coins";
    first.transactionID = "t1";
    first.originalTransactionID = "t1";
    first.purchaseDate = "2026-01-02T03:04:05Z";
    ASSERT_TRUE(SKStoreReceipt::addInAppPurchase(first, path));
    auto second = first;
    // Long enough that the receipt's set needs a long-form length.
    second.productID = std::string(150, 'g');
    second.webOrderLineItemID = 70000;
    ASSERT_TRUE(SKStoreReceipt::addInAppPurchase(second, path));
    const auto bytes = readDataFromFile(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->front(), 0x31);
    EXPECT_EQ((*bytes)[1] & 0x80, 0x80);
    EXPECT_TRUE(contains(*bytes, "coins"));
    EXPECT_TRUE(contains(*bytes, second.productID));
    const NSData one = SKStoreReceipt::inAppPurchaseAttribute(first);
    const NSData two = SKStoreReceipt::inAppPurchaseAttribute(second);
    EXPECT_EQ(bytes->size(), SKStoreReceipt::der(0x31, [&] {
                                 NSData both = one;
                                 both.insert(both.end(), two.begin(), two.end());
                                 return both;
                             }()).size());

    // The receipt is the store's own file: a damaged one never blocks a purchase, the store
    // writes a fresh receipt holding it.
    const NSData fresh = SKStoreReceipt::der(0x31, SKStoreReceipt::inAppPurchaseAttribute(first));
    for (const NSData& damaged : {NSData{'n', 'o', 't'}, NSData{0x31, 0x05, 0x01}, NSData{}}) {
        ASSERT_TRUE(writeDataToFile(damaged, path, true));
        NSErrorPtr error;
        EXPECT_TRUE(SKStoreReceipt::addInAppPurchase(first, path, &error)) << damaged.size();
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(readDataFromFile(path), fresh);
    }
    EXPECT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
}

TEST(SKStoreTest, AReceiptThatCannotBeReadIsReplacedAndOneThatCannotBeWrittenFails) {
    const std::string folder = NSString::stringByAppendingPathComponent(Sandbox::tmp(), "store-unreadable");
    const std::string path = NSString::stringByAppendingPathComponent(folder, "receipt");
    SKStoreReceipt::InAppPurchase first;
    first.productID = "coins";
    first.transactionID = "t1";
    ASSERT_TRUE(SKStoreReceipt::addInAppPurchase(first, path));
    auto second = first;
    second.transactionID = "t2";
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/store-unreadable/receipt");
        NSErrorPtr error;
        EXPECT_TRUE(SKStoreReceipt::addInAppPurchase(second, path, &error));
        EXPECT_EQ(error, nullptr);
        EXPECT_GT(faults->injected(), 0);
    }
    EXPECT_EQ(readDataFromFile(path), SKStoreReceipt::der(0x31, SKStoreReceipt::inAppPurchaseAttribute(second)));
    {
        // A receipt that cannot be written is the one failure left, and it is told.
        FaultInjection faults;
        faults->noSpace("*/store-unreadable/*");
        NSErrorPtr error;
        EXPECT_FALSE(SKStoreReceipt::addInAppPurchase(first, path, &error));
        EXPECT_NE(error, nullptr);
    }
    EXPECT_EQ(readDataFromFile(path), SKStoreReceipt::der(0x31, SKStoreReceipt::inAppPurchaseAttribute(second)));
    EXPECT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
}

TEST(SKStoreTest, APipeAtTheReceiptsPathIsNeverReadAndAFreshReceiptTakesItsPlace) {
    const std::string folder = NSString::stringByAppendingPathComponent(Sandbox::tmp(), "store-pipe");
    const std::string path = NSString::stringByAppendingPathComponent(folder, "receipt");
    ASSERT_TRUE(NSFileManager::defaultManager()->createDirectoryAtPath(folder, true, {}, nullptr));
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    SKStoreReceipt::InAppPurchase first;
    first.productID = "coins";
    first.transactionID = "t1";

    testing::internal::CaptureStderr();
    auto purchase = std::async(std::launch::async, [&] {
        NSErrorPtr error;
        const bool written = SKStoreReceipt::addInAppPurchase(first, path, &error);
        return written && !error;
    });
    const bool ended = purchase.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    // A purchase stuck on the pipe is let go by a writer coming and going, so the test can end.
    while (!ended && purchase.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    const bool written = purchase.get();
    const std::string told = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(ended) << "the purchase waited for someone to write to the pipe";
    EXPECT_TRUE(written);
    EXPECT_NE(told.find("it is not a regular file"), std::string::npos) << told;
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(readDataFromFile(path), SKStoreReceipt::der(0x31, SKStoreReceipt::inAppPurchaseAttribute(first)));
    EXPECT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
}

}  // namespace
